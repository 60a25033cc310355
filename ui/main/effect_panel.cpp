#include "ui/main/effect_panel.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/main/icons.h"
#include "ui/main/marquee_label.h"
#include "ui/main/preview_view.h"
#include "ui/main/theme.h"
#include "ui/main/toggle_switch.h"
#include "ui/main/ui_text.h"

namespace lq::studio {

namespace {

constexpr int kPanelWidth = 255;

QString HeadingStyle() { return QString("color: %1;").arg(theme::Argb(theme::kTextDim).name()); }

QFont HeadingFont() {
  QFont f = theme::UiFont(12, QFont::Bold);
  f.setLetterSpacing(QFont::AbsoluteSpacing, 1.2);
  return f;
}

QPushButton* SecondaryButton(const QString& text, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setFont(theme::UiFont(14));
  b->setFixedSize(225, 32);
  b->setCursor(Qt::PointingHandCursor);
  b->setFocusPolicy(Qt::NoFocus);
  b->setStyleSheet(QString("QPushButton { background: %1; color: %2; border: none; border-radius: 10px; }"
                           "QPushButton:hover { background: %3; color: white; }"
                           "QPushButton:pressed { background: %4; }")
                       .arg(theme::Argb(theme::kRow).name(), theme::Argb(theme::kText).name(),
                            theme::Argb(theme::kRowHover).name(), theme::Argb(theme::kAccentPressed).name()));
  return b;
}

}  // namespace

// --- ApplyButton ---

ApplyButton::ApplyButton(const QString& text, QWidget* parent) : QAbstractButton(parent) {
  setText(text);
  setFixedSize(sizeHint());
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_Hover);
}

void ApplyButton::enterEvent(QEnterEvent*) {
  hovered_ = true;
  update();
}

void ApplyButton::leaveEvent(QEvent*) {
  hovered_ = false;
  update();
}

void ApplyButton::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && !shifted_) {
    shifted_ = true;
    shadowDistance_ -= 2;
    shadowOpacity_ = 0.7;
  }
  QAbstractButton::mousePressEvent(e);
}

void ApplyButton::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && shifted_) {
    shifted_ = false;
    shadowDistance_ += 2;
    shadowOpacity_ = 1;
  }
  QAbstractButton::mouseReleaseEvent(e);
}

void ApplyButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  QRectF face(0, 0, width() - 6, height() - 6);
  if (shifted_) face.translate(2, 2);
  // Soft shadow: a few widening translucent layers below the face.
  p.setPen(Qt::NoPen);
  for (int i = 3; i >= 1; --i) {
    QColor c(0, 0, 0, int(38 * shadowOpacity_ / i));
    p.setBrush(c);
    QRectF s = face.translated(shadowDistance_ * 0.5, shadowDistance_).adjusted(-i, -i + 1, i, i);
    p.drawRoundedRect(s, 12 + i, 12 + i);
  }
  QColor fill = theme::Argb(isDown() ? theme::kAccentPressed : theme::kAccent);
  if (hovered_ && !isDown()) fill = fill.lighter(110);
  if (!isEnabled()) fill.setAlphaF(0.5);
  p.setBrush(fill);
  p.drawRoundedRect(face, 12, 12);
  p.setPen(Qt::white);
  p.setFont(theme::UiFont(16, QFont::DemiBold));
  p.drawText(face, Qt::AlignCenter, text());
}

// --- FadingIcon ---

FadingIcon::FadingIcon(int iconKind, const QString& hint, QWidget* parent)
    : QWidget(parent), icon_(iconKind), fade_(this, "opacity") {
  setFixedSize(16, 16);
  setToolTip(hint);
  setCursor(Qt::PointingHandCursor);
  fade_.setStartValue(1.0);
  fade_.setEndValue(0.0);
  // 3 s wait, then 3 s fade: the wait is the first half of a 6 s animation.
  fade_.setDuration(6000);
  fade_.setKeyValueAt(0.5, 1.0);
  connect(&fade_, &QPropertyAnimation::finished, this, [this] {
    if (opacity_ <= 0) hide();
  });
  hide();
}

