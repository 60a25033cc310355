// Orton filter: a blurred, brightened copy of the picture (the glow) is
// Screen-blended with it, mixed in by strength, and the colours are made more
// vivid. A darken/lighten control shifts the tones first.
#include <cstring>

#include "effects/photolab/photolab.h"
#include "effects/photolab/photolab_common.h"
#include "engine/effect_registry.h"
#include "engine/gfx/filters.h"

namespace lq {

namespace {

using photolab::Clamp255;
using photolab::RoundF;

struct OrtonState {
  int d = 0;       // tone shift, -100..100
  float f = 1.0f;  // darkening factor when d < 0
  int exposure = 0, strength = 0, vibrance = 0;

  void Shift(int* c) const {
    if (d < 0) {
      for (int i = 0; i < 3; ++i) c[i] = Clamp255(RoundF(float(c[i]) * f));
    } else {
      for (int i = 0; i < 3; ++i) c[i] = Clamp255(c[i] + d);
    }
  }

  // One pixel. s and g are straight colours (R, G, B); the result goes to s.
  void Process(int* s, int* g) const {
    if (d != 0) {
      Shift(s);
      if (d < 0) Shift(g);
    }
    if (exposure > 0)
      for (int i = 0; i < 3; ++i) g[i] = Clamp255(g[i] * exposure / 200 + g[i]);
    for (int i = 0; i < 3; ++i) {
      int sc = 255 - ((255 - s[i]) * (255 - g[i])) / 255;
      s[i] = Clamp255(s[i] + (sc - s[i]) * strength / 100);
    }
    if (vibrance > 0) {
      int k = (77 * s[0] + 150 * s[1] + 29 * s[2]) >> 8;
      for (int i = 0; i < 3; ++i) s[i] = Clamp255(k + (s[i] - k) * (vibrance + 100) / 100);
    }
  }
};

// Straight colour of a premultiplied pixel; translucent pixels are
// un-premultiplied so the tone arithmetic sees the colour, not its coverage.
inline void Straight(uint32_t p, int* c) {
  if ((p >> 24) != 255) p = Unpremultiply(p);
  c[0] = int(GetR(p));
  c[1] = int(GetG(p));
  c[2] = int(GetB(p));
}

}  // namespace

void OrtonFilter(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview) {
  (void)Preview;
  if (!Source) return;
  Canvas* canvas = Dest.GetCanvas();
  if (!canvas) return;
  canvas->Save();
  canvas->Clear(0);
  canvas->DrawImage(Source, 0, 0);
  canvas->Restore();
  Dest.Flush();

  const int w = Source.width(), h = Source.height();
  if (w <= 0 || h <= 0) return;
  PixelView dst = Dest.PeekPixels();
  if (!dst || dst.width < w || dst.height < h) return;

  // Glow: the picture blurred with clamped edges. Sigma 0 is the picture itself.
  ConstPixelView glow = Source.PeekPixels();
  std::shared_ptr<PixelStore> glowStore;
  if (!glow) return;
  if (P1 > 0) {
    glowStore = AllocPixels(w, h, false);
    if (!glowStore) return;
    GaussianBlur(glow, glowStore->view(), float(P1), float(P1), TileMode::Clamp);
    glow = glowStore->view();
  }
  CheckCancellation();

  OrtonState st;
  st.d = 2 * P5 - 100;
  st.f = float(st.d) / 100.0f + 1.0f;
  st.exposure = P2;
  st.strength = P3;
  st.vibrance = P4;

  ParallelFor(0, h, 16, [&](int lo, int hi) {
    for (int y = lo; y < hi; ++y) {
      uint32_t* drow = dst.row(y);
      const uint32_t* grow = glow.row(y);
      for (int x = 0; x < w; ++x) {
        uint32_t sp = drow[x];
        uint32_t a = sp >> 24;
        if (a <= 5) continue;
        int s[3], g[3];
        Straight(sp, s);
        Straight(grow[x], g);
        st.Process(s, g);
        uint32_t out = MakeColor(a, uint32_t(s[0]), uint32_t(s[1]), uint32_t(s[2]));
        drow[x] = a == 255 ? out : Premultiply(out);
      }
    }
  });
  Dest.Flush();
}

LQ_REGISTER_EFFECT(400, OrtonFilter)

}  // namespace lq
