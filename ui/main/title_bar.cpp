#include "ui/main/title_bar.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "ui/main/marquee_label.h"
#include "ui/main/theme.h"
#include "ui/main/view_math.h"

namespace lq::studio {

// --- TitleButton ---

TitleButton::TitleButton(Icon icon, QColor hoverFill, bool roundTopRight, QWidget* parent)
    : QAbstractButton(parent), icon_(icon), hoverFill_(hoverFill), roundTopRight_(roundTopRight) {
  setFixedSize(39, 39);
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_Hover);
}

void TitleButton::SetIcon(Icon icon) {
  icon_ = icon;
  update();
}

void TitleButton::enterEvent(QEnterEvent*) {
  hovered_ = true;
  update();
}

void TitleButton::leaveEvent(QEvent*) {
  hovered_ = false;
  update();
}

void TitleButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  QColor fill = hovered_ ? hoverFill_ : theme::Argb(theme::kTitleButtonRest);
  QPainterPath shape;
  if (roundTopRight_) {
    // Only the corner that meets the window's rounded corner is rounded.
    const double r = 15, w = width(), h = height();
    shape.moveTo(0, 0);
    shape.lineTo(w - r, 0);
    shape.arcTo(QRectF(w - 2 * r, 0, 2 * r, 2 * r), 90, -90);
    shape.lineTo(w, h);
    shape.lineTo(0, h);
    shape.closeSubpath();
  } else {
    shape.addRect(rect());
  }
  p.fillPath(shape, fill);
  QColor ic = hovered_ ? QColor(Qt::white) : theme::Argb(theme::kText);
  PaintIcon(p, icon_, QRectF(10.5, 10.5, 18, 18), ic);
}

// --- ProgressPill ---

ProgressPill::ProgressPill(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  hide();
  setGeometry(kX, kY, 0, kHeight);
  for (auto* a : {&widthAnim_, &labelXAnim_}) {
    a->setDuration(200);
    a->setEasingCurve(QEasingCurve::Linear);
  }
  labelFade_.setDuration(1300);
  connect(&widthAnim_, &QVariantAnimation::valueChanged, this,
          [this](const QVariant& v) { resize(int(std::lround(v.toDouble())), kHeight); });
  connect(&labelXAnim_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
    labelX_ = v.toDouble();
    update();
  });
  connect(&labelFade_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
    labelOpacity_ = v.toDouble();
    update();
  });
}

void ProgressPill::HidePill() {
  widthAnim_.stop();
  labelXAnim_.stop();
  labelFade_.stop();
  hide();
  resize(0, kHeight);
  value_ = -1;
  target_ = 0;
  labelShown_ = false;
  labelOpacity_ = 1;
  labelText_.clear();
}

void ProgressPill::SetValue(int value) {
  if (value < 0 || value > 100) {
    HidePill();
    return;
  }
  if (value == value_) return;
  value_ = value;
  if (isHidden()) {
    resize(0, kHeight);
    show();
    raise();
  }
  double available = parentWidget() ? parentWidget()->width() : 0;
  target_ = ProgressPillWidth(available, value);
  if (target_ >= kPillLabelMinWidth) {
    labelText_ = QString::number(value) + "%";
    if (!labelShown_) {
      labelOpacity_ = 0;
      labelX_ = target_ - kLabelWidth;
      labelShown_ = true;
      labelFade_.stop();
      labelFade_.setStartValue(0.0);
      labelFade_.setEndValue(1.0);
      labelFade_.start();
    }
    labelXAnim_.stop();
    labelXAnim_.setStartValue(labelX_);
    labelXAnim_.setEndValue(target_ - kLabelWidth);
    labelXAnim_.start();
  } else {
    labelXAnim_.stop();
    labelFade_.stop();
    labelShown_ = false;
  }
  widthAnim_.stop();
  widthAnim_.setStartValue(double(width()));
  widthAnim_.setEndValue(target_);
  widthAnim_.start();
}

void ProgressPill::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  QColor fill(Qt::white);
  fill.setAlphaF(0.5);
  p.setBrush(fill);
  p.drawRoundedRect(QRectF(0, 0, width(), height()), 12.5, 12.5);
  if (!labelShown_) return;
  p.setOpacity(labelOpacity_);
  p.setFont(theme::UiFont(13, QFont::DemiBold));
  QRectF lr(labelX_, 0, kLabelWidth, height());
  p.setPen(QColor(0, 0, 0, 110));
  p.drawText(lr.translated(1, 1), Qt::AlignCenter, labelText_);
  p.setPen(Qt::white);
  p.drawText(lr, Qt::AlignCenter, labelText_);
}

// --- TitleBar ---

TitleBar::TitleBar(QWidget* parent) : QWidget(parent) {
  setFixedHeight(kHeight);
  caption_ = new MarqueeLabel("  Lumaquill 4.20", this);
  caption_->setFont(theme::UiFont(14, QFont::Medium));
  caption_->setToolTip("Lumaquill 4.20");
  caption_->setAttribute(Qt::WA_TransparentForMouseEvents);
  min_ = new TitleButton(Icon::Minimise, theme::Argb(theme::kTitleButtonHover), false, this);
  max_ = new TitleButton(Icon::Maximise, theme::Argb(theme::kTitleButtonHover), false, this);
  close_ = new TitleButton(Icon::Close, theme::Argb(theme::kCloseHover), true, this);
  pill_ = new ProgressPill(this);
}

void TitleBar::SetMaximised(bool on) { max_->SetIcon(on ? Icon::Restore : Icon::Maximise); }

void TitleBar::resizeEvent(QResizeEvent*) {
  // The close button's rounded corner meets the window's corner.
  close_->move(width() - close_->width(), 0);
  max_->move(close_->x() - 40, 0);
  min_->move(max_->x() - 40, 0);
  caption_->setGeometry(40, 0, std::max(10, min_->x() - 50), kHeight);
}

void TitleBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  PaintIcon(p, Icon::Logo, QRectF(14, 8.5, 22, 22), Qt::white);
}

void TitleBar::mousePressEvent(QMouseEvent* e) { emit pressed(e); }
void TitleBar::mouseReleaseEvent(QMouseEvent* e) { emit released(e); }
void TitleBar::mouseMoveEvent(QMouseEvent* e) { emit moved(e); }
void TitleBar::mouseDoubleClickEvent(QMouseEvent*) { emit doubleClicked(); }

}  // namespace lq::studio
