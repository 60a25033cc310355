#include "ui/main/workspace_view.h"

#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "ui/main/icons.h"
#include "ui/main/image_qt.h"
#include "ui/main/theme.h"
#include "ui/main/ui_text.h"

namespace lq::studio {

namespace {
constexpr double kMinSelection = 20;
constexpr double kCornerReach = 10;
constexpr double kEdgeGrip = 6;
constexpr double kCornerGrip = 5;
}  // namespace

// --- DropZone ---

DropZone::DropZone(QWidget* parent) : QWidget(parent) {
  setFixedSize(420, 250);
  setMouseTracking(true);
  setAttribute(Qt::WA_Hover);
}

QRect DropZone::BrowseRect() const {
  QFont f = theme::UiFont(16, QFont::DemiBold);
  QFontMetrics fm(f);
  QString lead = Tr("Drop image here or") + " ";
  QString link = Tr("Browse files");
  QFontMetrics lfm(theme::UiFont(16));
  int total = lfm.horizontalAdvance(lead) + fm.horizontalAdvance(link);
  int x = (width() - total) / 2 + lfm.horizontalAdvance(lead);
  return QRect(x, 170, fm.horizontalAdvance(link), 26);
}

void DropZone::enterEvent(QEnterEvent*) {
  hovered_ = true;
  update();
}

void DropZone::leaveEvent(QEvent*) {
  hovered_ = false;
  linkHot_ = false;
  update();
}

void DropZone::mouseMoveEvent(QMouseEvent* e) {
  bool hot = BrowseRect().contains(e->position().toPoint());
  if (hot != linkHot_) {
    linkHot_ = hot;
    setCursor(hot ? Qt::PointingHandCursor : Qt::ArrowCursor);
    update();
  }
}

void DropZone::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && BrowseRect().contains(e->position().toPoint())) emit browseClicked();
}

void DropZone::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  QColor border = theme::Argb(hovered_ ? theme::kDropBorderHover : theme::kDropBorder);
  QPen pen(border, 2, Qt::DashLine, Qt::RoundCap);
  pen.setDashPattern({5, 4});
  p.setPen(pen);
  p.setBrush(QColor(17, 24, 39, 120));
  p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 18, 18);
  PaintIcon(p, Icon::Drop, QRectF((width() - 56) / 2.0, 36, 56, 56), border);
  p.setPen(theme::Argb(theme::kTextHover));
  p.setFont(theme::UiFont(22, QFont::DemiBold));
  p.drawText(QRectF(0, 110, width(), 40), Qt::AlignCenter, Tr("No image loaded"));
  QString lead = Tr("Drop image here or") + " ";
  QFont lf = theme::UiFont(16);
  QRect link = BrowseRect();
  p.setFont(lf);
  p.setPen(theme::Argb(theme::kText));
  int leadW = QFontMetrics(lf).horizontalAdvance(lead);
  p.drawText(QRect(link.x() - leadW, link.y(), leadW, link.height()), Qt::AlignLeft | Qt::AlignVCenter, lead);
  QFont bf = theme::UiFont(16, QFont::DemiBold);
  bf.setUnderline(linkHot_);
  p.setFont(bf);
  p.setPen(linkHot_ ? QColor(0x93, 0xC5, 0xFD) : QColor(0x60, 0xA5, 0xFA));
  p.drawText(link, Qt::AlignLeft | Qt::AlignVCenter, Tr("Browse files"));
}

// --- WorkspaceView ---

WorkspaceView::WorkspaceView(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setAcceptDrops(true);
  setFocusPolicy(Qt::NoFocus);
  zoomDebounce_.setInterval(150);
  zoomDebounce_.setSingleShot(true);
  connect(&zoomDebounce_, &QTimer::timeout, this, [this] {
    zooming_ = false;
    UpdateDivider();
    update();
  });

  cropBar_ = new QWidget(this);
  cropBar_->setObjectName("cropBar");
  cropBar_->setAttribute(Qt::WA_StyledBackground);
  cropBar_->setStyleSheet("#cropBar { background: rgba(17, 24, 39, 225); border-radius: 10px; }");
  auto* h = new QHBoxLayout(cropBar_);
  h->setContentsMargins(4, 3, 4, 3);
  h->setSpacing(4);
  cropApply_ = new IconButton(Icon::Check, Tr("Apply"), cropBar_);
  cropCancel_ = new IconButton(Icon::Cross, Tr("Cancel"), cropBar_);
  for (IconButton* b : {cropApply_, cropCancel_}) {
    b->setFixedSize(30, 30);
    b->SetHoverFill(theme::Argb(theme::kRowHover));
    h->addWidget(b);
  }
  cropBar_->setFixedSize(76, 36);
  cropBar_->hide();
  connect(cropApply_, &QAbstractButton::clicked, this, [this] { ApplyCrop(); });
  connect(cropCancel_, &QAbstractButton::clicked, this, [this] { CancelCrop(); });

  dropZone_ = new DropZone(this);
}

