// Raster surfaces and their canvases.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "engine/gfx/image.h"
#include "engine/gfx/paint.h"
#include "engine/gfx/path.h"

typedef struct _cairo cairo_t;
typedef struct _cairo_surface cairo_surface_t;

namespace lq {

class Surface;

// 2 x 3 affine matrix: x' = a x + c y + e, y' = b x + d y + f.
struct Matrix {
  double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
  static Matrix Translate(double x, double y) { return {1, 0, 0, 1, x, y}; }
  static Matrix Scale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
  static Matrix RotateRad(double rad);
  // this * m: applies m first, then this.
  Matrix operator*(const Matrix& m) const;
  bool Invert(Matrix* out) const;
  void MapPoint(double x, double y, double* ox, double* oy) const {
    *ox = a * x + c * y + e;
    *oy = b * x + d * y + f;
  }
  bool isTranslateOnly() const { return a == 1 && b == 0 && c == 0 && d == 1; }
  bool isScaleTranslate() const { return b == 0 && c == 0; }
};

enum class SrcRectConstraint { Strict, Fast };

// Drawing onto a surface. Names and semantics follow the usual 2D canvas model:
// a current matrix and clip saved and restored as a stack, premultiplied
// compositing with the paint's blend mode limited to the drawn geometry.
class Canvas {
 public:
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  int width() const;
  int height() const;

  // Fills the whole clip with the colour, replacing what was there.
  void Clear(TAlphaColor color);
  void DrawColor(TAlphaColor color, BlendMode mode = BlendMode::SrcOver);
  void DrawPaint(const Paint& paint);
  void DrawRect(const RectF& r, const Paint& paint);
  void DrawOval(const RectF& r, const Paint& paint);
  void DrawCircle(double cx, double cy, double radius, const Paint& paint);
  void DrawLine(double x0, double y0, double x1, double y1, const Paint& paint);
  void DrawPath(const Path& path, const Paint& paint);
  void DrawImage(const Image& img, double x, double y, SamplingOptions sampling = {}, const Paint* paint = nullptr);
  void DrawImageRect(const Image& img, const RectF& src, const RectF& dst, SamplingOptions sampling,
                     const Paint* paint = nullptr, SrcRectConstraint constraint = SrcRectConstraint::Fast);
  void DrawImageRect(const Image& img, const RectF& dst, SamplingOptions sampling, const Paint* paint = nullptr);
  // Nine-patch: the centre rectangle of img stretches, the corners keep their size.
  void DrawImageNine(const Image& img, const IRect& center, const RectF& dst, FilterMode filter,
                     const Paint* paint = nullptr);

  int Save();
  void Restore();
  void RestoreToCount(int count);
  int SaveCount() const;
  void Translate(double dx, double dy);
  void Scale(double sx, double sy);
  void Rotate(double degrees);
  void RotateRadians(double rad);
  void Concat(const Matrix& m);
  void SetMatrix(const Matrix& m);
  void ResetMatrix();
  Matrix GetTotalMatrix() const;
  void ClipRect(const RectF& r, bool antiAlias = false);
  void ClipPath(const Path& p, bool antiAlias = true);
  // Device-space bounds of the current clip.
  IRect DeviceClipBounds() const;

  // Runs fn with a cairo context whose matrix and clip mirror the canvas (text
  // rendering uses this). False when the surface is too large for cairo.
  bool DrawWithCairo(const std::function<void(cairo_t*)>& fn);

 public:
  struct State;  // matrix and clip; internal to the back end

 private:
  friend class Surface;
  explicit Canvas(Surface* s);
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class Surface {
 public:
  ~Surface();
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;

  // Cleared to transparent black; null for an empty size or when memory cannot be had.
  static std::unique_ptr<Surface> MakeRaster(int width, int height);
  static std::unique_ptr<Surface> MakeRaster(const ImageInfo& info) { return MakeRaster(info.width, info.height); }
  // Wraps the caller's premultiplied buffer, which must outlive the surface.
  static std::unique_ptr<Surface> MakeRasterDirect(const ImageInfo& info, void* pixels, size_t rowBytes);

  int width() const { return view_.width; }
  int height() const { return view_.height; }
  ImageInfo info() const { return ImageInfo::Make(width(), height()); }

  Canvas* GetCanvas();
  PixelView PeekPixels();
  bool ReadPixels(const ImageInfo& dstInfo, void* dst, size_t dstRowBytes, int srcX, int srcY);
  bool WritePixels(const ImageInfo& srcInfo, const void* src, size_t srcRowBytes, int x, int y);
  void Flush();
  // An immutable copy of the current content.
  Image MakeImageSnapshot();

 private:
  Surface() = default;
  std::shared_ptr<PixelStore> store_;
  PixelView view_;
  std::unique_ptr<Canvas> canvas_;
};

}  // namespace lq
