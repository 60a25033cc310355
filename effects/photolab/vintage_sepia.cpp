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

  // Texture luminance row for image row y, or null.
  const uint8_t* TextureRow(int y) const { return tex ? &tex->lum[size_t(y % tex->h) * size_t(tex->w)] : nullptr; }

  // One pixel with alpha above 4; tl is the texture luminance under it.
  uint32_t Pixel(uint32_t p, int x, int y, float dy2, int tl) const {
    const int a = int(p >> 24);
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
      if (tex) n += texTerm[size_t(tl)];
      for (int i = 0; i < 3; ++i) c[i] = Clamp255(c[i] + n);
    }
    if (vig.on) {
      float f = vig.Factor(vig.Dx2(x) + dy2);
      if (f != 1.0f)
        for (int i = 0; i < 3; ++i) c[i] = RoundF(float(c[i]) * f);
    }
    if (a < 255)
      for (int i = 0; i < 3; ++i) c[i] = c[i] * a / 255;
    return MakeColor(uint32_t(a), uint32_t(Clamp255(c[0])), uint32_t(Clamp255(c[1])), uint32_t(Clamp255(c[2])));
  }

  void Row(const uint32_t* src, uint32_t* dst, int w, int y) const {
    const float dy2 = vig.on ? vig.Dy2(y) : 0.0f;
    int x = photolab::HasAvx2() ? RowAvx2(src, dst, w, y, dy2) : RowVec4(src, dst, w, y, dy2);
    const uint8_t* trow = TextureRow(y);
    for (; x < w; ++x) {
      const uint32_t p = src[x];
      dst[x] = (p >> 24) <= 4 ? p : Pixel(p, x, y, dy2, trow ? trow[x % tex->w] : 0);
    }
  }

  int RowAvx2(const uint32_t* src, uint32_t* dst, int w, int y, float dy2) const;
  int RowVec4(const uint32_t* src, uint32_t* dst, int w, int y, float dy2) const;
};

// N opaque pixels at a time with the integer steps of Pixel in vector lanes.
// Groups with a pixel that is not opaque go through Pixel.
template <int N>
LQ_ALWAYS_INLINE int SepiaRow(const SepiaState& st, const uint32_t* src, uint32_t* dst, int w, int y, float dy2) {
  using V = photolab::Lanes<N>;
  using F = typename V::F;
  using I = typename V::I;
  using U = typename V::U;
  const uint8_t* trow = st.TextureRow(y);
  const int tw = st.tex ? st.tex->w : 1;
  const int ck = st.ck, stv = st.st, amp = st.amp;
  const U hy = V::SplatU(uint32_t(y) * 0x85EBCA77u);
  U xs = V::Iota();
  F fx = __builtin_convertvector(xs, F);
  int x = 0, tx = 0;  // tx: x mod texture width
  for (; x + N <= w; x += N, xs += uint32_t(N), fx += float(N)) {
    I tl;
    for (int i = 0; i < N; ++i) {
      tl[i] = trow ? trow[tx] : 0;
      if (++tx == tw) tx = 0;
    }
    uint32_t all = src[x];
    for (int i = 1; i < N; ++i) all &= src[x + i];
    if ((all >> 24) != 255) {
      for (int i = 0; i < N; ++i) {
        const uint32_t q = src[x + i];
        dst[x + i] = (q >> 24) <= 4 ? q : st.Pixel(q, x + i, y, dy2, tl[i]);
      }
      continue;
    }
    const U p = V::Load(src + x);
    const I R = (I)((p >> 16) & 255u), G = (I)((p >> 8) & 255u), B = (I)(p & 255u);
    const I o = (77 * R + 150 * G + 29 * B) >> 8;
    const I r1 = o + V::Div256((R - o) * ck), g1 = o + V::Div256((G - o) * ck), b1 = o + V::Div256((B - o) * ck);
    I sr = (112 * r1 + 195 * g1 + 50 * b1) >> 8;
    I sg = (86 * r1 + 170 * g1 + 42 * b1) >> 8;
    const I sb = (56 * r1 + 117 * g1 + 26 * b1) >> 8;
    sr = sr > 255 ? 255 : sr;
    sg = sg > 255 ? 255 : sg;
    I r = r1 + V::Div256((sr - r1) * stv), g = g1 + V::Div256((sg - g1) * stv), b = b1 + V::Div256((sb - b1) * stv);
    if (st.grain) {
      I n = V::Div256(V::GrainNoise(xs, hy) * amp);
      if (trow)
        for (int i = 0; i < N; ++i) n[i] += st.texTerm[size_t(tl[i])];
      r = V::Clamp255(r + n);
      g = V::Clamp255(g + n);
      b = V::Clamp255(b + n);
    }
    if (st.vig.on) st.vig.Apply<V>(fx, dy2, r, g, b);
    V::Store(dst + x, 0xFF000000u | ((U)V::Clamp255(r) << 16) | ((U)V::Clamp255(g) << 8) | (U)V::Clamp255(b));
  }
  return x;
}

LQ_TARGET_AVX2 int SepiaState::RowAvx2(const uint32_t* src, uint32_t* dst, int w, int y, float dy2) const {
  return SepiaRow<8>(*this, src, dst, w, y, dy2);
}
int SepiaState::RowVec4(const uint32_t* src, uint32_t* dst, int w, int y, float dy2) const {
  return SepiaRow<4>(*this, src, dst, w, y, dy2);
}

}  // namespace

void VintageSepiaWithTexture(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview,
                             const Image& FilmTexture) {
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
