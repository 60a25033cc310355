// Draws a batch of small shapes onto a surface in horizontal bands across
// cores. Each band replays, in their original order, the shapes whose vertical
// extent reaches it, through its own canvas over its rows only; so every pixel
// sees the same sequence of draws as in one pass and the result does not
// depend on the number of cores. The band layout depends only on the batch.
#pragma once

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "engine/gfx/surface.h"
#include "engine/parallel.h"

namespace lq::sketch {

// A shape's device-space vertical extent, generous by a pixel or two for
// anti-aliasing.
struct BandExtent {
  float top = 0, bottom = 0;
  bool Reaches(float y0, float y1) const { return bottom >= y0 && top < y1; }
};

constexpr int kMaxBands = 8;

// Item: any type with a member `BandExtent extent`. band(Canvas&, y0, y1) is
// called once per band with a canvas in device coordinates that covers rows
// y0 .. y1 - 1; it draws the items that reach those rows.
template <typename Item, typename BandFn>
void ForEachBand(Surface& target, const std::vector<Item>& items, BandFn&& band) {
  if (items.empty()) return;
  const int H = target.height();
  float lo = items.front().extent.top, hi = items.front().extent.bottom;
  double heights = 0;
  for (const Item& it : items) {
    lo = std::min(lo, it.extent.top);
    hi = std::max(hi, it.extent.bottom);
    heights += it.extent.bottom - it.extent.top;
  }
  const int r0 = std::clamp(int(std::floor(lo)), 0, H);
  const int r1 = std::clamp(int(std::ceil(hi)) + 1, 0, H);
  if (r1 <= r0) return;
  const int rows = r1 - r0;
  // Bands several shapes tall, so few shapes are drawn twice across a seam.
  const int minRows = std::max(32, int(std::ceil(4 * heights / double(items.size()))));
  const int bands = std::clamp(rows / minRows, 1, kMaxBands);
  if (bands == 1) {
    band(*target.GetCanvas(), -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::infinity());
    return;
  }
  PixelView all = target.PeekPixels();
  ParallelFor(0, bands, 1, [&](int b0, int b1) {
    for (int b = b0; b < b1; ++b) {
      const int y0 = r0 + int(int64_t(rows) * b / bands);
      const int y1 = r0 + int(int64_t(rows) * (b + 1) / bands);
      auto s = Surface::MakeRasterDirect(ImageInfo::Make(all.width, y1 - y0), all.row(y0), all.rowBytes);
      if (!s) continue;
      Canvas* c = s->GetCanvas();
      c->Translate(0, -y0);
      band(*c, float(y0), float(y1));
    }
  });
}

// draw(Canvas&, const Item&) draws one item.
template <typename Item, typename DrawFn>
void DrawInBands(Surface& target, const std::vector<Item>& items, DrawFn&& draw) {
  ForEachBand(target, items, [&](Canvas& c, float y0, float y1) {
    for (const Item& it : items)
      if (it.extent.Reaches(y0, y1)) draw(c, it);
  });
}

}  // namespace lq::sketch
