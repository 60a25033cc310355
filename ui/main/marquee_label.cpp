#include "ui/main/marquee_label.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "ui/main/theme.h"

namespace lq::studio {

MarqueeLabel::MarqueeLabel(const QString& text, QWidget* parent, Kind kind)
    : QWidget(parent),
      text_(text),
      kind_(kind),
      rest_(theme::Argb(theme::kText)),
      hover_(theme::Argb(theme::kTextHover)) {
  timer_.setInterval(kTickMs);
  connect(&timer_, &QTimer::timeout, this, &MarqueeLabel::Tick);
  setAttribute(Qt::WA_Hover);
}

void MarqueeLabel::setText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  updateGeometry();
  Setup();
  update();
}

void MarqueeLabel::setAlignment(Qt::Alignment a) {
  align_ = a;
  update();
}

void MarqueeLabel::SetColors(QColor rest, QColor hover) {
  rest_ = rest;
  hover_ = hover;
  update();
}

void MarqueeLabel::SetHovered(bool on) {
  if (hovered_ == on) return;
  hovered_ = on;
  update();
}

double MarqueeLabel::TextWidth() const { return QFontMetricsF(font()).horizontalAdvance(text_); }

QSize MarqueeLabel::sizeHint() const {
  QFontMetricsF fm(font());
  return QSize(int(std::ceil(fm.horizontalAdvance(text_))) + 2, int(std::ceil(fm.height())) + 2);
}

QSize MarqueeLabel::minimumSizeHint() const { return QSize(10, sizeHint().height()); }

void MarqueeLabel::Teardown() {
  timer_.stop();
  overflow_ = false;
  phase_ = Phase::WaitStart;
  waitCount_ = kWaitTicks;
  scrollPos_ = 0;
  update();
}

void MarqueeLabel::Setup() {
  Teardown();
  if (!isVisible()) return;
  double excess = TextWidth() - width();
  if (kind_ == Kind::Label) {
    overflow_ = excess > 1;
    if (overflow_) timer_.start();
  } else {
    overflow_ = excess > 2;
    if (excess > 14) timer_.start();
  }
}

void MarqueeLabel::Tick() {
  double range = TextWidth() - width();
  switch (phase_) {
    case Phase::WaitStart:
      if (--waitCount_ < 1) {
        phase_ = Phase::Scrolling;
        scrollPos_ = 0;
      }
      break;
    case Phase::Scrolling:
      scrollPos_ += kStep;
      if (scrollPos_ >= range) {
        scrollPos_ = std::max(0.0, range);
        phase_ = Phase::WaitEnd;
        waitCount_ = kWaitTicks;
      }
      break;
    case Phase::WaitEnd:
      if (--waitCount_ < 1) {
        scrollPos_ = 0;
        phase_ = Phase::WaitStart;
        waitCount_ = kWaitTicks;
      }
      break;
  }
  update();
}

void MarqueeLabel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::TextAntialiasing);
  QColor c = hovered_ ? hover_ : rest_;
  if (!isEnabled()) c.setAlphaF(0.4);
  p.setPen(c);
  p.setFont(font());
  if (overflow_) {
    p.setClipRect(rect());
    QRectF r(-scrollPos_, 0, TextWidth() + 4, height());
    p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, text_);
  } else {
    p.drawText(rect(), int(align_), text_);
  }
}

void MarqueeLabel::resizeEvent(QResizeEvent*) { Setup(); }

void MarqueeLabel::showEvent(QShowEvent*) { Setup(); }

void MarqueeLabel::changeEvent(QEvent* e) {
  if (e->type() == QEvent::FontChange) {
    updateGeometry();
    Setup();
  }
  QWidget::changeEvent(e);
}

void MarqueeLabel::enterEvent(QEnterEvent*) { SetHovered(true); }

void MarqueeLabel::leaveEvent(QEvent*) { SetHovered(false); }

}  // namespace lq::studio
