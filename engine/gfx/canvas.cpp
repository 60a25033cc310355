// Canvas on top of pixman (image compositing, resampling) and cairo (paths).
//
// Compositing follows the usual coverage model: the blend mode applies where
// the geometry covers the pixel and partial coverage interpolates between the
// old and the blended value. pixman and cairo already behave so for the
// "bounded" operators; the others (SrcIn, DstIn, Src, Clear, ...) are composited
// into a copy and interpolated by coverage explicitly.
#include <cairo.h>
#include <pixman.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#define LQ_AVX2_PATHS 1
#define LQ_AVX2 __attribute__((target("avx2")))
#endif

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/gfx/filters.h"
#include "engine/gfx/parallel_range.h"
#include "engine/gfx/resample.h"
#include "engine/gfx/surface.h"

namespace lq {

// ---------------------------------------------------------------------------
// Matrix

Matrix Matrix::RotateRad(double rad) {
  double c = std::cos(rad), s = std::sin(rad);
  return {c, s, -s, c, 0, 0};
}

Matrix Matrix::operator*(const Matrix& m) const {
  return {a * m.a + c * m.b, b * m.a + d * m.b, a * m.c + c * m.d, b * m.c + d * m.d, a * m.e + c * m.f + e,
          b * m.e + d * m.f + f};
}

bool Matrix::Invert(Matrix* out) const {
  double det = a * d - b * c;
  if (det == 0 || !std::isfinite(det)) return false;
  double id = 1.0 / det;
  *out = {d * id, -b * id, -c * id, a * id, (c * f - d * e) * id, (b * e - a * f) * id};
  return true;
}

namespace {

constexpr int kCairoMaxSize = 32767;

bool IsBounded(BlendMode m) {
  switch (m) {
    case BlendMode::Clear: case BlendMode::Src: case BlendMode::SrcIn: case BlendMode::DstIn:
    case BlendMode::SrcOut: case BlendMode::DstATop: case BlendMode::Modulate:
      return false;
    default: return true;
  }
}

pixman_op_t PixmanOp(BlendMode m) {
  switch (m) {
    case BlendMode::Clear: return PIXMAN_OP_CLEAR;
    case BlendMode::Src: return PIXMAN_OP_SRC;
    case BlendMode::Dst: return PIXMAN_OP_DST;
    case BlendMode::SrcOver: return PIXMAN_OP_OVER;
    case BlendMode::DstOver: return PIXMAN_OP_OVER_REVERSE;
    case BlendMode::SrcIn: return PIXMAN_OP_IN;
    case BlendMode::DstIn: return PIXMAN_OP_IN_REVERSE;
    case BlendMode::SrcOut: return PIXMAN_OP_OUT;
    case BlendMode::DstOut: return PIXMAN_OP_OUT_REVERSE;
    case BlendMode::SrcATop: return PIXMAN_OP_ATOP;
    case BlendMode::DstATop: return PIXMAN_OP_ATOP_REVERSE;
    case BlendMode::Xor: return PIXMAN_OP_XOR;
    case BlendMode::Plus: return PIXMAN_OP_ADD;
    case BlendMode::Screen: return PIXMAN_OP_SCREEN;
    case BlendMode::Overlay: return PIXMAN_OP_OVERLAY;
    case BlendMode::Darken: return PIXMAN_OP_DARKEN;
    case BlendMode::Lighten: return PIXMAN_OP_LIGHTEN;
    case BlendMode::ColorDodge: return PIXMAN_OP_COLOR_DODGE;
    case BlendMode::ColorBurn: return PIXMAN_OP_COLOR_BURN;
    case BlendMode::HardLight: return PIXMAN_OP_HARD_LIGHT;
    case BlendMode::SoftLight: return PIXMAN_OP_SOFT_LIGHT;
    case BlendMode::Difference: return PIXMAN_OP_DIFFERENCE;
    case BlendMode::Exclusion: return PIXMAN_OP_EXCLUSION;
    case BlendMode::Multiply: return PIXMAN_OP_MULTIPLY;
    case BlendMode::Hue: return PIXMAN_OP_HSL_HUE;
    case BlendMode::Saturation: return PIXMAN_OP_HSL_SATURATION;
    case BlendMode::Color: return PIXMAN_OP_HSL_COLOR;
    case BlendMode::Luminosity: return PIXMAN_OP_HSL_LUMINOSITY;
    case BlendMode::Modulate: break;
  }
  return PIXMAN_OP_OVER;
}

cairo_operator_t CairoOp(BlendMode m) {
  switch (m) {
    case BlendMode::Clear: return CAIRO_OPERATOR_CLEAR;
    case BlendMode::Src: return CAIRO_OPERATOR_SOURCE;
    case BlendMode::Dst: return CAIRO_OPERATOR_DEST;
    case BlendMode::SrcOver: return CAIRO_OPERATOR_OVER;
    case BlendMode::DstOver: return CAIRO_OPERATOR_DEST_OVER;
    case BlendMode::SrcIn: return CAIRO_OPERATOR_IN;
    case BlendMode::DstIn: return CAIRO_OPERATOR_DEST_IN;
    case BlendMode::SrcOut: return CAIRO_OPERATOR_OUT;
    case BlendMode::DstOut: return CAIRO_OPERATOR_DEST_OUT;
    case BlendMode::SrcATop: return CAIRO_OPERATOR_ATOP;
    case BlendMode::DstATop: return CAIRO_OPERATOR_DEST_ATOP;
    case BlendMode::Xor: return CAIRO_OPERATOR_XOR;
    case BlendMode::Plus: return CAIRO_OPERATOR_ADD;
    case BlendMode::Screen: return CAIRO_OPERATOR_SCREEN;
    case BlendMode::Overlay: return CAIRO_OPERATOR_OVERLAY;
    case BlendMode::Darken: return CAIRO_OPERATOR_DARKEN;
    case BlendMode::Lighten: return CAIRO_OPERATOR_LIGHTEN;
    case BlendMode::ColorDodge: return CAIRO_OPERATOR_COLOR_DODGE;
    case BlendMode::ColorBurn: return CAIRO_OPERATOR_COLOR_BURN;
    case BlendMode::HardLight: return CAIRO_OPERATOR_HARD_LIGHT;
    case BlendMode::SoftLight: return CAIRO_OPERATOR_SOFT_LIGHT;
    case BlendMode::Difference: return CAIRO_OPERATOR_DIFFERENCE;
    case BlendMode::Exclusion: return CAIRO_OPERATOR_EXCLUSION;
    case BlendMode::Multiply: return CAIRO_OPERATOR_MULTIPLY;
    case BlendMode::Hue: return CAIRO_OPERATOR_HSL_HUE;
    case BlendMode::Saturation: return CAIRO_OPERATOR_HSL_SATURATION;
    case BlendMode::Color: return CAIRO_OPERATOR_HSL_COLOR;
    case BlendMode::Luminosity: return CAIRO_OPERATOR_HSL_LUMINOSITY;
    case BlendMode::Modulate: break;
  }
  return CAIRO_OPERATOR_OVER;
}

cairo_extend_t CairoExtend(TileMode t) {
  switch (t) {
    case TileMode::Clamp: return CAIRO_EXTEND_PAD;
    case TileMode::Repeat: return CAIRO_EXTEND_REPEAT;
    case TileMode::Mirror: return CAIRO_EXTEND_REFLECT;
    case TileMode::Decal: return CAIRO_EXTEND_NONE;
  }
  return CAIRO_EXTEND_NONE;
}

cairo_matrix_t ToCairo(const Matrix& m) {
  cairo_matrix_t c;
  cairo_matrix_init(&c, m.a, m.b, m.c, m.d, m.e, m.f);
  return c;
}

void AppendPath(cairo_t* cr, const Path& p) {
  const auto& pts = p.points();
  size_t i = 0;
  Path::Point last{0, 0};
  for (Path::Verb v : p.verbs()) {
    switch (v) {
      case Path::Verb::Move:
        cairo_move_to(cr, pts[i].x, pts[i].y);
        last = pts[i++];
        break;
      case Path::Verb::Line:
        cairo_line_to(cr, pts[i].x, pts[i].y);
        last = pts[i++];
        break;
      case Path::Verb::Quad: {
        // Degree elevation: the cubic with these control points is the same curve.
        const Path::Point& q = pts[i];
        const Path::Point& e = pts[i + 1];
        cairo_curve_to(cr, last.x + 2.0 / 3.0 * (q.x - last.x), last.y + 2.0 / 3.0 * (q.y - last.y),
                       e.x + 2.0 / 3.0 * (q.x - e.x), e.y + 2.0 / 3.0 * (q.y - e.y), e.x, e.y);
        last = e;
        i += 2;
        break;
      }
      case Path::Verb::Cubic:
        cairo_curve_to(cr, pts[i].x, pts[i].y, pts[i + 1].x, pts[i + 1].y, pts[i + 2].x, pts[i + 2].y);
        last = pts[i + 2];
        i += 3;
        break;
      case Path::Verb::Close: cairo_close_path(cr); break;
    }
  }
  cairo_set_fill_rule(cr, p.fillType == Path::FillType::EvenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
}

Path TransformPath(const Path& p, const Matrix& m) {
  Path out;
  out.fillType = p.fillType;
  const auto& pts = p.points();
  size_t i = 0;
  auto mp = [&](size_t k) {
    double x, y;
    m.MapPoint(pts[k].x, pts[k].y, &x, &y);
    return Path::Point{x, y};
  };
  for (Path::Verb v : p.verbs()) {
    switch (v) {
      case Path::Verb::Move: { auto a = mp(i++); out.MoveTo(a.x, a.y); break; }
      case Path::Verb::Line: { auto a = mp(i++); out.LineTo(a.x, a.y); break; }
      case Path::Verb::Quad: { auto a = mp(i), b = mp(i + 1); i += 2; out.QuadTo(a.x, a.y, b.x, b.y); break; }
      case Path::Verb::Cubic: {
        auto a = mp(i), b = mp(i + 1), c = mp(i + 2);
        i += 3;
        out.CubicTo(a.x, a.y, b.x, b.y, c.x, c.y);
        break;
      }
      case Path::Verb::Close: out.Close(); break;
    }
  }
  return out;
}

IRect RoundOut(double l, double t, double r, double b) {
  auto clampi = [](double v) { return int(std::clamp(v, -1e9, 1e9)); };
  return {clampi(std::floor(l)), clampi(std::floor(t)), clampi(std::ceil(r)), clampi(std::ceil(b))};
}

bool NearInt(double v) { return std::fabs(v - std::round(v)) < 1e-6; }

struct ClipEntry {
  bool isRect = true;
  IRect rect;
  Path devPath;  // device space, when !isRect
  bool aa = false;
};

// Pixels outside the image drawn by an image filter that may still matter.
int FilterOutset(const ImageFilter* f) {
  int o = 0;
  for (; f; f = f->input.get()) {
    switch (f->kind) {
      case ImageFilter::Kind::Blur: o += std::max(BlurRadius(f->sigmaX), BlurRadius(f->sigmaY)); break;
      case ImageFilter::Kind::DropShadow:
        o += std::max(BlurRadius(f->sigmaX), BlurRadius(f->sigmaY)) +
             int(std::ceil(std::max(std::fabs(f->dx), std::fabs(f->dy))));
        break;
      case ImageFilter::Kind::MatrixConvolution: o += 2; break;
      default: break;
    }
  }
  return o;
}

}  // namespace


// ---------------------------------------------------------------------------

struct Canvas::State {
  Matrix ctm;
  std::vector<ClipEntry> clips;
  IRect bounds;          // device bounds of the clip
  bool rectOnly = true;  // the clip is exactly `bounds`
};

struct Canvas::Impl {
  Surface* surf = nullptr;
  PixelView view;
  cairo_surface_t* cs = nullptr;
  cairo_t* cr = nullptr;
  bool cairoTried = false;
  State cur;
  std::vector<State> saved;

