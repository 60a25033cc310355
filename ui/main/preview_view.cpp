#include "ui/main/preview_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include "ui/main/icons.h"
#include "ui/main/theme.h"

namespace lq::studio {

namespace {

// Box blur passes over the alpha of a premultiplied picture: close enough to
// a Gaussian of the given radius for a soft shadow.
void BlurAlpha(QImage& img, int radius) {
  const int w = img.width(), h = img.height();
  std::vector<int> line;
  for (int pass = 0; pass < 3; ++pass) {
    for (int y = 0; y < h; ++y) {
      auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
      line.assign(size_t(w), 0);
      int acc = 0, n = 0;
      for (int x = -radius; x < w; ++x) {
        int add = x + radius;
        if (add < w) { acc += qAlpha(row[add]); ++n; }
        if (x - radius - 1 >= 0) { acc -= qAlpha(row[x - radius - 1]); --n; }
        if (x >= 0) line[size_t(x)] = n ? acc / n : 0;
      }
      for (int x = 0; x < w; ++x) row[x] = qRgba(0, 0, 0, line[size_t(x)]);
    }
    for (int x = 0; x < w; ++x) {
      line.assign(size_t(h), 0);
      int acc = 0, n = 0;
      for (int y = -radius; y < h; ++y) {
        int add = y + radius;
        if (add < h) { acc += qAlpha(reinterpret_cast<QRgb*>(img.scanLine(add))[x]); ++n; }
        if (y - radius - 1 >= 0) { acc -= qAlpha(reinterpret_cast<QRgb*>(img.scanLine(y - radius - 1))[x]); --n; }
        if (y >= 0) line[size_t(y)] = n ? acc / n : 0;
      }
      for (int y = 0; y < h; ++y) reinterpret_cast<QRgb*>(img.scanLine(y))[x] = qRgba(0, 0, 0, line[size_t(y)]);
    }
  }
}

QPainterPath Rounded(const QRectF& r) {
  QPainterPath p;
  p.addRoundedRect(r, 16, 16);
  return p;
}

}  // namespace

// --- PreviewZoomStrip ---

PreviewZoomStrip::PreviewZoomStrip(QWidget* parent) : QWidget(parent) {
  setFixedSize(kWidth, kHeight);
  setMouseTracking(true);
  setCursor(Qt::PointingHandCursor);
}

void PreviewZoomStrip::SetZoomText(const QString& text) {
  text_ = text;
  update();
}

void PreviewZoomStrip::enterEvent(QEnterEvent*) {
  opacity_ = 0.8;
  emit entered();
  update();
}

void PreviewZoomStrip::leaveEvent(QEvent*) {
  opacity_ = 0;
  hot_ = 0;
  update();
}

void PreviewZoomStrip::mouseMoveEvent(QMouseEvent* e) {
  QPoint p = e->position().toPoint();
  int hot = ZoomOutRect().contains(p) ? -1 : (ZoomInRect().contains(p) ? 1 : 0);
  if (hot != hot_) {
    hot_ = hot;
    update();
  }
}

void PreviewZoomStrip::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  QPoint p = e->position().toPoint();
  if (ZoomOutRect().contains(p))
    emit zoomOutClicked();
  else if (ZoomInRect().contains(p))
    emit zoomInClicked();
  else if (rect().contains(p))
    emit resetClicked();
}

void PreviewZoomStrip::paintEvent(QPaintEvent*) {
  if (opacity_ <= 0) return;
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setOpacity(opacity_);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(17, 24, 39, 235));
  p.drawRoundedRect(QRectF(rect()), kHeight / 2.0, kHeight / 2.0);
  QColor rest = theme::Argb(theme::kText), hot = Qt::white;
  PaintIcon(p, Icon::Minus, QRectF(8, 4, 18, 18), hot_ == -1 ? hot : rest);
  PaintIcon(p, Icon::Plus, QRectF(kWidth - 26, 4, 18, 18), hot_ == 1 ? hot : rest);
  p.setPen(hot_ == 0 ? hot : rest);
  p.setFont(theme::UiFont(12, QFont::DemiBold));
  p.drawText(QRectF(30, 0, kWidth - 60, kHeight), Qt::AlignCenter, text_);
}