void WorkspaceView::SetImages(const Image& result, const Image& source) {
  result_ = result;
  source_ = source;
  dropZone_->setVisible(!result_);
  if (!result_) {
    if (cropping_) EndCropUi();
    split_ = false;
  }
  UpdateDivider();
  update();
}

void WorkspaceView::SetPlacement(const ViewPlacement& v) {
  view_ = v;
  view_.zoom = ClampZoom(v.zoom);
  UpdateDivider();
  update();
  emit zoomChanged(view_.zoom);
}

void WorkspaceView::CenterImageInPaintBox() {
  if (!result_) return;
  view_.pan = CenteredPan(size(), QSize(result_.width(), result_.height()), view_.zoom);
  UpdateDivider();
  update();
}

void WorkspaceView::FullSizeAndCenter() {
  view_.zoom = 1;
  if (result_) view_.pan = CenteredPan(size(), QSize(result_.width(), result_.height()), 1);
  UpdateDivider();
  update();
  emit zoomChanged(view_.zoom);
}

void WorkspaceView::CalculateBestFitAndCenter() {
  if (!result_) return;
  view_ = BestFit(size(), QSize(result_.width(), result_.height()));
  UpdateDivider();
  update();
  emit zoomChanged(view_.zoom);
}

void WorkspaceView::AfterZoomStep(float oldZoom, float newZoom, QPointF anchor) {
  view_.pan = AnchoredPan(anchor, view_.pan, oldZoom, newZoom);
  view_.zoom = newZoom;
  // Fast drawing until the steps pause.
  zooming_ = true;
  zoomDebounce_.start();
  UpdateDivider();
  update();
  emit zoomChanged(view_.zoom);
}

void WorkspaceView::ZoomIn() {
  if (!result_ || !source_) return;
  AfterZoomStep(view_.zoom, ZoomStep(view_.zoom, true), QPointF(width() / 2.0, height() / 2.0));
}

void WorkspaceView::ZoomOut() {
  if (!result_ || !source_) return;
  AfterZoomStep(view_.zoom, ZoomStep(view_.zoom, false), QPointF(width() / 2.0, height() / 2.0));
}

void WorkspaceView::WheelZoomAt(QPointF anchor, int delta) {
  if (!result_ || !source_) return;
  AfterZoomStep(view_.zoom, WheelZoom(view_.zoom, delta), anchor);
}

void WorkspaceView::SetSplitView(bool on) {
  if (on && !result_) return;
  split_ = on;
  if (on) SetDividerToMiddle();
  UpdateDivider();
  update();
}

void WorkspaceView::SetDividerToMiddle() {
  if (result_) dividerX_ = float(view_.pan.x() + result_.width() * double(view_.zoom) / 2);
}

void WorkspaceView::UpdateDivider() {
  if (!result_ || !split_) {
    divider_.visible = false;
    return;
  }
  divider_ = PlaceDivider(dividerX_, view_, QSize(result_.width(), result_.height()), size());
  dividerX_ = divider_.x;
}

void WorkspaceView::resizeEvent(QResizeEvent* e) {
  dropZone_->move((width() - dropZone_->width()) / 2, (height() - dropZone_->height()) / 2);
  if (!result_) return;
  // Keep a crop selection on the same part of the picture.
  ViewPlacement before = view_;
  CalculateBestFitAndCenter();
  if (cropping_ && before.zoom > 0) {
    QPointF tl = (selection_.topLeft() - before.pan) / double(before.zoom) * double(view_.zoom) + view_.pan;
    QSizeF sz = selection_.size() / double(before.zoom) * double(view_.zoom);
    selection_ = QRectF(tl, sz);
    PlaceCropToolbar();
  }
  if (split_) {
    double rel = e->oldSize().width() > 0 ? (dividerX_ - before.pan.x()) / (result_.width() * double(before.zoom)) : 0.5;
    dividerX_ = float(view_.pan.x() + rel * result_.width() * double(view_.zoom));
    UpdateDivider();
  }
}