  ~Impl() {
    if (cr) cairo_destroy(cr);
    if (cs) cairo_surface_destroy(cs);
  }

  cairo_t* Cairo() {
    if (!cairoTried) {
      cairoTried = true;
      if (view.width <= kCairoMaxSize && view.height <= kCairoMaxSize) {
        cs = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(view.base), CAIRO_FORMAT_ARGB32,
                                                 view.width, view.height, int(view.rowBytes));
        if (cairo_surface_status(cs) == CAIRO_STATUS_SUCCESS) {
          cr = cairo_create(cs);
          if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
            cairo_destroy(cr);
            cr = nullptr;
          }
        }
      }
    }
    return cr;
  }

  // Clip paths and rectangles of the state, in device space shifted by -origin.
  static void ApplyClip(cairo_t* c, const State& st, IPoint origin) {
    cairo_identity_matrix(c);
    for (const ClipEntry& e : st.clips) {
      if (e.isRect) {
        cairo_rectangle(c, e.rect.left - origin.x, e.rect.top - origin.y, e.rect.width(), e.rect.height());
        cairo_set_antialias(c, CAIRO_ANTIALIAS_NONE);
      } else {
        cairo_translate(c, -origin.x, -origin.y);
        AppendPath(c, e.devPath);
        cairo_identity_matrix(c);
        cairo_set_antialias(c, e.aa ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
      }
      cairo_clip(c);
    }
  }

  IRect SurfaceBounds() const { return IRect::MakeWH(view.width, view.height); }
};

Canvas::Canvas(Surface* s) : impl_(std::make_unique<Impl>()) {
  impl_->surf = s;
  impl_->view = s->PeekPixels();
  impl_->cur.bounds = impl_->SurfaceBounds();
}

Canvas::~Canvas() = default;

int Canvas::width() const { return impl_->view.width; }
int Canvas::height() const { return impl_->view.height; }

int Canvas::Save() {
  impl_->saved.push_back(impl_->cur);
  return int(impl_->saved.size());
}

void Canvas::Restore() {
  if (impl_->saved.empty()) return;
  impl_->cur = std::move(impl_->saved.back());
  impl_->saved.pop_back();
}

void Canvas::RestoreToCount(int count) {
  while (int(impl_->saved.size()) >= std::max(1, count)) Restore();
}

int Canvas::SaveCount() const { return int(impl_->saved.size()) + 1; }

void Canvas::Translate(double dx, double dy) { Concat(Matrix::Translate(dx, dy)); }
void Canvas::Scale(double sx, double sy) { Concat(Matrix::Scale(sx, sy)); }
void Canvas::Rotate(double degrees) { Concat(Matrix::RotateRad(degrees * M_PI / 180.0)); }
void Canvas::RotateRadians(double rad) { Concat(Matrix::RotateRad(rad)); }
void Canvas::Concat(const Matrix& m) { impl_->cur.ctm = impl_->cur.ctm * m; }
void Canvas::SetMatrix(const Matrix& m) { impl_->cur.ctm = m; }
void Canvas::ResetMatrix() { impl_->cur.ctm = Matrix(); }
Matrix Canvas::GetTotalMatrix() const { return impl_->cur.ctm; }
IRect Canvas::DeviceClipBounds() const { return impl_->cur.bounds; }

void Canvas::ClipRect(const RectF& r, bool antiAlias) {
  const Matrix& m = impl_->cur.ctm;
  if (m.isScaleTranslate()) {
    double x0, y0, x1, y1;
    m.MapPoint(r.left, r.top, &x0, &y0);
    m.MapPoint(r.right, r.bottom, &x1, &y1);
    if (x0 > x1) std::swap(x0, x1);
    if (y0 > y1) std::swap(y0, y1);
    bool exact = NearInt(x0) && NearInt(y0) && NearInt(x1) && NearInt(y1);
    if (exact || !antiAlias) {
      // Without anti-aliasing a pixel is inside when its centre is.
      IRect ir{int(std::ceil(x0 - 0.5)), int(std::ceil(y0 - 0.5)), int(std::ceil(x1 - 0.5)), int(std::ceil(y1 - 0.5))};
      if (exact) ir = {int(std::lround(x0)), int(std::lround(y0)), int(std::lround(x1)), int(std::lround(y1))};
      ClipEntry e;
      e.rect = ir;
      impl_->cur.clips.push_back(e);
      if (!impl_->cur.bounds.intersect(ir)) impl_->cur.bounds = {};
      return;
    }
  }
  Path p;
  p.AddRect(r);
  ClipPath(p, antiAlias);
}

void Canvas::ClipPath(const Path& p, bool antiAlias) {
  ClipEntry e;
  e.isRect = false;
  e.aa = antiAlias;
  e.devPath = TransformPath(p, impl_->cur.ctm);
  double l = 1e300, t = 1e300, r = -1e300, b = -1e300;
  for (const auto& pt : e.devPath.points()) {
    l = std::min(l, pt.x);
    t = std::min(t, pt.y);
    r = std::max(r, pt.x);
    b = std::max(b, pt.y);
  }
  IRect ib = e.devPath.points().empty() ? IRect{} : RoundOut(l, t, r, b);
  impl_->cur.clips.push_back(std::move(e));
  impl_->cur.rectOnly = false;
  if (!impl_->cur.bounds.intersect(ib)) impl_->cur.bounds = {};
}

bool Canvas::DrawWithCairo(const std::function<void(cairo_t*)>& fn) {
  cairo_t* cr = impl_->Cairo();
  if (!cr) return false;
  cairo_surface_mark_dirty(impl_->cs);
  cairo_save(cr);
  Impl::ApplyClip(cr, impl_->cur, {0, 0});
  cairo_matrix_t m = ToCairo(impl_->cur.ctm);
  cairo_set_matrix(cr, &m);
  fn(cr);
  cairo_restore(cr);
  cairo_surface_flush(impl_->cs);
  return true;
}

// ---------------------------------------------------------------------------
// Coverage masks and the interpolating composite for unbounded modes.

namespace {

struct A8Mask {
  cairo_surface_t* s = nullptr;
  int w = 0, h = 0;
  ~A8Mask() {
    if (s) cairo_surface_destroy(s);
  }
  uint8_t* data() const { return cairo_image_surface_get_data(s); }
  int stride() const { return cairo_image_surface_get_stride(s); }
};

// Renders the clip (and, if given, a device-space shape) as coverage over `r`.
bool MakeMask(A8Mask& m, const IRect& r, const Canvas::State* st, const Path* shape, bool shapeAA,
              void (*applyClip)(cairo_t*, const Canvas::State&, IPoint)) {
  if (r.width() > kCairoMaxSize || r.height() > kCairoMaxSize) return false;
  m.s = cairo_image_surface_create(CAIRO_FORMAT_A8, r.width(), r.height());
  if (cairo_surface_status(m.s) != CAIRO_STATUS_SUCCESS) return false;
  m.w = r.width();
  m.h = r.height();
  cairo_t* c = cairo_create(m.s);
  applyClip(c, *st, {r.left, r.top});
  cairo_set_source_rgba(c, 0, 0, 0, 1);
  if (shape) {
    cairo_translate(c, -r.left, -r.top);
    AppendPath(c, *shape);
    cairo_set_antialias(c, shapeAA ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
    cairo_fill(c);
  } else {
    cairo_paint(c);
  }
  cairo_destroy(c);
  cairo_surface_flush(m.s);
  return true;
}

pixman_image_t* WrapA8(const A8Mask& m) {
  return pixman_image_create_bits(PIXMAN_a8, m.w, m.h, reinterpret_cast<uint32_t*>(m.data()), m.stride());
}

pixman_image_t* WrapView(const PixelView& v, bool opaque = false) {
  return pixman_image_create_bits(opaque ? PIXMAN_x8r8g8b8 : PIXMAN_a8r8g8b8, v.width, v.height, v.base,
                                  int(v.rowBytes));
}

// A source ready to composite: a pixman image plus the fixed setup to recreate
// it per band (pixman images must not be shared between threads).
struct PaintSource {
  ConstPixelView pixels;
  bool opaque = false;
  bool solid = false;
  pixman_color_t solidColor{};
  bool transformed = false;
  pixman_transform_t transform{};
  pixman_filter_t filter = PIXMAN_FILTER_NEAREST;
  std::vector<pixman_fixed_t> params;
  pixman_repeat_t repeat = PIXMAN_REPEAT_PAD;
  IPoint offset{0, 0};  // untransformed: source pixel = device pixel - offset
  // Cubic without shrinking: our own resampler instead of pixman's generic
  // convolution; inverse maps device to source pixel coordinates.
  bool mitchell = false;
  double inverse[6] = {1, 0, 0, 1, 0, 0};

  pixman_image_t* Create() const {
    pixman_image_t* img;
    if (solid) return pixman_image_create_solid_fill(&solidColor);
    img = pixman_image_create_bits(opaque ? PIXMAN_x8r8g8b8 : PIXMAN_a8r8g8b8, pixels.width, pixels.height,
                                   const_cast<uint32_t*>(pixels.base), int(pixels.rowBytes));
    if (!img) return nullptr;
    if (transformed) {
      pixman_image_set_transform(img, &transform);
      pixman_image_set_filter(img, filter, params.empty() ? nullptr : params.data(), int(params.size()));
    }
    pixman_image_set_repeat(img, repeat);
    return img;
  }
};

pixman_color_t SolidAlpha(float a) {
  uint16_t v = uint16_t(std::lround(std::clamp(a, 0.0f, 1.0f) * 65535.0f));
  return {v, v, v, v};
}

// Composites `src` (optionally scaled by `alpha`) onto dst over the device
// rectangle r with the blend mode, limited by `cov` (coverage, may be null for
// full coverage of r). Large areas are split into bands across cores.
void Composite(const PaintSource& src, float alpha, const A8Mask* cov, const PixelView& dst, const IRect& r,
               BlendMode mode) {
  if (r.isEmpty()) return;
  bool bounded = IsBounded(mode);
  auto band = [&](int y0, int y1) {
    pixman_image_t* s = src.Create();
    pixman_image_t* d = WrapView(dst);
    if (!s || !d) {
      if (s) pixman_image_unref(s);
      if (d) pixman_image_unref(d);
      return;
    }
    int sx = src.transformed ? r.left : r.left - src.offset.x;
    int sy = src.transformed ? y0 : y0 - src.offset.y;
    std::vector<uint32_t> resampled;
    if (src.transformed && src.filter == PIXMAN_FILTER_SEPARABLE_CONVOLUTION) {
      // The cubic kernel's negative lobes can push a colour channel above
      // alpha next to transparent pixels; resample first and restore valid
      // premultiplied pixels before compositing.
      int bw = r.width(), bh = y1 - y0;
      resampled.resize(size_t(bw) * size_t(bh));
      PixelView tv{resampled.data(), size_t(bw) * 4, bw, bh};
      if (src.mitchell) {
        ResampleMitchellAffine(src.pixels, src.inverse, r.left, y0, tv);
      } else {
        pixman_image_t* t = WrapView(tv);
        pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, t, sx, sy, 0, 0, 0, 0, bw, bh);
        pixman_image_unref(t);
      }
      for (uint32_t& p : resampled) {
        uint32_t a = p >> 24;
        if (a == 255) continue;
        uint32_t rr = std::min(GetR(p), a), gg = std::min(GetG(p), a), bb = std::min(GetB(p), a);
        p = MakeColor(a, rr, gg, bb);
      }
      pixman_image_unref(s);
      // The temporary covers exactly the band; address it from the band origin.
      s = WrapView(tv);
      if (!s) {
        pixman_image_unref(d);
        return;
      }
      sx = 0;
      sy = 0;
    }
    pixman_image_t* alphaMask = nullptr;
    if (alpha < 1.0f) {
      pixman_color_t c = SolidAlpha(alpha);
      alphaMask = pixman_image_create_solid_fill(&c);
    }
    if (mode == BlendMode::Modulate) {
      // No pixman operator: render the source, then blend in software.
      std::vector<uint32_t> tmp(size_t(r.width()) * size_t(y1 - y0));
      PixelView tv{tmp.data(), size_t(r.width()) * 4, r.width(), y1 - y0};
      pixman_image_t* t = WrapView(tv);
      pixman_image_composite32(PIXMAN_OP_SRC, s, alphaMask, t, sx, sy, 0, 0, 0, 0, r.width(), y1 - y0);
      pixman_image_unref(t);
      for (int y = y0; y < y1; ++y) {
        uint32_t* drow = dst.row(y) + r.left;
        const uint32_t* srow = tv.row(y - y0);
        const uint8_t* mrow = cov ? cov->data() + size_t(y - r.top) * cov->stride() : nullptr;
        for (int x = 0; x < r.width(); ++x) {
          uint32_t m = mrow ? mrow[x] : 255;
          if (m == 0) continue;
          uint32_t b = BlendPixel(BlendMode::Modulate, srow[x], drow[x]);
          if (m == 255) {
            drow[x] = b;
          } else {
            uint32_t o = drow[x], res = 0;
            for (int sh = 0; sh < 32; sh += 8) {
              uint32_t dv = (o >> sh) & 255, bv = (b >> sh) & 255;
              res |= ((dv * (255 - m) + bv * m + 127) / 255) << sh;
            }
            drow[x] = res;
          }
        }
      }
    } else if (!cov || bounded) {
      if (cov && alphaMask) {
        // Coverage times alpha, in a band-local A8 buffer.
        A8Mask combined;
        combined.s = cairo_image_surface_create(CAIRO_FORMAT_A8, r.width(), y1 - y0);
        combined.w = r.width();
        combined.h = y1 - y0;
        uint32_t a8 = uint32_t(std::lround(std::clamp(alpha, 0.0f, 1.0f) * 255));
        for (int y = y0; y < y1; ++y) {
          const uint8_t* mr = cov->data() + size_t(y - r.top) * cov->stride();
          uint8_t* o = combined.data() + size_t(y - y0) * combined.stride();
          for (int x = 0; x < r.width(); ++x) o[x] = uint8_t((mr[x] * a8 + 127) / 255);
        }
        cairo_surface_mark_dirty(combined.s);
        pixman_image_t* cm = WrapA8(combined);
        pixman_image_composite32(PixmanOp(mode), s, cm, d, sx, sy, 0, 0, r.left, y0, r.width(), y1 - y0);
        pixman_image_unref(cm);
      } else {
        pixman_image_t* covImg = cov ? WrapA8(*cov) : nullptr;
        pixman_image_composite32(PixmanOp(mode), s, covImg ? covImg : alphaMask, d, sx, sy, 0, y0 - r.top, r.left,
                                 y0, r.width(), y1 - y0);
        if (covImg) pixman_image_unref(covImg);
      }
    } else {
      // Unbounded mode with partial coverage: blend into a copy, then
      // interpolate between old and new by coverage.
      int bw = r.width(), bh = y1 - y0;
      std::vector<uint32_t> tmp(size_t(bw) * size_t(bh));
      for (int y = 0; y < bh; ++y) std::memcpy(&tmp[size_t(y) * bw], dst.row(y0 + y) + r.left, size_t(bw) * 4);
      PixelView tv{tmp.data(), size_t(bw) * 4, bw, bh};
      pixman_image_t* t = WrapView(tv);
      pixman_image_composite32(PixmanOp(mode), s, alphaMask, t, sx, sy, 0, 0, 0, 0, bw, bh);
      pixman_image_t* covImg = WrapA8(*cov);
      pixman_image_composite32(PIXMAN_OP_OUT_REVERSE, covImg, nullptr, d, 0, y0 - r.top, 0, 0, r.left, y0, bw, bh);
      pixman_image_composite32(PIXMAN_OP_ADD, t, covImg, d, 0, 0, 0, y0 - r.top, r.left, y0, bw, bh);
      pixman_image_unref(covImg);
      pixman_image_unref(t);
    }
    if (alphaMask) pixman_image_unref(alphaMask);
    pixman_image_unref(s);
    pixman_image_unref(d);
  };
  int64_t area = int64_t(r.width()) * r.height();
  bool heavy = src.transformed && src.filter != PIXMAN_FILTER_NEAREST;
  int64_t threshold = heavy ? (1 << 16) : (1 << 20);
  if (area < threshold || r.height() < 16) {
    band(r.top, r.bottom);
    return;
  }
  int grain = std::max(8, int(threshold / std::max(1, r.width())));
  ParallelRange(r.top, r.bottom, grain, band);
}

}  // namespace

// ---------------------------------------------------------------------------
// Clear and solid fills.

void Canvas::Clear(TAlphaColor color) {
  const State& st = impl_->cur;
  IRect r = st.bounds;
  if (!r.intersect(impl_->SurfaceBounds())) return;
  TAlphaColor c = Premultiply(color);
  if (st.rectOnly) {
    for (int y = r.top; y < r.bottom; ++y) {
      uint32_t* row = impl_->view.row(y) + r.left;
      if (c == 0)
        std::memset(row, 0, size_t(r.width()) * 4);
      else
        std::fill(row, row + r.width(), c);
    }
    return;
  }
  A8Mask m;
  if (!MakeMask(m, r, &st, nullptr, false, &Impl::ApplyClip)) return;
  PaintSource s;
  s.solid = true;
  s.solidColor = {uint16_t(GetR(c) * 257), uint16_t(GetG(c) * 257), uint16_t(GetB(c) * 257), uint16_t(GetA(c) * 257)};
  Composite(s, 1.0f, &m, impl_->view, r, BlendMode::Src);
}

void Canvas::DrawColor(TAlphaColor color, BlendMode mode) {
  Paint p(color);
  p.blendMode = mode;
  DrawPaint(p);
}

void Canvas::DrawPaint(const Paint& paint) {
  IRect r = impl_->cur.bounds;
  if (!r.intersect(impl_->SurfaceBounds())) return;
  Matrix inv;
  if (!impl_->cur.ctm.Invert(&inv)) return;
  // Cover the clip: a device rectangle expressed in user space.
  Path p;
  p.AddRect(RectF::Make(r));
  Save();
  ResetMatrix();
  DrawPath(p, paint);
  Restore();
}

void Canvas::DrawRect(const RectF& r, const Paint& paint) {
  Path p;
  p.AddRect(r);
  DrawPath(p, paint);
}

void Canvas::DrawOval(const RectF& r, const Paint& paint) {
  Path p;
  p.AddOval(r);
  DrawPath(p, paint);
}

void Canvas::DrawCircle(double cx, double cy, double radius, const Paint& paint) {
  if (radius <= 0) return;
  Path p;
  p.AddCircle(cx, cy, radius);
  DrawPath(p, paint);
}

void Canvas::DrawLine(double x0, double y0, double x1, double y1, const Paint& paint) {
  Path p;
  p.MoveTo(x0, y0).LineTo(x1, y1);
  Paint q = paint;
  q.style = PaintStyle::Stroke;
  DrawPath(p, q);
}

namespace {

void SetCairoSource(cairo_t* cr, const Paint& paint, TAlphaColor premulColor, cairo_surface_t** keepAlive) {
  if (paint.shader) {
    const Shader& sh = *paint.shader;
    cairo_pattern_t* pat = nullptr;
    if (sh.kind == Shader::Kind::Image) {
      ConstPixelView v = sh.image.PeekPixels();
      if (v.width <= kCairoMaxSize && v.height <= kCairoMaxSize) {
        *keepAlive = cairo_image_surface_create_for_data(
            reinterpret_cast<unsigned char*>(const_cast<uint32_t*>(v.base)), CAIRO_FORMAT_ARGB32, v.width, v.height,
            int(v.rowBytes));
        pat = cairo_pattern_create_for_surface(*keepAlive);
        cairo_pattern_set_extend(pat, CairoExtend(sh.tileX));
        cairo_pattern_set_filter(pat, sh.sampling.useCubic ? CAIRO_FILTER_BEST
                                      : sh.sampling.filter == FilterMode::Linear ? CAIRO_FILTER_BILINEAR
                                                                                  : CAIRO_FILTER_NEAREST);
        Matrix lm{sh.local[0], sh.local[1], sh.local[2], sh.local[3], sh.local[4], sh.local[5]}, inv;
        if (lm.Invert(&inv)) {
          cairo_matrix_t cm = ToCairo(inv);
          cairo_pattern_set_matrix(pat, &cm);
        }
      }
    } else {
      if (sh.kind == Shader::Kind::LinearGradient)
        pat = cairo_pattern_create_linear(sh.p[0], sh.p[1], sh.p[2], sh.p[3]);
      else
        pat = cairo_pattern_create_radial(sh.p[0], sh.p[1], 0, sh.p[0], sh.p[1], sh.p[2]);
      size_t n = sh.colors.size();
      for (size_t i = 0; i < n; ++i) {
        double pos = i < sh.positions.size() ? sh.positions[i] : (n > 1 ? double(i) / double(n - 1) : 0.0);
        TAlphaColor c = sh.colors[i];
        double a = GetA(c) / 255.0 * paint.alphaf();
        cairo_pattern_add_color_stop_rgba(pat, pos, GetR(c) / 255.0, GetG(c) / 255.0, GetB(c) / 255.0, a);
      }
      cairo_pattern_set_extend(pat, CairoExtend(sh.tileX));
    }
    if (pat) {
      cairo_set_source(cr, pat);
      cairo_pattern_destroy(pat);
      return;
    }
  }
  TAlphaColor u = Unpremultiply(premulColor);
  cairo_set_source_rgba(cr, GetR(u) / 255.0, GetG(u) / 255.0, GetB(u) / 255.0, GetA(u) / 255.0);
}

void ApplyStroke(cairo_t* cr, const Paint& p) {
  double w = p.strokeWidth;
  if (w <= 0) {
    double dx = 1, dy = 0;
    cairo_device_to_user_distance(cr, &dx, &dy);
    w = std::hypot(dx, dy);
  }
  cairo_set_line_width(cr, w);
  cairo_set_line_cap(cr, p.cap == StrokeCap::Round    ? CAIRO_LINE_CAP_ROUND
                         : p.cap == StrokeCap::Square ? CAIRO_LINE_CAP_SQUARE
                                                      : CAIRO_LINE_CAP_BUTT);
  cairo_set_line_join(cr, p.join == StrokeJoin::Round   ? CAIRO_LINE_JOIN_ROUND
                          : p.join == StrokeJoin::Bevel ? CAIRO_LINE_JOIN_BEVEL
                                                        : CAIRO_LINE_JOIN_MITER);
  cairo_set_miter_limit(cr, p.miterLimit);
  if (!p.dashIntervals.empty()) {
    std::vector<double> d(p.dashIntervals.begin(), p.dashIntervals.end());
    cairo_set_dash(cr, d.data(), int(d.size()), p.dashPhase);
  }
}

}  // namespace

void Canvas::DrawPath(const Path& path, const Paint& paint) {
  if (path.isEmpty()) return;
  cairo_t* cr = impl_->Cairo();
  if (!cr) return;
  const State& st = impl_->cur;
  IRect clipR = st.bounds;
  if (!clipR.intersect(impl_->SurfaceBounds())) return;

  bool stroke = paint.style != PaintStyle::Fill;
  bool fill = paint.style != PaintStyle::Stroke;
  TAlphaColor solid = Premultiply(paint.color);
  if (paint.colorFilter && !paint.shader) solid = paint.colorFilter->FilterColor(solid);

  // Device-space bounds of the geometry.
  cairo_save(cr);
  cairo_identity_matrix(cr);
  cairo_reset_clip(cr);
  cairo_matrix_t cm = ToCairo(st.ctm);
  cairo_set_matrix(cr, &cm);
  AppendPath(cr, path);
  double x0, y0, x1, y1;
  if (stroke) {
    ApplyStroke(cr, paint);
    cairo_stroke_extents(cr, &x0, &y0, &x1, &y1);
  } else {
    cairo_fill_extents(cr, &x0, &y0, &x1, &y1);
  }
  cairo_new_path(cr);
  cairo_restore(cr);
  double dx[4], dy[4];
  st.ctm.MapPoint(x0, y0, &dx[0], &dy[0]);
  st.ctm.MapPoint(x1, y0, &dx[1], &dy[1]);
  st.ctm.MapPoint(x0, y1, &dx[2], &dy[2]);
  st.ctm.MapPoint(x1, y1, &dx[3], &dy[3]);
  IRect geo = RoundOut(*std::min_element(dx, dx + 4) - 1, *std::min_element(dy, dy + 4) - 1,
                       *std::max_element(dx, dx + 4) + 1, *std::max_element(dy, dy + 4) + 1);

  bool layer = paint.imageFilter || paint.blendMode == BlendMode::Modulate || (paint.shader && paint.colorFilter) ||
               (!IsBounded(paint.blendMode) && stroke);
  if (layer) {
    // Draw the geometry plainly into a layer, filter it, then composite it.
    int out = FilterOutset(paint.imageFilter.get());
    IRect lr = geo;
    IRect reach = clipR;
    reach = {reach.left - out, reach.top - out, reach.right + out, reach.bottom + out};
    if (!lr.intersect(reach)) return;
    auto ls = Surface::MakeRaster(lr.width(), lr.height());
    if (!ls) return;
    Canvas* lc = ls->GetCanvas();
    lc->SetMatrix(Matrix::Translate(-lr.left, -lr.top) * st.ctm);
    Paint p2 = paint;
    p2.imageFilter = nullptr;
    p2.blendMode = BlendMode::SrcOver;
    if (p2.shader && p2.colorFilter) {
      p2.colorFilter = nullptr;
      lc->DrawPath(path, p2);
      PixelView v = ls->PeekPixels();
      for (int y = 0; y < v.height; ++y) paint.colorFilter->FilterRow(v.row(y), v.width);
    } else {
      lc->DrawPath(path, p2);
    }
    Image img = ls->MakeImageSnapshot();
    IPoint off{0, 0};
    if (paint.imageFilter) img = paint.imageFilter->Apply(img, &off);
    if (!img) return;
    Paint cp;
    cp.blendMode = paint.blendMode;
    Save();
    ResetMatrix();
    DrawImage(img, lr.left + off.x, lr.top + off.y, SamplingOptions::Low(), &cp);
    Restore();
    return;
  }

  cairo_surface_mark_dirty(impl_->cs);
  cairo_save(cr);
  Impl::ApplyClip(cr, st, {0, 0});
  cairo_set_matrix(cr, &cm);
  cairo_surface_t* keep = nullptr;
  SetCairoSource(cr, paint, solid, &keep);
  cairo_set_operator(cr, CairoOp(paint.blendMode));
  cairo_set_antialias(cr, paint.antiAlias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
  AppendPath(cr, path);
  if (!IsBounded(paint.blendMode)) {
    // Limit the unbounded operator to the shape: the clip interpolates by coverage.
    cairo_clip(cr);
    cairo_paint(cr);
  } else if (fill && stroke) {
    cairo_fill_preserve(cr);
    ApplyStroke(cr, paint);
    cairo_stroke(cr);
  } else if (fill) {
    cairo_fill(cr);
  } else {
    ApplyStroke(cr, paint);
    cairo_stroke(cr);
  }
  cairo_restore(cr);
  if (keep) cairo_surface_destroy(keep);
  cairo_surface_flush(impl_->cs);
}

// ---------------------------------------------------------------------------
// Mitchell resampling of axis-aligned scaled draws: two separable passes with
// weights worked out once per output column and row, across cores in bands
// of rows. It samples where pixman's separable convolution does (pixel
// centres mapped back into the source, edges clamped) but does not quantise
// positions, and it costs a fraction of the general path.

namespace {

// Mitchell-Netravali, B = C = 1/3, and its integral from 0 (odd in x).
double MitchellKernel(double x) {
  x = std::fabs(x);
  if (x < 1) return (7 * x * x * x - 12 * x * x + 16.0 / 3) / 6;
  if (x < 2) return (-7.0 / 3 * x * x * x + 12 * x * x - 20 * x + 32.0 / 3) / 6;
  return 0;
}

double MitchellIntegral(double x) {
  auto inner = [](double t) { return (7.0 / 4 * t * t * t * t - 4 * t * t * t + 16.0 / 3 * t) / 6; };
  auto outer = [](double t) { return (-7.0 / 12 * t * t * t * t + 4 * t * t * t - 10 * t * t + 32.0 / 3 * t) / 6; };
  double a = std::fabs(x), r;
  if (a < 1)
    r = inner(a);
  else if (a < 2)
    r = inner(1) + outer(a) - outer(1);
  else
    r = 0.5;
  return x < 0 ? -r : r;
}

constexpr int kWeightBits = 14;

// For every output sample of one axis: the source samples it reads (clamped
// into the source) and their 14-bit weights, packed two to an int32 for
// pmaddwd-style multiply-adds. `taps` is even; unused taps weigh nothing.
struct ResampleAxis {
  int taps = 0;
  std::vector<int32_t> index;  // n * taps
  std::vector<int32_t> pairs;  // n * taps / 2
};

// Output j samples the source at u0 + j * step (pixel centres at i + 0.5).
// Shrinking widens the kernel by a box one output sample wide, as the
// general path does, so detail finer than the output does not alias.
ResampleAxis MakeResampleAxis(int n, double u0, double step, int srcLen) {
  ResampleAxis ax;
  const bool widen = step > 1.0001;
  const double half = 2 + (widen ? step / 2 : 0);
  ax.taps = int(std::ceil(2 * half));
  ax.taps += ax.taps & 1;
  ax.index.resize(size_t(n) * ax.taps);
  ax.pairs.resize(size_t(n) * ax.taps / 2);
  std::vector<double> w(size_t(ax.taps));
  std::vector<int> q(size_t(ax.taps));
  for (int j = 0; j < n; ++j) {
    const double u = u0 + j * step;
    const int i0 = int(std::floor(u - 0.5 - half)) + 1;
    double sum = 0;
    for (int t = 0; t < ax.taps; ++t) {
      double d = i0 + t + 0.5 - u;
      double v = 0;
      if (std::fabs(d) < half)
        v = widen ? MitchellIntegral(d + step / 2) - MitchellIntegral(d - step / 2) : MitchellKernel(d);
      w[size_t(t)] = v;
      sum += v;
    }
    // Rounded weights add up to exactly one: flat areas stay flat and opaque
    // pixels stay opaque. What rounding leaves over goes to the largest.
    int total = 0, big = 0;
    for (int t = 0; t < ax.taps; ++t) {
      q[size_t(t)] = int(std::lround(w[size_t(t)] / sum * (1 << kWeightBits)));
      total += q[size_t(t)];
      if (q[size_t(t)] > q[size_t(big)]) big = t;
    }
    q[size_t(big)] += (1 << kWeightBits) - total;
    for (int t = 0; t < ax.taps; ++t) ax.index[size_t(j) * ax.taps + t] = std::clamp(i0 + t, 0, srcLen - 1);
    for (int t = 0; t < ax.taps; t += 2)
      ax.pairs[(size_t(j) * ax.taps + t) / 2] =
          int32_t(uint32_t(uint16_t(q[size_t(t)])) | (uint32_t(uint16_t(q[size_t(t + 1)])) << 16));
  }
  return ax;
}

// The horizontal pass keeps 6 fractional bits per channel in int16: enough
// headroom for the kernel's overshoot, exact for flat areas.
constexpr int kMidBits = 6;

#if !defined(__SSE2__)
int16_t Weight(int32_t pair, int t) { return int16_t(uint16_t(uint32_t(pair) >> (t ? 16 : 0))); }
#endif

// One source row resampled to n pixels of four int16 channels.
void ResampleRowH(const uint32_t* src, const ResampleAxis& ax, int n, int16_t* out) {
  const int taps = ax.taps;
  for (int j = 0; j < n; ++j) {
    const int32_t* idx = &ax.index[size_t(j) * taps];
    const int32_t* pw = &ax.pairs[size_t(j) * taps / 2];
#if defined(__SSE2__)
    const __m128i z = _mm_setzero_si128();
    __m128i acc = z;
    if (idx[taps - 1] - idx[0] == taps - 1) {
      // Away from the edges the taps are neighbours: four pixels per load,
      // channels of neighbouring taps interleaved for the multiply-add.
      const uint32_t* p = src + idx[0];
      int t = 0;
      for (; t + 4 <= taps; t += 4) {
        __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + t));
        __m128i p01 = _mm_unpacklo_epi8(_mm_unpacklo_epi8(px, _mm_srli_si128(px, 4)), z);
        __m128i p23 = _mm_unpacklo_epi8(_mm_unpacklo_epi8(_mm_srli_si128(px, 8), _mm_srli_si128(px, 12)), z);
        acc = _mm_add_epi32(acc, _mm_add_epi32(_mm_madd_epi16(p01, _mm_set1_epi32(pw[t / 2])),
                                               _mm_madd_epi16(p23, _mm_set1_epi32(pw[t / 2 + 1]))));
      }
      for (; t < taps; t += 2) {
        __m128i px = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + t));
        __m128i p01 = _mm_unpacklo_epi8(_mm_unpacklo_epi8(px, _mm_srli_si128(px, 4)), z);
        acc = _mm_add_epi32(acc, _mm_madd_epi16(p01, _mm_set1_epi32(pw[t / 2])));
      }
    } else {
      for (int t = 0; t < taps; t += 2) {
        __m128i a = _mm_cvtsi32_si128(int(src[idx[t]])), b = _mm_cvtsi32_si128(int(src[idx[t + 1]]));
        __m128i ab = _mm_unpacklo_epi8(_mm_unpacklo_epi8(a, b), z);
        acc = _mm_add_epi32(acc, _mm_madd_epi16(ab, _mm_set1_epi32(pw[t / 2])));
      }
    }
    acc = _mm_srai_epi32(_mm_add_epi32(acc, _mm_set1_epi32(1 << (kWeightBits - kMidBits - 1))), kWeightBits - kMidBits);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + size_t(j) * 4), _mm_packs_epi32(acc, acc));
