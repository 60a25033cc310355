#include "engine/gfx/filters.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#define LQ_AVX2_PATHS 1
#define LQ_AVX2 __attribute__((target("avx2")))
#endif

#include "engine/gfx/parallel_range.h"

#define LQ_ALWAYS_INLINE inline __attribute__((always_inline))

namespace lq {

namespace {

// Larger sigmas are treated as this one: far beyond any blur the effects ask
// for, and it keeps every reach inside int and every box sum exact in double.
constexpr float kMaxSigma = 10000.0f;

float SaneSigma(float s) { return s > 0 ? std::min(s, kMaxSigma) : 0.0f; }

}  // namespace

int BlurRadius(float sigma) {
  sigma = SaneSigma(sigma);
  return sigma > 0 ? int(std::ceil(3.0f * sigma)) : 0;
}

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

// ---------------------------------------------------------------------------
// How one axis is blurred.

// What the sums are kept in. Fixed: bytes through 14-bit integer taps.
enum class Acc { Int32, Float, Double, Fixed };

#if defined(__SSE2__)
constexpr bool kHaveFixedTaps = true;
#else
constexpr bool kHaveFixedTaps = false;
#endif

struct AxisPlan {
  bool active = false;
  bool boxes = false;
  int pad = 0;               // samples reached on each side of the output
  int width[3] = {1, 1, 1};  // box widths
  std::vector<float> taps;   // exact kernel, 2 * pad + 1 taps summing to 1
  // The same kernel folded (centre, then each symmetric pair once) in 14-bit
  // fixed point, two consecutive weights packed per entry.
  std::vector<int32_t> pairWeights;
  double scale = 1;          // turns the box sums back into values
  Acc acc = Acc::Float;
};

// Below this sigma the exact kernel is short, and boxes only a few pixels wide
// could not match its width closely.
constexpr float kBoxSigma = 3.0f;

AxisPlan PlanAxis(float sigma, bool byteData) {
  AxisPlan p;
  sigma = SaneSigma(sigma);
  if (sigma <= 0) return p;
  p.active = true;
  if (sigma < kBoxSigma) {
    int r = BlurRadius(sigma);
    std::vector<double> w(size_t(2 * r + 1));
    double sum = 0;
    for (int i = -r; i <= r; ++i) sum += w[size_t(i + r)] = std::exp(-(double(i) * i) / (2.0 * sigma * sigma));
    for (double v : w) p.taps.push_back(float(v / sum));
    p.pad = r;
    p.acc = Acc::Float;
    if (byteData && kHaveFixedTaps) {
      // Side weights rounded, the centre takes the remainder: the taps add up
      // to exactly one, so flat areas stay exactly flat.
      constexpr int kOne = 1 << 14;
      std::vector<int> q(size_t(r + 2), 0);
      int side = 0;
      for (int k = 1; k <= r; ++k) side += q[size_t(k)] = int(std::lround(w[size_t(r + k)] / sum * kOne));
      q[0] = kOne - 2 * side;
      for (int k = 0; k <= r; k += 2)
        p.pairWeights.push_back(int32_t(uint32_t(q[size_t(k)]) | (uint32_t(q[size_t(k + 1)]) << 16)));
      p.acc = Acc::Fixed;
    }
    return p;
  }
  // Three running boxes, the usual stand-in for a wide Gaussian. Their widths
  // are chosen so that the combined variance, sum (b^2 - 1) / 12, is as close
  // to sigma^2 as whole widths allow; an odd total keeps the result centred.
  double target = 12.0 * double(sigma) * sigma;
  int ideal = int(std::lround(std::sqrt(target / 3.0 + 1.0)));
  double best = 1e300;
  for (int b1 = std::max(1, ideal - 2); b1 <= ideal + 2; ++b1)
    for (int b2 = b1; b2 <= b1 + 2; ++b2)
      for (int b3 = b2; b3 <= b1 + 2; ++b3) {
        if ((b1 + b2 + b3) % 2 == 0) continue;
        double err = std::fabs(double(b1) * b1 + double(b2) * b2 + double(b3) * b3 - 3.0 - target);
        if (err < best) {
          best = err;
          p.width[0] = b1;
          p.width[1] = b2;
          p.width[2] = b3;
        }
      }
  p.boxes = true;
  p.pad = (p.width[0] + p.width[1] + p.width[2] - 3) / 2;
  double norm = double(p.width[0]) * p.width[1] * p.width[2];
  p.scale = 1.0 / norm;
  // Integer sums while 255 * norm fits; doubles (still exact) beyond.
  p.acc = byteData && 255.0 * norm < 2147483647.0 ? Acc::Int32 : Acc::Double;
  return p;
}

// ---------------------------------------------------------------------------
// Lane vectors. Loads and stores go through memcpy so no alignment is assumed;
// vectors never cross a call boundary. Bytes to and from four 32-bit lanes is
// the conversion every byte pass leans on; plain SSE2 does it in a few
// instructions where the generic lowering goes through scalars.

typedef int32_t I4 __attribute__((vector_size(16)));
typedef float F4 __attribute__((vector_size(16)));

LQ_ALWAYS_INLINE void LoadBytes4(const uint8_t* p, I4& v) {
#if defined(__SSE2__)
  int32_t x;
  std::memcpy(&x, p, 4);
  __m128i z = _mm_setzero_si128();
  v = (I4)_mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(x), z), z);
#else
  typedef uint8_t B4 __attribute__((vector_size(4)));
  B4 b;
  std::memcpy(&b, p, 4);
  v = __builtin_convertvector(b, I4);
