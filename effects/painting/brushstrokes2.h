// Brushstrokes 2: loaded brushes dragged along the picture's contours, large
// then medium then small, each stroke kept only when it brings the canvas
// closer to the photograph.
#pragma once

#include <cstdint>

#include "engine/gfx/image.h"
#include "engine/gfx/surface.h"

namespace lq {

// Values derived once per run from the sliders.
struct TBrushstrokes2Settings {
  int Ls = 23;      // divisor of the stroke length: smaller gives longer strokes
  int D = 3;        // stroke density
  int Rj = 195;     // rejection level of uniformly placed strokes (out of 290)
  float Fa = 1.0f;  // a stroke stays when its error times Fa is below the error it replaces
  int s = 20;       // final saturation change, -100..100
};
TBrushstrokes2Settings Brushstrokes2Settings(int P1, int P2, int P3, int P4, int P5);

// Strokes tried in pass c (0..499) of a w x h picture: from pass 400 on, with
// the small brush, twelve times as many.
int64_t Brushstrokes2StrokesInPass(int w, int h, int D, int c);

// Length (stamps - 1) of a stroke whose centre has flow strength `length`,
// given the random part `r` (0 .. (500 - pass) / Ls - 1): 8 to 150, and 10
// for a centre outside the picture.
int Brushstrokes2StrokeLength(int Ls, int length, int r, bool centreInside);

void Ollivander(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview);

}  // namespace lq
