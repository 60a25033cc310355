// The interface icons, drawn as strokes on a 24 x 24 grid so they stay sharp at
// any size and take any colour.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QPainter>

namespace lq::studio {

enum class Icon {
  Minimise, Maximise, Restore, Close,
  Menu, Open, Save, Copy, Paste, Undo, Redo, ZoomOut, ZoomIn, Zoom100, Split, Power,
  Crop, Resize, RotateLeft, RotateRight, Text, Texture, Frame,
  Sketch, Ink, Painting, PhotoLab, Brush, Picture,
  Check, Cross, PresetLoad, PresetSave, Drop, Logo, Minus, Plus,
};

void PaintIcon(QPainter& p, Icon icon, const QRectF& rect, const QColor& color);

// A flat button showing one icon: grey at rest, white (or its hover colour)
// under the pointer, an optional rounded background on hover.
class IconButton : public QAbstractButton {
  Q_OBJECT

 public:
  IconButton(Icon icon, const QString& hint, QWidget* parent = nullptr);

  void SetIcon(Icon icon);
  Icon icon() const { return icon_; }
  void SetIconColor(QColor rest, QColor hover);
  void SetHoverFill(QColor fill) { hoverFill_ = fill; }
  void SetIconSize(int px) { iconSize_ = px; }
  void SetChecked(bool on);  // highlight kept while on (split view)
  bool hovered() const { return hovered_; }
  QSize sizeHint() const override { return QSize(30, 30); }

 protected:
  void paintEvent(QPaintEvent*) override;
  void enterEvent(QEnterEvent*) override;
  void leaveEvent(QEvent*) override;

 private:
  Icon icon_;
  QColor rest_, hover_;
  QColor hoverFill_;
  int iconSize_ = 20;
  bool hovered_ = false;
  bool highlighted_ = false;
};

}  // namespace lq::studio
