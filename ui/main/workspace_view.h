// The workspace: shows the result picture, zooms and pans it, compares it
// with the source around a split-view divider, shows the source while the
// right button is held, and offers the crop selection. While no picture is
// loaded it shows the drop zone.
#pragma once

#include <QTimer>
#include <QWidget>
#include <functional>

#include "engine/gfx/image.h"
#include "ui/main/view_math.h"

class QMimeData;

namespace lq::studio {

class IconButton;

// "No image loaded" / "Drop image here or" / "Browse files".
class DropZone : public QWidget {
  Q_OBJECT

 public:
  explicit DropZone(QWidget* parent);
  bool hovered() const { return hovered_; }
  QRect BrowseRect() const;

 signals:
  void browseClicked();

 protected:
  void paintEvent(QPaintEvent*) override;
  void enterEvent(QEnterEvent*) override;
  void leaveEvent(QEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;

 private:
  bool hovered_ = false;
  bool linkHot_ = false;
};

class WorkspaceView : public QWidget {
  Q_OBJECT

 public:
  explicit WorkspaceView(QWidget* parent);

  // The pictures to show. Both empty: the drop zone shows.
  void SetImages(const Image& result, const Image& source);
  bool HasImage() const { return bool(result_); }
  DropZone* dropZone() const { return dropZone_; }

  // Placement.
  float zoomFactor() const { return view_.zoom; }
  QPointF panOffset() const { return view_.pan; }
  ViewPlacement placement() const { return view_; }
  void SetPlacement(const ViewPlacement& v);
  bool zooming() const { return zooming_; }
  void CenterImageInPaintBox();
  void FullSizeAndCenter();
  void CalculateBestFitAndCenter();
  void ZoomIn();
  void ZoomOut();
  void WheelZoomAt(QPointF anchor, int delta);

  // Split view ("Show original image").
  bool splitView() const { return split_; }
  void SetSplitView(bool on);
  float dividerX() const { return dividerX_; }
  bool dividerVisible() const { return divider_.visible; }
  void SetDividerToMiddle();
  void UpdateDivider();
  bool rightPreview() const { return rightPreview_; }

  // Crop.
  bool cropping() const { return cropping_; }
  void BeginCrop();
  void CancelCrop();
  // Applies the selection: emits cropRequested with the rectangle in image
  // pixels. A selection that misses the picture is refused (returns false,
  // the selection stays for the user to move).
  bool ApplyCrop();
  QRectF selection() const { return selection_; }
  // Moves one edge of the selection to `pos` (1 top, 2 bottom, 3 left,
  // 4 right); refused when the selection would become narrower than 20.
  bool MoveSelectionEdge(int edge, double pos);
  void SetSelection(const QRectF& r);
  QWidget* cropToolbar() const { return cropBar_; }

  // Hooks of the window: whether a drop may start now, and the drop itself.
  std::function<bool(const QMimeData*)> acceptDrop;
  std::function<void(const QMimeData*)> onDrop;

 signals:
  void zoomChanged(float zoom);
  void cropRequested(QRect imageRect);
  void cropEnded();

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void wheelEvent(QWheelEvent*) override;
  void dragEnterEvent(QDragEnterEvent*) override;
  void dragMoveEvent(QDragMoveEvent*) override;
  void dropEvent(QDropEvent*) override;
  void changeEvent(QEvent*) override;

 private:
  enum class Grip { None, Move, Top, Bottom, Left, Right, TopLeft, TopRight, BottomLeft, BottomRight };
  void AfterZoomStep(float oldZoom, float newZoom, QPointF anchor);
  void DrawPicture(QPainter& p, const Image& img, const QRectF& clip);
  Grip GripAt(QPointF p) const;
  void UpdateCursor(QPointF p);
  void PlaceCropToolbar();
  void EndCropUi();

  Image result_, source_;
  ViewPlacement view_;
  bool zooming_ = false;
  QTimer zoomDebounce_;
  bool panning_ = false;
  QPointF lastMouse_;
  bool rightPreview_ = false;
  bool split_ = false;
  float dividerX_ = 0;
  DividerPlacement divider_;
  bool draggingDivider_ = false;
  bool cropping_ = false;
  QRectF selection_;
  Grip grip_ = Grip::None;
  QPointF gripStart_;
  QRectF selectionStart_;
  QWidget* cropBar_;
  IconButton *cropApply_, *cropCancel_;
  DropZone* dropZone_;
};

}  // namespace lq::studio
