// Geometry of the workspace and the preview: zoom steps, fitting, panning,
// the crop rectangle and the progress pill. Pure functions, no widgets.
#pragma once

#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QSizeF>
#include <QString>

namespace lq::studio {

constexpr float kMinZoom = 0.1f;
constexpr float kMaxZoom = 10.0f;
constexpr float kMinPreviewZoom = 0.25f;
constexpr float kMaxPreviewZoom = 5.0f;

// Workspace placement: the image's top-left corner sits at `pan`, each image
// pixel covers `zoom` display units.
struct ViewPlacement {
  float zoom = 1.0f;
  QPointF pan;
};

float ClampZoom(float zoom);
// Round(zoom x 100) followed by "%".
QString ZoomText(float zoom);

QRectF ImageDisplayRect(const ViewPlacement& v, QSize image);
QPointF CenteredPan(QSizeF box, QSize image, float zoom);
// Largest zoom (within the limits) that shows the whole image, centred.
ViewPlacement BestFit(QSizeF box, QSize image);
// Keeps the image point under `anchor` where it is while the zoom changes.
QPointF AnchoredPan(QPointF anchor, QPointF pan, float oldZoom, float newZoom);
// Button and key steps: x 1.1 or / 1.1 within the limits.
float ZoomStep(float zoom, bool zoomIn);
// Wheel step: finer at small zooms; lands exactly on 1 when it passes close by.
float WheelZoom(float zoom, int wheelDelta);

// Preview zoom by the wheel (x 1.1 or x 0.9090909) and by the strip's icons
// (x or / 1.2), within 0.25 .. 5.
float PreviewWheelZoom(float zoom, int wheelDelta);
float PreviewIconZoom(float zoom, bool zoomIn);
// New start of the preview region along one axis after the pointer moved by
// `pointerMove` display units: the region moves against the pointer and stays
// inside the image.
int PannedPreviewStart(int start, double pointerMove, float zoom, double panelSize, int imageSize);
// Brings the region start inside the image (raw preview drawing); returns the
// region in source pixels.
QRectF ClampPreviewRegion(int& startX, int& startY, float zoom, QSizeF panel, QSize image);

// The crop selection in image pixels, cut to the image; empty when it misses.
QRect CropRectInImage(const QRectF& selection, const ViewPlacement& v, QSize image);
// Where a new crop selection starts: the displayed image inset by one unit.
QRectF InitialCropSelection(const ViewPlacement& v, QSize image);
// The crop tool bar: centred over the selection, just above it, or just inside
// its top when there is no room above.
QPointF CropToolbarPos(const QRectF& selection, QSizeF toolbar);

// The split-view divider: its span on screen and the clamped x. Hidden when
// the image is scrolled out of the box vertically.
struct DividerPlacement {
  bool visible = false;
  float x = 0;
  double top = 0, bottom = 0;
};
DividerPlacement PlaceDivider(float dividerX, const ViewPlacement& v, QSize image, QSizeF box);

// Width of the title bar's progress pill for a percent, out of `available`.
double ProgressPillWidth(double available, int percent);
// The pill shows its percentage only from this width on.
constexpr double kPillLabelMinWidth = 50;

}  // namespace lq::studio
