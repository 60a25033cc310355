#include "engine/gfx/image.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace lq {

bool IsValidSize(int64_t w, int64_t h) {
  return w > 0 && h > 0 && w <= kMaxPixels && h <= kMaxPixels && w * h <= kMaxPixels;
}

PixelStore::~PixelStore() { std::free(pixels); }

std::shared_ptr<PixelStore> AllocPixels(int w, int h, bool zeroed) {
  if (!IsValidSize(w, h)) return nullptr;
  size_t bytes = size_t(w) * size_t(h) * 4;
  // calloc hands out fresh zero pages for large blocks, which is as cheap as malloc.
  void* p = zeroed ? std::calloc(bytes, 1) : std::malloc(bytes);
  if (!p) return nullptr;
  auto s = std::make_shared<PixelStore>();
  s->pixels = static_cast<uint32_t*>(p);
  s->rowBytes = size_t(w) * 4;
  s->width = w;
  s->height = h;
  return s;
}

namespace {
std::atomic<uint32_t> g_nextImageId{1};
uint32_t NextImageId() {
  uint32_t id;
  do {
    id = g_nextImageId.fetch_add(1, std::memory_order_relaxed);
  } while (id == 0);
  return id;
}

void ConvertRow(const uint32_t* src, uint32_t* dst, int n, AlphaType from, AlphaType to) {
  bool srcPremul = from != AlphaType::Unpremul;
  bool dstPremul = to != AlphaType::Unpremul;
  if (srcPremul == dstPremul) {
    std::memcpy(dst, src, size_t(n) * 4);
  } else if (dstPremul) {
    for (int i = 0; i < n; ++i) dst[i] = Premultiply(src[i]);
  } else {
    for (int i = 0; i < n; ++i) dst[i] = Unpremultiply(src[i]);
  }
}
}  // namespace

class ImageImpl {
 public:
  std::shared_ptr<PixelStore> store;
  ConstPixelView view;
  bool opaque = false;
  uint32_t id = NextImageId();

  mutable std::once_flag mipOnce;
  mutable std::vector<Image> mips;  // levels 1..n

  static Image Wrap(std::shared_ptr<const ImageImpl> p) { return Image(std::move(p)); }
  static const ImageImpl* Get(const Image& i) { return i.impl_.get(); }
};

int Image::width() const { return impl_ ? impl_->view.width : 0; }
int Image::height() const { return impl_ ? impl_->view.height : 0; }
ImageInfo Image::info() const {
  return ImageInfo::Make(width(), height(), isOpaque() ? AlphaType::Opaque : AlphaType::Premul);
}
uint32_t Image::uniqueID() const { return impl_ ? impl_->id : 0; }
bool Image::isOpaque() const { return impl_ && impl_->opaque; }
ConstPixelView Image::PeekPixels() const { return impl_ ? impl_->view : ConstPixelView{}; }

bool Image::ReadPixels(const ImageInfo& dstInfo, void* dstPixels, size_t dstRowBytes, int srcX, int srcY) const {
  if (!impl_ || !dstPixels || dstInfo.width <= 0 || dstInfo.height <= 0) return false;
  if (dstRowBytes < dstInfo.minRowBytes()) return false;
  IRect src = IRect::MakeXYWH(srcX, srcY, dstInfo.width, dstInfo.height);
  if (!src.intersect(IRect::MakeWH(width(), height()))) return false;
  const ConstPixelView& v = impl_->view;
  AlphaType from = impl_->opaque ? AlphaType::Opaque : AlphaType::Premul;
  for (int y = src.top; y < src.bottom; ++y) {
    auto* drow = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(dstPixels) + size_t(y - srcY) * dstRowBytes);
    ConvertRow(v.row(y) + src.left, drow + (src.left - srcX), src.width(), from, dstInfo.alphaType);
  }
  return true;
}

Image Image::MakeSubset(const IRect& r) const {
  if (!impl_) return {};
  IRect b = r;
  if (!b.intersect(IRect::MakeWH(width(), height()))) return {};
  if (b == IRect::MakeWH(width(), height())) return *this;
  auto p = std::make_shared<ImageImpl>();
  p->store = impl_->store;
  p->view = ConstPixelView(impl_->view.row(b.top) + b.left, impl_->view.rowBytes, b.width(), b.height());
  p->opaque = impl_->opaque;
  return Image(std::move(p));
}

