// The window's own title bar: logo, caption, the progress pill of full runs
// and the minimise / maximise / close buttons.
#pragma once

#include <QAbstractButton>
#include <QVariantAnimation>
#include <QWidget>

#include "ui/main/icons.h"

namespace lq::studio {

class MarqueeLabel;

// 39 x 39 window button: practically transparent at rest, filled on hover.
class TitleButton : public QAbstractButton {
  Q_OBJECT

 public:
  TitleButton(Icon icon, QColor hoverFill, bool roundTopRight, QWidget* parent);
  void SetIcon(Icon icon);
  bool hovered() const { return hovered_; }
  QSize sizeHint() const override { return QSize(39, 39); }

 protected:
  void paintEvent(QPaintEvent*) override;
  void enterEvent(QEnterEvent*) override;
  void leaveEvent(QEvent*) override;

 private:
  Icon icon_;
  QColor hoverFill_;
  bool roundTopRight_;
  bool hovered_ = false;
};

// The progress display of full runs: a translucent white pill that grows with
// the percentage and shows it once there is room.
class ProgressPill : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kX = 12, kY = 3, kHeight = 25;
  static constexpr int kLabelWidth = 60;

  explicit ProgressPill(QWidget* parent);

  // 0..100 shows that percent; anything else hides the pill.
  void SetValue(int value);
  int value() const { return value_; }
  double targetWidth() const { return target_; }
  bool labelShown() const { return labelShown_; }
  QString labelText() const { return labelText_; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  void HidePill();

  int value_ = -1;
  double target_ = 0;
  bool labelShown_ = false;
  QString labelText_;
  double labelX_ = 0;
  double labelOpacity_ = 1;
  QVariantAnimation widthAnim_, labelXAnim_, labelFade_;
};

class TitleBar : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kHeight = 39;

  explicit TitleBar(QWidget* parent);

  ProgressPill* pill() const { return pill_; }
  TitleButton* minButton() const { return min_; }
  TitleButton* maxButton() const { return max_; }
  TitleButton* closeButton() const { return close_; }
  void SetMaximised(bool on);

 signals:
  void pressed(QMouseEvent* e);
  void released(QMouseEvent* e);
  void moved(QMouseEvent* e);
  void doubleClicked();

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;

 private:
  MarqueeLabel* caption_;
  ProgressPill* pill_;
  TitleButton *min_, *max_, *close_;
};

}  // namespace lq::studio
