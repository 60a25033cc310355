// Affine resampling with the Mitchell-Netravali cubic (B = C = 1/3).
#pragma once

#include "engine/gfx/image.h"

namespace lq {

// Fills `out` (band rows y0..y0+out.height of the device rectangle starting at
// column x0) with src sampled through `deviceToSource` (maps device pixel
// coordinates to source pixel coordinates, pixel (i, j) covering [i, i+1)).
// Samples beyond the source repeat its edge pixels. The result is valid
// premultiplied colour (channels clamped to alpha). Only for transforms that
// do not shrink by more than a few percent: a 4 x 4 kernel would alias there.
void ResampleMitchellAffine(ConstPixelView src, const double deviceToSource[6], int x0, int y0, PixelView out);

}  // namespace lq
