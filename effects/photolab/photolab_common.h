// Pieces the photo-lab effects share: rounding helpers for the hot loops, the
// film-grain position hash, the vignette geometry and row-block iteration
// with progress and cancellation.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/driver.h"
#include "engine/gfx/image.h"
#include "engine/parallel.h"

namespace lq::photolab {

// Nearest integer with halves to the even neighbour, like the engine's Round,
// without the call: the hot loops round several values per pixel.
inline int RoundF(float v) {
#if defined(__SSE2__)
  return _mm_cvtss_si32(_mm_set_ss(v));
#else
  return int(std::nearbyintf(v));
#endif
}
inline int RoundD(double v) {
#if defined(__SSE2__)
  return _mm_cvtsd_si32(_mm_set_sd(v));
#else
  return int(std::nearbyint(v));
#endif
}

// Vector kernels: written once over GCC vector types, compiled for SSE2 (the
// x86-64 baseline) and, behind a run-time check, for AVX2.
// Everything is inlined into one kernel per target, so the note that 32-byte
// vectors pass differently with and without AVX does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"
#define LQ_ALWAYS_INLINE __attribute__((always_inline)) inline
#define LQ_ALWAYS_INLINE_LAMBDA __attribute__((always_inline))
// Tests turn the AVX2 kernels off to check the baseline ones on any machine.
extern std::atomic<bool> g_avx2Disabled;
#if defined(__x86_64__) || defined(__i386__)
#define LQ_TARGET_AVX2 __attribute__((target("avx2")))
inline bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has && !g_avx2Disabled.load(std::memory_order_relaxed);
}
#else
#define LQ_TARGET_AVX2
inline bool HasAvx2() { return false; }
#endif

template <int N>
struct LaneTypes;
template <>
struct LaneTypes<4> {
  typedef float F __attribute__((vector_size(16)));
  typedef int32_t I __attribute__((vector_size(16)));
  typedef uint32_t U __attribute__((vector_size(16)));
  typedef uint8_t B __attribute__((vector_size(4)));
};
template <>
struct LaneTypes<8> {
  typedef float F __attribute__((vector_size(32)));
  typedef int32_t I __attribute__((vector_size(32)));
  typedef uint32_t U __attribute__((vector_size(32)));
  typedef uint8_t B __attribute__((vector_size(8)));
};

template <int N>
struct Lanes {
  using F = typename LaneTypes<N>::F;
  using I = typename LaneTypes<N>::I;
  using U = typename LaneTypes<N>::U;
  using B = typename LaneTypes<N>::B;

  LQ_ALWAYS_INLINE static F Splat(float v) {
    F r;
    for (int i = 0; i < N; ++i) r[i] = v;
    return r;
  }
  LQ_ALWAYS_INLINE static U SplatU(uint32_t v) {
    U r;
    for (int i = 0; i < N; ++i) r[i] = v;
    return r;
  }
  LQ_ALWAYS_INLINE static U Iota() {
    U r;
    for (int i = 0; i < N; ++i) r[i] = uint32_t(i);
    return r;
  }
  LQ_ALWAYS_INLINE static U Load(const uint32_t* p) {
    U r;
    __builtin_memcpy(&r, p, sizeof r);
    return r;
  }
  LQ_ALWAYS_INLINE static void Store(uint32_t* p, U v) { __builtin_memcpy(p, &v, sizeof v); }
  LQ_ALWAYS_INLINE static I LoadBytes(const uint8_t* p) {
    B r;
    __builtin_memcpy(&r, p, sizeof r);
    return __builtin_convertvector(r, I);
  }
  // Nearest integer, halves to even, for |v| < 2^22: adding 1.5 x 2^23
  // leaves no fraction bits, so the addition itself rounds like RoundF.
  LQ_ALWAYS_INLINE static I RoundSmall(F v) { return __builtin_convertvector((v + 12582912.0f) - 12582912.0f, I); }
  LQ_ALWAYS_INLINE static I Clamp255(I v) {
    v = v < 0 ? 0 : v;
    return v > 255 ? 255 : v;
  }
  // Division by 256 toward zero, as the scalar code's integer division.
  LQ_ALWAYS_INLINE static I Div256(I v) { return (v + ((v >> 31) & 255)) >> 8; }
  // GrainHash of N pixels of one row: xs their columns, hy = y * 0x85EBCA77.
  LQ_ALWAYS_INLINE static I GrainNoise(U xs, U hy) {
    U h = (xs * SplatU(0x9E3779B1u)) ^ hy;
    h ^= h >> 13;
    h *= 0xC2B2AE3Du;
    h ^= h >> 16;
    return (I)(h & 0x1FFu) - 256;
  }
};

