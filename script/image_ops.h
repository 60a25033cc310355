// The picture operations a script does itself: scaling, blending two
// pictures, and drawing a line of text. Each returns a new image and never
// changes its inputs.
#pragma once

#include <stdexcept>
#include <string>

#include "engine/gfx/image.h"
#include "engine/gfx/paint.h"
#include "engine/pixel.h"
#include "script/script_types.h"

namespace lq {

// A failure of one of these operations (a surface that cannot be made); its
// message needs only the script line in front of it.
class EImageOpError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The whole image drawn into a width x height surface with Mitchell
// resampling. Throws EImageOpError when that surface cannot be made.
Image ResizeImage(const Image& image, int width, int height);

// Source-over compositing of `overlay` on `base` with global opacity and a
// separable blend mode (W3C compositing and blending, premultiplied). An
// overlay of another size is first scaled to base's size. Returns base when
// either image is missing.
Image BlendImages(const Image& base, const Image& overlay, float opacity, BlendMode mode);

// One line of text drawn on a copy of the image. Positions are pixels or, with
// the percent flags, fractions of the image size that push the glyph box
// inward (below 50 it starts there, above 50 it ends there, 50 centres it).
// An unknown family falls back to "Arial", then to the system's default face.
Image DrawTextOnImage(const Image& image, float X, float Y, bool XPercent, bool YPercent, const std::string& text,
                      const std::string& family, float size, TFontStyle style, TAlphaColor color, bool shadow);

// The family the text is drawn with: `family` when the system has it (letter
// case ignored, generic names like "serif" included), otherwise "Arial".
std::string ResolveFontFamily(const std::string& family);

}  // namespace lq
