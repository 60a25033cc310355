#include "ui/main/tools_panel.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QVBoxLayout>

#include "engine/catalogue.h"
#include "ui/main/marquee_label.h"
#include "ui/main/theme.h"
#include "ui/main/ui_text.h"

namespace lq::studio {

namespace {

QLabel* Heading(const QString& text, QWidget* parent) {
  auto* l = new QLabel(text, parent);
  QFont f = theme::UiFont(12, QFont::Bold);
  f.setLetterSpacing(QFont::AbsoluteSpacing, 1.2);
  l->setFont(f);
  l->setStyleSheet(QString("color: %1;").arg(theme::Argb(theme::kTextDim).name()));
  l->setContentsMargins(4, 0, 0, 0);
  return l;
}

}  // namespace

// --- ToolRow ---

ToolRow::ToolRow(Icon icon, const QString& caption, QWidget* parent) : QWidget(parent), icon_(icon) {
  setFixedSize(kWidth, kHeight);
  setCursor(Qt::PointingHandCursor);
  setAttribute(Qt::WA_Hover);
  label_ = new MarqueeLabel(caption, this);
  label_->setFont(theme::UiFont(16));
  label_->setAttribute(Qt::WA_TransparentForMouseEvents);
  label_->setGeometry(44, 0, kWidth - 44 - 12, kHeight);
}

void ToolRow::SetCaption(const QString& text) { label_->setText(text); }

void ToolRow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(theme::Argb(hovered_ && isEnabled() ? theme::kRowHover : theme::kRow));
  p.drawRoundedRect(QRectF(rect()), 15, 15);
  QColor ic = theme::Argb(hovered_ && isEnabled() ? theme::kTextHover : theme::kText);
  if (!isEnabled()) ic.setAlphaF(0.4);
  PaintIcon(p, icon_, QRectF(14, (kHeight - 20) / 2.0, 20, 20), ic);
}

void ToolRow::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) emit clicked();
}

void ToolRow::enterEvent(QEnterEvent*) {
  hovered_ = true;
  label_->SetHovered(isEnabled());
  update();
}

void ToolRow::leaveEvent(QEvent*) {
  hovered_ = false;
  label_->SetHovered(false);
  update();
}

void ToolRow::changeEvent(QEvent* e) {
  if (e->type() == QEvent::EnabledChange) {
    setCursor(isEnabled() ? Qt::PointingHandCursor : Qt::ArrowCursor);
    update();
  }
  QWidget::changeEvent(e);
}

// --- EffectGroup ---

EffectGroup::EffectGroup(int category, Icon icon, const QString& title, QWidget* parent)
    : QWidget(parent), category_(category), icon_(icon) {
  for (const EffectInfo& e : Catalogue())
    if (e.number / 100 == category) effects_.push_back(e.number);
  setMouseTracking(true);
  setAttribute(Qt::WA_Hover);
  setFixedWidth(kWidth);
  header_ = new MarqueeLabel(title, this, MarqueeLabel::Kind::Header);
  header_->setFont(theme::UiFont(15, QFont::DemiBold));
  header_->setAttribute(Qt::WA_TransparentForMouseEvents);
  setFixedHeight(sizeHint().height());
}

QSize EffectGroup::sizeHint() const {
  int h = 7 + kHeaderHeight + (expanded_ ? kItemHeight * int(effects_.size()) + 4 : 0) + 5;
  return QSize(kWidth, h);
}

void EffectGroup::resizeEvent(QResizeEvent*) { header_->setGeometry(40, 7, width() - 40 - 30, kHeaderHeight); }

void EffectGroup::SetExpanded(bool on) {
  if (on == expanded_) return;
  expanded_ = on;
  hovered_ = -1;
  setFixedHeight(sizeHint().height());
  update();
}

void EffectGroup::SetSelected(int selected) {
  selected_ = selected;
  update();
}

QString EffectGroup::ItemText(int index) const {
  const EffectInfo* e = FindEffect(effects_[size_t(index)]);
  QString bullet = effects_[size_t(index)] == selected_ ? QString::fromUtf8("\u25B6") : QString::fromUtf8("\u2023");
  return bullet + " " + Tr(e->listName);
}

QRect EffectGroup::ItemRect(int index) const {
  return QRect(8, 7 + kHeaderHeight + 2 + index * kItemHeight, width() - 16, kItemHeight);
}

int EffectGroup::ItemAt(QPoint p) const {
  if (!expanded_) return -1;
  for (int i = 0; i < int(effects_.size()); ++i)
    if (ItemRect(i).contains(p)) return i;
  return -1;
}

