// Stochastic Painting (307): many strokes at random places, each kept only
// when it brings the canvas closer to the photograph.
#pragma once

#include <cstdint>

#include "engine/driver.h"

namespace lq {

// Values a run derives from its sliders and the picture size.
struct TStochasticSettings {
  int Smin = 5, Smax = 10;  // stroke sizes of the last and the first stroke (pixels)
  int Q = 1;                // precision
  double U = 5;             // strokes per 400 pixels
  int64_t N = 0;            // number of strokes
  int SampleStep = 1;       // coverage test on every st-th row and column of large strokes
  int Tries = 1;            // brushes tried per stroke
  int Alpha = 20;           // stroke opacity, 20..255
  int64_t ProgressEvery = 100;
  int GW = 1, GH = 1;       // direction map, at most 256 wide
};
TStochasticSettings StochasticSettings(int w, int h, int P1, int P2, int P3, int P4, int P5);

// Size of stroke n of N: from Smax for the first down to just above Smin.
float StochasticStrokeSize(const TStochasticSettings& s, int64_t n);

void StochasticPainting(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview);

}  // namespace lq
