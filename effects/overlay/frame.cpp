#include "effects/overlay/frame.h"

#include <algorithm>

#include "engine/gfx/surface.h"

namespace lq {

IRect FindFrameHole(const Image& frame) {
  ConstPixelView v = frame ? frame.PeekPixels() : ConstPixelView();
  if (!v || v.width <= 0 || v.height <= 0) return {};
  const int fw = v.width, fh = v.height, cx = fw / 2, cy = fh / 2;
  auto opaque = [&](int x, int y) { return int(v.at(x, y) >> 24) > kFrameOpaqueAlpha; };
  IRect r{0, 0, fw, fh};
  for (int x = cx; x >= 0; --x)
    if (opaque(x, cy)) {
      r.left = x + 1;
      break;
    }
  for (int x = cx; x < fw; ++x)
    if (opaque(x, cy)) {
      r.right = x;
      break;
    }
  for (int y = cy; y >= 0; --y)
    if (opaque(cx, y)) {
      r.top = y + 1;
      break;
    }
  for (int y = cy; y < fh; ++y)
    if (opaque(cx, y)) {
      r.bottom = y;
      break;
    }
  return r;
}

TFrameLayout ComputeFrameLayout(int W, int H, const Image& frame, int margin) {
  TFrameLayout l;
  l.W = W;
  l.H = H;
  l.Margin = std::max(0, margin);
  if (!frame || frame.width() <= 0 || frame.height() <= 0 || W <= 0 || H <= 0) return l;
  const int fw = frame.width(), fh = frame.height();
  l.HoleRect = FindFrameHole(frame);
  // An opaque centre pixel means the frame has no window to put the picture in.
  if (l.HoleRect.isEmpty()) return l;
  l.BorderL = l.HoleRect.left;
  l.BorderT = l.HoleRect.top;
  l.BorderR = fw - l.HoleRect.right;
  l.BorderB = fh - l.HoleRect.bottom;
  const int64_t m = l.Margin;
  const int64_t finalW = 2 * m + W + l.BorderL + l.BorderR;
  const int64_t finalH = 2 * m + H + l.BorderT + l.BorderB;
  if (!IsValidSize(finalW, finalH)) return l;
  l.FinalW = int(finalW);
  l.FinalH = int(finalH);
  l.WhiteBorderRect = {double(l.BorderL - 1), double(l.BorderT - 1), double(l.BorderL + W + 2 * m + 1),
                       double(l.BorderT + H + 2 * m + 1)};
  l.DestRect = RectF::MakeWH(l.FinalW, l.FinalH);
  l.valid = true;
  return l;
}

Image ComposeFrame(const Image& picture, const Image& frame, const TFrameLayout& layout, TAlphaColor marginColor) {
  if (!picture || !frame || !layout.valid) return picture;
  auto surface = Surface::MakeRaster(layout.FinalW, layout.FinalH);
  if (!surface) return picture;
  Canvas* c = surface->GetCanvas();
  c->Clear(0);
  c->DrawRect(layout.WhiteBorderRect, Paint(marginColor));
  c->DrawImage(picture, layout.BorderL + layout.Margin, layout.BorderT + layout.Margin, SamplingOptions::High());
  c->DrawImageNine(frame, layout.HoleRect, layout.DestRect, FilterMode::Linear);
  return surface->MakeImageSnapshot();
}

Image ApplyImageFrame(const Image& picture, const Image& FrameBitmap, int MarginSize, TAlphaColor MarginColor) {
  if (!picture || !FrameBitmap) return picture;
  return ComposeFrame(picture, FrameBitmap,
                      ComputeFrameLayout(picture.width(), picture.height(), FrameBitmap, MarginSize), MarginColor);
}

}  // namespace lq