Image Image::MakeRasterCopy(const ImageInfo& info, const void* pixels, size_t rowBytes) {
  if (!pixels || !IsValidSize(info.width, info.height) || rowBytes < info.minRowBytes()) return {};
  auto store = AllocPixels(info.width, info.height, false);
  if (!store) return {};
  for (int y = 0; y < info.height; ++y) {
    auto* s = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(pixels) + size_t(y) * rowBytes);
    ConvertRow(s, store->view().row(y), info.width, info.alphaType, AlphaType::Premul);
  }
  return MakeFromStore(std::move(store), info.alphaType == AlphaType::Opaque);
}

Image Image::MakeFromStore(std::shared_ptr<PixelStore> store, bool opaque) {
  if (!store || !store->pixels) return {};
  auto p = std::make_shared<ImageImpl>();
  p->view = ConstPixelView(store->pixels, store->rowBytes, store->width, store->height);
  p->store = std::move(store);
  p->opaque = opaque;
  return Image(std::move(p));
}

Image Image::MakeFromPixels(int w, int h, std::vector<uint32_t>&& premulPixels, bool opaque) {
  if (!IsValidSize(w, h) || premulPixels.size() != size_t(w) * size_t(h)) return {};
  auto store = AllocPixels(w, h, false);
  if (!store) return {};
  std::memcpy(store->pixels, premulPixels.data(), premulPixels.size() * 4);
  std::vector<uint32_t>().swap(premulPixels);
  return MakeFromStore(std::move(store), opaque);
}

namespace {
// One 2x box reduction. Odd trailing rows/columns fold into the last output pixel
// so that no source pixel is dropped.
Image Reduce(const Image& src) {
  ConstPixelView s = src.PeekPixels();
  int w = std::max(1, s.width / 2), h = std::max(1, s.height / 2);
  auto store = AllocPixels(w, h, false);
  if (!store) return {};
  PixelView d = store->view();
  for (int y = 0; y < h; ++y) {
    int y0 = std::min(2 * y, s.height - 1), y1 = std::min(2 * y + 1, s.height - 1);
    const uint32_t* r0 = s.row(y0);
    const uint32_t* r1 = s.row(y1);
    uint32_t* out = d.row(y);
    for (int x = 0; x < w; ++x) {
      int x0 = std::min(2 * x, s.width - 1), x1 = std::min(2 * x + 1, s.width - 1);
      uint32_t p[4] = {r0[x0], r0[x1], r1[x0], r1[x1]};
      uint32_t res = 0;
      for (int sh = 0; sh < 32; sh += 8) {
        uint32_t sum = ((p[0] >> sh) & 255) + ((p[1] >> sh) & 255) + ((p[2] >> sh) & 255) + ((p[3] >> sh) & 255);
        res |= ((sum + 2) >> 2) << sh;
      }
      out[x] = res;
    }
  }
  return Image::MakeFromStore(std::move(store), src.isOpaque());
}
}  // namespace

int Image::MipLevelCount() const {
  if (!impl_) return 0;
  int n = 1, w = width(), h = height();
  while (w > 1 || h > 1) {
    w = std::max(1, w / 2);
    h = std::max(1, h / 2);
    ++n;
  }
  return n;
}

Image Image::MipLevel(int level) const {
  if (!impl_ || level <= 0) return *this;
  std::call_once(impl_->mipOnce, [this] {
    Image cur = *this;
    while (cur.width() > 1 || cur.height() > 1) {
      Image next = Reduce(cur);
      if (!next) break;
      impl_->mips.push_back(next);
      cur = next;
    }
  });
  if (impl_->mips.empty()) return *this;
  return impl_->mips[std::min<size_t>(size_t(level), impl_->mips.size()) - 1];
}

bool HasAnyTranslucentPixel(ConstPixelView v) {
  for (int y = 0; y < v.height; ++y) {
    const uint32_t* r = v.row(y);
    for (int x = 0; x < v.width; ++x)
      if ((r[x] >> 24) != 255) return true;
  }
  return false;
}

}  // namespace lq
