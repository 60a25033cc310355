// Immutable images and the geometry types shared by the raster back end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/pixel.h"

namespace lq {

enum class AlphaType { Premul, Unpremul, Opaque };

// Every buffer of the engine is BGRA8888; only the alpha interpretation varies.
struct ImageInfo {
  int width = 0;
  int height = 0;
  AlphaType alphaType = AlphaType::Premul;

  static ImageInfo Make(int w, int h, AlphaType at = AlphaType::Premul) { return {w, h, at}; }
  int64_t pixelCount() const { return int64_t(width) * height; }
  size_t minRowBytes() const { return size_t(width) * 4; }
};

// Largest pixel count the engine handles: buffers are indexed with 32-bit ints.
constexpr int64_t kMaxPixels = (int64_t(1) << 31) - 1;

// True when a w x h buffer is non-empty and fits the engine's limits.
bool IsValidSize(int64_t w, int64_t h);

struct IPoint {
  int x = 0, y = 0;
};

struct IRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  static IRect MakeXYWH(int x, int y, int w, int h) { return {x, y, x + w, y + h}; }
  static IRect MakeWH(int w, int h) { return {0, 0, w, h}; }
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool isEmpty() const { return right <= left || bottom <= top; }
  bool intersect(const IRect& o) {
    left = left > o.left ? left : o.left;
    top = top > o.top ? top : o.top;
    right = right < o.right ? right : o.right;
    bottom = bottom < o.bottom ? bottom : o.bottom;
    return !isEmpty();
  }
  bool contains(const IRect& o) const {
    return o.left >= left && o.top >= top && o.right <= right && o.bottom <= bottom;
  }
  bool operator==(const IRect& o) const = default;
};

struct RectF {
  double left = 0, top = 0, right = 0, bottom = 0;
  static RectF MakeXYWH(double x, double y, double w, double h) { return {x, y, x + w, y + h}; }
  static RectF MakeWH(double w, double h) { return {0, 0, w, h}; }
  static RectF Make(const IRect& r) { return {double(r.left), double(r.top), double(r.right), double(r.bottom)}; }
  double width() const { return right - left; }
  double height() const { return bottom - top; }
  bool isEmpty() const { return !(right > left) || !(bottom > top); }
};

// Direct access to pixels in the engine format. Views never own memory.
struct PixelView {
  uint32_t* base = nullptr;
  size_t rowBytes = 0;
  int width = 0;
  int height = 0;

  explicit operator bool() const { return base != nullptr; }
  uint32_t* row(int y) const { return reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(base) + rowBytes * size_t(y)); }
  uint32_t& at(int x, int y) const { return row(y)[x]; }
};

struct ConstPixelView {
  const uint32_t* base = nullptr;
  size_t rowBytes = 0;
  int width = 0;
  int height = 0;

  ConstPixelView() = default;
  ConstPixelView(const uint32_t* b, size_t rb, int w, int h) : base(b), rowBytes(rb), width(w), height(h) {}
  ConstPixelView(const PixelView& v) : base(v.base), rowBytes(v.rowBytes), width(v.width), height(v.height) {}  // NOLINT
  explicit operator bool() const { return base != nullptr; }
  const uint32_t* row(int y) const { return reinterpret_cast<const uint32_t*>(reinterpret_cast<const uint8_t*>(base) + rowBytes * size_t(y)); }
  uint32_t at(int x, int y) const { return row(y)[x]; }
};

// Owned, zero-initialised or uninitialised pixel memory; null when the memory cannot be had.
struct PixelStore;
std::shared_ptr<PixelStore> AllocPixels(int w, int h, bool zeroed);

struct PixelStore {
  uint32_t* pixels = nullptr;
  size_t rowBytes = 0;
  int width = 0;
  int height = 0;
  ~PixelStore();
  PixelView view() const { return {pixels, rowBytes, width, height}; }
};

class ImageImpl;

// An immutable, reference-counted picture in the engine format (premultiplied).
// Copies share the pixels; images may be used from any number of threads.
class Image {
 public:
  Image() = default;

  explicit operator bool() const { return impl_ != nullptr; }
  bool operator==(const Image& o) const { return impl_ == o.impl_; }
  bool operator!=(const Image& o) const { return impl_ != o.impl_; }

  int width() const;
  int height() const;
  ImageInfo info() const;
  // Process-unique identity; a new image, also a decoded copy, gets a new one.
  uint32_t uniqueID() const;
  // Declared opaque by whoever made it (decoders of formats without alpha).
  bool isOpaque() const;

  // Copies the rectangle at (srcX, srcY) of the destination's size into dst,
  // converting to the requested alpha type. False when nothing intersects.
  bool ReadPixels(const ImageInfo& dstInfo, void* dstPixels, size_t dstRowBytes, int srcX, int srcY) const;
  ConstPixelView PeekPixels() const;
  // Shares the pixels; empty image when the rectangle misses the image.
  Image MakeSubset(const IRect& r) const;
  // Box-filtered level of detail: level 0 is the image itself, level k is
  // reduced k times by 2 in each axis (at least 1 pixel). Built once and cached.
  Image MipLevel(int level) const;
  int MipLevelCount() const;

  // Copies pixels of the stated alpha type (converted to premultiplied).
  static Image MakeRasterCopy(const ImageInfo& info, const void* pixels, size_t rowBytes);
  // Adopts premultiplied pixels without copying.
  static Image MakeFromStore(std::shared_ptr<PixelStore> store, bool opaque = false);
  static Image MakeFromPixels(int w, int h, std::vector<uint32_t>&& premulPixels, bool opaque = false);

 private:
  explicit Image(std::shared_ptr<const ImageImpl> impl) : impl_(std::move(impl)) {}
  std::shared_ptr<const ImageImpl> impl_;
  friend class ImageImpl;
};

// Scans for a pixel whose alpha is below 255; stops at the first one.
bool HasAnyTranslucentPixel(ConstPixelView v);

}  // namespace lq
