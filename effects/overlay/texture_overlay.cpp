#include "effects/overlay/texture_overlay.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>

#include "effects/overlay/builtin_pictures.h"
#include "effects/photolab/photolab_common.h"
#include "engine/driver.h"
#include "engine/parallel.h"
#include "engine/random.h"

namespace lq {

namespace {

using photolab::RoundF;

// The grey map of the texture used last. The automatic overlay applies the
// same texture to every preview, so the map is made once, not per call.
std::shared_ptr<const TextureGreyMap> CachedGreyMap(const Image& texture) {
  static std::mutex mu;
  static uint32_t lastId = 0;
  static std::shared_ptr<const TextureGreyMap> last;
  {
    std::lock_guard<std::mutex> lk(mu);
    if (last && lastId == texture.uniqueID()) return last;
  }
  auto map = std::make_shared<const TextureGreyMap>(BuildTextureGreyMap(texture));
  std::lock_guard<std::mutex> lk(mu);
  lastId = texture.uniqueID();
  last = map;
  return map;
}

struct TextureTile {
  static constexpr int kTail = 8;
  int w = 0, h = 0;
  size_t stride = 0;
  std::vector<uint8_t> t;  // texture value per (x mod PX, y mod PY)
};

struct TextureShift {
  float k = 0;
  int mean = 128;

  // One pixel, alpha above 0, texture value t.
  uint32_t Pixel(uint32_t p, int t) const {
    const float delta = k * float(mean - t);
    const uint32_t a = p >> 24;
    // Translucent pixels: the texture acts on the colour, and the result
    // stays a valid premultiplied pixel.
    const uint32_t c = a == 255 ? p : Unpremultiply(p);
    auto ch = [&](uint32_t v) { return uint32_t(photolab::Clamp255(RoundF(float(v) + delta))); };
    const uint32_t out = MakeColor(a, ch(GetR(c)), ch(GetG(c)), ch(GetB(c)));
    return a == 255 ? out : Premultiply(out);
  }

