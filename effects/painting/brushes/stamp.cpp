// Brush tips and the stamp that draws them.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "effects/painting/brushes/brushes.h"

namespace lq {

namespace {
// Beyond this side a stamp's fixed-point coordinates would overflow; no effect
// draws brushes anywhere near it.
constexpr double kMaxStampSide = 16384.0;

double MitchellWeight(double x) {
  const double B = 1.0 / 3, C = 1.0 / 3;
  x = std::fabs(x);
  if (x < 1) return ((12 - 9 * B - 6 * C) * x * x * x + (-18 + 12 * B + 6 * C) * x * x + (6 - 2 * B)) / 6;
  if (x < 2)
    return ((-B - 6 * C) * x * x * x + (6 * B + 30 * C) * x * x + (-12 * B - 48 * C) * x + (8 * B + 24 * C)) / 6;
  return 0;
}
}  // namespace

namespace brush_detail {
const int16_t* MitchellTable() {
  static const auto table = [] {
    std::vector<int16_t> t(256 * 4);
    for (int f = 0; f < 256; ++f) {
      double frac = f / 256.0;
      double w[4] = {MitchellWeight(1 + frac), MitchellWeight(frac), MitchellWeight(1 - frac),
                     MitchellWeight(2 - frac)};
      int iw[4], sum = 0, big = 0;
      for (int i = 0; i < 4; ++i) {
        iw[i] = int(std::lround(w[i] * 1024));
        sum += iw[i];
        if (std::fabs(w[i]) > std::fabs(w[big])) big = i;
      }
      iw[big] += 1024 - sum;  // rows sum to exactly one so flat areas stay flat
      for (int i = 0; i < 4; ++i) t[size_t(f * 4 + i)] = int16_t(iw[i]);
    }
    return t;
  }();
  return table.data();
}
}  // namespace brush_detail

// ---------------------------------------------------------------------------
// BrushTip

BrushTip::BrushTip(const Image& img) {
  if (!img) return;
  image_ = img;
  int count = img.MipLevelCount();
  levels_.resize(size_t(count));
  for (int k = 0; k < count; ++k) {
    Image lv = img.MipLevel(k);
    ConstPixelView v = lv.PeekPixels();
    Level& L = levels_[size_t(k)];
    L.width = v.width;
    L.height = v.height;
    L.stride = v.width + 2 * kPad;
    L.alpha.resize(size_t(L.stride) * size_t(v.height + 2 * kPad));
    for (int y = -kPad; y < v.height + kPad; ++y) {
      const uint32_t* src = v.row(std::clamp(y, 0, v.height - 1));
      uint8_t* dst = L.alpha.data() + size_t(y + kPad) * size_t(L.stride);
      // Replicated edges: sampling just outside the image reads its border.
      for (int x = -kPad; x < v.width + kPad; ++x) dst[x + kPad] = uint8_t(src[std::clamp(x, 0, v.width - 1)] >> 24);
    }
    // 4 x 4 maximum, separably: columns x - 1 .. x + 2, then rows y - 1 .. y + 2.
    const int rows = v.height + 2 * kPad;
    std::vector<uint8_t> across(L.alpha.size(), 0);
    L.reach.assign(L.alpha.size(), 0);
    for (int y = 0; y < rows; ++y) {
      const uint8_t* a = L.alpha.data() + size_t(y) * size_t(L.stride);
      uint8_t* o = across.data() + size_t(y) * size_t(L.stride);
      for (int x = 0; x < L.stride; ++x) {
        uint8_t m = 0;
        for (int t = std::max(0, x - 1); t <= std::min(L.stride - 1, x + 2); ++t) m = std::max(m, a[t]);
        o[x] = m;
      }
    }
    for (int y = 0; y < rows; ++y) {
      uint8_t* o = L.reach.data() + size_t(y) * size_t(L.stride);
      for (int x = 0; x < L.stride; ++x) {
        uint8_t m = 0;
        for (int t = std::max(0, y - 1); t <= std::min(rows - 1, y + 2); ++t)
          m = std::max(m, across[size_t(t) * size_t(L.stride) + size_t(x)]);
        o[x] = m;
      }
    }
    if (k == 0)
      for (int y = 0; y < v.height && !hasPaint_; ++y)
        for (int x = 0; x < v.width; ++x)
          if (v.row(y)[x] >> 24) {
            hasPaint_ = true;
            break;
          }
  }
}

// ---------------------------------------------------------------------------
// BrushStamp

BrushStamp::BrushStamp(const BrushTip& tip, TAlphaColor color, double cx, double cy, double angle, double width,
                       double height, float opacity, SamplingOptions sampling) {
  if (!tip || !tip.hasPaint()) return;
  if (!(width > 0 && height > 0 && width < kMaxStampSide && height < kMaxStampSide)) return;
  if (!std::isfinite(cx) || !std::isfinite(cy) || !std::isfinite(angle)) return;
  if (std::fabs(cx) > 1e8 || std::fabs(cy) > 1e8) return;
  premulColor_ = Premultiply(color);
  if ((premulColor_ >> 24) == 0) return;
  float op = std::isfinite(opacity) ? std::clamp(opacity, 0.0f, 1.0f) : 0.0f;
  opacity256_ = int(std::lround(op * 256.0f));
  if (opacity256_ == 0) return;

  // Which level of detail: the canvas rule (nearest level by area scale) for
  // linear sampling, the smallest level still at least as large as the stamp
  // for cubic sampling, the full image otherwise.
  int level = 0;
  double scale = std::sqrt((width / tip.width()) * (height / tip.height()));
  if (sampling.useCubic) {
    kind_ = Kind::Cubic;
    if (scale < 1) level = int(std::floor(std::log2(1.0 / scale) + 1e-9));
  } else {
    kind_ = sampling.filter == FilterMode::Linear ? Kind::Bilinear : Kind::Nearest;
    if (sampling.mipmap != MipmapMode::None && scale > 0 && scale < 1) level = int(std::lround(std::log2(1.0 / scale)));
  }
  level = std::clamp(level, 0, tip.levelCount() - 1);
  level_ = &tip.level(level);
  kx_ = level_->width / width;
  ky_ = level_->height / height;
  w_ = width;
  h_ = height;

  double c = std::cos(angle), s = std::sin(angle);
  ux_ = c;
  uy_ = s;
  u0_ = -(c * cx + s * cy) + width / 2;
  vx_ = -s;
  vy_ = c;
  v0_ = s * cx - c * cy + height / 2;

  // Device footprint of the rotated rectangle, plus half a pixel of edge coverage.
  double hx = width / 2, hy = height / 2;
  double ex = std::fabs(c) * hx + std::fabs(s) * hy, ey = std::fabs(s) * hx + std::fabs(c) * hy;
  bounds_ = {int(std::floor(cx - ex - 0.5)), int(std::floor(cy - ey - 0.5)), int(std::ceil(cx + ex + 0.5)),
             int(std::ceil(cy + ey + 0.5))};
  empty_ = bounds_.isEmpty();
}

bool BrushStamp::RowSpan(int y, int xlo, int xhi, int* xa, int* xb) const {
  // Columns whose pixel centre lies within half a pixel of the rectangle.
  double pyc = y + 0.5;
  double lo = -1e300, hi = 1e300;
  auto limit = [&](double k, double b, double lim0, double lim1) {
    // lim0 < k * t + b < lim1 for t = x + 0.5
    if (std::fabs(k) < 1e-12) {
      if (!(b > lim0 && b < lim1)) hi = -1e300;
      return;
    }
    double t0 = (lim0 - b) / k, t1 = (lim1 - b) / k;
    if (t0 > t1) std::swap(t0, t1);
    lo = std::max(lo, t0);
    hi = std::min(hi, t1);
  };
  limit(ux_, uy_ * pyc + u0_, -0.5, w_ + 0.5);
  limit(vx_, vy_ * pyc + v0_, -0.5, h_ + 0.5);
  if (!(hi > lo)) return false;
  // One column of slack each side; the per-pixel coverage test is exact.
  double a = std::floor(lo - 0.5), b = std::ceil(hi - 0.5) + 1;
  int ia = a < xlo ? xlo : int(a);
  int ib = b > xhi ? xhi : int(b);
  if (ia >= ib) return false;
  *xa = ia;
  *xb = ib;
  return true;
}

uint32_t BrushStamp::PixelAt(int x, int y) const {
  uint32_t out = 0;
  ForEachPixel(IRect::MakeXYWH(x, y, 1, 1), x, y, 1, [&](int, int, uint32_t s) { out = s; });
  return out;
}

IRect BrushStamp::Draw(const PixelView& dst, const IRect& clip) const {
  if (empty_ || !dst) return {};
  IRect area = bounds_;
  if (!area.intersect(clip) || !area.intersect(IRect::MakeWH(dst.width, dst.height))) return {};
  int lastY = -1;
  uint32_t* row = nullptr;
  auto over = [&](int x, int y, uint32_t s) {
    if (y != lastY) {
      row = dst.row(y);
      lastY = y;
    }
    uint32_t sa = s >> 24;
    row[x] = sa == 255 ? s : s + MulPixel(row[x], 255 - sa);
  };
  Dispatch(area, area.left, area.top, 1, over);
  return area;
}

// ---------------------------------------------------------------------------
// ScratchSurface

ScratchSurface::ScratchSurface(int width, int height) {
  store_ = AllocPixels(width, height, true);
  if (!store_) throw std::bad_alloc();
  view_ = store_->view();
}

void ScratchSurface::MarkPainted(const IRect& r) {
  if (r.isEmpty()) return;
  if (dirty_.isEmpty()) {
    dirty_ = r;
  } else {
    dirty_.left = std::min(dirty_.left, r.left);
    dirty_.top = std::min(dirty_.top, r.top);
    dirty_.right = std::max(dirty_.right, r.right);
    dirty_.bottom = std::max(dirty_.bottom, r.bottom);
  }
  dirty_.intersect(IRect::MakeWH(view_.width, view_.height));
}

void ScratchSurface::Clear() {
  if (dirty_.isEmpty()) return;
  for (int y = dirty_.top; y < dirty_.bottom; ++y)
    std::memset(view_.row(y) + dirty_.left, 0, size_t(dirty_.width()) * 4);
  dirty_ = {};
}

std::unique_ptr<Surface> MakeWorkSurface(int width, int height) {
  auto s = Surface::MakeRaster(width, height);
  if (!s) throw std::bad_alloc();
  return s;
}

}  // namespace lq