void EffectGroup::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(theme::Argb(theme::kRow));
  p.drawRoundedRect(QRectF(rect()), 15, 15);
  bool headerHot = underMouse() && mapFromGlobal(QCursor::pos()).y() < 7 + kHeaderHeight;
  QColor hc = theme::Argb(headerHot ? theme::kTextHover : theme::kText);
  header_->SetHovered(headerHot);
  PaintIcon(p, icon_, QRectF(14, 7 + 2, 20, 20), hc);
  // Chevron: down when open, right when closed.
  p.save();
  p.setPen(QPen(hc, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  QPointF c(width() - 18, 7 + kHeaderHeight / 2.0);
  if (expanded_)
    p.drawPolyline(QPolygonF({c + QPointF(-4, -2), c + QPointF(0, 2), c + QPointF(4, -2)}));
  else
    p.drawPolyline(QPolygonF({c + QPointF(-2, -4), c + QPointF(2, 0), c + QPointF(-2, 4)}));
  p.restore();
  if (!expanded_) return;
  p.setFont(theme::UiFont(15));
  for (int i = 0; i < int(effects_.size()); ++i) {
    QRect r = ItemRect(i);
    bool sel = effects_[size_t(i)] == selected_;
    if (i == hovered_ || sel) {
      p.setPen(Qt::NoPen);
      p.setBrush(i == hovered_ ? theme::Argb(theme::kRowHover) : QColor(255, 255, 255, 18));
      p.drawRoundedRect(QRectF(r).adjusted(0, 1, 0, -1), 8, 8);
    }
    p.setPen(theme::Argb(i == hovered_ || sel ? theme::kTextHover : theme::kText));
    QString t = p.fontMetrics().elidedText(ItemText(i), Qt::ElideRight, r.width() - 20);
    p.drawText(r.adjusted(12, 0, -8, 0), Qt::AlignLeft | Qt::AlignVCenter, t);
  }
}

void EffectGroup::mouseMoveEvent(QMouseEvent* e) {
  int h = ItemAt(e->position().toPoint());
  if (h != hovered_) hovered_ = h;
  setCursor(h >= 0 || e->position().y() < 7 + kHeaderHeight ? Qt::PointingHandCursor : Qt::ArrowCursor);
  update();
}

void EffectGroup::leaveEvent(QEvent*) {
  hovered_ = -1;
  header_->SetHovered(false);
  update();
}

void EffectGroup::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  QPoint pos = e->position().toPoint();
  if (pos.y() < 7 + kHeaderHeight) {
    emit headerClicked(category_);
    return;
  }
  int i = ItemAt(pos);
  if (i >= 0) emit effectClicked(effects_[size_t(i)]);
}

// --- ToolsPanel ---

ToolsPanel::ToolsPanel(QWidget* parent) : QScrollArea(parent) {
  setFrameShape(QFrame::NoFrame);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setWidgetResizable(true);
  setFixedWidth(ToolRow::kWidth + 20);
  content_ = new QWidget(this);
  content_->setObjectName("toolsContent");
  auto* v = new QVBoxLayout(content_);
  v->setContentsMargins(10, 12, 10, 15);
  v->setSpacing(5);

  v->addWidget(Heading(Tr("TOOLS"), content_));
  v->addSpacing(2);
  const struct {
    Icon icon;
    const char* caption;
  } rows[ToolCount] = {{Icon::Crop, "Crop"},       {Icon::Resize, "Resize"},   {Icon::RotateLeft, "Rotate left"},
                       {Icon::RotateRight, "Rotate right"}, {Icon::Text, "Add text"},
                       {Icon::Texture, "Add texture"},      {Icon::Frame, "Add a frame"}};
  for (int i = 0; i < ToolCount; ++i) {
    tools_[i] = new ToolRow(rows[i].icon, Tr(rows[i].caption), content_);
    connect(tools_[i], &ToolRow::clicked, this, [this, i] { emit toolClicked(i); });
    v->addWidget(tools_[i]);
  }

  v->addSpacing(12);
  v->addWidget(Heading(Tr("ARTISTIC FILTERS"), content_));
  v->addSpacing(2);
  const struct {
    int category;
    Icon icon;
    const char* title;
  } groups[] = {{1, Icon::Sketch, "      Sketch && Drawing"},
                {2, Icon::Ink, "      Pen && Ink"},
                {3, Icon::Painting, "      Painting"},
                {4, Icon::PhotoLab, "      Photo lab"}};
  for (const auto& g : groups) {
    auto* group = new EffectGroup(g.category, g.icon, Caption(g.title), content_);
    connect(group, &EffectGroup::headerClicked, this, [this, group](int c) {
      // One group open at a time; clicking the open one closes it.
      if (group->expanded())
        group->SetExpanded(false);
      else
        ExpandOnly(c);
    });
    connect(group, &EffectGroup::effectClicked, this, &ToolsPanel::effectClicked);
    groups_.push_back(group);
    v->addWidget(group);
  }

  v->addStretch(1);
  v->addSpacing(15);
  manualBrush_ = new ToolRow(Icon::Brush, Tr("Manual brush"), content_);
  defaultImage_ = new ToolRow(Icon::Picture, Tr("Default Image"), content_);
  connect(manualBrush_, &ToolRow::clicked, this, &ToolsPanel::manualBrushClicked);
  connect(defaultImage_, &ToolRow::clicked, this, &ToolsPanel::defaultImageClicked);
  v->addWidget(manualBrush_);
  v->addSpacing(5);
  v->addWidget(defaultImage_);
  setWidget(content_);
  setStyleSheet(QString("QScrollArea { background: transparent; } #toolsContent { background: transparent; }"
                        "QScrollBar:vertical { background: transparent; width: 6px; margin: 0; }"
                        "QScrollBar::handle:vertical { background: #4B5563; border-radius: 3px; min-height: 30px; }"
                        "QScrollBar::add-line, QScrollBar::sub-line { height: 0; }"
                        "QScrollBar::add-page, QScrollBar::sub-page { background: none; }"));
  viewport()->setAutoFillBackground(false);
}

void ToolsPanel::ExpandOnly(int category) {
  for (EffectGroup* g : groups_) g->SetExpanded(g->category() == category);
}

void ToolsPanel::SetSelectedEffect(int number) {
  for (EffectGroup* g : groups_) g->SetSelected(g->category() == number / 100 ? number : -1);
}

std::vector<MarqueeLabel*> ToolsPanel::MarqueeLabels() const {
  std::vector<MarqueeLabel*> out;
  for (ToolRow* r : tools_) out.push_back(r->label());
  return out;
}

std::vector<MarqueeLabel*> ToolsPanel::GroupHeaders() const {
  std::vector<MarqueeLabel*> out;
  for (EffectGroup* g : groups_) out.push_back(g->header());
  return out;
}

}  // namespace lq::studio
