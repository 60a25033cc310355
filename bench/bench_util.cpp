#include "bench/bench_util.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <vector>

#include "engine/gfx/surface.h"

namespace lq::bench {

namespace {
Image Synthetic(int w, int h) {
  std::vector<uint32_t> px(size_t(w) * size_t(h));
  uint32_t s = 12345;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      s = s * 1664525u + 1013904223u;
      int n = int(s >> 27);
      int r = std::clamp(int(128 + 100 * std::sin(x * 0.01) + n), 0, 255);
      int g = std::clamp(int(128 + 100 * std::cos(y * 0.013) + n), 0, 255);
      int b = std::clamp(int((x + y) * 255 / (w + h)) + n, 0, 255);
      px[size_t(y) * w + x] = MakeColor(255, r, g, b);
    }
  return Image::MakeFromPixels(w, h, std::move(px), true);
}
}  // namespace

Image PhotoOfSize(int width, int height) {
  static std::mutex mu;
  static std::map<std::pair<int, int>, Image> cache;
  std::lock_guard<std::mutex> lk(mu);
  auto key = std::make_pair(width, height);
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  Image base = Synthetic(640, 480);
  auto surf = Surface::MakeRaster(width, height);
  surf->GetCanvas()->DrawImageRect(base, RectF::MakeWH(width, height), SamplingOptions::High());
  Image img = surf->MakeImageSnapshot();
  cache[key] = img;
  return img;
}

Image PhotoOfSize(double megapixels) {
  int w = int(std::lround(std::sqrt(megapixels * 1e6 * 4.0 / 3.0)));
  int h = int(std::lround(w * 3.0 / 4.0));
  return PhotoOfSize(w, h);
}

}  // namespace lq::bench
