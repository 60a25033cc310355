#include "ui/main/icons.h"

#include <QPainterPath>

#include "ui/main/theme.h"

namespace lq::studio {

namespace {

QPainterPath Arrow(QPointF tip, QPointF from, double len) {
  QLineF l(tip, from);
  l.setLength(len);
  QLineF a = l, b = l;
  a.setAngle(l.angle() + 35);
  b.setAngle(l.angle() - 35);
  QPainterPath p;
  p.moveTo(a.p2());
  p.lineTo(tip);
  p.lineTo(b.p2());
  return p;
}

void Magnifier(QPainter& p, bool plus, bool minus) {
  p.drawEllipse(QPointF(10.5, 10.5), 6.5, 6.5);
  p.drawLine(QPointF(15.3, 15.3), QPointF(20.5, 20.5));
  if (plus || minus) p.drawLine(QPointF(7.5, 10.5), QPointF(13.5, 10.5));
  if (plus) p.drawLine(QPointF(10.5, 7.5), QPointF(10.5, 13.5));
}

void CurvedArrow(QPainter& p, bool left) {
  // A half turn ending in an arrow head; mirrored for the other direction.
  p.save();
  if (!left) {
    p.translate(24, 0);
    p.scale(-1, 1);
  }
  QPainterPath arc;
  arc.moveTo(5, 10);
  arc.lineTo(14, 10);
  arc.cubicTo(18.5, 10, 20.5, 12.5, 20.5, 15);
  arc.cubicTo(20.5, 17.5, 18.5, 20, 14, 20);
  arc.lineTo(10, 20);
  p.drawPath(arc);
  p.drawPath(Arrow(QPointF(5, 10), QPointF(10, 10), 5));
  p.restore();
}

void Rotate(QPainter& p, bool left) {
  p.save();
  if (!left) {
    p.translate(24, 0);
    p.scale(-1, 1);
  }
  QPainterPath arc;
  arc.arcMoveTo(QRectF(4, 5, 15, 15), 110);
  arc.arcTo(QRectF(4, 5, 15, 15), 110, -250);
  p.drawPath(arc);
  QPointF start = arc.pointAtPercent(0);
  p.drawPath(Arrow(start, start + QPointF(4.5, 1.5), 4.5));
  p.drawRect(QRectF(9, 10.5, 5, 5));
  p.restore();
}

}  // namespace

void PaintIcon(QPainter& p, Icon icon, const QRectF& rect, const QColor& color) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing, true);
  p.translate(rect.topLeft());
  p.scale(rect.width() / 24.0, rect.height() / 24.0);
  QPen pen(color, 1.7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  switch (icon) {
    case Icon::Minimise: p.drawLine(QPointF(6, 12.5), QPointF(18, 12.5)); break;
    case Icon::Maximise: p.drawRoundedRect(QRectF(6.5, 6.5, 11, 11), 1.5, 1.5); break;
    case Icon::Restore:
      p.drawRoundedRect(QRectF(5.5, 8.5, 10, 10), 1.5, 1.5);
      p.drawPolyline(QPolygonF({{8.5, 8.5}, {8.5, 5.5}, {18.5, 5.5}, {18.5, 15.5}, {15.5, 15.5}}));
      break;
    case Icon::Close:
    case Icon::Cross:
      p.drawLine(QPointF(7, 7), QPointF(17, 17));
      p.drawLine(QPointF(17, 7), QPointF(7, 17));
      break;
    case Icon::Menu:
      for (double y : {7.0, 12.0, 17.0}) p.drawLine(QPointF(5, y), QPointF(19, y));
      break;
    case Icon::Open: {
      QPainterPath f;
      f.moveTo(3.5, 18.5);
      f.lineTo(3.5, 6);
      f.lineTo(9, 6);
      f.lineTo(11, 8);
      f.lineTo(18, 8);
      f.lineTo(18, 10.5);
      p.drawPath(f);
      QPainterPath lid;
      lid.moveTo(3.5, 18.5);
      lid.lineTo(6.5, 10.5);
      lid.lineTo(21, 10.5);
      lid.lineTo(18, 18.5);
      lid.closeSubpath();
      p.drawPath(lid);
      break;
    }
    case Icon::Save: {
      QPainterPath b;
      b.moveTo(5, 4.5);
      b.lineTo(16, 4.5);
      b.lineTo(19.5, 8);
      b.lineTo(19.5, 19.5);
      b.lineTo(5, 19.5);
      b.closeSubpath();
      p.drawPath(b);
      p.drawRect(QRectF(8, 4.5, 7, 4.5));
      p.drawRect(QRectF(8, 13, 8.5, 6.5));
      break;
    }
    case Icon::Copy:
      p.drawRoundedRect(QRectF(8.5, 8.5, 11, 11), 1.5, 1.5);
      p.drawPolyline(QPolygonF({{5, 15.5}, {4.5, 15.5}, {4.5, 4.5}, {15.5, 4.5}, {15.5, 5}}));
      break;
    case Icon::Paste:
      p.drawRoundedRect(QRectF(5, 5.5, 14, 15), 1.5, 1.5);
      p.drawRoundedRect(QRectF(9, 3.5, 6, 3.5), 1, 1);
      p.drawLine(QPointF(8.5, 12), QPointF(15.5, 12));
      p.drawLine(QPointF(8.5, 15.5), QPointF(13.5, 15.5));
      break;
    case Icon::Undo: CurvedArrow(p, true); break;
    case Icon::Redo: CurvedArrow(p, false); break;
    case Icon::ZoomOut: Magnifier(p, false, true); break;
    case Icon::ZoomIn: Magnifier(p, true, false); break;
    case Icon::Zoom100: {
      p.drawRoundedRect(QRectF(3.5, 5.5, 17, 13), 2, 2);
      QFont f = theme::UiFont(8, QFont::Bold);
      p.setFont(f);
      p.drawText(QRectF(3.5, 5.5, 17, 13), Qt::AlignCenter, "1:1");
      break;
    }
    case Icon::Split:
      p.drawRoundedRect(QRectF(3.5, 5.5, 17, 13), 2, 2);
      p.drawLine(QPointF(12, 3), QPointF(12, 21));
      p.setBrush(color);
      p.setOpacity(0.35);
      p.drawRect(QRectF(3.5, 5.5, 8.5, 13));
      break;
    case Icon::Power:
      p.drawArc(QRectF(5, 5.5, 14, 14), 125 * 16, 290 * 16);
      p.drawLine(QPointF(12, 3.5), QPointF(12, 11.5));
      break;
    case Icon::Crop:
      p.drawPolyline(QPolygonF({{7, 3}, {7, 17}, {21, 17}}));
      p.drawPolyline(QPolygonF({{3, 7}, {17, 7}, {17, 21}}));
      break;
    case Icon::Resize:
      p.drawRoundedRect(QRectF(3.5, 3.5, 17, 17), 2, 2);
      p.drawLine(QPointF(8, 16), QPointF(16, 8));
      p.drawPath(Arrow(QPointF(16, 8), QPointF(8, 16), 4));
      p.drawPath(Arrow(QPointF(8, 16), QPointF(16, 8), 4));
      break;
    case Icon::RotateLeft: Rotate(p, true); break;
    case Icon::RotateRight: Rotate(p, false); break;
    case Icon::Text:
      p.drawLine(QPointF(5, 5.5), QPointF(19, 5.5));
      p.drawLine(QPointF(12, 5.5), QPointF(12, 19.5));
      p.drawLine(QPointF(9, 19.5), QPointF(15, 19.5));
      break;
    case Icon::Texture:
      p.drawRoundedRect(QRectF(3.5, 3.5, 17, 17), 2, 2);
      for (double d : {8.0, 13.0, 18.0}) p.drawLine(QPointF(3.5, d), QPointF(d, 3.5));
      for (double d : {8.0, 13.0}) p.drawLine(QPointF(d + 7.5, 20.5), QPointF(20.5, d + 7.5));
      break;
    case Icon::Frame:
      p.drawRect(QRectF(3.5, 3.5, 17, 17));
      p.drawRect(QRectF(7.5, 7.5, 9, 9));
      break;
    case Icon::Sketch: {
      QPainterPath pen;
      pen.moveTo(4, 20);
      pen.lineTo(5, 15.5);
      pen.lineTo(16, 4.5);
      pen.lineTo(19.5, 8);
      pen.lineTo(8.5, 19);
      pen.closeSubpath();
      p.drawPath(pen);
      p.drawLine(QPointF(13.5, 7), QPointF(17, 10.5));
      break;
    }
    case Icon::Ink: {
      QPainterPath nib;
      nib.moveTo(12, 3.5);
      nib.lineTo(18, 11);
      nib.lineTo(12, 20.5);
      nib.lineTo(6, 11);
      nib.closeSubpath();
      p.drawPath(nib);
      p.drawLine(QPointF(12, 11), QPointF(12, 20.5));
      p.drawEllipse(QPointF(12, 11), 1.3, 1.3);
      break;
    }
    case Icon::Painting: {
      QPainterPath pal;
      pal.moveTo(12, 3.5);
      pal.cubicTo(5.5, 3.5, 3, 8, 3, 12);
      pal.cubicTo(3, 17, 7, 20.5, 11, 20.5);
      pal.cubicTo(13, 20.5, 13, 18.5, 12.5, 17.5);
      pal.cubicTo(11.5, 15.5, 13, 14.5, 15, 14.5);
      pal.cubicTo(19, 14.5, 21, 13, 21, 10.5);
      pal.cubicTo(21, 6.5, 17, 3.5, 12, 3.5);
      p.drawPath(pal);
      p.setBrush(color);
      for (QPointF c : {QPointF(7.5, 11), QPointF(10, 7), QPointF(15, 7.5)}) p.drawEllipse(c, 1.2, 1.2);
      break;
    }
    case Icon::PhotoLab:
      p.drawRoundedRect(QRectF(3, 7, 18, 13), 2.5, 2.5);
      p.drawPolyline(QPolygonF({{8, 7}, {9.5, 4.5}, {14.5, 4.5}, {16, 7}}));
      p.drawEllipse(QPointF(12, 13.5), 3.7, 3.7);
      break;
    case Icon::Brush: {
      QPainterPath h;
      h.moveTo(20.5, 3.5);
      h.lineTo(11, 13);
      p.drawPath(h);
      QPainterPath tip;
      tip.moveTo(11, 13);
      tip.cubicTo(8, 12, 6, 14, 6, 16.5);
      tip.cubicTo(6, 18.5, 5, 19.5, 3.5, 20.5);
      tip.cubicTo(7, 21, 11.5, 20, 12, 16);
      tip.closeSubpath();
      p.drawPath(tip);
      break;
    }
    case Icon::Picture:
    case Icon::Drop:
      p.drawRoundedRect(QRectF(3.5, 4.5, 17, 15), 2, 2);
      p.drawPolyline(QPolygonF({{3.5, 17}, {9, 11.5}, {13, 15.5}, {15.5, 13}, {20.5, 18}}));
      p.drawEllipse(QPointF(15.5, 9), 1.6, 1.6);
      break;
    case Icon::Check: p.drawPolyline(QPolygonF({{5, 12.5}, {10, 17.5}, {19.5, 7}})); break;
    case Icon::PresetLoad:
      p.drawPolyline(QPolygonF({{4, 14}, {4, 20}, {20, 20}, {20, 14}}));
      p.drawLine(QPointF(12, 4), QPointF(12, 15));
      p.drawPath(Arrow(QPointF(12, 15), QPointF(12, 4), 5));
      break;
    case Icon::PresetSave:
      p.drawPolyline(QPolygonF({{4, 14}, {4, 20}, {20, 20}, {20, 14}}));
      p.drawLine(QPointF(12, 15), QPointF(12, 4));
      p.drawPath(Arrow(QPointF(12, 4), QPointF(12, 15), 5));
      break;
    case Icon::Logo: {
      // A quill over a drop of colour.
      p.setPen(Qt::NoPen);
      QLinearGradient g(0, 0, 24, 24);
      g.setColorAt(0, QColor(0x60, 0xA5, 0xFA));
      g.setColorAt(1, QColor(0xA7, 0x8B, 0xFA));
      p.setBrush(g);
      p.drawEllipse(QRectF(1, 1, 22, 22));
      QPainterPath q;
      q.moveTo(7, 18);
      q.cubicTo(9, 11, 12, 7, 18, 5);
      q.cubicTo(17, 11, 13, 15, 8.5, 16);
      q.closeSubpath();
      p.setBrush(Qt::white);
      p.drawPath(q);
      p.setPen(QPen(Qt::white, 1.4, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(6, 19.5), QPointF(9.5, 14));
      break;
    }
    case Icon::Minus: p.drawLine(QPointF(6, 12), QPointF(18, 12)); break;
    case Icon::Plus:
      p.drawLine(QPointF(6, 12), QPointF(18, 12));
      p.drawLine(QPointF(12, 6), QPointF(12, 18));
      break;
  }
  p.restore();
}

IconButton::IconButton(Icon icon, const QString& hint, QWidget* parent)
    : QAbstractButton(parent),
      icon_(icon),
      rest_(theme::Argb(theme::kText)),
      hover_(theme::Argb(theme::kTextHover)) {
  setToolTip(hint);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_Hover);
}