#endif
}

// Rounds to the nearest level and saturates to 0..255.
LQ_ALWAYS_INLINE void StoreBytes4(uint8_t* p, const F4& w) {
#if defined(__SSE2__)
  __m128i i = _mm_cvtps_epi32((__m128)w);
  i = _mm_packs_epi32(i, i);
  i = _mm_packus_epi16(i, i);
  int32_t x = _mm_cvtsi128_si32(i);
  std::memcpy(p, &x, 4);
#else
  F4 zero = {}, top = zero + 255.0f;
  F4 c = w + 0.5f;
  c = c < zero ? zero : c;
  c = c > top ? top : c;
  typedef uint8_t B4 __attribute__((vector_size(4)));
  B4 b = __builtin_convertvector(__builtin_convertvector(c, I4), B4);
  std::memcpy(p, &b, 4);
#endif
}

// The widest vectors this processor has decide which kernels run; results
// are the same either way.
#if LQ_AVX2_PATHS
bool HaveAvx2() {
  static const bool yes = __builtin_cpu_supports("avx2");
  return yes;
}
#endif

#if defined(__SSE2__)
// Sixteen output bytes of a symmetric kernel; tap(k) points at the sixteen
// input bytes k samples from the centre, k in -r..r. Mirrored samples are
// added first, then two terms at a time go through one multiply-add.
template <typename Tap>
LQ_ALWAYS_INLINE void FirBytes16(const Tap& tap, int r, const int32_t* pairWeights, uint8_t* out) {
  const __m128i z = _mm_setzero_si128();
  __m128i a0 = z, a1 = z, a2 = z, a3 = z;
  auto term = [&](int k, __m128i& lo, __m128i& hi) {
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tap(k)));
    lo = _mm_unpacklo_epi8(x, z);
    hi = _mm_unpackhi_epi8(x, z);
    if (k > 0) {
      __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tap(-k)));
      lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(y, z));
      hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(y, z));
    }
  };
  for (int k = 0; k <= r; k += 2) {
    __m128i l0, h0, l1 = z, h1 = z;
    term(k, l0, h0);
    if (k + 1 <= r) term(k + 1, l1, h1);
    const __m128i wv = _mm_set1_epi32(pairWeights[k / 2]);
    a0 = _mm_add_epi32(a0, _mm_madd_epi16(_mm_unpacklo_epi16(l0, l1), wv));
    a1 = _mm_add_epi32(a1, _mm_madd_epi16(_mm_unpackhi_epi16(l0, l1), wv));
    a2 = _mm_add_epi32(a2, _mm_madd_epi16(_mm_unpacklo_epi16(h0, h1), wv));
    a3 = _mm_add_epi32(a3, _mm_madd_epi16(_mm_unpackhi_epi16(h0, h1), wv));
  }
  const __m128i half = _mm_set1_epi32(1 << 13);
  a0 = _mm_srai_epi32(_mm_add_epi32(a0, half), 14);
  a1 = _mm_srai_epi32(_mm_add_epi32(a1, half), 14);
  a2 = _mm_srai_epi32(_mm_add_epi32(a2, half), 14);
  a3 = _mm_srai_epi32(_mm_add_epi32(a3, half), 14);
  __m128i v = _mm_packus_epi16(_mm_packs_epi32(a0, a1), _mm_packs_epi32(a2, a3));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
}

#if LQ_AVX2_PATHS
// FirBytes16 for 32 bytes at a time, over [begin, end) in whole blocks;
// tap(k, e) points at the block at e, k samples from the centre. Every step
// stays within 128-bit halves, so each half computes exactly what
// FirBytes16 would. Returns where the blocks stopped.
template <typename Tap>
LQ_AVX2 int FirBlocks32(const Tap& tap, int r, const int32_t* pairWeights, uint8_t* out, int begin, int end) {
  const __m256i z = _mm256_setzero_si256();
  const __m256i half = _mm256_set1_epi32(1 << 13);
  int e = begin;
  for (; e + 32 <= end; e += 32) {
    __m256i a0 = z, a1 = z, a2 = z, a3 = z;
    for (int k = 0; k <= r; k += 2) {
      __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tap(k, e)));
      __m256i l0 = _mm256_unpacklo_epi8(x, z), h0 = _mm256_unpackhi_epi8(x, z);
      if (k > 0) {
        __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tap(-k, e)));
        l0 = _mm256_add_epi16(l0, _mm256_unpacklo_epi8(y, z));
        h0 = _mm256_add_epi16(h0, _mm256_unpackhi_epi8(y, z));
      }
      __m256i l1 = z, h1 = z;
      if (k + 1 <= r) {
        __m256i x1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tap(k + 1, e)));
        __m256i y1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tap(-k - 1, e)));
        l1 = _mm256_add_epi16(_mm256_unpacklo_epi8(x1, z), _mm256_unpacklo_epi8(y1, z));
        h1 = _mm256_add_epi16(_mm256_unpackhi_epi8(x1, z), _mm256_unpackhi_epi8(y1, z));
      }
      const __m256i wv = _mm256_set1_epi32(pairWeights[k / 2]);
      a0 = _mm256_add_epi32(a0, _mm256_madd_epi16(_mm256_unpacklo_epi16(l0, l1), wv));
      a1 = _mm256_add_epi32(a1, _mm256_madd_epi16(_mm256_unpackhi_epi16(l0, l1), wv));
      a2 = _mm256_add_epi32(a2, _mm256_madd_epi16(_mm256_unpacklo_epi16(h0, h1), wv));
      a3 = _mm256_add_epi32(a3, _mm256_madd_epi16(_mm256_unpackhi_epi16(h0, h1), wv));
    }
    a0 = _mm256_srai_epi32(_mm256_add_epi32(a0, half), 14);
    a1 = _mm256_srai_epi32(_mm256_add_epi32(a1, half), 14);
    a2 = _mm256_srai_epi32(_mm256_add_epi32(a2, half), 14);
    a3 = _mm256_srai_epi32(_mm256_add_epi32(a3, half), 14);
    __m256i v = _mm256_packus_epi16(_mm256_packs_epi32(a0, a1), _mm256_packs_epi32(a2, a3));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + e), v);
  }
  return e;
}

