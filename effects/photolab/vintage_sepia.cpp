// Vintage sepia: the look of an old print. A slight blur, a partial loss of
// colour, sepia toning mixed in by strength, grain from a position hash plus a
// scanned film texture, and a darkening vignette.
#include <array>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "effects/photolab/photolab.h"
#include "effects/photolab/photolab_common.h"
#include "engine/effect_registry.h"
#include "engine/gfx/filters.h"
#include "engine/random.h"

namespace lq {

namespace {

using photolab::Clamp255;
using photolab::ClampParam;
using photolab::RoundF;

inline int Lum(int r, int g, int b) { return (77 * r + 150 * g + 29 * b) >> 8; }

// Luminance plane and mean of a film texture. Made once per texture and
// shared read-only by every run that uses it, previews included.
struct FilmGrey {
  uint32_t id = 0;
  int w = 0, h = 0;
  int mean = 0;
  std::vector<uint8_t> lum;
};

std::shared_ptr<const FilmGrey> FilmGreyOf(const Image& tex) {
  static std::mutex mu;
  static std::shared_ptr<const FilmGrey> last;
  if (!tex || tex.width() <= 0 || tex.height() <= 0) return nullptr;
  ConstPixelView v = tex.PeekPixels();
  if (!v) return nullptr;
  {
    std::lock_guard<std::mutex> lk(mu);
    if (last && last->id == tex.uniqueID()) return last;
  }
  auto g = std::make_shared<FilmGrey>();
  g->id = tex.uniqueID();
  g->w = v.width;
  g->h = v.height;
  g->lum.resize(size_t(v.width) * size_t(v.height));
  std::vector<int64_t> rowSums(size_t(v.height));
  ParallelFor(0, v.height, 16, [&](int lo, int hi) {
    for (int y = lo; y < hi; ++y) {
      const uint32_t* row = v.row(y);
      uint8_t* out = &g->lum[size_t(y) * size_t(v.width)];
      int64_t sum = 0;
      for (int x = 0; x < v.width; ++x) {
        uint32_t p = row[x];
        if ((p >> 24) != 255) p = Unpremultiply(p);  // the texture's colour, whatever its coverage
        int l = Lum(int(GetR(p)), int(GetG(p)), int(GetB(p)));
        out[x] = uint8_t(l);
        sum += l;
      }
      rowSums[size_t(y)] = sum;
    }
  });
  // 64-bit: a large texture's sum does not fit 32 bits.
  int64_t total = 0;
  for (int64_t s : rowSums) total += s;
  g->mean = int(total / (int64_t(v.width) * v.height));
  std::lock_guard<std::mutex> lk(mu);
  last = g;
  return g;
}

struct SepiaState {
  int ck = 0, st = 0, amp = 0;
  bool grain = false;
  photolab::Vignette vig;
  std::shared_ptr<const FilmGrey> tex;  // null: grain from the hash alone
  std::array<int, 256> texTerm{};       // grain added for a texture luminance

