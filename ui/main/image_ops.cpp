#include "ui/main/image_ops.h"

#include <vector>

namespace lq::studio {

Image RotateImage90(const Image& img, bool clockwise) {
  if (!img) return {};
  ConstPixelView src = img.PeekPixels();
  if (!src) return {};
  const int w = src.width, h = src.height;
  auto store = AllocPixels(h, w, false);
  if (!store) return {};
  PixelView dst = store->view();
  // Walk the destination row by row so its writes stay sequential; the reads
  // stride down a source column.
  for (int dy = 0; dy < w; ++dy) {
    uint32_t* out = dst.row(dy);
    if (clockwise) {
      // dst(H-1-y, x) = src(x, y): destination row dy is source column dy.
      for (int dx = 0; dx < h; ++dx) out[dx] = src.at(dy, h - 1 - dx);
    } else {
      // dst(y, W-1-x) = src(x, y): destination row dy is source column W-1-dy.
      for (int dx = 0; dx < h; ++dx) out[dx] = src.at(w - 1 - dy, dx);
    }
  }
  return Image::MakeFromStore(std::move(store), img.isOpaque());
}

}  // namespace lq::studio