// One step of the three running boxes for whole groups of 8 byte lanes
// (see ColumnStrip::RunBoxes); the same arithmetic as the 4-lane loop.
// Returns the first lane not done.
LQ_AVX2 int BoxStep32(const uint8_t* in, const uint8_t* old, int32_t* s1, int32_t* s2, int32_t* s3, int32_t* r2,
                      int32_t* r3, uint8_t* out, int lanes, float scale) {
  const __m256 sc = _mm256_set1_ps(scale);
  int l = 0;
  for (; l + 8 <= lanes; l += 8) {
#define LQ_LOAD(p) _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))
#define LQ_STORE(p, v) _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v)
    __m256i e = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + l)));
    __m256i o = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(old + l)));
    __m256i a = _mm256_add_epi32(LQ_LOAD(s1 + l), _mm256_sub_epi32(e, o));
    __m256i b = _mm256_add_epi32(LQ_LOAD(s2 + l), _mm256_sub_epi32(a, LQ_LOAD(r2 + l)));
    __m256i c = _mm256_add_epi32(LQ_LOAD(s3 + l), _mm256_sub_epi32(b, LQ_LOAD(r3 + l)));
    LQ_STORE(s1 + l, a);
    LQ_STORE(s2 + l, b);
    LQ_STORE(s3 + l, c);
    LQ_STORE(r2 + l, a);
    LQ_STORE(r3 + l, b);
#undef LQ_LOAD
#undef LQ_STORE
    if (out) {
      __m256i i = _mm256_cvtps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(c), sc));
      __m256i p = _mm256_packs_epi32(i, i);
      p = _mm256_packus_epi16(p, p);
      __m128i v = _mm_unpacklo_epi32(_mm256_castsi256_si128(p), _mm256_extracti128_si256(p, 1));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + l), v);
    }
  }
  return l;
}
#endif

// A row of bytes (C per pixel) through the fixed-point kernel. The line
// buffer holds the row with its tile-mode margins, so out may be in.
template <int C>
void BlurRowFixed(const uint8_t* in, uint8_t* out, int w, int r, const int32_t* pairWeights, TileMode tile,
                  std::vector<uint8_t>& line) {
  const int n = w + 2 * r, total = w * C;
  // Sixteen spare bytes: the last block may read past the margin.
  line.resize(size_t(n) * C + 16);
  uint8_t* l = line.data();
  for (int i = 0; i < n; ++i) {
    if (i == r) {
      std::memcpy(l + size_t(r) * C, in, size_t(total));
      i = r + w - 1;
      continue;
    }
    int k = TileIndex(i - r, w, tile);
    if (k < 0)
      std::memset(l + size_t(i) * C, 0, C);
    else
      std::memcpy(l + size_t(i) * C, in + size_t(k) * C, C);
  }
  const uint8_t* centre = l + size_t(r) * C;
  int e0 = 0;
#if LQ_AVX2_PATHS
  if (HaveAvx2())
    e0 = FirBlocks32([centre](int k, int e) { return centre + e + k * C; }, r, pairWeights, out, 0, total);
#endif
  for (int e = e0; e < total; e += 16) {
    auto tap = [&](int k) { return centre + e + k * C; };
    if (e + 16 <= total) {
      FirBytes16(tap, r, pairWeights, out + e);
    } else {
      uint8_t tail[16];
      FirBytes16(tap, r, pairWeights, tail);
      std::memcpy(out + e, tail, size_t(total - e));
    }
  }
}
#endif

// One level from a scaled sum: nearest, ties to even as the vector
// conversions round, saturated to 0..255.
template <typename W>
LQ_ALWAYS_INLINE uint8_t RoundLevel(W w) {
  w = w > W(0) ? (w < W(255) ? w : W(255)) : W(0);
#if defined(__SSE2__)
  if constexpr (std::is_same_v<W, float>)
    return uint8_t(_mm_cvtss_si32(_mm_set_ss(w)));
  else
    return uint8_t(_mm_cvtsd_si32(_mm_set_sd(w)));
#else
  return uint8_t(int(w + W(0.5)));
#endif
}

template <typename A, int N>
struct Lanes {
  typedef A V __attribute__((vector_size(N * sizeof(A))));
  // Arithmetic for the final scaling: doubles stay doubles, the rest is float.
  using W = std::conditional_t<std::is_same_v<A, double>, double, float>;
  typedef W WV __attribute__((vector_size(N * sizeof(W))));
  static constexpr bool kFastBytes = N == 4 && sizeof(A) == 4;