void FadingIcon::setOpacity(double o) {
  opacity_ = o;
  update();
}

void FadingIcon::Reveal() {
  fade_.stop();
  if (opacity_ < 1) setOpacity(1);
  show();
}

void FadingIcon::StartFade() {
  if (!isVisible() || fading()) return;
  fade_.start();
}

void FadingIcon::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setOpacity(opacity_);
  PaintIcon(p, Icon(icon_), QRectF(rect()), underMouse() ? QColor(Qt::white) : theme::Argb(theme::kText));
}

void FadingIcon::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && opacity_ > 0) emit clicked();
}

// --- EffectPanel ---

EffectPanel::EffectPanel(QWidget* parent) : QWidget(parent) {
  setFixedWidth(kPanelWidth);
  auto* v = new QVBoxLayout(this);
  v->setContentsMargins(15, 12, 15, 15);
  v->setSpacing(0);

  auto* head = new QHBoxLayout();
  head->setContentsMargins(0, 0, 0, 0);
  paramsHeading_ = new HeadingLabel(Tr("PARAMETERS"), this);
  paramsHeading_->setFont(HeadingFont());
  paramsHeading_->setStyleSheet(HeadingStyle());
  paramsHeading_->setToolTip(Tr("Double-click to reset all parameters"));
  paramsHeading_->setMouseTracking(true);
  presetLoad_ = new FadingIcon(int(Icon::PresetLoad), Tr("Load parameter file"), this);
  presetSave_ = new FadingIcon(int(Icon::PresetSave), Tr("Save parameter file"), this);
  head->addWidget(paramsHeading_, 1);
  head->addWidget(presetLoad_);
  head->addSpacing(8);
  head->addWidget(presetSave_);
  v->addLayout(head);
  v->addSpacing(10);

  const QString sliderStyle =
      QString("QSlider { background: transparent; }"
              "QSlider::groove:horizontal { height: 4px; background: #374151; border-radius: 2px; }"
              "QSlider::sub-page:horizontal { background: %1; border-radius: 2px; }"
              "QSlider::handle:horizontal { background: white; width: 14px; height: 14px; margin: -5px 0;"
              " border-radius: 7px; }"
              "QSlider::handle:horizontal:hover { background: #E5E7EB; }")
          .arg(theme::Argb(theme::kAccent).name());
  for (int i = 0; i < 5; ++i) {
    auto* row = new QHBoxLayout();
    row->setContentsMargins(0, 0, 0, 0);
    labels_[size_t(i)] = new MarqueeLabel(QString(), this);
    labels_[size_t(i)]->setFont(theme::UiFont(14));
    labels_[size_t(i)]->setFixedHeight(20);
    percents_[size_t(i)] = new QLabel("0", this);
    percents_[size_t(i)]->setFont(theme::UiFont(14));
    percents_[size_t(i)]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    percents_[size_t(i)]->setFixedWidth(36);
    percents_[size_t(i)]->setStyleSheet(QString("color: %1;").arg(theme::Argb(theme::kText).name()));
    row->addWidget(labels_[size_t(i)], 1);
    row->addWidget(percents_[size_t(i)]);
    v->addLayout(row);
    auto* s = new QSlider(Qt::Horizontal, this);
    s->setRange(0, 100);
    s->setFixedHeight(22);
    s->setFocusPolicy(Qt::NoFocus);
    s->setCursor(Qt::PointingHandCursor);
    s->setStyleSheet(sliderStyle);
    sliders_[size_t(i)] = s;
    connect(s, &QSlider::valueChanged, this, [this, i](int val) {
      percents_[size_t(i)]->setText(QString::number(val));
      emit sliderMoved(i);
    });
    connect(s, &QSlider::sliderReleased, this, [this, i] { emit sliderReleased(i); });
    v->addWidget(s);
    v->addSpacing(i < 4 ? 6 : 14);
  }

  auto* prevHead = new QLabel(Tr("PREVIEW"), this);
  prevHead->setFont(HeadingFont());
  prevHead->setStyleSheet(HeadingStyle());
  v->addWidget(prevHead);
  v->addSpacing(8);
  preview_ = new PreviewView(this);
  v->addWidget(preview_, 0, Qt::AlignHCenter);

  updatePreview_ = SecondaryButton(Tr("Update preview"), this);
  updatePreview_->hide();
  connect(updatePreview_, &QAbstractButton::clicked, this, &EffectPanel::updatePreviewClicked);
  v->addWidget(updatePreview_);
  v->addSpacing(16);

  apply_ = new ApplyButton(Tr("Apply effect"), this);
  connect(apply_, &QAbstractButton::clicked, this, &EffectPanel::applyClicked);
  v->addWidget(apply_, 0, Qt::AlignHCenter);
  v->addSpacing(14);

  auto switchRow = [&](ToggleSwitch*& sw, MarqueeLabel*& cap, const char* text) {
    auto* row = new QHBoxLayout();
    row->setContentsMargins(2, 0, 0, 0);
    row->setSpacing(10);
    sw = new ToggleSwitch(true, this);
    cap = new MarqueeLabel(Tr(text), this);
    cap->setFont(theme::UiFont(14));
    cap->setFixedHeight(22);
    row->addWidget(sw, 0, Qt::AlignVCenter);
    row->addWidget(cap, 1);
    v->addLayout(row);
  };
  switchRow(erase_, eraseCaption_, "Erase background");
  v->addSpacing(8);
  switchRow(texture_, textureCaption_, "Add texture");
  v->addSpacing(14);

  brushPanel_ = new QWidget(this);
  auto* bv = new QVBoxLayout(brushPanel_);
  bv->setContentsMargins(0, 0, 0, 0);
  bv->setSpacing(6);
  loadBrushes_ = SecondaryButton(Tr("Load custom brushes"), brushPanel_);
  resetBrushes_ = SecondaryButton(Tr("Reset brushes"), brushPanel_);
  bv->addWidget(loadBrushes_);
  bv->addWidget(resetBrushes_);
  brushPanel_->hide();
  v->addWidget(brushPanel_);
  v->addStretch(1);
}