#else
    for (int c = 0; c < 4; ++c) {
      int32_t acc = 0;
      for (int t = 0; t < taps; ++t) acc += int32_t((src[idx[t]] >> (8 * c)) & 255) * Weight(pw[t / 2], t & 1);
      acc = (acc + (1 << (kWeightBits - kMidBits - 1))) >> (kWeightBits - kMidBits);
      out[size_t(j) * 4 + c] = int16_t(std::clamp(acc, -32768, 32767));
    }
#endif
  }
}

#if LQ_AVX2_PATHS
bool HaveAvx2() {
  static const bool yes = __builtin_cpu_supports("avx2");
  return yes;
}
#endif

#if LQ_AVX2_PATHS
// ResampleRowV for whole groups of eight pixels with AVX2; the same
// arithmetic, so the same result. Returns the first pixel not done.
LQ_AVX2 int ResampleRowV8(const int16_t* const* rows, const int32_t* pw, int taps, int n, uint32_t* out, bool opaque) {
  constexpr int kShift = kWeightBits + kMidBits;
  const __m256i round = _mm256_set1_epi32(1 << (kShift - 1));
  const __m256i alphaOnly = _mm256_set1_epi32(int32_t(0xFF000000u));
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    __m256i acc0 = _mm256_setzero_si256(), acc1 = acc0, acc2 = acc0, acc3 = acc0;
    for (int t = 0; t < taps; t += 2) {
      const __m256i wv = _mm256_set1_epi32(pw[t / 2]);
      // Pixels 0-3 and 4-7 of each row; unpacking works within 128-bit
      // halves, which the final permute puts back in order.
      __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[t] + size_t(x) * 4));
      __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[t + 1] + size_t(x) * 4));
      __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[t] + size_t(x) * 4 + 16));
      __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[t + 1] + size_t(x) * 4 + 16));
      acc0 = _mm256_add_epi32(acc0, _mm256_madd_epi16(_mm256_unpacklo_epi16(a0, b0), wv));
      acc1 = _mm256_add_epi32(acc1, _mm256_madd_epi16(_mm256_unpackhi_epi16(a0, b0), wv));
      acc2 = _mm256_add_epi32(acc2, _mm256_madd_epi16(_mm256_unpacklo_epi16(a1, b1), wv));
      acc3 = _mm256_add_epi32(acc3, _mm256_madd_epi16(_mm256_unpackhi_epi16(a1, b1), wv));
    }
    acc0 = _mm256_srai_epi32(_mm256_add_epi32(acc0, round), kShift);
    acc1 = _mm256_srai_epi32(_mm256_add_epi32(acc1, round), kShift);
    acc2 = _mm256_srai_epi32(_mm256_add_epi32(acc2, round), kShift);
    acc3 = _mm256_srai_epi32(_mm256_add_epi32(acc3, round), kShift);
    __m256i px = _mm256_packus_epi16(_mm256_packs_epi32(acc0, acc1), _mm256_packs_epi32(acc2, acc3));
    px = _mm256_permute4x64_epi64(px, 0xD8);
    if (opaque) {
      px = _mm256_or_si256(px, alphaOnly);
    } else {
      __m256i a = _mm256_srli_epi32(px, 24);
      a = _mm256_or_si256(a, _mm256_slli_epi32(a, 8));
      a = _mm256_or_si256(a, _mm256_slli_epi32(a, 16));
      px = _mm256_min_epu8(px, a);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), px);
  }
  return x;
}
#endif