  template <typename T>
  static LQ_ALWAYS_INLINE void Load(const T* p, V& v) {
    if constexpr (std::is_same_v<T, uint8_t> && kFastBytes) {
      I4 i;
      LoadBytes4(p, i);
      v = __builtin_convertvector(i, V);
    } else {
      typedef T S __attribute__((vector_size(N * sizeof(T))));
      S s;
      std::memcpy(&s, p, sizeof s);
      v = __builtin_convertvector(s, V);
    }
  }
  static LQ_ALWAYS_INLINE void LoadAcc(const A* p, V& v) { std::memcpy(&v, p, sizeof v); }
  static LQ_ALWAYS_INLINE void StoreAcc(A* p, const V& v) { std::memcpy(p, &v, sizeof v); }

  // Scales and writes N values: bytes are rounded and clamped, floats kept.
  template <typename T>
  static LQ_ALWAYS_INLINE void Store(T* p, const V& v, W scale) {
    WV w = __builtin_convertvector(v, WV) * scale;
    typedef T S __attribute__((vector_size(N * sizeof(T))));
    S s;
    if constexpr (std::is_same_v<T, float>) {
      s = __builtin_convertvector(w, S);
    } else if constexpr (kFastBytes) {
      StoreBytes4(p, w);
      return;
    } else {
      for (int i = 0; i < N; ++i) s[i] = RoundLevel(W(w[i]));
    }
    std::memcpy(p, &s, sizeof s);
  }
};

// One element of C channels as held in the horizontal line buffer.
template <typename A, int C>
struct PixelOf {
  using L = Lanes<A, C>;
  using V = typename L::V;
  using W = typename L::W;
  template <typename T>
  static LQ_ALWAYS_INLINE void Load(const T* p, V& v) { L::Load(p, v); }
  template <typename T>
  static LQ_ALWAYS_INLINE void Store(T* p, const V& v, W scale) { L::Store(p, v, scale); }
};

template <typename A>
struct PixelOf<A, 1> {
  using V = A;
  using W = typename Lanes<A, 4>::W;
  template <typename T>
  static LQ_ALWAYS_INLINE void Load(const T* p, V& v) { v = A(*p); }
  template <typename T>
  static LQ_ALWAYS_INLINE void Store(T* p, const V& v, W scale) {
    W w = W(v) * scale;
    if constexpr (std::is_same_v<T, float>)
      *p = float(w);
    else
      *p = RoundLevel(w);
  }
};

// ---------------------------------------------------------------------------
// Horizontal pass: one row at a time through a line buffer holding the row and
// its tile-mode margins, so the row may be written in place.

template <typename T, int C, typename A>
void BlurRow(const T* in, T* out, int w, const AxisPlan& ap, TileMode tile, std::vector<A>& buf) {
  using P = PixelOf<A, C>;
  using V = typename P::V;
  using W = typename P::W;
  const int pad = ap.pad;
  int n = w + 2 * pad;
  buf.resize(size_t(n) * C);
  A* line = buf.data();
  auto at = [line](int i) { return line + size_t(i) * C; };
  auto loadv = [&](int i, V& v) { std::memcpy(&v, at(i), sizeof v); };
  auto storev = [&](int i, const V& v) { std::memcpy(at(i), &v, sizeof v); };

  auto fill = [&](int i) {
    int k = TileIndex(i - pad, w, tile);
    V v{};
    if (k >= 0) P::Load(in + size_t(k) * C, v);
    storev(i, v);
  };
  for (int i = 0; i < pad; ++i) fill(i);
  {
    // The row itself, a vector at a time.
    constexpr int kN = 16 / int(sizeof(A));
    using LV = Lanes<A, kN>;
    typename LV::V v;
    int total = w * C, j = 0;
    A* dst = at(pad);
    for (; j + kN <= total; j += kN) {
      LV::Load(in + j, v);
      LV::StoreAcc(dst + j, v);
    }
    for (; j < total; ++j) dst[j] = A(in[j]);
  }
  for (int i = pad + w; i < n; ++i) fill(i);

  if (ap.boxes) {
    // Each box turns n samples into n - b + 1 running sums, in place.
    for (int s = 0; s < 3; ++s) {
      const int b = ap.width[s];
      V sum{}, v, t;
      for (int j = 0; j < b; ++j) {
        loadv(j, v);
        sum += v;
      }
      const int outs = n - b + 1;
      for (int j = 0; j + 1 < outs; ++j) {
        loadv(j, t);
        storev(j, sum);
        loadv(j + b, v);
        sum += v - t;
      }
      storev(outs - 1, sum);
      n = outs;
    }
    const W scale = W(ap.scale);
    V v;
    for (int x = 0; x < w; ++x) {
      loadv(x, v);
      P::Store(out + size_t(x) * C, v, scale);
    }
  } else {
    const float* taps = ap.taps.data();
    const int nt = 2 * pad + 1;
    V acc, v;
    for (int x = 0; x < w; ++x) {
      acc = V{};
      for (int k = 0; k < nt; ++k) {
        loadv(x + k, v);
        acc += v * A(taps[k]);
      }
      P::Store(out + size_t(x) * C, acc, W(1));
    }
  }
}