inline int Clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }
inline int ClampParam(int v) { return v < 0 ? 0 : (v > 100 ? 100 : v); }

// Grain noise of a pixel position, -256..255. Depends only on (x, y), so the
// pattern is the same in every run and in every band of a run.
inline int GrainHash(uint32_t x, uint32_t y) {
  uint32_t h = x * 0x9E3779B1u;
  h ^= y * 0x85EBCA77u;
  h ^= h >> 13;
  h *= 0xC2B2AE3Du;
  h ^= h >> 16;
  return int(h & 0x1FFu) - 256;
}

// Darkening towards the corners: nothing inside the inner radius, then a
// quadratic fall-off that reaches 1 - depth at the corner distance.
struct Vignette {
  bool on = false;
  float cx = 0, cy = 0, ri = 0, ri2 = 0, span = 1, vs = 0;

  static Vignette Make(int w, int h, int amount) {
    Vignette v;
    if (amount <= 0) return v;
    v.on = true;
    v.cx = float(w) * 0.5f;
    v.cy = float(h) * 0.5f;
    float rc = std::sqrt(v.cx * v.cx + v.cy * v.cy);
    v.ri = rc * (1.0f - float(amount) / 100.0f * 0.6f);
    v.ri2 = v.ri * v.ri;
    v.span = rc - v.ri;
    if (v.span < 0.001f) v.span = 0.001f;
    v.vs = float(amount) / 100.0f * 0.85f;
    return v;
  }

  // Factor for a pixel whose squared distance from the centre is d2; 1 inside.
  float Factor(float d2) const {
    if (!(d2 > ri2)) return 1.0f;
    float t = (std::sqrt(d2) - ri) / span;
    if (t > 1.0f) t = 1.0f;
    return 1.0f - t * t * vs;
  }
  float Dx2(int x) const {
    float dx = float(x) - cx;
    return dx * dx;
  }
  float Dy2(int y) const {
    float dy = float(y) - cy;
    return dy * dy;
  }

  // Darkens N pixels at columns fx of a row whose squared distance is dy2;
  // lanes all inside the inner radius are left alone without the square roots.
  template <typename V>
  LQ_ALWAYS_INLINE void Apply(typename V::F fx, float dy2, typename V::I& r, typename V::I& g,
                              typename V::I& b) const {
    using F = typename V::F;
    constexpr int N = int(sizeof(F) / sizeof(float));
    const F dx = fx - cx;
    const F d2 = dx * dx + dy2;
    bool any = false;
    for (int i = 0; i < N; ++i) any |= d2[i] > ri2;
    if (!any) return;
    F f;
    for (int i = 0; i < N; ++i) f[i] = Factor(d2[i]);
    r = V::RoundSmall(__builtin_convertvector(r, F) * f);
    g = V::RoundSmall(__builtin_convertvector(g, F) * f);
    b = V::RoundSmall(__builtin_convertvector(b, F) * f);
  }
};

// Runs rows [0, h) in blocks of 64 rows, each block split across cores. A full
// run (not a preview) checks for cancellation and reports y * 100 div h before
// each block. Returns the first row not processed (h when all were).
template <typename RowFn>
int ForRowBlocks(int h, bool preview, RowFn&& row) {
  constexpr int kBlock = 64;
  for (int y0 = 0; y0 < h; y0 += kBlock) {
    if (!preview) {
      if (IsEffectCancelled()) return y0;
      SafeUpdateProgress(int(int64_t(y0) * 100 / h));
    }
    int y1 = y0 + kBlock < h ? y0 + kBlock : h;
    ParallelFor(y0, y1, 8, [&](int lo, int hi) {
      for (int y = lo; y < hi; ++y) row(y);
    });
  }
  return h;
}

// An embedded picture by name (film texture, textures, frames); empty when
// the program carries none of that name.
Image EmbeddedPicture(const std::string& name);

}  // namespace lq::photolab
