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

  void Row(const uint32_t* src, uint32_t* dst, int w, int y) const {
    const float dy2 = vig.on ? vig.Dy2(y) : 0.0f;
    for (int x = 0; x < w; ++x) {
      uint32_t p = src[x];
      uint32_t a = p >> 24;
      if (a <= 4) {
        dst[x] = p;
        continue;
      }
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
      dst[x] = MakeColor(a, uint32_t(Clamp255(c[0])), uint32_t(Clamp255(c[1])), uint32_t(Clamp255(c[2])));
    }
  }
};

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
