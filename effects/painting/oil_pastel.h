// Oil Pastel: randomly rotated pastel-stick marks placed where the canvas
// differs most from the photograph, best of a few tries.
#pragma once

#include "engine/gfx/image.h"
#include "engine/gfx/surface.h"

namespace lq {

// Smallest and largest mark sizes in pixels. Painting over a picture
// (doClear false) keeps the marks smaller.
struct TPastelSizes {
  int Smin = 3, Smax = 3;
};
TPastelSizes OilPastelSizes(int P1, int P2, bool doClear);

// Extra attempts per search loop for marks of this size: small marks need many.
int OilPastelExtraPasses(int size);

void NewRandomStrokes_BestOfN(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview);

}  // namespace lq
