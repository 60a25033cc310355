#include "ui/main/image_qt.h"

namespace lq::studio {

namespace {
void ReleaseImage(void* info) { delete static_cast<Image*>(info); }
}  // namespace

QImage ToQImage(const Image& img) {
  if (!img) return {};
  ConstPixelView v = img.PeekPixels();
  if (!v) return {};
  return QImage(reinterpret_cast<const uchar*>(v.base), v.width, v.height, qsizetype(v.rowBytes),
                QImage::Format_ARGB32_Premultiplied, &ReleaseImage, new Image(img));
}

Image FromQImage(const QImage& src) {
  if (src.isNull() || !IsValidSize(src.width(), src.height())) return {};
  QImage q = src.format() == QImage::Format_ARGB32_Premultiplied
                 ? src
                 : src.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  if (q.isNull()) return {};
  return Image::MakeRasterCopy(ImageInfo::Make(q.width(), q.height(), AlphaType::Premul), q.constBits(),
                               size_t(q.bytesPerLine()));
}

}  // namespace lq::studio
