#include "engine/gfx/path.h"

#include <cmath>

namespace lq {

Path& Path::MoveTo(double x, double y) {
  verbs_.push_back(Verb::Move);
  points_.push_back({x, y});
  last_ = {x, y};
  return *this;
}

Path& Path::LineTo(double x, double y) {
  if (verbs_.empty()) MoveTo(last_.x, last_.y);
  verbs_.push_back(Verb::Line);
  points_.push_back({x, y});
  last_ = {x, y};
  return *this;
}

Path& Path::QuadTo(double x1, double y1, double x2, double y2) {
  if (verbs_.empty()) MoveTo(last_.x, last_.y);
  verbs_.push_back(Verb::Quad);
  points_.push_back({x1, y1});
  points_.push_back({x2, y2});
  last_ = {x2, y2};
  return *this;
}

Path& Path::CubicTo(double x1, double y1, double x2, double y2, double x3, double y3) {
  if (verbs_.empty()) MoveTo(last_.x, last_.y);
  verbs_.push_back(Verb::Cubic);
  points_.push_back({x1, y1});
  points_.push_back({x2, y2});
  points_.push_back({x3, y3});
  last_ = {x3, y3};
  return *this;
}

Path& Path::Close() {
  if (!verbs_.empty() && verbs_.back() != Verb::Close) verbs_.push_back(Verb::Close);
  return *this;
}

Path& Path::AddRect(const RectF& r) {
  MoveTo(r.left, r.top);
  LineTo(r.right, r.top);
  LineTo(r.right, r.bottom);
  LineTo(r.left, r.bottom);
  return Close();
}

Path& Path::AddOval(const RectF& r) {
  // Four cubic arcs; kappa places the control points on the tangent lines.
  const double k = 0.5522847498307936;
  double cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
  double rx = r.width() / 2, ry = r.height() / 2;
  MoveTo(cx + rx, cy);
  CubicTo(cx + rx, cy + k * ry, cx + k * rx, cy + ry, cx, cy + ry);
  CubicTo(cx - k * rx, cy + ry, cx - rx, cy + k * ry, cx - rx, cy);
  CubicTo(cx - rx, cy - k * ry, cx - k * rx, cy - ry, cx, cy - ry);
  CubicTo(cx + k * rx, cy - ry, cx + rx, cy - k * ry, cx + rx, cy);
  return Close();
}

Path& Path::AddCircle(double cx, double cy, double r) { return AddOval({cx - r, cy - r, cx + r, cy + r}); }

Path& Path::AddPolygon(const std::vector<Point>& pts, bool close) {
  if (pts.empty()) return *this;
  MoveTo(pts[0].x, pts[0].y);
  for (size_t i = 1; i < pts.size(); ++i) LineTo(pts[i].x, pts[i].y);
  if (close) Close();
  return *this;
}

void Path::Reset() {
  verbs_.clear();
  points_.clear();
  last_ = {0, 0};
}

}  // namespace lq
