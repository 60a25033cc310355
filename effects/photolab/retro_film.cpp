// Retro film: the colour response of old colour film. A fixed cross-talk
// matrix with a warmth shift, saturation about the luma, linear contrast about
// mid-grey, position-hashed grain and a darkening vignette.
#include <array>
#include <cstring>

#include "effects/photolab/photolab.h"
#include "effects/photolab/photolab_common.h"
#include "engine/effect_registry.h"
#include "engine/random.h"

namespace lq {

namespace {

using photolab::Clamp255;
using photolab::ClampParam;
using photolab::RoundF;

inline float Clamp01(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }

struct RetroFilmState {
  float sat = 1, con = 1;
  float m[3][4]{};  // rows R', G', B': × r, × g, × b, constant
  int amp = 0;      // grain amplitude; 0: no grain
  photolab::Vignette vig;
  std::array<float, 256> unit{};  // v / 255 for opaque pixels

  // One un-premultiplied colour in 0..1 to bytes, before grain and vignette.
  void Tone(float r, float g, float b, int* out) const {
    float c[3];
    for (int i = 0; i < 3; ++i) c[i] = Clamp01(m[i][0] * r + m[i][1] * g + m[i][2] * b + m[i][3]);
    float y = 0.299f * c[0] + 0.587f * c[1] + 0.114f * c[2];
    for (int i = 0; i < 3; ++i) {
      float s = Clamp01(y + (c[i] - y) * sat);
      float k = Clamp01((s - 0.5f) * con + 0.5f);
      out[i] = RoundF(k * 255.0f);
    }
  }

  // One pixel, any alpha above 4.
  uint32_t Pixel(uint32_t p, int x, int y, float dy2) const {
    uint32_t a = p >> 24;
    float r, g, b;
    if (a == 255) {
      r = unit[GetR(p)];
      g = unit[GetG(p)];
      b = unit[GetB(p)];
    } else {
      r = float(double(GetR(p)) * 255.0 / double(a) / 255.0);
      g = float(double(GetG(p)) * 255.0 / double(a) / 255.0);
      b = float(double(GetB(p)) * 255.0 / double(a) / 255.0);
    }
    int c[3];
    Tone(r, g, b, c);
    if (amp > 0) {
      int n = photolab::GrainHash(uint32_t(x), uint32_t(y)) * amp / 256;
      for (int i = 0; i < 3; ++i) c[i] = Clamp255(c[i] + n);
    }
    if (vig.on) {
      float f = vig.Factor(vig.Dx2(x) + dy2);
      if (f != 1.0f)
        for (int i = 0; i < 3; ++i) c[i] = RoundF(float(c[i]) * f);
    }
    if (a < 255)
      for (int i = 0; i < 3; ++i) c[i] = c[i] * int(a) / 255;
    return MakeColor(a, uint32_t(Clamp255(c[0])), uint32_t(Clamp255(c[1])), uint32_t(Clamp255(c[2])));
  }

  void Row(const uint32_t* src, uint32_t* dst, int w, int y) const {
    const float dy2 = vig.on ? vig.Dy2(y) : 0.0f;
    int x = photolab::HasAvx2() ? RowAvx2(src, dst, w, y, dy2) : RowVec4(src, dst, w, y, dy2);
    for (; x < w; ++x) {
      uint32_t p = src[x];
      dst[x] = (p >> 24) <= 4 ? p : Pixel(p, x, y, dy2);
    }
  }