#if LQ_AVX2_PATHS
// Two rows of four-channel bytes through the three running boxes at once, one
// row in each 128-bit half: per row exactly what BlurRow computes.
LQ_AVX2 void BoxRowPair(const uint8_t* in0, const uint8_t* in1, uint8_t* out0, uint8_t* out1, int w,
                        const AxisPlan& ap, TileMode tile, std::vector<int32_t>& buf) {
  const int pad = ap.pad;
  int n = w + 2 * pad;
  buf.resize(size_t(n) * 8);
  __m256i* line = reinterpret_cast<__m256i*>(buf.data());
  for (int i = 0; i < n; ++i) {
    int k = i >= pad && i < pad + w ? i - pad : TileIndex(i - pad, w, tile);
    int32_t p0 = 0, p1 = 0;
    if (k >= 0) {
      std::memcpy(&p0, in0 + size_t(k) * 4, 4);
      std::memcpy(&p1, in1 + size_t(k) * 4, 4);
    }
    __m128i pair = _mm_unpacklo_epi32(_mm_cvtsi32_si128(p0), _mm_cvtsi32_si128(p1));
    _mm256_storeu_si256(line + i, _mm256_cvtepu8_epi32(pair));
  }
  for (int s = 0; s < 3; ++s) {
    const int b = ap.width[s];
    __m256i sum = _mm256_setzero_si256();
    for (int j = 0; j < b; ++j) sum = _mm256_add_epi32(sum, _mm256_loadu_si256(line + j));
    const int outs = n - b + 1;
    for (int j = 0; j + 1 < outs; ++j) {
      __m256i t = _mm256_loadu_si256(line + j);
      _mm256_storeu_si256(line + j, sum);
      sum = _mm256_add_epi32(sum, _mm256_sub_epi32(_mm256_loadu_si256(line + j + b), t));
    }
    _mm256_storeu_si256(line + outs - 1, sum);
    n = outs;
  }
  const __m256 scale = _mm256_set1_ps(float(ap.scale));
  for (int x = 0; x < w; ++x) {
    __m256i v = _mm256_cvtps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_loadu_si256(line + x)), scale));
    v = _mm256_packs_epi32(v, v);
    v = _mm256_packus_epi16(v, v);
    int32_t q0 = _mm_cvtsi128_si32(_mm256_castsi256_si128(v)), q1 = _mm_cvtsi128_si32(_mm256_extracti128_si256(v, 1));
    std::memcpy(out0 + size_t(x) * 4, &q0, 4);
    std::memcpy(out1 + size_t(x) * 4, &q1, 4);
  }
}
#endif

// ---------------------------------------------------------------------------
// Vertical pass: the image is cut into strips of columns; each strip walks
// down the rows with per-column accumulators, so every read is a short run of
// contiguous memory. Rows the tile mode brings back after they were written
// are saved first, so src may equal dst.

// Strips are as wide as keeps every core busy, up to a width whose sums and
// rings still sit in the second-level cache: wide strips read long runs of
// each row, which is what the memory system is good at. Very wide boxes make
// the strips narrower so their rings stay a few megabytes at most.
int StripLanes(int elems, const AxisPlan& ap, size_t accBytes) {
  int workers = std::max(1, int(std::thread::hardware_concurrency()));
  int lanes = std::clamp((elems / (4 * workers) + 63) / 64 * 64, 128, 2048);
  if (ap.boxes) {
    constexpr size_t kRingBudget = size_t(2) << 20;
    size_t perLane = size_t(ap.width[1] + ap.width[2]) * accBytes;
    lanes = std::min(lanes, std::max(16, int(kRingBudget / perLane) / 16 * 16));
  }
  return lanes;
}

template <typename T, typename A>
struct ColumnStrip {
  // Fixed-point kernels (A = int16_t) take sixteen bytes at a time.
  static constexpr int N = std::is_same_v<A, int16_t> ? 16 : 16 / int(sizeof(A));
  using L = Lanes<A, N>;
  using V = typename L::V;

  const T* src;
  size_t srcStride;  // in elements
  T* dst;
  size_t dstStride;
  int h;
  int lanes;   // elements in this strip
  int lanesP;  // rounded up to whole vectors
  const AxisPlan& ap;
  TileMode tile;

  std::vector<T> zero, edges, rows, outTmp;
  int capLo = 0, hiStart = 0;

  ColumnStrip(const T* s, size_t ss, T* d, size_t ds, int height, int nLanes, const AxisPlan& plan, TileMode t)
      : src(s), srcStride(ss), dst(d), dstStride(ds), h(height), lanes(nLanes),
        lanesP((nLanes + N - 1) / N * N), ap(plan), tile(t) {
    zero.assign(size_t(lanesP), T(0));
    // Rows within `pad` of either edge are what the tile modes reach back for.
    capLo = std::min(h, ap.pad);
    hiStart = std::max(capLo, h - ap.pad);
    int nCap = capLo + (h - hiStart);
    edges.assign(size_t(nCap) * lanesP, T(0));
    for (int k = 0; k < capLo; ++k) std::memcpy(&edges[size_t(k) * lanesP], src + size_t(k) * srcStride, lanes * sizeof(T));
    for (int k = hiStart; k < h; ++k)
      std::memcpy(&edges[size_t(capLo + k - hiStart) * lanesP], src + size_t(k) * srcStride, lanes * sizeof(T));
  }

  // Input sample row i - pad, through the tile mode.
  const T* RowSource(int i) const {
    int k = TileIndex(i - ap.pad, h, tile);
    if (k < 0) return zero.data();
    if (k < capLo) return &edges[size_t(k) * lanesP];
    if (k >= hiStart) return &edges[size_t(capLo + k - hiStart) * lanesP];
    return src + size_t(k) * srcStride;
  }
  void FetchRow(int i, T* to) const { std::memcpy(to, RowSource(i), size_t(lanes) * sizeof(T)); }

