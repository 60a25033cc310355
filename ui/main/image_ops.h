// Whole-picture operations of the workspace that move pixels exactly.
#pragma once

#include "engine/gfx/image.h"

namespace lq::studio {

// A W x H picture becomes H x W. Clockwise, pixel (x, y) goes to
// (H - 1 - y, x); counter-clockwise to (y, W - 1 - x). No resampling.
Image RotateImage90(const Image& img, bool clockwise);

}  // namespace lq::studio
