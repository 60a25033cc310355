// Orton filter: a blurred, brightened copy of the picture (the glow) is
// Screen-blended with it, mixed in by strength, and the colours are made more
// vivid. A darken/lighten control shifts the tones first.
#include <cstring>
#include <vector>

#include "effects/photolab/photolab.h"
#include "effects/photolab/photolab_common.h"
#include "engine/effect_registry.h"
#include "engine/gfx/filters.h"

namespace lq {

namespace {

using photolab::Clamp255;
using photolab::RoundF;

// The per-pixel arithmetic folded into tables: the tone shift, exposure,
// screen and strength of a channel depend only on the picture's and the
// glow's values of that channel, so one entry per pair holds their formula.
struct OrtonTables {
  std::vector<uint8_t> mix;  // [s][g], raw channel values of picture and glow
  int16_t vib[511];          // (o - K) x (P4 + 100) div 100 for o - K = -255..255
  bool vibrance = false;

  OrtonTables(int p2, int p3, int p4, int p5) : mix(size_t(65536)) {
    const int d = 2 * p5 - 100;
    const float f = float(d) / 100.0f + 1.0f;
    auto shift = [&](int v) {
      if (d < 0) return Clamp255(RoundF(float(v) * f));
      return Clamp255(v + d);
    };
    int shiftS[256], shiftG[256];
    for (int v = 0; v < 256; ++v) {
      shiftS[v] = d != 0 ? shift(v) : v;
      int g = d < 0 ? shift(v) : v;  // the glow is only darkened, never lightened
      if (p2 > 0) g = Clamp255(g * p2 / 200 + g);
      shiftG[v] = g;
    }
    for (int sv = 0; sv < 256; ++sv)
      for (int gv = 0; gv < 256; ++gv) {
        const int s = shiftS[sv], g = shiftG[gv];
        const int sc = 255 - ((255 - s) * (255 - g)) / 255;
        mix[size_t(sv) * 256 + size_t(gv)] = uint8_t(Clamp255(s + (sc - s) * p3 / 100));
      }
    vibrance = p4 > 0;
    for (int k = -255; k <= 255; ++k) vib[k + 255] = int16_t(k * (p4 + 100) / 100);
  }

  // s and g are straight colours; returns the straight result with alpha a.
  uint32_t Process(uint32_t s, uint32_t g, uint32_t a) const {
    int o[3] = {mix[(s >> 8 & 0xFF00u) | GetR(g)], mix[(s & 0xFF00u) | GetG(g)], mix[(s << 8 & 0xFF00u) | GetB(g)]};
    if (vibrance) {
      const int k = (77 * o[0] + 150 * o[1] + 29 * o[2]) >> 8;
      for (int& c : o) c = Clamp255(k + vib[c - k + 255]);
    }
    return MakeColor(a, uint32_t(o[0]), uint32_t(o[1]), uint32_t(o[2]));
  }
};

}  // namespace

void OrtonFilter(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview) {
  (void)Preview;
  if (!Source) return;
  Canvas* canvas = Dest.GetCanvas();
  if (!canvas) return;
  const int w = Source.width(), h = Source.height();
  PixelView dst = Dest.PeekPixels();
  ConstPixelView src = Source.PeekPixels();
  if (w <= 0 || h <= 0 || !dst || !src || dst.width != w || dst.height != h) {
    // No direct pixel access: the plain copy is the result.
    canvas->Save();
    canvas->Clear(0);
    canvas->DrawImage(Source, 0, 0);
    canvas->Restore();
    Dest.Flush();
    return;
  }

  // Glow: the picture blurred with clamped edges, made in the destination,
  // which the pass below then overwrites pixel by pixel. Sigma 0 is the
  // picture itself.
  ConstPixelView glow = src;
  if (P1 > 0) {
    GaussianBlur(src, dst, float(P1), float(P1), TileMode::Clamp);
    glow = dst;
  }
  CheckCancellation();

  const OrtonTables t(P2, P3, P4, P5);
  ParallelFor(0, h, 16, [&](int lo, int hi) {
    for (int y = lo; y < hi; ++y) {
      const uint32_t* srow = src.row(y);
      const uint32_t* grow = glow.row(y);
      uint32_t* drow = dst.row(y);
      for (int x = 0; x < w; ++x) {
        const uint32_t sp = srow[x], a = sp >> 24;
        uint32_t gp = grow[x];
        if (a <= 5) {
          drow[x] = sp;
        } else if (a == 255 && (gp >> 24) == 255) {
          drow[x] = t.Process(sp, gp, 255);
        } else {
          // Translucent pixels: the tone arithmetic works on the colour, not
          // on its coverage, and the result is premultiplied again.
          if ((gp >> 24) != 255) gp = Unpremultiply(gp);
          drow[x] = Premultiply(t.Process(a == 255 ? sp : Unpremultiply(sp), gp, a));
        }
      }
    }
  });
  Dest.Flush();
}

LQ_REGISTER_EFFECT(400, OrtonFilter)

}  // namespace lq