  // Asks for row i - pad a few steps before it is needed: the strip reads a
  // short run of every row, which the hardware prefetcher does not foresee.
  void Prefetch(int i) const {
    if (i - ap.pad < 0 || i - ap.pad >= h) return;
    const char* p = reinterpret_cast<const char*>(src + size_t(i - ap.pad) * srcStride);
    for (size_t off = 0; off < size_t(lanes) * sizeof(T); off += 64) __builtin_prefetch(p + off);
  }

  T* OutRow(int y) { return lanes == lanesP ? dst + size_t(y) * dstStride : outTmp.data(); }
  void FinishRow(int y) {
    if (lanes != lanesP) std::memcpy(dst + size_t(y) * dstStride, outTmp.data(), size_t(lanes) * sizeof(T));
  }

  void RunBoxes() {
    const int b1 = ap.width[0], b2 = ap.width[1], b3 = ap.width[2];
    const int lag = 2 * ap.pad, steps = h + lag;
    // Rows are read straight from the source when whole vectors cover the
    // strip and a row is done with (b1 steps after it is added) before its
    // output overwrites it (2 * pad steps after).
    const bool direct = lanes == lanesP && b1 <= ap.pad;
    // Ring of the last b1 input rows, and of the last b2 first sums and b3
    // second sums; all start at zero so the warm-up needs no special case.
    std::vector<const T*> ring1(static_cast<size_t>(b1), zero.data());
    T* spare = nullptr;
    if (!direct) {
      rows.assign(size_t(b1 + 1) * lanesP, T(0));
      for (int k = 0; k < b1; ++k) ring1[size_t(k)] = &rows[size_t(k) * lanesP];
      spare = &rows[size_t(b1) * lanesP];
    }
    std::vector<A> sums(size_t(3) * lanesP, A(0)), ring2(size_t(b2) * lanesP, A(0)), ring3(size_t(b3) * lanesP, A(0));
    A* s1 = sums.data();
    A* s2 = s1 + lanesP;
    A* s3 = s2 + lanesP;
    outTmp.assign(size_t(lanesP), T(0));
    const typename L::W scale = typename L::W(ap.scale);
    constexpr int kAhead = 4;
    int i1 = 0, i2 = 0, i3 = 0;
    for (int i = 0; i < steps; ++i) {
      const T* in;
      if (direct) {
        Prefetch(i + kAhead);
        in = RowSource(i);
      } else {
        FetchRow(i, spare);
        in = spare;
      }
      const T* old = ring1[size_t(i1)];
      A* r2 = &ring2[size_t(i2) * lanesP];
      A* r3 = &ring3[size_t(i3) * lanesP];
      const bool emit = i >= lag;
      T* out = emit ? OutRow(i - lag) : nullptr;
      int l0 = 0;
#if LQ_AVX2_PATHS
      if constexpr (std::is_same_v<T, uint8_t> && std::is_same_v<A, int32_t>)
        if (HaveAvx2()) l0 = BoxStep32(in, old, s1, s2, s3, r2, r3, out, lanesP, scale);
#endif
      for (int l = l0; l < lanesP; l += N) {
        V e, o, a, b, c, p2, p3;
        L::Load(in + l, e);
        L::Load(old + l, o);
        L::LoadAcc(s1 + l, a);
        L::LoadAcc(s2 + l, b);
        L::LoadAcc(s3 + l, c);
        L::LoadAcc(r2 + l, p2);
        L::LoadAcc(r3 + l, p3);
        a += e - o;
        b += a - p2;
        c += b - p3;
        L::StoreAcc(s1 + l, a);
        L::StoreAcc(s2 + l, b);
        L::StoreAcc(s3 + l, c);
        L::StoreAcc(r2 + l, a);
        L::StoreAcc(r3 + l, b);
        if (emit) L::Store(out + l, c, scale);
      }
      if (emit) FinishRow(i - lag);
      if (direct) {
        ring1[size_t(i1)] = in;
      } else {
        ring1[size_t(i1)] = spare;
        spare = const_cast<T*>(old);
      }
      if (++i1 == b1) i1 = 0;
      if (++i2 == b2) i2 = 0;
      if (++i3 == b3) i3 = 0;
    }
  }

#if defined(__SSE2__)
  void RunKernelFixed() {
    const int r = ap.pad, nt = 2 * r + 1;
    rows.assign(size_t(nt) * lanesP, T(0));
    std::vector<const uint8_t*> taps(static_cast<size_t>(nt));
    outTmp.assign(size_t(lanesP), T(0));
    const int32_t* pw = ap.pairWeights.data();
    for (int i = 0; i < h + nt - 1; ++i) {
      FetchRow(i, &rows[size_t(i % nt) * lanesP]);
      int y = i - (nt - 1);
      if (y < 0) continue;
      for (int k = 0; k < nt; ++k) taps[size_t(k)] = &rows[size_t((y + k) % nt) * lanesP];
      T* out = OutRow(y);
      const uint8_t* const* centre = taps.data() + r;
      int l0 = 0;
#if LQ_AVX2_PATHS
      if (HaveAvx2()) l0 = FirBlocks32([centre](int k, int e) { return centre[k] + e; }, r, pw, out, 0, lanesP);
#endif
      for (int l = l0; l < lanesP; l += 16) FirBytes16([&](int k) { return centre[k] + l; }, r, pw, out + l);
      FinishRow(y);
    }
  }
#endif

