#include "engine/gfx/filters.h"

#include "engine/gfx/parallel_range.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace lq {

int BlurRadius(float sigma) { return sigma > 0 ? int(std::ceil(3.0f * sigma)) : 0; }

namespace {

// Maps an out-of-range index into 0..n-1 by the tile mode; -1 means transparent.
inline int TileIndex(int i, int n, TileMode t) {
  if (i >= 0 && i < n) return i;
  switch (t) {
    case TileMode::Clamp: return i < 0 ? 0 : n - 1;
    case TileMode::Decal: return -1;
    case TileMode::Repeat: {
      int m = i % n;
      return m < 0 ? m + n : m;
    }
    case TileMode::Mirror: {
      int p = 2 * n;
      int m = i % p;
      if (m < 0) m += p;
      return m < n ? m : p - 1 - m;
    }
  }
  return -1;
}

// A pass is either a box (running sum over [lo, hi]) or a normalised kernel.
struct Pass {
  int lo = 0, hi = 0;          // window relative to the output index
  std::vector<float> weights;  // empty: box
};

std::vector<Pass> PassesFor(float sigma) {
  std::vector<Pass> passes;
  if (sigma <= 0) return passes;
  if (sigma < 2.0f) {
    // Small radii: the exact kernel is both cheap and more faithful than boxes.
    int r = BlurRadius(sigma);
    Pass p;
    p.lo = -r;
    p.hi = r;
    double sum = 0;
    std::vector<double> w(size_t(2 * r + 1));
    for (int i = -r; i <= r; ++i) sum += w[size_t(i + r)] = std::exp(-(double(i) * i) / (2.0 * sigma * sigma));
    for (double v : w) p.weights.push_back(float(v / sum));
    passes.push_back(std::move(p));
    return passes;
  }
  // Three successive boxes approximate the Gaussian (the usual SVG construction).
  int d = int(std::floor(sigma * 3.0 * std::sqrt(2.0 * M_PI) / 4.0 + 0.5));
  if (d % 2 == 1) {
    for (int i = 0; i < 3; ++i) passes.push_back({-d / 2, d / 2, {}});
  } else {
    passes.push_back({-d / 2, d / 2 - 1, {}});
    passes.push_back({-d / 2 + 1, d / 2, {}});
    passes.push_back({-d / 2, d / 2, {}});
  }
  return passes;
}

// Runs the passes over one line of n elements with C channels. `in` is read
// through the tile mode; `tmp` and `out` are scratch of n * C values.
template <typename T, int C>
void BlurLine(const std::vector<Pass>& passes, T* line, int n, TileMode tile, std::vector<float>& a,
              std::vector<float>& b) {
  // Work in float: exact for 8-bit sums of any realistic window.
  a.resize(size_t(n) * C);
  b.resize(size_t(n) * C);
  for (int i = 0; i < n * C; ++i) a[size_t(i)] = float(line[i]);
  for (const Pass& p : passes) {
    auto fetch = [&](int i, int c) -> float {
      int k = TileIndex(i, n, tile);
      return k < 0 ? 0.0f : a[size_t(k) * C + c];
    };
    if (p.weights.empty()) {
      float inv = 1.0f / float(p.hi - p.lo + 1);
      for (int c = 0; c < C; ++c) {
        double sum = 0;
        for (int k = p.lo; k <= p.hi; ++k) sum += fetch(k, c);
        for (int i = 0; i < n; ++i) {
          b[size_t(i) * C + c] = float(sum) * inv;
          // Interior samples come straight from the line; only edges go through the tile mode.
          int add = i + p.hi + 1, sub = i + p.lo;
          float va = (add >= 0 && add < n) ? a[size_t(add) * C + c] : fetch(add, c);
          float vs = (sub >= 0 && sub < n) ? a[size_t(sub) * C + c] : fetch(sub, c);
          sum += double(va) - double(vs);
        }
      }
    } else {
      for (int i = 0; i < n; ++i) {
        for (int c = 0; c < C; ++c) {
          float s = 0;
          for (int k = p.lo; k <= p.hi; ++k) {
            int j = i + k;
            float v = (j >= 0 && j < n) ? a[size_t(j) * C + c] : fetch(j, c);
            s += v * p.weights[size_t(k - p.lo)];
          }
          b[size_t(i) * C + c] = s;
        }
      }
    }
    a.swap(b);
  }
  for (int i = 0; i < n * C; ++i) {
    if constexpr (std::is_same_v<T, float>) {
      line[i] = a[size_t(i)];
    } else {
      line[i] = T(std::clamp(int(a[size_t(i)] + 0.5f), 0, 255));
    }
  }
}

// Blurs a plane of T with C interleaved channels in place (rows then columns).
template <typename T, int C>
void BlurPlane(T* base, int w, int h, size_t strideElems, float sx, float sy, TileMode tile) {
  auto px = PassesFor(sx), py = PassesFor(sy);
  if (!px.empty()) {
    ParallelRange(0, h, 16, [&](int y0, int y1) {
      std::vector<float> a, b;
      for (int y = y0; y < y1; ++y) BlurLine<T, C>(px, base + size_t(y) * strideElems, w, tile, a, b);
    });
  }
  if (!py.empty()) {
    // Columns in strips of 16 so each gather touches whole cache lines.
    constexpr int kStrip = 16;
    int strips = (w + kStrip - 1) / kStrip;
    ParallelRange(0, strips, 1, [&](int s0, int s1) {
      std::vector<T> col;
      std::vector<float> a, b;
      for (int s = s0; s < s1; ++s) {
        int x0 = s * kStrip, x1 = std::min(w, x0 + kStrip);
        for (int x = x0; x < x1; ++x) {
          col.resize(size_t(h) * C);
          for (int y = 0; y < h; ++y)
            for (int c = 0; c < C; ++c) col[size_t(y) * C + c] = base[size_t(y) * strideElems + size_t(x) * C + c];
          BlurLine<T, C>(py, col.data(), h, tile, a, b);
          for (int y = 0; y < h; ++y)
            for (int c = 0; c < C; ++c) base[size_t(y) * strideElems + size_t(x) * C + c] = col[size_t(y) * C + c];
        }
      }
    });
  }
}

void CopyView(ConstPixelView src, PixelView dst) {
  if (src.base == dst.base && src.rowBytes == dst.rowBytes) return;
  for (int y = 0; y < src.height; ++y) std::memmove(dst.row(y), src.row(y), size_t(src.width) * 4);
}

}  // namespace

