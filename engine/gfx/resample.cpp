#include "engine/gfx/resample.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <emmintrin.h>
#include <vector>

namespace lq {

namespace {

constexpr int kPhaseBits = 8;
constexpr int kPhases = 1 << kPhaseBits;
constexpr int kWeightBits = 14;

double Mitchell(double x) {
  const double B = 1.0 / 3, C = 1.0 / 3;
  x = std::fabs(x);
  if (x < 1) return ((12 - 9 * B - 6 * C) * x * x * x + (-18 + 12 * B + 6 * C) * x * x + (6 - 2 * B)) / 6;
  if (x < 2) return ((-B - 6 * C) * x * x * x + (6 * B + 30 * C) * x * x + (-12 * B - 48 * C) * x + (8 * B + 24 * C)) / 6;
  return 0;
}

// Fixed-point weights of the four taps for every sub-pixel phase; each set sums
// exactly to 1 << kWeightBits so flat areas stay exact.
struct WeightTable {
  std::array<std::array<int32_t, 4>, kPhases + 1> w;
  WeightTable() {
    for (int p = 0; p <= kPhases; ++p) {
      double f = double(p) / kPhases;
      double d[4] = {Mitchell(f + 1), Mitchell(f), Mitchell(1 - f), Mitchell(2 - f)};
      int32_t sum = 0;
      for (int i = 0; i < 4; ++i) sum += w[size_t(p)][size_t(i)] = int32_t(std::lround(d[i] * (1 << kWeightBits)));
      w[size_t(p)][1] += (1 << kWeightBits) - sum;
    }
  }
};

const WeightTable& Weights() {
  static const WeightTable t;
  return t;
}

inline int ClampIdx(int v, int hi) { return v < 0 ? 0 : (v > hi ? hi : v); }

}  // namespace

void ResampleMitchellAffine(ConstPixelView src, const double m[6], int x0, int y0, PixelView out) {
  const auto& W = Weights().w;
  const int maxX = src.width - 1, maxY = src.height - 1;
  const __m128i zero = _mm_setzero_si128();
  const float scale = 1.0f / float(1 << (2 * kWeightBits - 7));
  // Per row: where the kernel reaches the source at all, and u, v at column 0.
  // Along a row u and v are linear in the column. Columns outside the span are
  // left transparent (the caller's coverage mask drops them anyway), which
  // halves the work of a rotation.
  struct RowSpan {
    double u0, v0;
    int iStart, iEnd;
  };
  std::vector<RowSpan> spans(static_cast<size_t>(out.height));
  for (int j = 0; j < out.height; ++j) {
    uint32_t* o = out.row(j);
    const double dy = y0 + j + 0.5;
    const double u0 = m[0] * (x0 + 0.5) + m[2] * dy + m[4] - 0.5;
    const double v0 = m[1] * (x0 + 0.5) + m[3] * dy + m[5] - 0.5;
    double lo = 0, hi = out.width;
    auto limit = [&](double start, double step, double a, double b) {
      // Keep i with a <= start + i * step <= b.
      if (step == 0) {
        if (start < a || start > b) hi = lo;
        return;
      }
      double i1 = (a - start) / step, i2 = (b - start) / step;
      if (i1 > i2) std::swap(i1, i2);
      lo = std::max(lo, std::ceil(i1));
      hi = std::min(hi, std::floor(i2) + 1);
    };
    limit(u0, m[0], -2.0, maxX + 2.0);
    limit(v0, m[1], -2.0, maxY + 2.0);
    if (!std::isfinite(lo) || !std::isfinite(hi)) lo = hi = 0;
    const int iStart = int(std::clamp(lo, 0.0, double(out.width)));
    const int iEnd = std::max(iStart, int(std::clamp(hi, 0.0, double(out.width))));
    std::fill(o, o + iStart, 0u);
    std::fill(o + iEnd, o + out.width, 0u);
    spans[size_t(j)] = {u0, v0, iStart, iEnd};
  }
  // Column blocks, each walked down all rows: a rotated walk along a whole
  // row would touch a new source row every few pixels and miss the caches.
  constexpr int kBlock = 64;
  for (int xb = 0; xb < out.width; xb += kBlock)
  for (int j = 0; j < out.height; ++j) {
    uint32_t* o = out.row(j);
    const RowSpan& sp = spans[size_t(j)];
    const double u0 = sp.u0, v0 = sp.v0;
    const int iEnd = std::min(sp.iEnd, xb + kBlock);
    for (int i = std::max(sp.iStart, xb); i < iEnd; ++i) {
      // Inside the span u and v lie within [-2, size + 2]: the shifted
      // truncation is a floor and stays in range.
      const double u = u0 + m[0] * i, v = v0 + m[1] * i;
      const int ix = int(u + 8.0) - 8, iy = int(v + 8.0) - 8;
      int pu = int((u - ix) * kPhases + 0.5), pv = int((v - iy) * kPhases + 0.5);
      pu = pu < 0 ? 0 : (pu > kPhases ? kPhases : pu);
      pv = pv < 0 ? 0 : (pv > kPhases ? kPhases : pv);
      const auto& wx = W[size_t(pu)];
      const auto& wy = W[size_t(pv)];
      // Tap weights paired for madd: (w0, w1) and (w2, w3), repeated per channel.
      const __m128i w01 = _mm_set1_epi32(int32_t(uint32_t(uint16_t(wx[0])) | (uint32_t(uint16_t(wx[1])) << 16)));
      const __m128i w23 = _mm_set1_epi32(int32_t(uint32_t(uint16_t(wx[2])) | (uint32_t(uint16_t(wx[3])) << 16)));
      const bool inside = ix >= 1 && ix + 2 <= maxX;
      __m128 acc = _mm_setzero_ps();
      for (int t = 0; t < 4; ++t) {
        const uint32_t* r = src.row(ClampIdx(iy - 1 + t, maxY));
        __m128i px;
        if (inside) {
          px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + ix - 1));
        } else {
          alignas(16) uint32_t q[4] = {r[ClampIdx(ix - 1, maxX)], r[ClampIdx(ix, maxX)], r[ClampIdx(ix + 1, maxX)],
                                       r[ClampIdx(ix + 2, maxX)]};
          px = _mm_load_si128(reinterpret_cast<const __m128i*>(q));
        }
        // Interleave the channels of neighbouring taps: b0 b1 g0 g1 r0 r1 a0 a1.
        __m128i p01 = _mm_unpacklo_epi8(_mm_unpacklo_epi8(px, _mm_srli_si128(px, 4)), zero);
        __m128i p23 = _mm_unpacklo_epi8(_mm_unpacklo_epi8(_mm_srli_si128(px, 8), _mm_srli_si128(px, 12)), zero);
        __m128i h = _mm_add_epi32(_mm_madd_epi16(p01, w01), _mm_madd_epi16(p23, w23));
        acc = _mm_add_ps(acc, _mm_mul_ps(_mm_cvtepi32_ps(_mm_srai_epi32(h, 7)), _mm_set1_ps(float(wy[size_t(t)]))));
      }
      // Back to bytes (b, g, r, a lanes), rounded and clamped; then colour <= alpha.
      __m128i v32 = _mm_cvtps_epi32(_mm_mul_ps(acc, _mm_set1_ps(scale)));
      __m128i v16 = _mm_packs_epi32(v32, v32);
      __m128i v8 = _mm_packus_epi16(v16, v16);
      uint32_t p = uint32_t(_mm_cvtsi128_si32(v8));
      uint32_t a = p >> 24, b = p & 255, g = (p >> 8) & 255, r = (p >> 16) & 255;
      if (b > a) b = a;
      if (g > a) g = a;
      if (r > a) r = a;
      o[i] = (a << 24) | (r << 16) | (g << 8) | b;
    }
  }
}

}  // namespace lq