void WorkspaceView::DrawPicture(QPainter& p, const Image& img, const QRectF& clip) {
  if (!img) return;
  QRectF target(view_.pan.x(), view_.pan.y(), img.width() * double(view_.zoom), img.height() * double(view_.zoom));
  // Reduce by halves first (cached in the picture), then one bilinear step:
  // large reductions stay smooth and cost only the pixels on screen.
  int level = 0;
  double s = view_.zoom;
  while (s * 2 <= 1.0 && level + 1 < img.MipLevelCount()) {
    s *= 2;
    ++level;
  }
  QImage q = ToQImage(level ? img.MipLevel(level) : img);
  if (q.isNull()) return;
  p.save();
  p.setClipRect(clip, Qt::IntersectClip);
  p.setRenderHint(QPainter::SmoothPixmapTransform, !zooming_);
  p.drawImage(target, q, QRectF(0, 0, q.width(), q.height()));
  p.restore();
}

void WorkspaceView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath box;
  box.addRoundedRect(QRectF(rect()), 15, 15);
  p.fillPath(box, theme::Argb(theme::kWorkspace));
  if (!result_) return;
  p.setClipPath(box);
  QRectF all(rect());
  if (rightPreview_ && source_) {
    DrawPicture(p, source_, all);
  } else if (split_ && source_) {
    DrawPicture(p, source_, QRectF(0, 0, dividerX_, height()));
    DrawPicture(p, result_, QRectF(dividerX_, 0, width() - dividerX_, height()));
  } else {
    DrawPicture(p, result_, all);
  }
  if (split_ && divider_.visible && !rightPreview_) {
    QRectF line(divider_.x - 1, divider_.top, 2, divider_.bottom - divider_.top);
    p.fillRect(line, QColor(255, 255, 255, 230));
    QPointF c(divider_.x, (divider_.top + divider_.bottom) / 2);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 235));
    p.drawEllipse(c, 13, 13);
    p.setPen(QPen(theme::Argb(theme::kPanel), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({c + QPointF(-3, -5), c + QPointF(-8, 0), c + QPointF(-3, 5)}));
    p.drawPolyline(QPolygonF({c + QPointF(3, -5), c + QPointF(8, 0), c + QPointF(3, 5)}));
  }
  if (cropping_) {
    p.setPen(QPen(QColor::fromRgba(0x88000000), 1));
    p.setBrush(QColor::fromRgba(0x77E0E0E0));
    p.drawRect(selection_);
    p.setPen(QPen(Qt::white, 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawRect(selection_);
    p.setBrush(Qt::white);
    p.setPen(QPen(QColor(0, 0, 0, 140), 1));
    for (QPointF c : {selection_.topLeft(), selection_.topRight(), selection_.bottomLeft(), selection_.bottomRight()})
      p.drawRect(QRectF(c.x() - kCornerGrip, c.y() - kCornerGrip, 2 * kCornerGrip, 2 * kCornerGrip));
    QPointF mids[] = {{selection_.center().x(), selection_.top()},
                      {selection_.center().x(), selection_.bottom()},
                      {selection_.left(), selection_.center().y()},
                      {selection_.right(), selection_.center().y()}};
    for (QPointF c : mids) p.drawEllipse(c, kEdgeGrip, kEdgeGrip);
  }
}

// --- Crop ---

void WorkspaceView::BeginCrop() {
  if (!result_) return;
  if (cropping_) {
    CancelCrop();
    return;
  }
  SetSplitView(false);
  QRectF r = ImageDisplayRect(view_, QSize(result_.width(), result_.height()));
  bool whollyVisible = r.left() >= 0 && r.top() >= 0 && r.right() <= width() && r.bottom() <= height();
  if (whollyVisible)
    CenterImageInPaintBox();
  else
    CalculateBestFitAndCenter();
  selection_ = InitialCropSelection(view_, QSize(result_.width(), result_.height()));
  cropping_ = true;
  cropBar_->show();
  cropBar_->raise();
  PlaceCropToolbar();
  update();
}

void WorkspaceView::EndCropUi() {
  cropping_ = false;
  grip_ = Grip::None;
  cropBar_->hide();
  unsetCursor();
  update();
  emit cropEnded();
}

void WorkspaceView::CancelCrop() {
  if (!cropping_) return;
  EndCropUi();
}

bool WorkspaceView::ApplyCrop() {
  if (!cropping_ || !result_) return false;
  QRect r = CropRectInImage(selection_, view_, QSize(result_.width(), result_.height()));
  if (r.isEmpty()) return false;
  EndCropUi();
  emit cropRequested(r);
  return true;
}

void WorkspaceView::SetSelection(const QRectF& r) {
  selection_ = r;
  PlaceCropToolbar();
  update();
}

bool WorkspaceView::MoveSelectionEdge(int edge, double pos) {
  QRectF s = selection_;
  switch (edge) {
    case 1: s.setTop(pos); break;
    case 2: s.setBottom(pos); break;
    case 3: s.setLeft(pos); break;
    case 4: s.setRight(pos); break;
    default: return false;
  }
  if ((edge <= 2 && s.height() < kMinSelection) || (edge >= 3 && s.width() < kMinSelection)) return false;
  SetSelection(s);
  return true;
}

void WorkspaceView::PlaceCropToolbar() {
  if (!cropping_) return;
  QPointF p = CropToolbarPos(selection_, cropBar_->size());
  cropBar_->move(int(std::lround(p.x())), int(std::lround(p.y())));
}

WorkspaceView::Grip WorkspaceView::GripAt(QPointF p) const {
  const QRectF& s = selection_;
  auto near = [](QPointF a, QPointF b, double d) { return std::abs(a.x() - b.x()) <= d && std::abs(a.y() - b.y()) <= d; };
  if (near(p, s.topLeft(), kCornerReach)) return Grip::TopLeft;
  if (near(p, s.bottomRight(), kCornerReach)) return Grip::BottomRight;
  if (near(p, s.topRight(), kCornerReach)) return Grip::TopRight;
  if (near(p, s.bottomLeft(), kCornerReach)) return Grip::BottomLeft;
  if (near(p, {s.center().x(), s.top()}, kEdgeGrip + 2)) return Grip::Top;
  if (near(p, {s.center().x(), s.bottom()}, kEdgeGrip + 2)) return Grip::Bottom;
  if (near(p, {s.left(), s.center().y()}, kEdgeGrip + 2)) return Grip::Left;
  if (near(p, {s.right(), s.center().y()}, kEdgeGrip + 2)) return Grip::Right;
  if (s.contains(p)) return Grip::Move;
  return Grip::None;
}

void WorkspaceView::UpdateCursor(QPointF p) {
  if (cropping_) {
    switch (GripAt(p)) {
      case Grip::TopLeft:
      case Grip::BottomRight: setCursor(Qt::SizeFDiagCursor); return;
      case Grip::TopRight:
      case Grip::BottomLeft: setCursor(Qt::SizeBDiagCursor); return;
      case Grip::Top:
      case Grip::Bottom: setCursor(Qt::SizeVerCursor); return;
      case Grip::Left:
      case Grip::Right: setCursor(Qt::SizeHorCursor); return;
      case Grip::Move: setCursor(Qt::SizeAllCursor); return;
      case Grip::None: unsetCursor(); return;
    }
  }
  if (split_ && divider_.visible && std::abs(p.x() - divider_.x) <= 6 && p.y() >= divider_.top &&
      p.y() <= divider_.bottom) {
    setCursor(Qt::SplitHCursor);
    return;
  }
  if (panning_)
    setCursor(Qt::ClosedHandCursor);
  else
    unsetCursor();
}

// --- Mouse ---

void WorkspaceView::mousePressEvent(QMouseEvent* e) {
  QPointF pos = e->position();
  if (e->button() == Qt::RightButton && result_) {
    rightPreview_ = true;
    update();
    return;
  }
  if (e->button() != Qt::LeftButton || !result_) return;
  if (cropping_) {
    grip_ = GripAt(pos);
    gripStart_ = pos;
    selectionStart_ = selection_;
    return;
  }
  if (split_ && divider_.visible && std::abs(pos.x() - divider_.x) <= 6 && pos.y() >= divider_.top &&
      pos.y() <= divider_.bottom) {
    draggingDivider_ = true;
    setCursor(Qt::SplitHCursor);
    return;
  }
  panning_ = true;
  lastMouse_ = pos;
  setCursor(Qt::ClosedHandCursor);
}

void WorkspaceView::mouseMoveEvent(QMouseEvent* e) {
  QPointF pos = e->position();
  if (cropping_ && grip_ != Grip::None && (e->buttons() & Qt::LeftButton)) {
    switch (grip_) {
      case Grip::Move: {
        QRectF s = selectionStart_.translated(pos - gripStart_);
        // The selection stays inside the workspace.
        s.moveLeft(std::clamp(s.left(), 0.0, std::max(0.0, width() - s.width())));
        s.moveTop(std::clamp(s.top(), 0.0, std::max(0.0, height() - s.height())));
        SetSelection(s);
        break;
      }
      case Grip::Top: MoveSelectionEdge(1, pos.y()); break;
      case Grip::Bottom: MoveSelectionEdge(2, pos.y()); break;
      case Grip::Left: MoveSelectionEdge(3, pos.x()); break;
      case Grip::Right: MoveSelectionEdge(4, pos.x()); break;
      case Grip::TopLeft: MoveSelectionEdge(1, pos.y()); MoveSelectionEdge(3, pos.x()); break;
      case Grip::TopRight: MoveSelectionEdge(1, pos.y()); MoveSelectionEdge(4, pos.x()); break;
      case Grip::BottomLeft: MoveSelectionEdge(2, pos.y()); MoveSelectionEdge(3, pos.x()); break;
      case Grip::BottomRight: MoveSelectionEdge(2, pos.y()); MoveSelectionEdge(4, pos.x()); break;
      case Grip::None: break;
    }
    return;
  }
  if (draggingDivider_ && result_) {
    QRectF r = ImageDisplayRect(view_, QSize(result_.width(), result_.height()));
    dividerX_ = float(std::clamp(pos.x(), r.left(), r.right()));
    UpdateDivider();
    update();
    return;
  }
  if (panning_ && (e->buttons() & Qt::LeftButton)) {
    QPointF d = pos - lastMouse_;
    view_.pan += d;
    lastMouse_ = pos;
    if (split_) dividerX_ += float(d.x());
    UpdateDivider();
    update();
    return;
  }
  UpdateCursor(pos);
}

void WorkspaceView::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::RightButton && rightPreview_) {
    rightPreview_ = false;
    update();
    return;
  }
  if (e->button() != Qt::LeftButton) return;
  grip_ = Grip::None;
  draggingDivider_ = false;
  panning_ = false;
  UpdateCursor(e->position());
}