// One output row of n pixels from `taps` intermediate rows (each padded to a
// multiple of four pixels). Colour is kept at most alpha: the kernel's
// negative lobes can otherwise ring above it where alpha changes.
void ResampleRowV(const int16_t* const* rows, const int32_t* pw, int taps, int n, uint32_t* out, bool opaque) {
  constexpr int kShift = kWeightBits + kMidBits;
#if defined(__SSE2__)
  const __m128i round = _mm_set1_epi32(1 << (kShift - 1));
  const __m128i alphaOnly = _mm_set1_epi32(int32_t(0xFF000000u));
  int x0 = 0;
#if LQ_AVX2_PATHS
  if (HaveAvx2()) x0 = ResampleRowV8(rows, pw, taps, n, out, opaque);
#endif
  for (int x = x0; x < n; x += 4) {
    __m128i acc[4] = {_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128()};
    for (int t = 0; t < taps; t += 2) {
      const __m128i wv = _mm_set1_epi32(pw[t / 2]);
      for (int h = 0; h < 2; ++h) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[t] + size_t(x) * 4 + h * 8));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[t + 1] + size_t(x) * 4 + h * 8));
        acc[2 * h] = _mm_add_epi32(acc[2 * h], _mm_madd_epi16(_mm_unpacklo_epi16(a, b), wv));
        acc[2 * h + 1] = _mm_add_epi32(acc[2 * h + 1], _mm_madd_epi16(_mm_unpackhi_epi16(a, b), wv));
      }
    }
    for (__m128i& v : acc) v = _mm_srai_epi32(_mm_add_epi32(v, round), kShift);
    __m128i px = _mm_packus_epi16(_mm_packs_epi32(acc[0], acc[1]), _mm_packs_epi32(acc[2], acc[3]));
    if (opaque) {
      px = _mm_or_si128(px, alphaOnly);
    } else {
      __m128i a = _mm_srli_epi32(px, 24);
      a = _mm_or_si128(a, _mm_slli_epi32(a, 8));
      a = _mm_or_si128(a, _mm_slli_epi32(a, 16));
      px = _mm_min_epu8(px, a);
    }
    if (x + 4 <= n) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), px);
    } else {
      uint32_t tail[4];
      _mm_storeu_si128(reinterpret_cast<__m128i*>(tail), px);
      std::memcpy(out + x, tail, size_t(n - x) * 4);
    }
  }