  int RowAvx2(const uint32_t* in, uint32_t* out, int w, const uint8_t* trow, int tw) const;
  int RowVec4(const uint32_t* in, uint32_t* out, int w, const uint8_t* trow, int tw) const;
};

// N pixels at a time when all of them are opaque; the same single-precision
// operations as Pixel, so both give identical bytes.
template <int N>
LQ_ALWAYS_INLINE int TextureRow(const TextureShift& ts, const uint32_t* in, uint32_t* out, int w, const uint8_t* trow,
                                int tw) {
  using V = photolab::Lanes<N>;
  using F = typename V::F;
  using I = typename V::I;
  using U = typename V::U;
  const float k = ts.k;
  const int mean = ts.mean;
  int x = 0, xm = 0;
  for (; x + N <= w; x += N) {
    uint32_t all = in[x];
    for (int i = 1; i < N; ++i) all &= in[x + i];
    if ((all >> 24) == 255) {
      const U p = V::Load(in + x);
      const F delta = k * __builtin_convertvector(mean - V::LoadBytes(trow + xm), F);
      auto ch = [&](U v) LQ_ALWAYS_INLINE_LAMBDA {
        return (U)V::Clamp255(V::RoundSmall(__builtin_convertvector((I)(v & 255u), F) + delta));
      };
      V::Store(out + x, 0xFF000000u | (ch(p >> 16) << 16) | (ch(p >> 8) << 8) | ch(p));
    } else {
      for (int i = 0; i < N; ++i) {
        const uint32_t p = in[x + i];
        out[x + i] = (p >> 24) == 0 ? p : ts.Pixel(p, trow[xm + i]);
      }
    }
    xm += N;
    while (xm >= tw) xm -= tw;
  }
  for (; x < w; ++x) {
    const uint32_t p = in[x];
    out[x] = (p >> 24) == 0 ? p : ts.Pixel(p, trow[xm]);
    if (++xm == tw) xm = 0;
  }
  return x;
}

LQ_TARGET_AVX2 int TextureShift::RowAvx2(const uint32_t* in, uint32_t* out, int w, const uint8_t* trow, int tw) const {
  return TextureRow<8>(*this, in, out, w, trow, tw);
}
int TextureShift::RowVec4(const uint32_t* in, uint32_t* out, int w, const uint8_t* trow, int tw) const {
  return TextureRow<4>(*this, in, out, w, trow, tw);
}

}  // namespace

TextureGreyMap BuildTextureGreyMap(const Image& texture) {
  TextureGreyMap m;
  if (!texture) return m;
  ConstPixelView v = texture.PeekPixels();
  if (!v || v.width <= 0 || v.height <= 0) return m;
  m.width = v.width;
  m.height = v.height;
  m.grey.resize(size_t(v.width) * size_t(v.height));
  std::vector<int64_t> rowSums(size_t(v.height));
  ParallelFor(0, v.height, 16, [&](int lo, int hi) {
    for (int y = lo; y < hi; ++y) {
      const uint32_t* row = v.row(y);
      uint8_t* out = &m.grey[size_t(y) * size_t(v.width)];
      int64_t sum = 0;
      for (int x = 0; x < v.width; ++x) {
        uint32_t p = row[x];
        if ((p >> 24) != 255) p = Unpremultiply(p);  // grey of the texture's colour
        int g = int(Round(0.299 * GetR(p) + 0.587 * GetG(p) + 0.114 * GetB(p)));
        out[x] = uint8_t(g);
        sum += g;
      }
      rowSums[size_t(y)] = sum;
    }
  });
  // 64-bit: a large texture's sum overflows 32 bits.
  int64_t total = 0;
  for (int64_t s : rowSums) total += s;
  m.mean = int(total / (int64_t(v.width) * v.height));
  return m;
}

Image ApplyCustomTexture(const Image& img, const Image& texture, int strength, float scale) {
  if (!img || !texture || texture.width() <= 0 || texture.height() <= 0) return img;
  ConstPixelView src = img.PeekPixels();
  if (!src) return img;
  auto map = CachedGreyMap(texture);
  const int th = map->height, tw = map->width;
  if (th <= 0 || tw <= 0) return img;

  // Scale 0 (or NaN) would divide by zero below.
  float s = scale;
  if (!(s >= kMinTextureScale)) s = kMinTextureScale;
  if (s > kMaxTextureScale) s = kMaxTextureScale;
  const float k = float(std::clamp(strength, 0, 100)) / 100.0f;
  const int64_t d = Random(std::min(th, tw));
  const int64_t px = std::max<int64_t>(1, Round(float(tw) * s));
  const int64_t py = std::max<int64_t>(1, Round(float(th) * s));

  const int w = src.width, h = src.height;
  auto store = AllocPixels(w, h, false);
  if (!store) return img;
  PixelView dst = store->view();

  // Texture column and weight of every picture column (and likewise rows):
  // they depend on one coordinate only.
  struct Tap {
    int i0, i1;
    float f;
  };
  auto taps = [s, d](int n, int64_t period, int size) {
    std::vector<Tap> t(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
      float u = float((i + d) % period) / s;
      int64_t iu = Trunc(u);
      int i0 = int(iu % size);
      t[size_t(i)] = {i0, (i0 + 1) % size, u - float(iu)};
    }
    return t;
  };
  const std::vector<Tap> cols = taps(w, px, tw), rows = taps(h, py, th);

  // The texture value of a pixel repeats with the periods, so it is worked
  // out once per (x mod PX, y mod PY) within the picture. Rows carry a
  // wrapped-around tail so a group of pixels can read its values in one go.
  TextureTile tile;
  tile.w = int(std::min<int64_t>(w, px));
  tile.h = int(std::min<int64_t>(h, py));
  tile.stride = size_t(tile.w) + TextureTile::kTail;
  tile.t.resize(tile.stride * size_t(tile.h));
  ParallelFor(0, tile.h, 16, [&](int lo, int hi) {
    for (int j = lo; j < hi; ++j) {
      const Tap ry = rows[size_t(j)];
      const uint8_t* m0 = &map->grey[size_t(ry.i0) * size_t(tw)];
      const uint8_t* m1 = &map->grey[size_t(ry.i1) * size_t(tw)];
      const float fy = ry.f, gy = 1.0f - ry.f;
      uint8_t* out = &tile.t[size_t(j) * tile.stride];
      for (int i = 0; i < tile.w; ++i) {
        const Tap cx = cols[size_t(i)];
        const float gx = 1.0f - cx.f;
        const float top = gx * float(m0[cx.i0]) + cx.f * float(m0[cx.i1]);
        const float bottom = gx * float(m1[cx.i0]) + cx.f * float(m1[cx.i1]);
        out[i] = uint8_t(photolab::Clamp255(RoundF(top * gy + bottom * fy)));
      }
      for (int i = 0; i < TextureTile::kTail; ++i) out[tile.w + i] = out[i % tile.w];
    }
  });

  TextureShift ts;
  ts.k = k;
  ts.mean = map->mean;
  const bool avx2 = photolab::HasAvx2();
  ParallelFor(0, h, 16, [&](int lo, int hi) {
    for (int y = lo; y < hi; ++y) {
      const uint8_t* trow = &tile.t[size_t(y % tile.h) * tile.stride];
      if (avx2)
        ts.RowAvx2(src.row(y), dst.row(y), w, trow, tile.w);
      else
        ts.RowVec4(src.row(y), dst.row(y), w, trow, tile.w);
    }
  });
  return Image::MakeFromStore(std::move(store), img.isOpaque());
}

namespace {

// Every driver applies this overlay when the host's texture switch is on,
// starting with the second built-in texture ("Paper") when there are two or
// more; with fewer the overlay waits until a texture is chosen.
void SetUpTextureStep(EffectDriver& driver) {
  driver.TextureStep = ApplyCustomTexture;
  std::vector<std::string> names = BuiltinTextureNames();
  if (names.size() > 1 && driver.BuiltinImage)
    driver.StoredTextureBitmap = driver.BuiltinImage("TextureList/" + names[1]);
}
[[maybe_unused]] const bool kTextureStepRegistered = (RegisterDriverSetup(&SetUpTextureStep), true);

}  // namespace

}  // namespace lq
