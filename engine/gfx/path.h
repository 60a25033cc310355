// Vector paths: the verbs the effects use (move, line, quad, cubic, close) plus shapes.
#pragma once

#include <vector>

#include "engine/gfx/image.h"

namespace lq {

class Path {
 public:
  enum class Verb { Move, Line, Quad, Cubic, Close };
  struct Point {
    double x, y;
  };

  Path& MoveTo(double x, double y);
  Path& LineTo(double x, double y);
  Path& QuadTo(double x1, double y1, double x2, double y2);
  Path& CubicTo(double x1, double y1, double x2, double y2, double x3, double y3);
  Path& Close();
  Path& AddRect(const RectF& r);
  Path& AddOval(const RectF& r);
  Path& AddCircle(double cx, double cy, double r);
  Path& AddPolygon(const std::vector<Point>& pts, bool close);
  void Reset();
  bool isEmpty() const { return verbs_.empty(); }

  const std::vector<Verb>& verbs() const { return verbs_; }
  const std::vector<Point>& points() const { return points_; }

  enum class FillType { Winding, EvenOdd };
  FillType fillType = FillType::Winding;

 private:
  std::vector<Verb> verbs_;
  std::vector<Point> points_;
  Point last_{0, 0};
};

}  // namespace lq
