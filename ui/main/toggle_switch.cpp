#include "ui/main/toggle_switch.h"

#include <QMouseEvent>
#include <QPainter>

#include "ui/main/theme.h"

namespace lq::studio {

namespace {
double ThumbTarget(bool on) { return on ? ToggleSwitch::kWidth - ToggleSwitch::kThumbWidth - 1 : 1; }
}  // namespace

ToggleSwitch::ToggleSwitch(bool on, QWidget* parent) : QWidget(parent), on_(on), thumbX_(on ? 20 : 1) {
  setFixedSize(kWidth, kHeight);
  setCursor(Qt::PointingHandCursor);
  anim_.setDuration(50);
  anim_.setEasingCurve(QEasingCurve::Linear);
  connect(&anim_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
    thumbX_ = v.toDouble();
    update();
  });
}

QColor ToggleSwitch::ThumbColor() const { return theme::Argb(on_ ? theme::kThumbOn : theme::kThumbOff); }

void ToggleSwitch::SetOn(bool on) {
  if (on == on_) return;
  on_ = on;
  anim_.stop();
  anim_.setStartValue(thumbX_);
  anim_.setEndValue(ThumbTarget(on));
  anim_.start();
  update();
}

void ToggleSwitch::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || !isEnabled()) return;
  SetOn(!on_);
  emit toggled(on_);
}

void ToggleSwitch::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  if (!isEnabled()) p.setOpacity(0.4);
  p.setPen(Qt::NoPen);
  p.setBrush(theme::Argb(on_ ? theme::kSwitchOn : theme::kSwitchOff));
  p.drawRoundedRect(QRectF(0, 0, kWidth, kHeight), 8, 8);
  p.setBrush(ThumbColor());
  p.drawEllipse(QRectF(thumbX_ + 1, (kHeight - kThumbHeight) / 2.0, kThumbWidth - 2, kThumbHeight));
}

}  // namespace lq::studio
