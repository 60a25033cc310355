// Watercolor splashes: watercolour splash brushes laid along the photograph's
// contours, from large to small; each splash is the best of a few random
// brushes and angles, and accepted splashes get a relief shading.
#pragma once

#include <cstdint>

#include "engine/gfx/image.h"
#include "engine/gfx/surface.h"

namespace lq {

// Values derived once per run from the sliders.
struct TSplashSettings {
  int Smin = 3, Smax = 3;  // splash sizes of the last and the first pass (pixels)
  int Iter = 1;            // density of the grid passes
  int P = 10;              // passes are numbered 0..P
  int T0 = 1;              // tries per position
  int M = 10;              // position samples per fine attempt
  bool EarlyStop = true;   // stop the tries at the first clearly good one
  float op = 0.8f;         // paint alpha
};
TSplashSettings WatercolorSplashSettings(int P1, int P2, int P3, int P4, int P5, bool doClear);

// Values of one pass.
struct TSplashPass {
  int size = 3;
  bool Coarse = false;  // grid pass (else splashes go where the canvas differs most)
  int g = 1;            // grid step
  int hw = 4;           // half-width of the evaluated window
  int T = 1;            // tries per position
  int Tc = 2;           // mean distance under which an area counts as matching
  int Tg = 0;           // gain a splash must exceed
  int e = 2;            // evaluation step
};
TSplashPass WatercolorSplashPass(const TSplashSettings& s, int pass, int P4, bool doClear);

// Rows of the direction map of a w x h picture (at most 256 columns): never 0.
int WatercolorSplashGridHeight(int w, int h);
// Splash attempts of a fine pass.
int64_t WatercolorSplashFineAttempts(int w, int h, int size);
// Percent reported after pass `pass` of passes 0..P.
int WatercolorSplashProgress(int pass, int P);
// Long-axis orientation of a splash brush, counting only clearly painted
// pixels (alpha 21 and above); 0 for a brush with little paint.
float SplashBrushAngle(const Image& brush);

void NewDirectionalStrokesgood(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                               bool Preview);

}  // namespace lq
