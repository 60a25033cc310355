// Picture frames: a frame image with an opaque border and a transparent
// window is stretched around the picture as a nine-patch, over a margin of a
// chosen colour. Layout and composition are separate steps so one layout can
// frame several pictures of the same size (a result and its source).
#pragma once

#include <string>

#include "engine/gfx/image.h"
#include "engine/pixel.h"

namespace lq {

// The frame choice a host keeps between uses of the frame tools.
struct TFrameSettings {
  bool StoredSettingsValid = false;
  std::string StoredFrameName;
  int StoredFrameNumber = 0;
  bool StoredFrameIsCustom = false;
  float StoredFrameSize = 20.0f;
  TAlphaColor StoredFrameColor = 0xFFFFFFFF;
};

struct TFrameLayout {
  // False when the frame has no window at its centre (or the framed picture
  // would be too large): composing then leaves the picture as it is.
  bool valid = false;
  int W = 0, H = 0;  // picture size the layout was made for
  int Margin = 0;
  IRect HoleRect;  // the window, in frame pixels
  int BorderL = 0, BorderT = 0, BorderR = 0, BorderB = 0;
  int FinalW = 0, FinalH = 0;
  RectF WhiteBorderRect;  // margin area, one pixel under the frame's inner edge
  RectF DestRect;         // where the frame is stretched: the whole output
};

// Frame pixels with alpha above this are part of the border.
constexpr int kFrameOpaqueAlpha = 250;

// The window of a frame, searched from its centre along the middle row and
// column. Empty (left > right or top > bottom) when the centre pixel is opaque.
IRect FindFrameHole(const Image& frame);

// Layout of a W x H picture in `frame` with a margin of `margin` pixels
// (negative margins count as 0).
TFrameLayout ComputeFrameLayout(int W, int H, const Image& frame, int margin);

// Frames one picture with a layout. Returns the picture itself when the
// layout is not valid or the frame is missing.
Image ComposeFrame(const Image& picture, const Image& frame, const TFrameLayout& layout, TAlphaColor marginColor);

// Layout and composition in one step.
Image ApplyImageFrame(const Image& picture, const Image& FrameBitmap, int MarginSize, TAlphaColor MarginColor);

}  // namespace lq