void IconButton::SetIcon(Icon icon) {
  icon_ = icon;
  update();
}

void IconButton::SetIconColor(QColor rest, QColor hover) {
  rest_ = rest;
  hover_ = hover;
  update();
}

void IconButton::SetChecked(bool on) {
  highlighted_ = on;
  update();
}

void IconButton::enterEvent(QEnterEvent*) {
  hovered_ = true;
  update();
}

void IconButton::leaveEvent(QEvent*) {
  hovered_ = false;
  update();
}

void IconButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  QRectF r = rect();
  if (highlighted_) {
    p.setPen(Qt::NoPen);
    p.setBrush(theme::Argb(theme::kAccent));
    p.drawRoundedRect(r.adjusted(1, 1, -1, -1), 6, 6);
  } else if (hovered_ && hoverFill_.isValid()) {
    p.setPen(Qt::NoPen);
    p.setBrush(hoverFill_);
    p.drawRoundedRect(r.adjusted(1, 1, -1, -1), 6, 6);
  }
  QColor c = (hovered_ || highlighted_) ? hover_ : rest_;
  if (!isEnabled()) c.setAlphaF(0.35);
  double s = iconSize_;
  QRectF ir((r.width() - s) / 2, (r.height() - s) / 2, s, s);
  if (isDown()) ir.translate(0.5, 0.5);
  PaintIcon(p, icon_, ir, c);
}

}  // namespace lq::studio