  int RowAvx2(const uint32_t* src, uint32_t* dst, int w, int y, float dy2) const;
  int RowVec4(const uint32_t* src, uint32_t* dst, int w, int y, float dy2) const;
};

// N pixels at a time with the same single-precision operations in the same
// order as Pixel, so both give identical bytes. Groups with a pixel that is
// not opaque go through Pixel. Returns the first column left over.
template <int N>
LQ_ALWAYS_INLINE int RetroRow(const RetroFilmState& st, const uint32_t* src, uint32_t* dst, int w, int y, float dy2) {
  using V = photolab::Lanes<N>;
  using F = typename V::F;
  using I = typename V::I;
  using U = typename V::U;
  const F zero = V::Splat(0.0f), one = V::Splat(1.0f);
  auto clamp01 = [&](F v) LQ_ALWAYS_INLINE_LAMBDA {
    v = v < zero ? zero : v;
    return v > one ? one : v;
  };
  const U hy = V::SplatU(uint32_t(y) * 0x85EBCA77u);
  const float m00 = st.m[0][0], m01 = st.m[0][1], m02 = st.m[0][2], m03 = st.m[0][3];
  const float m10 = st.m[1][0], m11 = st.m[1][1], m12 = st.m[1][2], m13 = st.m[1][3];
  const float m20 = st.m[2][0], m21 = st.m[2][1], m22 = st.m[2][2], m23 = st.m[2][3];
  const float sat = st.sat, con = st.con;
  const int amp = st.amp;
  U xs = V::Iota();
  F fx = __builtin_convertvector(xs, F);
  int x = 0;
  for (; x + N <= w; x += N, xs += uint32_t(N), fx += float(N)) {
    uint32_t all = src[x];
    for (int i = 1; i < N; ++i) all &= src[x + i];
    if ((all >> 24) != 255) {
      for (int i = 0; i < N; ++i) {
        uint32_t q = src[x + i];
        dst[x + i] = (q >> 24) <= 4 ? q : st.Pixel(q, x + i, y, dy2);
      }
      continue;
    }
    U p = V::Load(src + x);
    const F r = __builtin_convertvector((I)((p >> 16) & 255u), F) / 255.0f;
    const F g = __builtin_convertvector((I)((p >> 8) & 255u), F) / 255.0f;
    const F b = __builtin_convertvector((I)(p & 255u), F) / 255.0f;
    const F c0 = clamp01(m00 * r + m01 * g + m02 * b + m03);
    const F c1 = clamp01(m10 * r + m11 * g + m12 * b + m13);
    const F c2 = clamp01(m20 * r + m21 * g + m22 * b + m23);
    const F luma = 0.299f * c0 + 0.587f * c1 + 0.114f * c2;
    auto tone = [&](F c) LQ_ALWAYS_INLINE_LAMBDA {
      F s = clamp01(luma + (c - luma) * sat);
      F k = clamp01((s - 0.5f) * con + 0.5f);
      return V::RoundSmall(k * 255.0f);
    };
    I i0 = tone(c0), i1 = tone(c1), i2 = tone(c2);
    if (amp > 0) {
      const I n = V::Div256(V::GrainNoise(xs, hy) * amp);
      i0 = V::Clamp255(i0 + n);
      i1 = V::Clamp255(i1 + n);
      i2 = V::Clamp255(i2 + n);
    }
    if (st.vig.on) st.vig.Apply<V>(fx, dy2, i0, i1, i2);
    U out = 0xFF000000u | ((U)i0 << 16) | ((U)i1 << 8) | (U)i2;
    V::Store(dst + x, out);
  }
  return x;
}

LQ_TARGET_AVX2 int RetroFilmState::RowAvx2(const uint32_t* src, uint32_t* dst, int w, int y, float dy2) const {
  return RetroRow<8>(*this, src, dst, w, y, dy2);
}
int RetroFilmState::RowVec4(const uint32_t* src, uint32_t* dst, int w, int y, float dy2) const {
  return RetroRow<4>(*this, src, dst, w, y, dy2);
}

}  // namespace

void RetroFilm(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview) {
  P1 = ClampParam(P1);
  P2 = ClampParam(P2);
  P3 = ClampParam(P3);
  P4 = ClampParam(P4);
  P5 = ClampParam(P5);
  RetroFilmState st;
  st.sat = float(P1) / 100.0f * 1.5f + 0.5f;
  const float w = float(P2) / 100.0f * 0.1f - 0.04f;
  st.con = float(P3) / 100.0f * 0.8f + 0.8f;
  const float m[3][4] = {{1.12f, 0.05f, -0.02f, 0.03f + w},
                         {-0.02f, 1.0f, 0.05f, 0.01f + w * 0.4f},
                         {-0.04f, -0.04f, 0.9f, 0.05f - w * 0.5f}};
  std::memcpy(st.m, m, sizeof m);
  for (int v = 0; v < 256; ++v) st.unit[size_t(v)] = float(v) / 255.0f;

  if (!Source) return;
  Canvas* canvas = Dest.GetCanvas();
  if (!canvas) return;
  const int w0 = Source.width(), h = Source.height();
  PixelView dst = Dest.PeekPixels();
  ConstPixelView src = Source.PeekPixels();
  if (w0 <= 0 || h <= 0 || !dst || !src || dst.width < w0 || dst.height < h) {
    // Nothing to tone: the plain copy stays.
    canvas->Save();
    canvas->Clear(0);
    canvas->DrawImage(Source, 0, 0);
    canvas->Restore();
    Dest.Flush();
    return;
  }
  if (dst.width > w0 || dst.height > h) canvas->Clear(0);

  st.vig = photolab::Vignette::Make(w0, h, P5);
  st.amp = int(Round(P4 * 0.408));

  // The copy and the toning are one pass: each row is read from the source
  // and written toned.
  int done = photolab::ForRowBlocks(h, Preview, [&](int y) { st.Row(src.row(y), dst.row(y), w0, y); });
  // Rows a cancelled run did not reach keep the plain copy.
  for (int y = done; y < h; ++y) std::memcpy(dst.row(y), src.row(y), size_t(w0) * 4);
  Dest.Flush();
}

LQ_REGISTER_EFFECT(403, RetroFilm)

}  // namespace lq