// --- PreviewView ---

PreviewView::PreviewView(QWidget* parent) : QWidget(parent) {
  setFixedSize(kSize, kSize);
  setCursor(Qt::SizeAllCursor);
  strip_ = new PreviewZoomStrip(this);
  strip_->move((kSize - PreviewZoomStrip::kWidth) / 2, kSize - PreviewZoomStrip::kHeight - 8);

  // The inner shadow: the band between the rounded preview and a rectangle
  // grown by 50, blurred, offset 4 right and 4 down, kept inside the preview.
  const int pad = 60;
  QImage band(kSize + 2 * pad, kSize + 2 * pad, QImage::Format_ARGB32_Premultiplied);
  band.fill(Qt::transparent);
  {
    QPainter bp(&band);
    bp.setRenderHint(QPainter::Antialiasing);
    QPainterPath outer;
    outer.addRect(QRectF(pad - 50, pad - 50, kSize + 100, kSize + 100));
    outer = outer.subtracted(Rounded(QRectF(pad, pad, kSize, kSize)));
    bp.fillPath(outer, Qt::black);
  }
  BlurAlpha(band, 3);  // three box passes of radius 3 ~ a blur of 7
  shadow_ = band.copy(pad - 4, pad - 4, kSize, kSize);
}

void PreviewView::SetBitmap(const QImage& img) {
  bitmap_ = img;
  update();
}

void PreviewView::SetPercent(int value, bool visible) {
  percent_ = value;
  percentVisible_ = visible;
  update();
}

void PreviewView::SetRingPercent(int value) {
  if (ring_ == value) return;
  ring_ = value;
  update();
}

void PreviewView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  QRectF all(0, 0, width(), height());
  QPainterPath round = Rounded(all);
  p.fillRect(all, Qt::white);
  if (!bitmap_.isNull()) {
    // Scaled to fit, aspect kept: intermediate snapshots come at source size.
    QSizeF s = QSizeF(bitmap_.size()).scaled(all.size(), Qt::KeepAspectRatio);
    QRectF target((all.width() - s.width()) / 2, (all.height() - s.height()) / 2, s.width(), s.height());
    p.drawImage(target, bitmap_);
  } else {
    p.fillRect(all, theme::Argb(theme::kWorkspace));
  }
  p.save();
  p.setClipPath(round);
  p.drawImage(0, 0, shadow_);
  p.restore();
  QPainterPath outside;
  outside.addRect(all);
  p.fillPath(outside.subtracted(round), theme::Argb(theme::kPanel));

  if (percentVisible_) {
    QFont f = theme::UiFont(14, QFont::Bold);
    p.setFont(f);
    QString t = QString::number(percent_) + "%";
    QFontMetricsF fm(f);
    QPointF c = all.center();
    double lh = fm.height();
    double radius = lh / 2 + 10;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(17, 24, 39, 170));
    p.drawEllipse(c, radius + 4, radius + 4);
    if (ring_ > 0 && ring_ < 100) {
      p.setPen(QPen(theme::Argb(theme::kAccent), 3, Qt::SolidLine, Qt::RoundCap));
      p.setBrush(Qt::NoBrush);
      // From the top, clockwise.
      p.drawArc(QRectF(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius), 90 * 16,
                -int(std::lround(ring_ * 3.6 * 16)));
    }
    p.setPen(Qt::white);
    p.drawText(QRectF(c.x() - 40, c.y() - lh / 2, 80, lh), Qt::AlignCenter, t);
  }
}

void PreviewView::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  dragging_ = true;
  emit pressed(e->position());
}

void PreviewView::mouseMoveEvent(QMouseEvent* e) {
  if (dragging_ && (e->buttons() & Qt::LeftButton)) emit dragged(e->position());
}

void PreviewView::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || !dragging_) return;
  dragging_ = false;
  emit released();
}

void PreviewView::wheelEvent(QWheelEvent* e) {
  int d = e->angleDelta().y();
  if (d != 0) emit wheeled(d);
  e->accept();
}

}  // namespace lq::studio
