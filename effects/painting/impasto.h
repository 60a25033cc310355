// Impasto brushstrokes: coarse-to-fine painting with relief-shaded dabs,
// searched on a reduced canvas and painted in parallel bands.
#pragma once

#include <cstdint>

#include "engine/gfx/image.h"
#include "engine/gfx/surface.h"

namespace lq {

// Values derived once per run from the sliders and the picture size.
struct TImpastoSettings {
  int Smin = 3, Smax = 3;  // dab sizes of the last and the first pass (pixels)
  int P3 = 0, Q = 0;       // density and quality, 0..100
  float GlobalOpacity = 1;
  int RefineBase = 2;   // brushes tried per position on large dabs
  int PassCount = 8;    // passes 0..PassCount
  int SkipLimit = 20;   // colour distance under which the canvas counts as matching
  int ScaleFactor = 1;  // the search runs at 1 / ScaleFactor resolution
  int WorkW = 1, WorkH = 1;
  int GradW = 1, GradH = 1;  // direction map, at most 256 wide
};

TImpastoSettings ImpastoSettings(int w, int h, int P1, int P2, int P3, int P4, int P5);

// Dabs one band of a late (scattered) pass paints: at least one.
int64_t ImpastoLateBudget(int WorkW, int bandRows, int WorkBrushSize, int P3);

void SystematicPainting(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview);

}  // namespace lq
