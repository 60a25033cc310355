#include "ui/main/view_math.h"

#include <algorithm>
#include <cmath>

#include "engine/random.h"

namespace lq::studio {

float ClampZoom(float zoom) { return std::clamp(zoom, kMinZoom, kMaxZoom); }

QString ZoomText(float zoom) { return QString::number(Round(double(zoom) * 100.0)) + "%"; }

QRectF ImageDisplayRect(const ViewPlacement& v, QSize image) {
  return QRectF(v.pan.x(), v.pan.y(), image.width() * double(v.zoom), image.height() * double(v.zoom));
}

QPointF CenteredPan(QSizeF box, QSize image, float zoom) {
  return QPointF((box.width() - image.width() * double(zoom)) * 0.5,
                 (box.height() - image.height() * double(zoom)) * 0.5);
}

ViewPlacement BestFit(QSizeF box, QSize image) {
  ViewPlacement v;
  if (image.isEmpty() || box.isEmpty()) return v;
  v.zoom = ClampZoom(float(std::min(box.width() / image.width(), box.height() / image.height())));
  v.pan = CenteredPan(box, image, v.zoom);
  return v;
}

QPointF AnchoredPan(QPointF anchor, QPointF pan, float oldZoom, float newZoom) {
  QPointF p = (anchor - pan) / double(oldZoom);
  return anchor - p * double(newZoom);
}

float ZoomStep(float zoom, bool zoomIn) { return ClampZoom(zoomIn ? zoom * 1.1f : zoom / 1.1f); }

float WheelZoom(float zoom, int wheelDelta) {
  float step = zoom < 0.5f ? 1.03f : (zoom < 1.5f ? 1.08f : 1.12f);
  float z = ClampZoom(wheelDelta <= 0 ? zoom / step : zoom * step);
  if (z > 0.995f && z < 1.005f) z = 1.0f;
  return z;
}

float PreviewWheelZoom(float zoom, int wheelDelta) {
  return std::clamp(zoom * (wheelDelta > 0 ? 1.1f : 0.9090909f), kMinPreviewZoom, kMaxPreviewZoom);
}

float PreviewIconZoom(float zoom, bool zoomIn) {
  return zoomIn ? std::min(zoom * 1.2f, kMaxPreviewZoom) : std::max(zoom / 1.2f, kMinPreviewZoom);
}

int PannedPreviewStart(int start, double pointerMove, float zoom, double panelSize, int imageSize) {
  double d = pointerMove / double(zoom);
  double region = panelSize / double(zoom);
  double hi = std::max(0.0, imageSize - region);
  return int(Round(std::clamp(start - d, 0.0, hi)));
}

QRectF ClampPreviewRegion(int& startX, int& startY, float zoom, QSizeF panel, QSize image) {
  startX = std::max(startX, 0);
  startY = std::max(startY, 0);
  float rw = float(panel.width()) / zoom;
  float rh = float(panel.height()) / zoom;
  if (startX + rw > image.width()) startX = std::max(0, int(Round(image.width() - rw)));
  if (startY + rh > image.height()) startY = std::max(0, int(Round(image.height() - rh)));
  return QRectF(startX, startY, rw, rh);
}

QRect CropRectInImage(const QRectF& sel, const ViewPlacement& v, QSize image) {
  double z = v.zoom;
  long long left = std::llround(std::trunc((sel.x() - v.pan.x()) / z));
  long long top = std::llround(std::trunc((sel.y() - v.pan.y()) / z));
  long long right = left + (long long)std::trunc(sel.width() / z);
  long long bottom = top + (long long)std::trunc(sel.height() / z);
  left = std::max(left, 0LL);
  top = std::max(top, 0LL);
  right = std::min(right, (long long)image.width());
  bottom = std::min(bottom, (long long)image.height());
  if (right <= left || bottom <= top) return {};
  return QRect(int(left), int(top), int(right - left), int(bottom - top));
}

QRectF InitialCropSelection(const ViewPlacement& v, QSize image) {
  QRectF r = ImageDisplayRect(v, image);
  return QRectF(double(Round(r.x() + 1)), double(Round(r.y() + 1)), double(Round(r.width() - 2)),
                double(Round(r.height() - 2)));
}

QPointF CropToolbarPos(const QRectF& sel, QSizeF toolbar) {
  double x = sel.x() + (sel.width() - toolbar.width()) / 2;
  double y = sel.y() - toolbar.height() - 6;
  if (y < 16) y = sel.y() + 6 - std::abs(sel.y() - 6);
  return QPointF(x, y);
}

DividerPlacement PlaceDivider(float dividerX, const ViewPlacement& v, QSize image, QSizeF box) {
  DividerPlacement d;
  QRectF r = ImageDisplayRect(v, image);
  d.top = std::max(r.top(), 0.0);
  d.bottom = std::min(r.bottom(), box.height());
  d.x = dividerX;
  if (image.isEmpty() || d.top >= d.bottom || r.bottom() < 0 || r.top() > box.height()) return d;
  d.x = float(std::clamp(double(dividerX), r.left(), r.right()));
  d.visible = true;
  return d;
}

double ProgressPillWidth(double available, int percent) {
  return std::max(0.0, (available - 140) * percent / 100.0);
}

}  // namespace lq::studio
