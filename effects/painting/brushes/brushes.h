// Brush machinery shared by the painting effects.
//
//  - Brush atlases are cut into brush tips (`ExtractBrushCells`,
//    `ExtractFixedBrushCells`); a tip keeps its alpha at every mipmap level so
//    that stamping it thousands of times costs no allocation and no filtering.
//  - `ComputeBrushAngle` measures the long axis of a brush shape;
//    `ExtractBrushMask` turns a single brush image into an alpha array.
//  - `BrushStamp` / `StampBrush` draw one tinted, rotated, scaled brush; the
//    same prepared stamp can also be sampled without drawing it anywhere, which
//    is how the effects score candidate dabs cheaply.
//  - `BlendOverPremul`, `BrushColorDistance`, `ApplyImpastoRelief` are the
//    per-pixel steps of the effects that composite dabs themselves.
//  - `PrepareStartCanvas` makes the canvas a full run of a painting effect
//    starts from.
//
// Everything here is safe to use from several threads at once as long as each
// thread writes its own pixels; tips are read-only once built.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/gfx/image.h"
#include "engine/gfx/paint.h"
#include "engine/gfx/surface.h"
#include "engine/pixel.h"
#include "engine/random.h"

namespace lq {

// Grid atlases: square cells of this side, this many per row, row-major.
constexpr int kBrushCell = 256;
constexpr int kBrushAtlasColumns = 8;

// ---------------------------------------------------------------------------
// Brush tips

// One brush image prepared for stamping: the image itself plus its alpha at
// every mipmap level (the same 2x box levels Image::MipLevel builds), each
// padded by replicated edges so that the samplers never test bounds.
// A default-constructed tip is "absent": it has no image and paints nothing.
class BrushTip {
 public:
  static constexpr int kPad = 3;  // enough for the 4 x 4 taps of the cubic filter

  struct Level {
    int width = 0, height = 0;
    int stride = 0;              // width + 2 kPad
    std::vector<uint8_t> alpha;  // (height + 2 kPad) rows of `stride` bytes
    // Largest alpha of the 4 x 4 texels (x - 1 .. x + 2, y - 1 .. y + 2): zero
    // where no filter footprint anchored at (x, y) can pick up paint, which
    // lets the samplers skip the empty parts of a brush cheaply.
    std::vector<uint8_t> reach;
    // Alpha at (x, y); x and y may reach kPad texels beyond the level.
    const uint8_t* at(int x, int y) const {
      return alpha.data() + size_t(y + kPad) * size_t(stride) + size_t(x + kPad);
    }
    const uint8_t* reachAt(int x, int y) const {
      return reach.data() + size_t(y + kPad) * size_t(stride) + size_t(x + kPad);
    }
  };

  BrushTip() = default;
  explicit BrushTip(const Image& img);

  explicit operator bool() const { return bool(image_); }
  const Image& image() const { return image_; }
  int width() const { return image_ ? image_.width() : 0; }
  int height() const { return image_ ? image_.height() : 0; }
  // False when no pixel has any alpha: such a tip never leaves paint.
  bool hasPaint() const { return hasPaint_; }
  int levelCount() const { return int(levels_.size()); }
  const Level& level(int k) const { return levels_[size_t(k)]; }

