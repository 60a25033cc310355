#include "ui/main/tool_bar.h"

#include <QMouseEvent>
#include <QPainter>

#include "ui/main/theme.h"
#include "ui/main/ui_text.h"

namespace lq::studio {

ToolBar::ToolBar(QWidget* parent) : QWidget(parent) {
  setFixedHeight(kHeight);
  menu_ = Make(Icon::Menu, "Menu");
  open_ = Make(Icon::Open, "Open image");
  save_ = Make(Icon::Save, "Save image");
  copy_ = Make(Icon::Copy, "Copy to clipboard");
  paste_ = Make(Icon::Paste, "Paste from clipboard");
  undo_ = Make(Icon::Undo, "Undo");
  redo_ = Make(Icon::Redo, "Redo");
  split_ = Make(Icon::Split, "Split view on");
  closeProgram_ = Make(Icon::Power, "Close Lumaquill");
  closeProgram_->SetIconColor(theme::Argb(theme::kText), theme::Argb(theme::kCloseProgramHover));
  zoomOut_ = Make(Icon::ZoomOut, "Zoom out");
  zoom100_ = Make(Icon::Zoom100, "100% zoom");
  zoomIn_ = Make(Icon::ZoomIn, "Zoom in");
  // Holding a zoom button repeats its step every 50 ms.
  for (IconButton* b : {zoomOut_, zoomIn_}) {
    b->setAutoRepeat(true);
    b->setAutoRepeatDelay(300);
    b->setAutoRepeatInterval(50);
  }
  zoom100_->installEventFilter(this);
  zoomLabel_ = new QLabel("100%", this);
  zoomLabel_->setFont(theme::UiFont(14, QFont::DemiBold));
  zoomLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  zoomLabel_->setStyleSheet(QString("color: %1;").arg(theme::Argb(theme::kText).name()));
  zoomLabel_->setFixedSize(86, kButton);

  // Left group, with gaps between related commands.
  int x = 8;
  auto place = [&](IconButton* b) {
    b->move(x, (kHeight - kButton) / 2);
    x += kButton + 6;
  };
  auto gap = [&] {
    separators_.push_back(x + 2);
    x += 10;
  };
  place(menu_);
  gap();
  for (IconButton* b : {open_, save_, copy_, paste_}) place(b);
  gap();
  place(undo_);
  place(redo_);
  gap();
  place(split_);
  gap();
  place(closeProgram_);
}

IconButton* ToolBar::Make(Icon icon, const char* hint) {
  auto* b = new IconButton(icon, Tr(hint), this);
  b->setFixedSize(kButton, kButton);
  b->SetHoverFill(theme::Argb(theme::kRow));
  return b;
}

void ToolBar::SetSplitState(bool on) {
  split_->SetChecked(on);
  split_->setToolTip(Tr(on ? "Split view off" : "Split view on"));
}

void ToolBar::PlaceZoomControls(bool systemMaximised) {
  systemMaximised_ = systemMaximised;
  int y = (kHeight - kButton) / 2;
  zoomIn_->move(width() - (systemMaximised ? 30 : 50), y);
  zoom100_->move(zoomIn_->x() - 44, y);
  zoomOut_->move(zoom100_->x() - 44, y);
  zoomLabel_->move(zoomOut_->x() - 94, y);
}

void ToolBar::resizeEvent(QResizeEvent*) { PlaceZoomControls(systemMaximised_); }

void ToolBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(17, 24, 39, 150));
  p.drawRoundedRect(QRectF(rect()).adjusted(0, 2, 0, -2), 12, 12);
  p.setPen(QPen(QColor(255, 255, 255, 40), 1));
  for (int sx : separators_) p.drawLine(QPointF(sx + 0.5, 12), QPointF(sx + 0.5, kHeight - 12));
}

bool ToolBar::eventFilter(QObject* o, QEvent* e) {
  // "100% zoom": the left button shows full size, the right button fits.
  if (o == zoom100_ && e->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(e)->button() == Qt::RightButton) {
    emit zoom100RightClicked();
    return true;
  }
  return QWidget::eventFilter(o, e);
}

}  // namespace lq::studio
