// Pieces the photo-lab effects share: rounding helpers for the hot loops, the
// film-grain position hash, the vignette geometry and row-block iteration
// with progress and cancellation.
#pragma once

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