 private:
  Image image_;
  std::vector<Level> levels_;
  bool hasPaint_ = false;
};

using BrushTable = std::vector<BrushTip>;

// Cuts a grid atlas into tips, keeping only usable cells: those whose centre
// column (x = 128) has alpha above 10 at one of the rows 64, 96, 128, 160,
// 192. Cells are taken in index order and stop at the first one that does not
// fit inside the atlas. An empty atlas gives an empty table.
BrushTable ExtractBrushCells(const Image& atlas);

// Cuts the first `count` cells of a grid atlas without any test and measures
// their orientation (ComputeBrushAngle). Cells outside the sheet are absent
// tips (they paint nothing); a cell partly outside keeps the part inside.
// The table stops after the sheet's last cell: indices beyond it are absent
// too, so a brush count larger than the sheet costs nothing.
void ExtractFixedBrushCells(const Image& sheet, int count, BrushTable& brushes, std::vector<float>& angles);

// Orientation of a brush shape in radians (y pointing down): the direction of
// the long axis of its alpha-weighted second moments. 0 for a brush without
// paint and for a perfectly round one.
float ComputeBrushAngle(const Image& brush);

// Alpha of every pixel of `img`, row-major (index y * W + x). Without an image
// the result is a 32 x 32 round mask fading from the centre.
void ExtractBrushMask(const Image& img, std::vector<uint8_t>& alpha, int& W, int& H);

// ---------------------------------------------------------------------------
// Stamping

// One brush placement, prepared once and then drawn or sampled:
// the tip is tinted with `color` (straight ARGB; SrcIn: the brush keeps its
// alpha, takes the colour, and the colour's alpha scales it), rotated by
// `angle` radians about its centre (positive = clockwise on screen), its whole
// image mapped onto a width x height rectangle centred on (cx, cy), and the
// result scaled by `opacity`. Sampling: SamplingOptions::LinearMipNearest()
// (bilinear on the nearest mip level, the usual choice), Linear() (bilinear on
// the full image), High() (Mitchell cubic) or Low() (nearest texel). Pixels
// lying on the rectangle's border get partial, anti-aliased coverage.
//
// A prepared stamp is a small value: it refers to the tip, which must outlive
// it, and allocates nothing.
class BrushStamp {
 public:
  BrushStamp(const BrushTip& tip, TAlphaColor color, double cx, double cy, double angle, double width, double height,
             float opacity = 1.0f, SamplingOptions sampling = SamplingOptions::LinearMipNearest());

  // True when the stamp can leave no paint at all.
  bool isEmpty() const { return empty_; }
  // Device pixels that may receive paint (not clipped to any surface).
  IRect Bounds() const { return bounds_; }

  // The tinted, premultiplied stamp pixel at device pixel (x, y); 0 outside.
  uint32_t PixelAt(int x, int y) const;

  // Calls fn(x, y, pixel) for every pixel of `clip` with a non-transparent
  // stamp pixel, visiting only x = x0 + i * step and y = y0 + j * step.
  // This is exactly what drawing the stamp on a cleared surface and reading
  // it back at those pixels would give, without the surface.
  template <typename Fn>
  void ForEachPixel(const IRect& clip, int x0, int y0, int step, Fn&& fn) const;

  // Composites the stamp over `dst` (source-over) inside `clip`; returns the
  // rectangle it may have changed (empty when nothing).
  IRect Draw(const PixelView& dst, const IRect& clip) const;
  IRect Draw(const PixelView& dst) const { return Draw(dst, IRect::MakeWH(dst.width, dst.height)); }

 private:
  enum class Kind { Nearest, Bilinear, Cubic };
  template <Kind K, typename Fn>
  void Scan(const IRect& area, int x0, int y0, int step, Fn& fn) const;
  template <typename Fn>
  void Dispatch(const IRect& area, int x0, int y0, int step, Fn& fn) const;
  bool RowSpan(int y, int xlo, int xhi, int* xa, int* xb) const;
  static uint32_t MulPixel(uint32_t p, uint32_t k);

  const BrushTip::Level* level_ = nullptr;
  Kind kind_ = Kind::Bilinear;
  bool empty_ = true;
  IRect bounds_;
  uint32_t premulColor_ = 0;
  int opacity256_ = 256;
  // Device pixel centre -> rectangle-local coordinates (device units):
  // u = ux * px + uy * py + u0, v = vx * px + vy * py + v0.
  double ux_ = 0, uy_ = 0, u0_ = 0, vx_ = 0, vy_ = 0, v0_ = 0;
  double w_ = 0, h_ = 0;    // rectangle size
  double kx_ = 1, ky_ = 1;  // rectangle units -> texels of the chosen level
};

// Draws one stamp of a square brush of side `size` onto dst and returns the
// rectangle it may have changed. The hot path of every painting effect.
inline IRect StampBrush(const PixelView& dst, const BrushTip& tip, TAlphaColor color, double cx, double cy,
                        double angle, double size, float opacity = 1.0f,
                        SamplingOptions sampling = SamplingOptions::LinearMipNearest()) {
  return BrushStamp(tip, color, cx, cy, angle, size, size, opacity, sampling).Draw(dst);
}

// A work surface that remembers the part painted since it was last cleared,
// so that clearing it costs what was painted, not its whole area.
class ScratchSurface {
 public:
  // Throws std::bad_alloc when the memory cannot be had.
  ScratchSurface(int width, int height);
  const PixelView& view() const { return view_; }
  int width() const { return view_.width; }
  int height() const { return view_.height; }
  void MarkPainted(const IRect& r);
  IRect painted() const { return dirty_; }
  // Back to fully transparent.
  void Clear();
  // Draws a stamp and records what it touched.
  IRect Stamp(const BrushStamp& stamp) {
    IRect r = stamp.Draw(view_);
    MarkPainted(r);
    return r;
  }