void EffectPanel::ShowEffect(int number, const TParameters& params) {
  for (int i = 0; i < 5; ++i) {
    labels_[size_t(i)]->setText(Tr(params.Name(i + 1)));
    sliders_[size_t(i)]->setValue(params.Value(i + 1));
    percents_[size_t(i)]->setText(QString::number(sliders_[size_t(i)]->value()));
  }
  const EffectInfo* info = FindEffect(number);
  bool erase = info && info->eraseBackground;
  erase_->setEnabled(erase);
  eraseCaption_->setEnabled(erase);
  brushPanel_->setVisible(info && info->customBrushes);
}

std::array<int, 5> EffectPanel::SliderValues() const {
  std::array<int, 5> v{};
  for (int i = 0; i < 5; ++i) v[size_t(i)] = sliders_[size_t(i)]->value();
  return v;
}

bool EffectPanel::AnySliderDown() const {
  for (QSlider* s : sliders_)
    if (s->isSliderDown()) return true;
  return false;
}

std::vector<MarqueeLabel*> EffectPanel::MarqueeLabels() const {
  std::vector<MarqueeLabel*> out(labels_.begin(), labels_.end());
  out.push_back(eraseCaption_);
  out.push_back(textureCaption_);
  return out;
}

void EffectPanel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(theme::Argb(theme::kPanel));
  p.drawRoundedRect(QRectF(rect()), 15, 15);
}

}  // namespace lq::studio
