// Brush shapes and grid atlases made in the tests, so the painting effects can
// be exercised without the embedded atlases.
#pragma once

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "engine/driver.h"
#include "engine/gfx/image.h"

namespace lq::test {

// A soft elliptical brush on a transparent 256 x 256 cell: half-axes rx, ry
// (pixels), long axis at `angle` radians, centre offset (ox, oy) from the
// cell centre, with bristle streaks along the long axis when `streaks`.
inline Image SoftEllipseBrush(double rx, double ry, double angle = 0, bool streaks = true, double ox = 0,
                              double oy = 0) {
  const int n = 256;
  std::vector<uint32_t> px(size_t(n) * n, 0);
  double c = std::cos(angle), s = std::sin(angle);
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      double dx = x + 0.5 - 128 - ox, dy = y + 0.5 - 128 - oy;
      double u = (c * dx + s * dy) / rx, v = (-s * dx + c * dy) / ry;
      double r = std::sqrt(u * u + v * v);
      if (r >= 1) continue;
      double a = std::min(1.0, (1 - r) * 4);  // soft rim
      if (streaks) a *= 0.75 + 0.25 * std::sin(v * 23.0 + std::sin(u * 3.0));
      uint32_t al = uint32_t(std::clamp(std::lround(a * 255), 0L, 255L));
      px[size_t(y) * n + x] = al << 24;  // black, shape in alpha
    }
  return Image::MakeFromPixels(n, n, std::move(px));
}

// Cells laid out 8 per row on a 2048-wide atlas with `rows` rows of 256.
inline Image MakeAtlas(const std::vector<Image>& cells, int rows) {
  const int w = 2048, h = 256 * rows;
  std::vector<uint32_t> px(size_t(w) * h, 0);
  for (size_t k = 0; k < cells.size() && int(k) < rows * 8; ++k) {
    if (!cells[k]) continue;
    ConstPixelView v = cells[k].PeekPixels();
    int ox = int(k % 8) * 256, oy = int(k / 8) * 256;
    for (int y = 0; y < std::min(256, v.height); ++y)
      for (int x = 0; x < std::min(256, v.width); ++x) px[size_t(oy + y) * w + ox + x] = v.at(x, y);
  }
  return Image::MakeFromPixels(w, h, std::move(px));
}

// A varied set of stroke-like brushes.
inline std::vector<Image> StrokeBrushes(int count) {
  std::vector<Image> out;
  for (int i = 0; i < count; ++i) {
    double len = 70 + (i * 37) % 50, wid = 18 + (i * 13) % 30;
    out.push_back(SoftEllipseBrush(len, wid, (i % 5) * 0.6, true));
  }
  return out;
}

// The three grid atlases of the program at their sizes, synthetic (made once).
inline Image SyntheticDefaultBrushes() {
  static const Image atlas = MakeAtlas(StrokeBrushes(40), 6);
  return atlas;
}
inline Image SyntheticPastelBrushes() {
  static const Image atlas = MakeAtlas(StrokeBrushes(13), 2);
  return atlas;
}
inline Image SyntheticWatercolorBrushes() {
  static const Image atlas = MakeAtlas(StrokeBrushes(21), 3);
  return atlas;
}

// Answers the driver's embedded-picture hook with the synthetic atlases.
inline void InstallSyntheticAtlases(EffectDriver& d) {
  Image def = SyntheticDefaultBrushes(), pastel = SyntheticPastelBrushes(), water = SyntheticWatercolorBrushes();
  d.BuiltinImage = [def, pastel, water](const std::string& name) -> Image {
    if (name == "DefaultBrushes") return def;
    if (name == "PastelBrushes") return pastel;
    if (name == "WatercolorBrushes") return water;
    return {};
  };
}

}  // namespace lq::test
