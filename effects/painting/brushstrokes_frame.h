// The brushstroke frame: the picture enlarged by a border of one colour whose
// sides are painted over with strokes of the template atlas, each side's
// strokes taking their colours from the picture near that edge, so that the
// picture runs over into a painted frame.
//
// Three ways in: the frame tool (AddBrushstrokesFrame, on a worker of its
// own, replacing the current images), the script command
// (MakeBrushstrokesFrameImage, synchronous), and RenderBrushstrokesFrame for
// callers that want both result images.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/gfx/image.h"

namespace lq {

// Sum over the pixels whose x and y are multiples of 10 of the squared
// differences of their premultiplied R, G and B bytes; 0 when either image is
// missing or their sizes differ.
double SampledImageDistance(const Image& A, const Image& B);

// The size a frame of `borderWidth` on every side gives a w x h picture, in
// 64 bits: sizes come from users and scripts.
struct TBrushFrameGeometry {
  int64_t Width = 0, Height = 0;  // W' = w + 2B, H' = h + 2B
  float StrokeSize = 5;           // s0 = max(5, brush size)
  int64_t Thickness = 6;          // strip thickness t = Round(1.2 s0)
  int64_t StrokesPerSide = 1;     // Round((w + h) x 3.5) + 1
};
TBrushFrameGeometry BrushFrameGeometry(int w, int h, int64_t borderWidth, int64_t brushSize);

// Empty when a frame of this width and brush size can be made around a w x h
// picture; otherwise why not ("Could not create %dx%d surface" for a size the
// engine cannot allocate, which is refused before anything is allocated).
std::string BrushFrameSizeError(int w, int h, int64_t borderWidth, int64_t brushSize);

struct TBrushFrameResult {
  Image Display;      // the picture with its stroked border
  Image Source;       // the source picture with the plain border
  std::string Error;  // empty when both images were made
};

// What a frame computation reports while it works; both optional.
struct TBrushFrameHooks {
  std::function<void(int)> Progress;  // percent 0..90 as the sides are painted
  std::function<bool()> Cancelled;    // asked every 50 strokes; true ends the work (EAbort)
};

// The whole computation on the calling thread. `display` is the picture the
// strokes take their colours from; `source` gets the same border without
// strokes. A picture with transparent pixels gets a transparent border
// whatever the colour.
TBrushFrameResult RenderBrushstrokesFrame(const Image& display, const Image& source, const Image& atlas,
                                          TAlphaColor borderColor, int64_t borderWidth, int64_t brushSize,
                                          const TBrushFrameHooks& hooks = {});

// The script command: the framed working image, made on the caller's thread
// without progress reports. Empty with *error set when it cannot be made.
// Honours the driver's Cancel flag (EAbort) when a driver exists.
Image MakeBrushstrokesFrameImage(const Image& working, const Image& atlas, TAlphaColor borderColor,
                                 int64_t borderWidth, int64_t brushSize, std::string* error = nullptr);

// The frame tool, on the UI thread: claims the run (effect number 900), then
// frames the current picture on a worker of its own and replaces the current
// images, recording them in the history. Progress shows while it works;
// Cancel stops it with the images unchanged. Every way out releases the
// claim and reports 101. `onDone` (UI thread) learns whether the images were
// replaced. False when it could not start (another run holds the claim, no
// picture); a message says why.
bool AddBrushstrokesFrame(TAlphaColor ABorderColor, int64_t ABorderWidth, int64_t ABrushSize,
                          std::function<void(bool replaced)> onDone = {});

}  // namespace lq