  void RunKernel() {
    const int nt = 2 * ap.pad + 1;
    rows.assign(size_t(nt) * lanesP, T(0));
    std::vector<const T*> taps(static_cast<size_t>(nt));
    outTmp.assign(size_t(lanesP), T(0));
    const float* w = ap.taps.data();
    for (int i = 0; i < h + nt - 1; ++i) {
      FetchRow(i, &rows[size_t(i % nt) * lanesP]);
      int y = i - (nt - 1);
      if (y < 0) continue;
      for (int k = 0; k < nt; ++k) taps[size_t(k)] = &rows[size_t((y + k) % nt) * lanesP];
      T* out = OutRow(y);
      for (int l = 0; l < lanesP; l += N) {
        V acc{}, v;
        for (int k = 0; k < nt; ++k) {
          L::Load(taps[size_t(k)] + l, v);
          acc += v * A(w[k]);
        }
        L::Store(out + l, acc, typename L::W(1));
      }
      FinishRow(y);
    }
  }
};

// ---------------------------------------------------------------------------

// Rows y0..y1 of C-channel elements, each through its line buffer.
template <typename T, int C, typename A>
void BlurRows(const T* src, size_t srcStride, T* dst, size_t dstStride, int w, int y0, int y1, const AxisPlan& ap,
              TileMode tile) {
  if constexpr (std::is_same_v<A, int16_t>) {
#if defined(__SSE2__)
    std::vector<uint8_t> line;
    for (int y = y0; y < y1; ++y)
      BlurRowFixed<C>(src + size_t(y) * srcStride, dst + size_t(y) * dstStride, w, ap.pad, ap.pairWeights.data(),
                      tile, line);
#endif
  } else {
    std::vector<A> buf;
    int y = y0;
#if LQ_AVX2_PATHS
    if constexpr (std::is_same_v<T, uint8_t> && C == 4 && std::is_same_v<A, int32_t>) {
      if (HaveAvx2())
        for (; y + 2 <= y1; y += 2)
          BoxRowPair(src + size_t(y) * srcStride, src + size_t(y + 1) * srcStride, dst + size_t(y) * dstStride,
                     dst + size_t(y + 1) * dstStride, w, ap, tile, buf);
    }
#endif
    for (; y < y1; ++y)
      BlurRow<T, C, A>(src + size_t(y) * srcStride, dst + size_t(y) * dstStride, w, ap, tile, buf);
  }
}

template <typename T, int C, typename A>
void HorizontalPass(const T* src, size_t srcStride, T* dst, size_t dstStride, int w, int h, const AxisPlan& ap,
                    TileMode tile) {
  ParallelRange(0, h, 8, [&](int y0, int y1) {
    int y = y0;
    if constexpr (C == 1 && (std::is_same_v<A, int32_t> || std::is_same_v<A, float>)) {
      // Planes of single values: four rows side by side make one row of
      // four-channel elements, which the vector code runs through at the
      // cost of one. (The fixed-point taps already work across a row, and
      // four doubles do not fit a vector.)
      std::vector<T> group;
      const size_t gs = size_t(w) * 4;
      for (; y + 4 <= y1; y += 4) {
        const int pairs = y + 8 <= y1 ? 2 : 1;  // two group rows suit the AVX2 pair kernel
        group.resize(gs * pairs);
        for (int g = 0; g < 4 * pairs; ++g) {
          const T* row = src + size_t(y + g) * srcStride;
          T* to = &group[size_t(g / 4) * gs + g % 4];
          for (int x = 0; x < w; ++x) to[size_t(x) * 4] = row[x];
        }
        BlurRows<T, 4, A>(group.data(), gs, group.data(), gs, w, 0, pairs, ap, tile);
        for (int g = 0; g < 4 * pairs; ++g) {
          T* row = dst + size_t(y + g) * dstStride;
          const T* from = &group[size_t(g / 4) * gs + g % 4];
          for (int x = 0; x < w; ++x) row[x] = from[size_t(x) * 4];
        }
        y += 4 * (pairs - 1);
      }
    }
    BlurRows<T, C, A>(src, srcStride, dst, dstStride, w, y, y1, ap, tile);
  });
}

template <typename T, typename A>
void VerticalPass(const T* src, size_t srcStride, T* dst, size_t dstStride, int elems, int h, const AxisPlan& ap,
                  TileMode tile) {
  const int stripLanes = StripLanes(elems, ap, sizeof(A));
  int strips = (elems + stripLanes - 1) / stripLanes;
  ParallelRange(0, strips, 1, [&](int s0, int s1) {
    for (int s = s0; s < s1; ++s) {
      int x0 = s * stripLanes, n = std::min(stripLanes, elems - x0);
      ColumnStrip<T, A> strip(src + x0, srcStride, dst + x0, dstStride, h, n, ap, tile);
      if constexpr (std::is_same_v<A, int16_t>) {
#if defined(__SSE2__)
        strip.RunKernelFixed();
#endif
      } else if (ap.boxes) {
        strip.RunBoxes();
      } else {
        strip.RunKernel();
      }
    }
  });
}