 private:
  std::shared_ptr<PixelStore> store_;
  PixelView view_;
  IRect dirty_;
};

// A raster surface, or std::bad_alloc: effects must not carry on without one.
std::unique_ptr<Surface> MakeWorkSurface(int width, int height);

// ---------------------------------------------------------------------------
// Per-pixel steps

// The four channels of p times k / 255, rounded: a premultiplied pixel at
// k / 255 of its strength.
inline uint32_t ScalePremul(uint32_t p, uint32_t k) {
  uint32_t rb = (p & 0x00FF00FFu) * k + 0x00800080u;
  rb = ((rb + ((rb >> 8) & 0x00FF00FFu)) >> 8) & 0x00FF00FFu;
  uint32_t ag = ((p >> 8) & 0x00FF00FFu) * k + 0x00800080u;
  ag = (ag + ((ag >> 8) & 0x00FF00FFu)) & 0xFF00FF00u;
  return rb | ag;
}

// Software "over" of premultiplied pixels with the engine's integer rounding
// (t + t / 128) / 256 for the division by 255. A fully transparent source
// leaves the destination, an opaque one replaces it.
inline TAlphaColor BlendOverPremul(TAlphaColor s, TAlphaColor d) {
  uint32_t sa = s >> 24;
  if (sa == 255) return s;
  if (sa == 0) return d;
  uint32_t inv = 255 - sa, out = 0;
  for (int sh = 0; sh < 32; sh += 8) {
    uint32_t t = ((d >> sh) & 255u) * inv;
    uint32_t v = ((s >> sh) & 255u) + ((t + (t >> 7)) >> 8);
    out |= (v > 255 ? 255u : v) << sh;  // only invalid premultiplied input can exceed 255
  }
  return out;
}

// Distance of two premultiplied pixels used to score dabs:
// 2 |dA| + |dR| + |dG| + |dB|.
inline int BrushColorDistance(TAlphaColor a, TAlphaColor b) {
  auto ad = [](uint32_t x, uint32_t y) { return x > y ? int(x - y) : int(y - x); };
  return 2 * ad(GetA(a), GetA(b)) + ad(GetR(a), GetR(b)) + ad(GetG(a), GetG(b)) + ad(GetB(a), GetB(b));
}

// Relief shading of a dab freshly drawn on a scratch surface whose centre is
// (C, C): edges facing left or down are lightened, edges facing right or up
// darkened, most strongly near the centre (diamond fall-off of reach
// a / 2 + a / 4). K is the strength; only rows and columns lo..hi are shaded.
// Only colour channels change, so the result stays validly premultiplied.
// `painted` may name the part of the scratch that holds paint (as
// ScratchSurface::painted() does): pixels outside it have no alpha to shade.
void ApplyImpastoRelief(const PixelView& scratch, int C, int a, int K, int lo, int hi,
                        const IRect& painted = IRect{-(1 << 30), -(1 << 30), 1 << 30, 1 << 30});

// The canvas a full run of a painting effect starts from, drawn on `dest`.
// With "erase background" on: opaque white when every pixel of `source` is
// opaque, else transparent. Off: the start image of the run (the picture on
// display, or the region image of the manual brush) drawn unscaled at (0, 0)
// over a transparent canvas; when there is none, `dest` is left as it is.
// Returns the erase-background setting (the effects' DoClear).
bool PrepareStartCanvas(Surface& dest, const Image& source);

// Painting routines write the destination's pixels at the picture's
// coordinates: a destination of another size is refused (std::invalid_argument)
// before anything is touched.
void RequireDestOfSourceSize(const Image& source, Surface& dest);

// Copies source into dest unchanged (dest cleared to transparent first where
// the sizes differ).
void CopySourceToDest(const Image& source, Surface& dest);

// Ends a run that cannot paint (a picture too small for the effect's sizes,
// no usable brush): the picture stays as it was and the run reports 101, so
// nothing blank or transparent is ever committed as a result.
void FinishUnpainted(const Image& source, Surface& dest, bool preview);

// The brush atlas of the current run and the number of cells 304 takes, as
// the driver chose them at launch. Later launches change the driver's working
// atlas, so routines read the run's own choice, never the shared fields.
Image RunBrushAtlas(int* brushCount = nullptr);

// Hands work-in-progress pictures of a run to the UI thread, never queueing a
// second one while the first has not been shown: a slow or blocked UI thread
// must not pile up full-size snapshots. Called on the UI thread itself (a run
// the UI thread executes directly) it shows the picture at once.
class WorkInProgressDisplay {
 public:
  // True when a picture should be taken now: only full runs show their work,
  // nothing may be pending, and snapshots of large pictures are spaced so
  // that taking them never costs more than a tenth of the run.
  bool Ready();
  // UpdateDisplayImage(img, progress) on the UI thread. A final picture is
  // always handed over; others are dropped while one is pending or once the
  // run is cancelled.
  void Show(const Image& img, int progress, bool final = false);