void WorkspaceView::wheelEvent(QWheelEvent* e) {
  int d = e->angleDelta().y();
  if (d != 0) WheelZoomAt(e->position(), d);
  e->accept();
}

void WorkspaceView::changeEvent(QEvent* e) {
  if (e->type() == QEvent::ActivationChange && !isActiveWindow()) {
    // The button may be released in another window; stop dragging here.
    panning_ = false;
    draggingDivider_ = false;
    if (rightPreview_) {
      rightPreview_ = false;
      update();
    }
  }
  QWidget::changeEvent(e);
}

// --- Drag and drop ---

void WorkspaceView::dragEnterEvent(QDragEnterEvent* e) {
  if (acceptDrop && acceptDrop(e->mimeData()))
    e->acceptProposedAction();
  else
    e->ignore();
}

void WorkspaceView::dragMoveEvent(QDragMoveEvent* e) {
  if (acceptDrop && acceptDrop(e->mimeData()))
    e->acceptProposedAction();
  else
    e->ignore();
}

void WorkspaceView::dropEvent(QDropEvent* e) {
  if (!acceptDrop || !acceptDrop(e->mimeData()) || !onDrop) {
    e->ignore();
    return;
  }
  e->acceptProposedAction();
  onDrop(e->mimeData());
}

}  // namespace lq::studio
