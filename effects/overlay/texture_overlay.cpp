#include "effects/overlay/texture_overlay.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>

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

  // New channel for a texture grey t and an old channel c.
  std::vector<std::array<uint8_t, 256>> shift(256);
  for (int t = 0; t < 256; ++t) {
    const float delta = k * float(map->mean - t);
    for (int c = 0; c < 256; ++c) shift[size_t(t)][size_t(c)] = uint8_t(photolab::Clamp255(RoundF(float(c) + delta)));
  }

  ParallelFor(0, h, 16, [&](int lo, int hi) {
    for (int y = lo; y < hi; ++y) {
      const Tap ry = rows[size_t(y)];
      const uint8_t* m0 = &map->grey[size_t(ry.i0) * size_t(tw)];
      const uint8_t* m1 = &map->grey[size_t(ry.i1) * size_t(tw)];
      const float fy = ry.f, gy = 1.0f - ry.f;
      const uint32_t* in = src.row(y);
      uint32_t* out = dst.row(y);
      for (int x = 0; x < w; ++x) {
        uint32_t p = in[x];
        uint32_t a = p >> 24;
        if (a == 0) {
          out[x] = p;
          continue;
        }
        const Tap cx = cols[size_t(x)];
        const float gx = 1.0f - cx.f;
        const float top = gx * float(m0[cx.i0]) + cx.f * float(m0[cx.i1]);
        const float bottom = gx * float(m1[cx.i0]) + cx.f * float(m1[cx.i1]);
        const int t = photolab::Clamp255(RoundF(top * gy + bottom * fy));
        const std::array<uint8_t, 256>& sh = shift[size_t(t)];
        if (a == 255) {
          out[x] = MakeColor(255, sh[GetR(p)], sh[GetG(p)], sh[GetB(p)]);
        } else {
          // Translucent pixels: the texture acts on the colour, and the
          // result stays a valid premultiplied pixel.
          uint32_t u = Unpremultiply(p);
          out[x] = Premultiply(MakeColor(a, sh[GetR(u)], sh[GetG(u)], sh[GetB(u)]));
        }
      }
    }
  });
  return Image::MakeFromStore(std::move(store), img.isOpaque());
}

namespace {

// Every driver applies this overlay when the host's texture switch is on.
void SetUpTextureStep(EffectDriver& driver) { driver.TextureStep = ApplyCustomTexture; }
[[maybe_unused]] const bool kTextureStepRegistered = (RegisterDriverSetup(&SetUpTextureStep), true);

}  // namespace

}  // namespace lq