  void Row(const uint32_t* src, uint32_t* dst, int w, int y) const {
    const float dy2 = vig.on ? vig.Dy2(y) : 0.0f;
    const uint8_t* trow = tex ? &tex->lum[size_t(y % tex->h) * size_t(tex->w)] : nullptr;
    int tx = 0;  // x mod texture width, kept incrementally
    for (int x = 0; x < w; ++x, ++tx) {
      if (trow && tx == tex->w) tx = 0;
      uint32_t p = src[x];
      int a = int(p >> 24);
      if (a <= 4) {
        dst[x] = p;
        continue;
      }
      int R = int(GetR(p)), G = int(GetG(p)), B = int(GetB(p));
      if (a != 255) {
        R = R * 255 / a;
        G = G * 255 / a;
        B = B * 255 / a;
        // Only malformed pixels (colour above alpha) go past 255.
        if (R > 255) R = 255;
        if (G > 255) G = 255;
        if (B > 255) B = 255;
      }
      const int o = Lum(R, G, B);
      const int r1 = o + (R - o) * ck / 256, g1 = o + (G - o) * ck / 256, b1 = o + (B - o) * ck / 256;
      int sr = (112 * r1 + 195 * g1 + 50 * b1) >> 8;
      int sg = (86 * r1 + 170 * g1 + 42 * b1) >> 8;
      const int sb = (56 * r1 + 117 * g1 + 26 * b1) >> 8;
      if (sr > 255) sr = 255;
      if (sg > 255) sg = 255;
      int c[3] = {r1 + (sr - r1) * st / 256, g1 + (sg - g1) * st / 256, b1 + (sb - b1) * st / 256};
      if (grain) {
        int n = photolab::GrainHash(uint32_t(x), uint32_t(y)) * amp / 256;
        if (trow) n += texTerm[trow[tx]];
        for (int i = 0; i < 3; ++i) c[i] = Clamp255(c[i] + n);
      }
      if (vig.on) {
        float f = vig.Factor(vig.Dx2(x) + dy2);
        if (f != 1.0f)
          for (int i = 0; i < 3; ++i) c[i] = RoundF(float(c[i]) * f);
      }
      if (a < 255)
        for (int i = 0; i < 3; ++i) c[i] = c[i] * a / 255;
      dst[x] = MakeColor(uint32_t(a), uint32_t(Clamp255(c[0])), uint32_t(Clamp255(c[1])), uint32_t(Clamp255(c[2])));
    }
  }
};

}  // namespace

void VintageSepiaWithTexture(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                             bool Preview, const Image& FilmTexture) {
  P1 = ClampParam(P1);
  P2 = ClampParam(P2);
  P3 = ClampParam(P3);
  P4 = ClampParam(P4);
  P5 = ClampParam(P5);
  SepiaState st;
  st.ck = P1 * 256 / 100;
  st.st = P2 * 256 / 100;
  st.grain = P4 > 0;
  if (st.grain) {
    st.tex = FilmGreyOf(FilmTexture);
    if (st.tex)
      for (int l = 0; l < 256; ++l) st.texTerm[size_t(l)] = (l - st.tex->mean) * P4 / 100;
  }

  if (!Source) return;
  Canvas* canvas = Dest.GetCanvas();
  if (!canvas) return;
  const int w = Source.width(), h = Source.height();
  PixelView dst = Dest.PeekPixels();
  ConstPixelView src = Source.PeekPixels();
  const bool direct = w > 0 && h > 0 && dst && src && dst.width == w && dst.height == h;
  const float sigma = float(P5) * 0.0375f;

  // Base drawing: the picture, blurred when P5 asks for it.
  if (!direct) {
    canvas->Save();
    canvas->Clear(0);
    if (P5 < 1) {
      canvas->DrawImage(Source, 0, 0);
    } else {
      Paint paint;
      paint.antiAlias = true;
      paint.imageFilter = ImageFilter::MakeBlur(sigma, sigma, TileMode::Clamp);
      canvas->DrawImage(Source, 0, 0, SamplingOptions(), &paint);
    }
    Dest.Flush();
    canvas->Restore();
    return;  // no pixel access of the expected size: the drawing stays
  }
  ConstPixelView base = src;
  if (P5 >= 1) {
    GaussianBlur(src, dst, sigma, sigma, TileMode::Clamp);
    base = dst;
  }

  st.vig = photolab::Vignette::Make(w, h, P3);
  st.amp = int(Round(P4 * 0.306));

  // Without blur the copy and the toning are one pass over the rows.
  int done = photolab::ForRowBlocks(h, Preview, [&](int y) { st.Row(base.row(y), dst.row(y), w, y); });
  if (base.base != dst.base)
    for (int y = done; y < h; ++y) std::memcpy(dst.row(y), src.row(y), size_t(w) * 4);
  Dest.Flush();
}

void VintageSepia(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview) {
  Image texture = P4 > 0 ? photolab::EmbeddedPicture("OldFilmTexture") : Image();
  VintageSepiaWithTexture(Source, Dest, P1, P2, P3, P4, P5, Preview, texture);
}

LQ_REGISTER_EFFECT(402, VintageSepia)

}  // namespace lq