#else
  for (int x = 0; x < n; ++x) {
    int v[4];
    for (int c = 0; c < 4; ++c) {
      int32_t acc = 0;
      for (int t = 0; t < taps; ++t) acc += int32_t(rows[t][size_t(x) * 4 + c]) * Weight(pw[t / 2], t & 1);
      v[c] = std::clamp((acc + (1 << (kShift - 1))) >> kShift, 0, 255);
    }
    int a = opaque ? 255 : v[3];
    out[x] = MakeColor(uint32_t(a), uint32_t(std::min(v[2], a)), uint32_t(std::min(v[1], a)), uint32_t(std::min(v[0], a)));
  }
#endif
}

// Resamples `src` onto the device rectangle `region`, where device pixel X
// samples the source at (X + 0.5 - e) / a (and likewise for rows). Bands of
// rows run in parallel; each is written straight into `direct` (device
// coordinates) when given, else handed to `sink(y0, y1, pixels)`. An opaque
// source gives fully opaque pixels. False, with nothing drawn, when even one
// output row would need too many resampled source rows in memory (a very
// wide picture squeezed very flat).
template <typename Sink>
bool ResampleMitchell(ConstPixelView src, bool opaque, const Matrix& full, const IRect& region,
                      const PixelView* direct, const Sink& sink) {
  const int w = region.width(), h = region.height();
  const double stepX = 1.0 / full.a, stepY = 1.0 / full.d;
  const int wp = (w + 3) / 4 * 4;  // intermediate rows padded for whole vectors
  constexpr size_t kBandBudget = size_t(32) << 20;
  const double maxRows = double(kBandBudget) / (double(wp) * 4 * sizeof(int16_t));
  if (maxRows < 4 + stepY + 2) return false;
  ResampleAxis ax = MakeResampleAxis(w, (region.left + 0.5 - full.e) * stepX, stepX, src.width);
  ResampleAxis ay = MakeResampleAxis(h, (region.top + 0.5 - full.f) * stepY, stepY, src.height);
  // Bands read at most a few hundred source rows, and rows shared by two
  // bands are resampled twice, so bands are not too thin either; and the
  // source rows of one band stay within the budget.
  const double fit = std::floor((maxRows - ay.taps - 1) / stepY) + 1;
  const int band = std::max(1, std::min(std::clamp(int(128 / std::max(stepY, 0.5)), 4, 64), int(std::min(fit, 64.0))));
  ParallelRange(0, (h + band - 1) / band, 1, [&](int b0, int b1) {
    // Kept per thread: fresh megabytes for every band would be paid for in
    // page faults and clearing.
    static thread_local std::vector<int16_t> mid;
    static thread_local std::vector<uint32_t> outBand;
    std::vector<const int16_t*> rows(static_cast<size_t>(ay.taps));
    for (int b = b0; b < b1; ++b) {
      const int y0 = b * band, y1 = std::min(h, y0 + band);
      const int first = ay.index[size_t(y0) * ay.taps], last = ay.index[size_t(y1) * ay.taps - 1];
      mid.resize(size_t(last - first + 1) * wp * 4);
      for (int sy = first; sy <= last; ++sy) {
        int16_t* m = &mid[size_t(sy - first) * wp * 4];
        ResampleRowH(src.row(sy), ax, w, m);
        std::fill(m + size_t(w) * 4, m + size_t(wp) * 4, int16_t(0));
      }
      if (!direct) outBand.resize(size_t(w) * (y1 - y0));
      for (int y = y0; y < y1; ++y) {
        for (int t = 0; t < ay.taps; ++t)
          rows[size_t(t)] = &mid[size_t(ay.index[size_t(y) * ay.taps + t] - first) * wp * 4];
        uint32_t* out = direct ? direct->row(region.top + y) + region.left : &outBand[size_t(y - y0) * w];
        ResampleRowV(rows.data(), &ay.pairs[size_t(y) * ay.taps / 2], ay.taps, w, out, opaque);
      }
      if (!direct) sink(region.top + y0, region.top + y1, PixelView{outBand.data(), size_t(w) * 4, w, y1 - y0});
    }
    // Keep the usual few megabytes, not what one huge draw needed.
    constexpr size_t kKeep = size_t(8) << 20;
    if (mid.capacity() * sizeof(int16_t) > kKeep) std::vector<int16_t>().swap(mid);
    if (outBand.capacity() * sizeof(uint32_t) > kKeep) std::vector<uint32_t>().swap(outBand);
  });
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Images.

void Canvas::DrawImage(const Image& img, double x, double y, SamplingOptions sampling, const Paint* paint) {
  if (!img) return;
  DrawImageRect(img, RectF::MakeWH(img.width(), img.height()), RectF::MakeXYWH(x, y, img.width(), img.height()),
                sampling, paint);
}

void Canvas::DrawImageRect(const Image& img, const RectF& dst, SamplingOptions sampling, const Paint* paint) {
  if (!img) return;
  DrawImageRect(img, RectF::MakeWH(img.width(), img.height()), dst, sampling, paint);
}

void Canvas::DrawImageRect(const Image& img, const RectF& srcIn, const RectF& dstIn, SamplingOptions sampling,
                           const Paint* paint, SrcRectConstraint) {
  if (!img || srcIn.isEmpty() || dstIn.isEmpty()) return;
  // Clip the source rectangle to the image and move the destination with it.
  RectF src = srcIn, dst = dstIn;
  double sx = dst.width() / src.width(), sy = dst.height() / src.height();
  RectF ib = RectF::MakeWH(img.width(), img.height());
  RectF cs{std::max(src.left, ib.left), std::max(src.top, ib.top), std::min(src.right, ib.right),
           std::min(src.bottom, ib.bottom)};
  if (cs.isEmpty()) return;
  dst = {dst.left + (cs.left - src.left) * sx, dst.top + (cs.top - src.top) * sy,
         dst.right - (src.right - cs.right) * sx, dst.bottom - (src.bottom - cs.bottom) * sy};
  src = cs;

  const State& st = impl_->cur;
  IRect clipR = st.bounds;
  if (!clipR.intersect(impl_->SurfaceBounds())) return;
  float alpha = paint ? paint->alphaf() : 1.0f;
  BlendMode mode = paint ? paint->blendMode : BlendMode::SrcOver;
  bool aa = paint ? paint->antiAlias : false;

  if (paint && paint->imageFilter) {
    // Render into a layer in device space, filter, composite.
    double qx[4], qy[4];
    st.ctm.MapPoint(dst.left, dst.top, &qx[0], &qy[0]);
    st.ctm.MapPoint(dst.right, dst.top, &qx[1], &qy[1]);
    st.ctm.MapPoint(dst.left, dst.bottom, &qx[2], &qy[2]);
    st.ctm.MapPoint(dst.right, dst.bottom, &qx[3], &qy[3]);
    IRect lr = RoundOut(*std::min_element(qx, qx + 4), *std::min_element(qy, qy + 4), *std::max_element(qx, qx + 4),
                        *std::max_element(qy, qy + 4));
    int out = FilterOutset(paint->imageFilter.get());
    IRect reach{clipR.left - out, clipR.top - out, clipR.right + out, clipR.bottom + out};
    if (!lr.intersect(reach)) return;
    auto ls = Surface::MakeRaster(lr.width(), lr.height());
    if (!ls) return;
    Canvas* lc = ls->GetCanvas();
    lc->SetMatrix(Matrix::Translate(-lr.left, -lr.top) * st.ctm);
    Paint p2;
    p2.colorFilter = paint->colorFilter;
    p2.antiAlias = aa;
    lc->DrawImageRect(img, src, dst, sampling, &p2);
    IPoint off{0, 0};
    Image filtered = paint->imageFilter->Apply(ls->MakeImageSnapshot(), &off);
    if (!filtered) return;
    Paint cp;
    cp.color = paint->color | 0x00FFFFFFu;
    cp.setAlphaf(alpha);
    cp.blendMode = mode;
    Save();
    ResetMatrix();
    DrawImage(filtered, lr.left + off.x, lr.top + off.y, SamplingOptions::Low(), &cp);
    Restore();
    return;
  }

  Image source = img;
  if (paint && paint->colorFilter) {
    // Filter the pixels that will be sampled (the source rectangle plus a margin for the filter taps).
    IRect sr = RoundOut(src.left - 2, src.top - 2, src.right + 2, src.bottom + 2);
    sr.intersect(IRect::MakeWH(img.width(), img.height()));
    Image sub = img.MakeSubset(sr);
    auto store = AllocPixels(sub.width(), sub.height(), false);
    if (!store) return;
    ConstPixelView sv = sub.PeekPixels();
    PixelView dv = store->view();
    for (int y = 0; y < sv.height; ++y) {
      std::memcpy(dv.row(y), sv.row(y), size_t(sv.width) * 4);
      paint->colorFilter->FilterRow(dv.row(y), sv.width);
    }
    source = Image::MakeFromStore(std::move(store));
    src = {src.left - sr.left, src.top - sr.top, src.right - sr.left, src.bottom - sr.top};
  }

  // Source pixel space -> device space.
  double ssx = dst.width() / src.width(), ssy = dst.height() / src.height();
  Matrix full = st.ctm * Matrix{ssx, 0, 0, ssy, dst.left - src.left * ssx, dst.top - src.top * ssy};

  // Device footprint of the destination rectangle.
  double qx[4], qy[4];
  st.ctm.MapPoint(dst.left, dst.top, &qx[0], &qy[0]);
  st.ctm.MapPoint(dst.right, dst.top, &qx[1], &qy[1]);
  st.ctm.MapPoint(dst.right, dst.bottom, &qx[2], &qy[2]);
  st.ctm.MapPoint(dst.left, dst.bottom, &qx[3], &qy[3]);
  bool axisAligned = st.ctm.isScaleTranslate();
  IRect region;
  bool needShapeMask = false;
  if (axisAligned) {
    double l = std::min(qx[0], qx[2]), r = std::max(qx[0], qx[2]);
    double t = std::min(qy[0], qy[2]), b = std::max(qy[0], qy[2]);
    bool exact = NearInt(l) && NearInt(t) && NearInt(r) && NearInt(b);
    if (exact)
      region = {int(std::lround(l)), int(std::lround(t)), int(std::lround(r)), int(std::lround(b))};
    else if (!aa)
      region = {int(std::ceil(l - 0.5)), int(std::ceil(t - 0.5)), int(std::ceil(r - 0.5)), int(std::ceil(b - 0.5))};
    else {
      region = RoundOut(l, t, r, b);
      needShapeMask = true;
    }
  } else {
    region = RoundOut(*std::min_element(qx, qx + 4), *std::min_element(qy, qy + 4), *std::max_element(qx, qx + 4),
                      *std::max_element(qy, qy + 4));
    needShapeMask = true;
  }
  if (!region.intersect(clipR)) return;

  // Mipmap level: reduce by the area scale before bilinear sampling.
  IRect srcPix = RoundOut(src.left, src.top, src.right, src.bottom);
  srcPix.intersect(IRect::MakeWH(source.width(), source.height()));
  if (sampling.mipmap != MipmapMode::None && !sampling.useCubic) {
    double det = std::fabs(full.a * full.d - full.b * full.c);
    double scale = std::sqrt(det);
    if (scale > 0 && scale < 1) {
      int level = int(std::lround(std::log2(1.0 / scale)));
      level = std::min(level, source.MipLevelCount() - 1);
      if (level > 0) {
        Image lv = source.MipLevel(level);
        double fx = double(lv.width()) / source.width(), fy = double(lv.height()) / source.height();
        full = full * Matrix::Scale(1.0 / fx, 1.0 / fy);
        srcPix = RoundOut(srcPix.left * fx, srcPix.top * fy, srcPix.right * fx, srcPix.bottom * fy);
        srcPix.intersect(IRect::MakeWH(lv.width(), lv.height()));
        source = lv;
      }
    }
  }
  if (srcPix.isEmpty()) return;
  Image sub = source.MakeSubset(srcPix);
  full = full * Matrix::Translate(srcPix.left, srcPix.top);

  A8Mask mask;
  bool haveMask = false;
  if (needShapeMask || !st.rectOnly) {
    Path quad;
    quad.AddPolygon({{qx[0], qy[0]}, {qx[1], qy[1]}, {qx[2], qy[2]}, {qx[3], qy[3]}}, true);
    if (!MakeMask(mask, region, &st, needShapeMask ? &quad : nullptr, aa, &Impl::ApplyClip)) return;
    haveMask = true;
  }

  bool integerTranslate = full.isTranslateOnly() && NearInt(full.e) && NearInt(full.f);
  if (sampling.useCubic && !integerTranslate && full.isScaleTranslate() && full.a > 0 && full.d > 0) {
    // Scaled without rotation or mirroring: the separable resampler. Its
    // bands go through the same compositing as any other source, unless
    // they simply replace what is there.
    const bool opaque = sub.isOpaque();
    const PixelView& view = impl_->view;
    bool done;
    if (!haveMask && alpha >= 1.0f && (mode == BlendMode::Src || (mode == BlendMode::SrcOver && opaque))) {
      done = ResampleMitchell(sub.PeekPixels(), opaque, full, region, &view, [](int, int, const PixelView&) {});
    } else {
      done = ResampleMitchell(sub.PeekPixels(), opaque, full, region, nullptr, [&](int y0, int y1, const PixelView& px) {
        PaintSource bs;
        bs.pixels = px;
        bs.opaque = opaque;
        bs.offset = {region.left, y0};
        IRect br{region.left, y0, region.right, y1};
        if (!haveMask) {
          Composite(bs, alpha, nullptr, view, br, mode);
          return;
        }
        // The rows of the coverage mask that belong to this band.
        A8Mask bandMask;
        bandMask.s = cairo_image_surface_create_for_data(mask.data() + size_t(y0 - region.top) * mask.stride(),
                                                         CAIRO_FORMAT_A8, mask.w, y1 - y0, mask.stride());
        bandMask.w = mask.w;
        bandMask.h = y1 - y0;
        Composite(bs, alpha, &bandMask, view, br, mode);
      });
    }
    if (done) return;
  }

  PaintSource ps;
  ps.pixels = sub.PeekPixels();
  ps.opaque = sub.isOpaque();
  ps.repeat = PIXMAN_REPEAT_PAD;
  if (integerTranslate) {
    ps.offset = {int(std::lround(full.e)), int(std::lround(full.f))};
  } else {
    Matrix inv;
    if (!full.Invert(&inv)) return;
    pixman_f_transform ft;
    pixman_f_transform_init_identity(&ft);
    ft.m[0][0] = inv.a;
    ft.m[0][1] = inv.c;
    ft.m[0][2] = inv.e;
    ft.m[1][0] = inv.b;
    ft.m[1][1] = inv.d;
    ft.m[1][2] = inv.f;
    if (!pixman_transform_from_pixman_f_transform(&ps.transform, &ft)) return;
    ps.transformed = true;
    if (sampling.useCubic) {
      // Mitchell reconstruction; widened by a box when shrinking so it does not alias.
      double scx = std::hypot(inv.a, inv.b), scy = std::hypot(inv.c, inv.d);
      bool shrinkX = scx > 1.0001, shrinkY = scy > 1.0001;
      int n = 0;
      pixman_fixed_t* params = pixman_filter_create_separable_convolution(
          &n, pixman_double_to_fixed(shrinkX ? scx : 1.0), pixman_double_to_fixed(shrinkY ? scy : 1.0),
          PIXMAN_KERNEL_CUBIC, PIXMAN_KERNEL_CUBIC, shrinkX ? PIXMAN_KERNEL_BOX : PIXMAN_KERNEL_IMPULSE,
          shrinkY ? PIXMAN_KERNEL_BOX : PIXMAN_KERNEL_IMPULSE, 8, 8);
      if (params) {
        ps.params.assign(params, params + n);
        free(params);
        ps.filter = PIXMAN_FILTER_SEPARABLE_CONVOLUTION;
        ps.mitchell = !shrinkX && !shrinkY;
        double invm[6] = {inv.a, inv.b, inv.c, inv.d, inv.e, inv.f};
        std::copy(invm, invm + 6, ps.inverse);
      } else {
        ps.filter = PIXMAN_FILTER_BILINEAR;
      }
    } else {
      ps.filter = sampling.filter == FilterMode::Linear ? PIXMAN_FILTER_BILINEAR : PIXMAN_FILTER_NEAREST;
    }
  }

  Composite(ps, alpha, haveMask ? &mask : nullptr, impl_->view, region, mode);
}

void Canvas::DrawImageNine(const Image& img, const IRect& center, const RectF& dst, FilterMode filter,
                           const Paint* paint) {
  if (!img) return;
  double xs[4] = {0, double(center.left), double(center.right), double(img.width())};
  double ys[4] = {0, double(center.top), double(center.bottom), double(img.height())};
  double lw = center.left, rw = img.width() - center.right;
  double th = center.top, bh = img.height() - center.bottom;
  // Corners shrink proportionally when the destination is smaller than them.
  double fx = std::min(1.0, dst.width() / std::max(1e-9, lw + rw));
  double fy = std::min(1.0, dst.height() / std::max(1e-9, th + bh));
  double dxs[4] = {dst.left, dst.left + lw * fx, dst.right - rw * fx, dst.right};
  double dys[4] = {dst.top, dst.top + th * fy, dst.bottom - bh * fy, dst.bottom};
  SamplingOptions so{filter, MipmapMode::None, false};
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) {
      RectF s{xs[i], ys[j], xs[i + 1], ys[j + 1]};
      RectF d{dxs[i], dys[j], dxs[i + 1], dys[j + 1]};
      if (s.isEmpty() || d.isEmpty()) continue;
      DrawImageRect(img, s, d, so, paint, SrcRectConstraint::Strict);
    }
}

