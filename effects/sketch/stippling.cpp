// Stippling: black and white dots by Atkinson error diffusion of the
// luminance, with an adjustable threshold. Deterministic; no random numbers.
#include "engine/driver.h"
#include "engine/effect_registry.h"
#include "engine/gfx/surface.h"
#include "engine/pixel.h"
#include "engine/random.h"

namespace lq {

namespace {

// Luminance 0..1 of a pixel's colour bytes, held in single precision.
inline float Luminance01(uint32_t c) {
  return float((0.299 * GetR(c) + 0.587 * GetG(c) + 0.114 * GetB(c)) / 255.0);
}

// Round half to even for 0 <= v < 2^22: adding and removing 1.5 * 2^23 leaves
// the float rounded by the FPU's default mode, which is half to even. It saves
// a library call on the six neighbour updates of every pixel.
inline uint32_t RoundByte(float v) {
  float t = v + 12582912.0f;
  return uint32_t(int(t - 12582912.0f));
}

// A neighbour's share of the error: its colour becomes the grey of its
// luminance plus the error; alpha stays.
inline void Spread(uint32_t& px, float e) {
  float v = Luminance01(px) + e;
  v = v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
  uint32_t g = RoundByte(v * 255.0f);
  px = (px & 0xFF000000u) | (g << 16) | (g << 8) | g;
}

}  // namespace

void Stippling(const Image& Source, Surface& Dest, int P1, int /*P2*/, int /*P3*/, int /*P4*/, int /*P5*/,
               bool Preview) {
  if (!Source) return;
  const int W = Source.width(), H = Source.height();
  const double T = P1 / 255.0;

  // The dither works on straight colour, so that a translucent light area
  // stipples as light as it looks; pixels go back premultiplied as they are
  // finished. (Photographs are opaque: there both readings are the same.)
  auto store = AllocPixels(W, H, false);
  if (!store) return;
  PixelView buf = store->view();
  if (!Source.ReadPixels(ImageInfo::Make(W, H, AlphaType::Unpremul), buf.base, buf.rowBytes, 0, 0)) return;

  const double D = H < 2 ? 1.0 : double(H - 1);
  for (int y = 0; y < H; ++y) {
    if (y % 50 == 0) {
      int v = int(Round(y / D * 100.0));
      if (Preview)
        SafeUpdatePreview(&Dest, v);
      else
        SafeUpdateProgress(v);
    }
    uint32_t* row = buf.row(y);
    uint32_t* row1 = y + 1 < H ? buf.row(y + 1) : nullptr;
    uint32_t* row2 = y + 2 < H ? buf.row(y + 2) : nullptr;
    for (int x = 0; x < W; ++x) {
      uint32_t& px = row[x];
      float L = Luminance01(px);
      int o = L >= T ? 1 : 0;
      // The pixel is final here (the error only travels forward in scan
      // order), so it is written premultiplied at once: white under a
      // smaller alpha is (A, A, A), never (255, 255, 255), which would add
      // light to whatever a transparent area is later composited over.
      uint32_t a = px >> 24;
      uint32_t c = o ? a : 0;
      px = (a << 24) | (c << 16) | (c << 8) | c;
      float e = (L - float(o)) / 8.0f;
      if (x + 1 < W) Spread(row[x + 1], e);
      if (x + 2 < W) Spread(row[x + 2], e);
      if (row1) {
        if (x >= 1) Spread(row1[x - 1], e);
        Spread(row1[x], e);
        if (x + 1 < W) Spread(row1[x + 1], e);
      }
      if (row2) Spread(row2[x], e);
    }
  }

  Image img = Image::MakeFromStore(std::move(store));
  Dest.GetCanvas()->DrawImage(img, 0, 0, SamplingOptions::Low());

  if (Preview) {
    LastUIUpdateTick = 0;
    SafeUpdatePreview(&Dest, 101);
  } else {
    SafeUpdateProgress(101);
  }
}

LQ_REGISTER_EFFECT(201, Stippling)

}  // namespace lq
