// A one-line label whose text scrolls sideways when it does not fit: it waits,
// slides to show the end, waits again and jumps back.
#pragma once

#include <QTimer>
#include <QWidget>

namespace lq::studio {

class MarqueeLabel : public QWidget {
  Q_OBJECT

 public:
  enum class Phase { WaitStart, Scrolling, WaitEnd };
  // Label: scrolls as soon as the text is more than 1 unit too wide.
  // Header: an effect-group header; its text is cut at the edge when it is up
  // to 14 units too wide and scrolls only beyond that.
  enum class Kind { Label, Header };

  static constexpr int kTickMs = 30;
  static constexpr int kWaitTicks = 60;
  static constexpr double kStep = 1.5;

  explicit MarqueeLabel(const QString& text = QString(), QWidget* parent = nullptr, Kind kind = Kind::Label);

  void setText(const QString& text);
  QString text() const { return text_; }
  void setAlignment(Qt::Alignment a);
  void SetColors(QColor rest, QColor hover);
  // Follow the pointer over another widget (a row the label sits in).
  void SetHovered(bool on);

  // Marquee state.
  bool IsScrolling() const { return timer_.isActive(); }
  Phase phase() const { return phase_; }
  double scrollPos() const { return scrollPos_; }
  double TextWidth() const;
  // Advances one tick (the timer calls it).
  void Tick();
  // Stops scrolling and shows the text from its start.
  void Teardown();
  // Sets it up again for the current text and width.
  void Setup();

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void changeEvent(QEvent*) override;
  void enterEvent(QEnterEvent*) override;
  void leaveEvent(QEvent*) override;
  void showEvent(QShowEvent*) override;

 private:
  QString text_;
  Kind kind_;
  Qt::Alignment align_ = Qt::AlignLeft | Qt::AlignVCenter;
  QColor rest_, hover_;
  bool hovered_ = false;
  bool overflow_ = false;  // text drawn from x = 0 without alignment
  QTimer timer_;
  Phase phase_ = Phase::WaitStart;
  int waitCount_ = kWaitTicks;
  double scrollPos_ = 0;
};

}  // namespace lq::studio
