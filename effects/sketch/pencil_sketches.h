// Entry points of Pencil Sketch 2 and 3 that also report what a run did, so
// tests can check loop bounds and tiny-image handling without guessing from
// pixels.
#pragma once

#include "engine/driver.h"

namespace lq {

struct Pencil6Trace {
  int iterations = 0;   // main-loop iterations run
  int linesDrawn = 0;   // candidate lines kept
  bool linePhase = false;  // false when the image was too small for lines
};

struct DynamicPencilTrace {
  int strokes = 0;         // stroke-loop iterations run
  int strokesSkipped = 0;  // strokes whose start-point search gave up
  bool strokePhase = false;
};

void Pencil6(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview);
void Pencil6Traced(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview,
                   Pencil6Trace* trace);

void DynamicPencil(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview);
void DynamicPencilTraced(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview,
                         DynamicPencilTrace* trace);

}  // namespace lq