void GaussianBlur(ConstPixelView src, PixelView dst, float sigmaX, float sigmaY, TileMode tile) {
  if (!src || !dst || src.width != dst.width || src.height != dst.height) return;
  CopyView(src, dst);
  BlurPlane<uint8_t, 4>(reinterpret_cast<uint8_t*>(dst.base), dst.width, dst.height, dst.rowBytes, sigmaX, sigmaY,
                        tile);
}

void GaussianBlurA8(const uint8_t* src, uint8_t* dst, int width, int height, size_t stride, float sigmaX,
                    float sigmaY, TileMode tile) {
  if (!src || !dst || width <= 0 || height <= 0) return;
  if (src != dst)
    for (int y = 0; y < height; ++y) std::memmove(dst + size_t(y) * stride, src + size_t(y) * stride, size_t(width));
  BlurPlane<uint8_t, 1>(dst, width, height, stride, sigmaX, sigmaY, tile);
}

void GaussianBlurF32(const float* src, float* dst, int width, int height, float sigmaX, float sigmaY, TileMode tile) {
  if (!src || !dst || width <= 0 || height <= 0) return;
  if (src != dst) std::memmove(dst, src, size_t(width) * size_t(height) * sizeof(float));
  BlurPlane<float, 1>(dst, width, height, size_t(width), sigmaX, sigmaY, tile);
}

void Convolve3x3(ConstPixelView src, PixelView dst, const std::array<float, 9>& k, float gain, float bias,
                 IPoint off, TileMode tile, bool convolveAlpha) {
  if (!src || !dst || src.width != dst.width || src.height != dst.height) return;
  int w = src.width, h = src.height;
  // Work from a copy when filtering in place.
  std::vector<uint32_t> copy;
  ConstPixelView s = src;
  if (src.base == dst.base) {
    copy.resize(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y) std::memcpy(&copy[size_t(y) * w], src.row(y), size_t(w) * 4);
    s = ConstPixelView(copy.data(), size_t(w) * 4, w, h);
  }
  ParallelRange(0, h, 32, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      uint32_t* out = dst.row(y);
      for (int x = 0; x < w; ++x) {
        float acc[4] = {0, 0, 0, 0};
        for (int ky = 0; ky < 3; ++ky) {
          int yy = TileIndex(y + ky - off.y, h, tile);
          for (int kx = 0; kx < 3; ++kx) {
            int xx = TileIndex(x + kx - off.x, w, tile);
            if (yy < 0 || xx < 0) continue;
            uint32_t p = s.at(xx, yy);
            if (!convolveAlpha) p = Unpremultiply(p);
            float kv = k[size_t(ky * 3 + kx)];
            acc[0] += kv * float(GetR(p));
            acc[1] += kv * float(GetG(p));
            acc[2] += kv * float(GetB(p));
            acc[3] += kv * float(GetA(p));
          }
        }
        auto q = [&](float v) { return uint32_t(std::clamp(int(std::lround(v * gain + bias * 255.0f)), 0, 255)); };
        if (convolveAlpha) {
          uint32_t a = q(acc[3]);
          out[x] = MakeColor(a, std::min(a, q(acc[0])), std::min(a, q(acc[1])), std::min(a, q(acc[2])));
        } else {
          uint32_t a = GetA(s.at(x, y));
          out[x] = Premultiply(MakeColor(a, q(acc[0]), q(acc[1]), q(acc[2])));
        }
      }
    }
  });
}

void ApplyColorMatrix(ConstPixelView src, PixelView dst, const ColorMatrix& m) {
  if (!src || !dst || src.width != dst.width || src.height != dst.height) return;
  auto cf = ColorFilter::MakeMatrix(m);
  ParallelRange(0, src.height, 32, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      if (src.row(y) != dst.row(y)) std::memcpy(dst.row(y), src.row(y), size_t(src.width) * 4);
      cf->FilterRow(dst.row(y), dst.width);
    }
  });
}

}  // namespace lq
