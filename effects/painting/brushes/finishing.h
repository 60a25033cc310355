// Surface-wide finishing steps the painting effects share: the edge-preserving
// similarity smoothing, the colour "pop", the light sharpening, the dark
// edge-stroke overlay, and the perceptual colour distance used to grow washes.
//
// The per-pixel work is split into row bands across cores and checks for
// cancellation (EAbort) between bands.
#pragma once

#include <atomic>
#include <cmath>
#include <functional>

#include "engine/gfx/image.h"
#include "engine/gfx/surface.h"
#include "engine/pixel.h"

namespace lq {

// Tests switch the AVX2 kernels off to check the baseline ones on any machine.
extern std::atomic<bool> g_finishingAvx2Disabled;

// "Redmean" weighted RGB distance of two premultiplied pixels, grown by up to
// half for a difference in alpha. Pixels with alpha below 10 count as empty:
// two of them are 0 apart, one against a visible pixel 255.
inline int RedmeanDistance(TAlphaColor a, TAlphaColor b) {
  const int aA = int(GetA(a)), bA = int(GetA(b));
  if (aA < 10 || bA < 10) return (aA < 10 && bA < 10) ? 0 : 255;
  const int aR = int(GetR(a)), bR = int(GetR(b));
  const int rm = (aR + bR) >> 1;
  const int dR = aR - bR, dG = int(GetG(a)) - int(GetG(b)), dB = int(GetB(a)) - int(GetB(b));
  const int e = (((512 + rm) * dR * dR) >> 8) + 4 * dG * dG + (((767 - rm) * dB * dB) >> 8);
  const int d = int(std::nearbyint(std::sqrt(double(e))));
  if (aA == bA) return d;
  const float f = float(aA > bA ? aA - bA : bA - aA) / 255.0f * 0.5f + 1.0f;
  return int(std::nearbyint(double(float(d) * f)));
}

// Edge-preserving smoothing in place: every visible pixel becomes the
// Gaussian-weighted mean of the neighbours within `Radius` whose colour (in
// Guide, or in the current pass' input when Guide is empty or of another size)
// lies within ColourThreshold of its own. With UseRange, neighbours are also
// weighted by how close their colour is (SigmaR, widening each iteration).
// Alpha is kept. Threads > 0 limits the number of worker threads. Progress
// reports the fraction of iterations started.
void SimilaritySmoothSurface_MT(const PixelView& surface, const Image& guide, int Radius, int ColourThreshold,
                                int Iterations, bool UseRange, float SigmaS, float SigmaR, int Threads,
                                const std::function<void(float)>& progress = {});

// Vibrance (boost of dull colours), saturation and contrast, with skin tones
// protected, mixed with the original by Mix. Vibrance, Saturation, Contrast
// in -100..100; SkinProtect, Mix in 0..100. Image is drawn onto Target,
// replacing it (Image may be a snapshot of Target).
void VibrancePop(const Image& image, Surface& target, int Vibrance, int Saturation, int Contrast, int SkinProtect,
                 int Mix);

// Light 3 x 3 unsharp cross on the colour (alpha kept), Amount 0..100.
// Source replaces Target's content; an empty Source sharpens Target in place.
void SharpenSurface(const Image& source, Surface& target, int Amount);

// Dark strokes along the photograph's edges (luminance gradient), drawn on a
// white (or, for pictures with transparency, transparent) layer in `out`.
void DrawEdgeStrokes(const Image& source, Surface& out, int Threshold, int Strength, int LengthFactor);

// DrawEdgeStrokes of Source laid over Target: Mode 1 Darken, 2 Overlay,
// otherwise Multiply; Opacity 0..100.
void EdgeStrokeOverlay(const Image& source, Surface& target, int Threshold, int Strength, int LengthFactor, int Mode,
                       int Opacity);

}  // namespace lq
