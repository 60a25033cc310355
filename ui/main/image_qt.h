// Pictures between the engine and Qt. The engine's pixel format is Qt's
// ARGB32_Premultiplied on little-endian machines, so pictures are shared, not
// converted, wherever possible.
#pragma once

#include <QImage>

#include "engine/gfx/image.h"

namespace lq::studio {

// A read-only QImage over the picture's pixels; it keeps the picture alive.
QImage ToQImage(const Image& img);
// A copy in the engine format (any QImage format is converted first). Empty
// for a null QImage or a size the engine refuses.
Image FromQImage(const QImage& img);

}  // namespace lq::studio