// Blurs a plane of T with C interleaved channels from src into dst (which may
// be the same memory): rows first, then columns.
template <typename T, int C>
void BlurPlane(const T* src, size_t srcStride, T* dst, size_t dstStride, int w, int h, float sx, float sy,
               TileMode tile) {
  constexpr bool kBytes = std::is_same_v<T, uint8_t>;
  AxisPlan px = PlanAxis(sx, kBytes), py = PlanAxis(sy, kBytes);
  if (px.active) {
    switch (px.acc) {
      case Acc::Int32: HorizontalPass<T, C, int32_t>(src, srcStride, dst, dstStride, w, h, px, tile); break;
      case Acc::Float: HorizontalPass<T, C, float>(src, srcStride, dst, dstStride, w, h, px, tile); break;
      case Acc::Double: HorizontalPass<T, C, double>(src, srcStride, dst, dstStride, w, h, px, tile); break;
      case Acc::Fixed:
        if constexpr (kBytes) HorizontalPass<T, C, int16_t>(src, srcStride, dst, dstStride, w, h, px, tile);
        break;
    }
    // The columns are blurred where the rows now are.
    src = dst;
    srcStride = dstStride;
  }
  if (py.active) {
    int elems = w * C;
    switch (py.acc) {
      case Acc::Int32: VerticalPass<T, int32_t>(src, srcStride, dst, dstStride, elems, h, py, tile); break;
      case Acc::Float: VerticalPass<T, float>(src, srcStride, dst, dstStride, elems, h, py, tile); break;
      case Acc::Double: VerticalPass<T, double>(src, srcStride, dst, dstStride, elems, h, py, tile); break;
      case Acc::Fixed:
        if constexpr (kBytes) VerticalPass<T, int16_t>(src, srcStride, dst, dstStride, elems, h, py, tile);
        break;
    }
  } else if (src != dst) {
    for (int y = 0; y < h; ++y) std::memmove(dst + size_t(y) * dstStride, src + size_t(y) * srcStride, size_t(w) * C * sizeof(T));
  }
}

}  // namespace

void GaussianBlur(ConstPixelView src, PixelView dst, float sigmaX, float sigmaY, TileMode tile) {
  if (!src || !dst || src.width != dst.width || src.height != dst.height) return;
  BlurPlane<uint8_t, 4>(reinterpret_cast<const uint8_t*>(src.base), src.rowBytes,
                        reinterpret_cast<uint8_t*>(dst.base), dst.rowBytes, dst.width, dst.height, sigmaX, sigmaY,
                        tile);
}

void GaussianBlurA8(const uint8_t* src, uint8_t* dst, int width, int height, size_t stride, float sigmaX,
                    float sigmaY, TileMode tile) {
  if (!src || !dst || width <= 0 || height <= 0) return;
  BlurPlane<uint8_t, 1>(src, stride, dst, stride, width, height, sigmaX, sigmaY, tile);
}

void GaussianBlurF32(const float* src, float* dst, int width, int height, float sigmaX, float sigmaY, TileMode tile) {
  if (!src || !dst || width <= 0 || height <= 0) return;
  BlurPlane<float, 1>(src, size_t(width), dst, size_t(width), width, height, sigmaX, sigmaY, tile);
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
  // Where each of the three columns of taps reads, through the tile mode.
  std::vector<int> cols(size_t(3) * w);
  for (int kx = 0; kx < 3; ++kx)
    for (int x = 0; x < w; ++x) cols[size_t(kx) * w + x] = TileIndex(x + kx - off.x, w, tile);
  typedef float F4 __attribute__((vector_size(16)));
  ParallelRange(0, h, 32, [&](int y0, int y1) {
    // Source rows as float channels (unpremultiplied when colour is
    // convolved alone), converted once and kept while the rows below use them.
    struct Line {
      int y = -1;
      std::vector<F4> px;
    };
    Line lines[3];
    for (int y = y0; y < y1; ++y) {
      int need[3];
      for (int ky = 0; ky < 3; ++ky) need[ky] = TileIndex(y + ky - off.y, h, tile);
      auto needed = [&](int yy) { return yy >= 0 && (yy == need[0] || yy == need[1] || yy == need[2]); };
      const F4* taps[3];
      for (int ky = 0; ky < 3; ++ky) {
        taps[ky] = nullptr;
        if (need[ky] < 0) continue;
        Line* hit = nullptr;
        for (Line& l : lines)
          if (l.y == need[ky]) hit = &l;
        if (!hit) {
          // Replace a row this output row does not read.
          for (Line& l : lines)
            if (!needed(l.y)) hit = &l;
          hit->y = need[ky];
          hit->px.resize(size_t(w));
          const uint32_t* row = s.row(need[ky]);
          for (int x = 0; x < w; ++x) {
            uint32_t p = convolveAlpha ? row[x] : Unpremultiply(row[x]);
            hit->px[size_t(x)] = F4{float(GetR(p)), float(GetG(p)), float(GetB(p)), float(GetA(p))};
          }
        }
        taps[ky] = hit->px.data();
      }
      uint32_t* out = dst.row(y);
      const uint32_t* centre = s.row(y);
      for (int x = 0; x < w; ++x) {
        F4 acc = {0, 0, 0, 0};
        for (int ky = 0; ky < 3; ++ky) {
          if (!taps[ky]) continue;
          for (int kx = 0; kx < 3; ++kx) {
            int xx = cols[size_t(kx) * w + x];
            if (xx < 0) continue;
            acc += k[size_t(ky * 3 + kx)] * taps[ky][xx];
          }
        }
        auto q = [&](float v) { return uint32_t(std::clamp(int(std::lround(v * gain + bias * 255.0f)), 0, 255)); };
        if (convolveAlpha) {
          uint32_t a = q(acc[3]);
          out[x] = MakeColor(a, std::min(a, q(acc[0])), std::min(a, q(acc[1])), std::min(a, q(acc[2])));
        } else {
          uint32_t a = GetA(centre[x]);
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