 private:
  std::shared_ptr<std::atomic<bool>> pending_ = std::make_shared<std::atomic<bool>>(false);
  uint32_t readyAt_ = 0, lastShown_ = 0, minInterval_ = 0;
};

// ---------------------------------------------------------------------------
// Random numbers for parallel bands

// A private stream of the engine's generator for one worker: same numbers
// kind as Random(N) / Random(), seeded from the shared generator, without the
// contention of every band stepping the one shared word.
class BandRandom {
 public:
  BandRandom() : state_(RandomStep()) {}
  explicit BandRandom(uint32_t seed) : state_(seed) {}
  int32_t operator()(int32_t n) {
    uint64_t s = Step();
    return static_cast<int32_t>((s * static_cast<uint32_t>(n < 0 ? 0 : n)) >> 32);
  }
  double Unit() { return static_cast<double>(Step()) * (1.0 / 4294967296.0); }

 private:
  uint32_t Step() { return state_ = state_ * 134775813u + 1u; }
  uint32_t state_;
};

// ---------------------------------------------------------------------------
// Inline parts of BrushStamp

inline uint32_t BrushStamp::MulPixel(uint32_t p, uint32_t k) { return ScalePremul(p, k); }

namespace brush_detail {
// Mitchell-Netravali (B = C = 1/3) weights for 256 sub-texel phases, 4 taps
// each, scaled so that every row sums to 1024.
const int16_t* MitchellTable();
}  // namespace brush_detail

template <BrushStamp::Kind K, typename Fn>
void BrushStamp::Scan(const IRect& area, int x0, int y0, int step, Fn& fn) const {
  const BrushTip::Level& L = *level_;
  const int stride = L.stride;
  const uint8_t* base = L.at(0, 0);
  const uint8_t* reach = L.reachAt(0, 0);
  const int lwMax = L.width, lhMax = L.height;
  constexpr double kFix = 65536.0;
  const int32_t wF = int32_t(w_ * kFix), hF = int32_t(h_ * kFix);
  // Per-column increments; every row starts from the stamp's left bound, so a
  // pixel gets the same value whatever the clip or the visiting step.
  const int32_t dU1 = int32_t(std::lround(ux_ * kFix)), dV1 = int32_t(std::lround(vx_ * kFix));
  const int32_t dLU1 = int32_t(std::lround(ux_ * kx_ * kFix)), dLV1 = int32_t(std::lround(vx_ * ky_ * kFix));
  const int32_t dU = dU1 * step, dV = dV1 * step, dLU = dLU1 * step, dLV = dLV1 * step;
  const int left = bounds_.left;
  const int16_t* mitchell = K == Kind::Cubic ? brush_detail::MitchellTable() : nullptr;

  int yStart = area.top + ((y0 - area.top) % step + step) % step;
  for (int y = yStart; y < area.bottom; y += step) {
    int xa, xb;
    if (!RowSpan(y, area.left, area.right, &xa, &xb)) continue;
    // First visited column of the span.
    xa += ((x0 - xa) % step + step) % step;
    if (xa >= xb) continue;
    double pxc = left + 0.5, pyc = y + 0.5;
    double u = ux_ * pxc + uy_ * pyc + u0_, v = vx_ * pxc + vy_ * pyc + v0_;
    const int32_t n = xa - left;
    int32_t uF = int32_t(std::lround(u * kFix)) + n * dU1, vF = int32_t(std::lround(v * kFix)) + n * dV1;
    int32_t luF = int32_t(std::lround((u * kx_ - 0.5) * kFix)) + n * dLU1;
    int32_t lvF = int32_t(std::lround((v * ky_ - 0.5) * kFix)) + n * dLV1;
    for (int x = xa; x < xb; x += step, uF += dU, vF += dV, luF += dLU, lvF += dLV) {
      // Coverage of the rectangle's edges, 0..256.
      int32_t du = (uF < wF - uF ? uF : wF - uF) + 0x8000;
      int32_t dv = (vF < hF - vF ? vF : hF - vF) + 0x8000;
      if (du <= 0 || dv <= 0) continue;
      int cov = 256;
      if (du < 0x10000 || dv < 0x10000) {
        int cu = du >= 0x10000 ? 256 : du >> 8, cv = dv >= 0x10000 ? 256 : dv >> 8;
        cov = (cu * cv + 128) >> 8;
        if (cov == 0) continue;
      }
      int a16;  // sampled alpha, 0..255 << 8
      if constexpr (K == Kind::Nearest) {
        int ix = (luF + 0x8000) >> 16, iy = (lvF + 0x8000) >> 16;
        ix = ix < 0 ? 0 : (ix >= lwMax ? lwMax - 1 : ix);
        iy = iy < 0 ? 0 : (iy >= lhMax ? lhMax - 1 : iy);
        a16 = int(base[iy * stride + ix]) << 8;
      } else if constexpr (K == Kind::Bilinear) {
        int ix = luF >> 16, iy = lvF >> 16;
        int fx = (luF >> 8) & 255, fy = (lvF >> 8) & 255;
        if (ix < -2) ix = -2, fx = 0;
        if (ix > lwMax) ix = lwMax, fx = 0;
        if (iy < -2) iy = -2, fy = 0;
        if (iy > lhMax) iy = lhMax, fy = 0;
        if (reach[iy * stride + ix] == 0) continue;
        const uint8_t* p = base + iy * stride + ix;
        int top = p[0] * (256 - fx) + p[1] * fx;
        int bot = p[stride] * (256 - fx) + p[stride + 1] * fx;
        a16 = (top * (256 - fy) + bot * fy + 128) >> 8;
      } else {
        int ix = luF >> 16, iy = lvF >> 16;
        int fx = (luF >> 8) & 255, fy = (lvF >> 8) & 255;
        if (ix < -2) ix = -2, fx = 0;
        if (ix > lwMax) ix = lwMax, fx = 0;
        if (iy < -2) iy = -2, fy = 0;
        if (iy > lhMax) iy = lhMax, fy = 0;
        if (reach[iy * stride + ix] == 0) continue;
        const int16_t* wx = mitchell + 4 * fx;
        const int16_t* wy = mitchell + 4 * fy;
        const uint8_t* p = base + (iy - 1) * stride + (ix - 1);
        int acc = 0;
        for (int j = 0; j < 4; ++j, p += stride)
          acc += wy[j] * (wx[0] * p[0] + wx[1] * p[1] + wx[2] * p[2] + wx[3] * p[3]);
        acc = (acc + (1 << 11)) >> 12;  // 1024 * 1024 scale -> 256
        a16 = acc < 0 ? 0 : (acc > 65280 ? 65280 : acc);
      }
      if (a16 == 0) continue;
      uint32_t covOp = uint32_t(cov * opacity256_ + 128) >> 8;  // 0..256
      uint32_t k = (uint32_t(a16) * covOp + 32768) >> 16;       // 0..255
      if (k == 0) continue;
      uint32_t s = k == 255 ? premulColor_ : MulPixel(premulColor_, k);
      if ((s >> 24) == 0) continue;
      fn(x, y, s);
    }
  }
}

template <typename Fn>
void BrushStamp::Dispatch(const IRect& area, int x0, int y0, int step, Fn& fn) const {
  switch (kind_) {
    case Kind::Nearest:
      Scan<Kind::Nearest>(area, x0, y0, step, fn);
      break;
    case Kind::Bilinear:
      Scan<Kind::Bilinear>(area, x0, y0, step, fn);
      break;
    case Kind::Cubic:
      Scan<Kind::Cubic>(area, x0, y0, step, fn);
      break;
  }
}

template <typename Fn>
void BrushStamp::ForEachPixel(const IRect& clip, int x0, int y0, int step, Fn&& fn) const {
  if (empty_ || step < 1) return;
  IRect area = bounds_;
  if (!area.intersect(clip)) return;
  Dispatch(area, x0, y0, step, fn);
}

}  // namespace lq
