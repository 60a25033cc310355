// The on/off switch of the effect panel: a rounded track 38 x 18 with a round
// thumb that slides in 50 ms. The thumb's colour is the switch's state.
#pragma once

#include <QVariantAnimation>
#include <QWidget>

namespace lq::studio {

class ToggleSwitch : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 38;
  static constexpr int kHeight = 18;
  static constexpr int kThumbWidth = 18;
  static constexpr int kThumbHeight = 16;

  explicit ToggleSwitch(bool on, QWidget* parent = nullptr);

  bool isOn() const { return on_; }
  // Changes the state (animated) without emitting toggled.
  void SetOn(bool on);
  QColor ThumbColor() const;
  double ThumbX() const { return thumbX_; }
  QSize sizeHint() const override { return QSize(kWidth, kHeight); }

 signals:
  void toggled(bool on);

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;

 private:
  bool on_;
  double thumbX_;
  QVariantAnimation anim_;
};

}  // namespace lq::studio
