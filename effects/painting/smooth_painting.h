// Smooth painting (306): strokes of one template shape in seven orientations,
// placed where the picture is flattest along them.
#pragma once

#include <functional>

#include "engine/driver.h"

namespace lq {

// Sizes a run derives from its sliders.
struct TSmoothPaintingSettings {
  int StrokeSize = 8;  // c: side of the stroke images, always even
  int HalfSize = 4;
  int GridStep = 1;  // spacing of the stroke-selection grid
  int OuterPasses = 1;
};
TSmoothPaintingSettings SmoothPaintingSettings(int P1, int P2);

// The repair pass between the first and second stroke passes: pixels of
// `dest` lighter than `matched` by more than 15 levels (mean of R, G, B) are
// flattened piece by piece, each piece reaching at most 25 pixels from its
// seed, to the mean colour of `matched` under it (opaque). `marked` is called
// once the lighter pixels are known.
void FillLighterAreas(const ConstPixelView& matched, const PixelView& dest,
                      const std::function<void()>& marked = {});

// A pixel more than 30 levels brighter than more than five of its valid
// neighbours (alpha above 9) takes their mean colour. In place, row by row,
// so earlier replacements count for later pixels; the outermost rows and
// columns stay as they are.
void DespeckleBrightPixels(const PixelView& px);

void TemplateMatching(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview);

}  // namespace lq
