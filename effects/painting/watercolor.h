// Watercolor: star-shaped translucent washes grown from seed pixels, then
// smoothed, given a colour pop, edge strokes and a light sharpening.
#pragma once

#include <vector>

#include "engine/gfx/image.h"
#include "engine/gfx/surface.h"

namespace lq {

// Values derived from the sliders and the picture size.
struct TWatercolorSettings {
  int K = 3;              // spokes per wash
  float g = 0;            // complexity 0..1
  double SizeFactor = 1;  // larger reach and more washes on very large pictures
  double R0 = 0;          // base ray reach
  int ShapeCount = 0;     // wash passes
  int T = 0;              // colour threshold of the rays
  float sigma = 0;        // ray-length smoothing width
  float op = 1;           // wash opacity
};

// paintOver: the canvas is the picture on display rather than a cleared page.
TWatercolorSettings WatercolorSettings(int w, int h, int P1, int P2, int P3, int P4, bool preview, bool paintOver);

// Circular Gaussian smoothing (taps -3..3) of the K ray lengths, in place.
void SmoothRayLengths(std::vector<int>& lengths, int K, float sigma);

void CentralSpokeEffect(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview);

}  // namespace lq
