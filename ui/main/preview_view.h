// The 225 x 225 preview: shows the panel bitmap scaled to fit, rounds its
// corners, shows a running preview's percentage in a ring, and carries the
// zoom strip that appears under the pointer.
#pragma once

#include <QImage>
#include <QWidget>

namespace lq::studio {

class PreviewView;

// The strip over the preview: zoom-out icon, zoom percentage, zoom-in icon.
class PreviewZoomStrip : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 112, kHeight = 26;
  explicit PreviewZoomStrip(QWidget* parent);
  void SetZoomText(const QString& text);
  QString zoomText() const { return text_; }
  double opacity() const { return opacity_; }
  QRect ZoomOutRect() const { return QRect(0, 0, 30, kHeight); }
  QRect ZoomInRect() const { return QRect(kWidth - 30, 0, 30, kHeight); }

 signals:
  void zoomOutClicked();
  void zoomInClicked();
  void resetClicked();
  void entered();

 protected:
  void paintEvent(QPaintEvent*) override;
  void enterEvent(QEnterEvent*) override;
  void leaveEvent(QEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;

 private:
  QString text_ = "100%";
  double opacity_ = 0;
  int hot_ = 0;  // -1 zoom out, 1 zoom in, 0 the middle
};

class PreviewView : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kSize = 225;

  explicit PreviewView(QWidget* parent);

  void SetBitmap(const QImage& img);
  const QImage& bitmap() const { return bitmap_; }
  bool HasBitmap() const { return !bitmap_.isNull(); }
  // The percent label of a running preview: "N%", shown only when visible.
  void SetPercent(int value, bool visible);
  bool percentVisible() const { return percentVisible_; }
  // Progress for the ring; drawn while 0 < value < 100.
  void SetRingPercent(int value);
  PreviewZoomStrip* zoomStrip() const { return strip_; }

 signals:
  void pressed(QPointF pos);
  void dragged(QPointF pos);
  void released();
  void wheeled(int delta);

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void wheelEvent(QWheelEvent*) override;

 private:
  QImage bitmap_;
  QImage shadow_;  // inner shadow, made once
  int percent_ = 0;
  bool percentVisible_ = false;
  int ring_ = 0;
  bool dragging_ = false;
  PreviewZoomStrip* strip_;
};

}  // namespace lq::studio