// ---------------------------------------------------------------------------
// Surface

Surface::~Surface() {
  canvas_.reset();
}

std::unique_ptr<Surface> Surface::MakeRaster(int width, int height) {
  auto store = AllocPixels(width, height, true);
  if (!store) return nullptr;
  std::unique_ptr<Surface> s(new Surface());
  s->view_ = store->view();
  s->store_ = std::move(store);
  return s;
}

std::unique_ptr<Surface> Surface::MakeRasterDirect(const ImageInfo& info, void* pixels, size_t rowBytes) {
  if (!pixels || !IsValidSize(info.width, info.height) || rowBytes < info.minRowBytes() || rowBytes % 4 != 0)
    return nullptr;
  std::unique_ptr<Surface> s(new Surface());
  s->view_ = {static_cast<uint32_t*>(pixels), rowBytes, info.width, info.height};
  return s;
}

Canvas* Surface::GetCanvas() {
  if (!canvas_) canvas_.reset(new Canvas(this));
  return canvas_.get();
}

PixelView Surface::PeekPixels() { return view_; }

void Surface::Flush() {}

bool Surface::ReadPixels(const ImageInfo& dstInfo, void* dst, size_t dstRowBytes, int srcX, int srcY) {
  // Read straight from our memory without a snapshot.
  if (!dst || dstInfo.width <= 0 || dstInfo.height <= 0 || dstRowBytes < dstInfo.minRowBytes()) return false;
  IRect r = IRect::MakeXYWH(srcX, srcY, dstInfo.width, dstInfo.height);
  if (!r.intersect(IRect::MakeWH(width(), height()))) return false;
  for (int y = r.top; y < r.bottom; ++y) {
    auto* d = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(dst) + size_t(y - srcY) * dstRowBytes) + (r.left - srcX);
    const uint32_t* s = view_.row(y) + r.left;
    if (dstInfo.alphaType == AlphaType::Unpremul)
      for (int x = 0; x < r.width(); ++x) d[x] = Unpremultiply(s[x]);
    else
      std::memcpy(d, s, size_t(r.width()) * 4);
  }
  return true;
}

bool Surface::WritePixels(const ImageInfo& srcInfo, const void* src, size_t srcRowBytes, int x, int y) {
  if (!src || srcInfo.width <= 0 || srcInfo.height <= 0 || srcRowBytes < srcInfo.minRowBytes()) return false;
  IRect r = IRect::MakeXYWH(x, y, srcInfo.width, srcInfo.height);
  if (!r.intersect(IRect::MakeWH(width(), height()))) return false;
  for (int yy = r.top; yy < r.bottom; ++yy) {
    auto* s = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(src) + size_t(yy - y) * srcRowBytes) +
              (r.left - x);
    uint32_t* d = view_.row(yy) + r.left;
    if (srcInfo.alphaType == AlphaType::Unpremul)
      for (int i = 0; i < r.width(); ++i) d[i] = Premultiply(s[i]);
    else
      std::memcpy(d, s, size_t(r.width()) * 4);
  }
  return true;
}

Image Surface::MakeImageSnapshot() {
  return Image::MakeRasterCopy(info(), view_.base, view_.rowBytes);
}

}  // namespace lq
