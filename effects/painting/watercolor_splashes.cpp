// Watercolor splashes: 11 to 15 passes of watercolour splash brushes, from the
// largest size to the smallest, turned along the photograph's contours. The
// first passes lay splashes on a jittered grid; later passes drop them where
// the canvas still differs most from the photograph. Every splash is the best
// of a few random brushes and angles, scored by how much closer it brings the
// canvas to the photograph, and gets a relief shading when it is kept.
#include "effects/painting/watercolor_splashes.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "effects/painting/brushes/brushes.h"
#include "engine/driver.h"
#include "engine/effect_registry.h"
#include "engine/random.h"

namespace lq {

namespace {

constexpr int kReliefStrength = 20;
// Side of the scratch surface: a 512-pixel splash turned by 45 degrees fits.
constexpr int kScratchSide = 778;
constexpr int kC = kScratchSide / 2;
// Below this gradient magnitude a position has no clear direction.
constexpr int kFlatMagnitude = 16;
// Gain given to the first pass over a blank page and taken from splashes over
// areas that already match: it dominates any measured gain.
constexpr int64_t kDecisive = 100000;

struct TGradientInfo {
  float Angle = 0;  // radians, y down
  uint8_t Magnitude = 0;
};

struct TSplashRun {
  int w = 0, h = 0;
  bool DoClear = false;
  TSplashSettings st;
  ConstPixelView src;  // source rows
  PixelView canvas;    // Dest's pixels
  std::vector<TGradientInfo> GradientMap;
  int GW = 1, GH = 1;
  BrushTable PrecomputedBrushes;
  std::vector<float> BrushAngles;
};

void BuildGradientMap(TSplashRun& r, const Image& source) {
  r.GW = std::min(r.w, 256);
  r.GH = WatercolorSplashGridHeight(r.w, r.h);
  auto g = MakeWorkSurface(r.GW, r.GH);
  g->GetCanvas()->Clear(0);
  g->GetCanvas()->DrawImageRect(source, RectF::MakeWH(r.GW, r.GH), SamplingOptions::LinearMipNearest());
  PixelView v = g->PeekPixels();
  r.GradientMap.assign(size_t(r.GW) * size_t(r.GH), TGradientInfo());
  auto Y = [&](int x, int y) {
    uint32_t p = v.at(x, y);
    return int(59 * GetG(p) + 30 * GetR(p) + 11 * GetB(p)) / 100;
  };
  for (int y = 1; y <= r.GH - 2; ++y)
    for (int x = 1; x <= r.GW - 2; ++x) {
      int gx = (2 * Y(x + 1, y) + Y(x + 1, y - 1) + Y(x + 1, y + 1)) - (2 * Y(x - 1, y) + Y(x - 1, y - 1) + Y(x - 1, y + 1));
      int gy = (2 * Y(x, y + 1) + Y(x - 1, y + 1) + Y(x + 1, y + 1)) - (2 * Y(x, y - 1) + Y(x - 1, y - 1) + Y(x + 1, y - 1));
      TGradientInfo& gi = r.GradientMap[size_t(y) * size_t(r.GW) + size_t(x)];
      gi.Magnitude = uint8_t(std::min(std::abs(gx) + std::abs(gy), 255));
      gi.Angle = float(std::atan2(double(gy), double(gx)));
    }
}

// One splash attempt at (x, y): the best of T random brushes and angles, kept
// when its gain clears the pass' threshold.
void SplashAttempt(TSplashRun& r, ScratchSurface& scratch, const TSplashPass& k, int x, int y, bool firstFill) {
  const int w = r.w, h = r.h, size = k.size;
  const int gyc = std::clamp(int(int64_t(y) * r.GH / h), 0, r.GH - 1);
  const int gxc = std::clamp(int(int64_t(x) * r.GW / w), 0, r.GW - 1);
  const TGradientInfo& gi = r.GradientMap[size_t(gyc) * size_t(r.GW) + size_t(gxc)];
  const double theta = gi.Magnitude < kFlatMagnitude ? Random(360) * std::numbers::pi / 180.0
                                                     : double(gi.Angle) + std::numbers::pi / 2;
  // The stamp takes straight colour; its alpha scales the splash.
  const TAlphaColor colour = Unpremultiply(r.src.at(x, y));

  // The evaluated window: scratch rows and columns lo..hi around the centre,
  // in image coordinates.
  const int lo = std::max(0, kC - k.hw), hi = std::min(kScratchSide - 1, kC + k.hw);
  IRect clip = {x + lo - kC, y + lo - kC, x + hi - kC + 1, y + hi - kC + 1};
  const bool inside = clip.intersect(IRect::MakeWH(w, h));

  const int nBrushes = int(r.PrecomputedBrushes.size());
  int64_t best = -2147483647;
  int bestK = -1;
  double bestRot = 0;
  for (int t = 0; t < k.T; ++t) {
    const int kb = Random(nBrushes);
    if (kb < 0 || kb >= nBrushes || !r.PrecomputedBrushes[size_t(kb)]) continue;
    const double rot = theta - r.BrushAngles[size_t(kb)] + (Random(40) - 20) * std::numbers::pi / 180.0;
    int64_t gain = 0;
    if (firstFill) {
      gain = kDecisive;  // a blank page: anything is better
    } else if (inside) {
      // Sampling the prepared stamp gives exactly what drawing it on the
      // cleared scratch and reading the scratch back would.
      BrushStamp stamp(r.PrecomputedBrushes[size_t(kb)], colour, x, y, rot, size, size, r.st.op);
      int64_t B = 0, n = 0;
      stamp.ForEachPixel(clip, x - kC, y - kC, k.e, [&](int px, int py, uint32_t s) __attribute__((always_inline)) {
        const uint32_t sp = r.src.at(px, py), cur = r.canvas.at(px, py);
        const int before = BrushColorDistance(sp, cur);
        B += before;
        ++n;
        gain += before - BrushColorDistance(sp, BlendOverPremul(s, cur));
      });
      if (n > 0 && B / n < k.Tc) gain -= kDecisive;  // the area already matches
    }
    if (gain > best) {
      best = gain;
      bestK = kb;
      bestRot = rot;
    }
    if (r.st.EarlyStop && gain > 2 * int64_t(k.Tg)) break;
  }
  if (bestK < 0 || best <= k.Tg) return;

  // Only the part of the window over the picture reaches the canvas; the
  // relief reads one pixel around it.
  IRect area = {std::max(lo, kC - x), std::max(lo, kC - y), std::min(hi + 1, kC - x + w), std::min(hi + 1, kC - y + h)};
  if (area.isEmpty()) return;
  scratch.Clear();
  const IRect margin = {area.left - 1, area.top - 1, area.right + 1, area.bottom + 1};
  scratch.MarkPainted(BrushStamp(r.PrecomputedBrushes[size_t(bestK)], colour, kC, kC, bestRot, size, size, r.st.op)
                          .Draw(scratch.view(), margin));
  if (size > 14) {
    const int rlo = std::max(1, kC - size / 2 - 2), rhi = std::min(kScratchSide - 2, kC + size / 2 + 2);
    ApplyImpastoRelief(scratch.view(), kC, size, kReliefStrength, rlo, rhi, area);
  }
  if (!area.intersect(scratch.painted())) return;
  const PixelView& sv = scratch.view();
  for (int row = area.top; row < area.bottom; ++row) {
    const uint32_t* srow = sv.row(row);
    uint32_t* crow = r.canvas.row(y + row - kC) + (x - kC);
    for (int col = area.left; col < area.right; ++col) {
      const uint32_t s = srow[col];
      if (s >> 24) crow[col] = BlendOverPremul(s, crow[col]);
    }
  }
}

}  // namespace

TSplashSettings WatercolorSplashSettings(int P1, int P2, int P3, int P4, int P5, bool doClear) {
  TSplashSettings s;
  s.Smin = std::clamp<int>(int(Round(5.12 * P1)), 3, 512);
  P2 = std::max(P2, P1);
  // At least 3: a size of 0 would divide by zero and try a splash at every pixel.
  s.Smax = std::clamp<int>(int(Round(5.12 * P2)), 3, 512);
  s.Smin = std::min(s.Smin, s.Smax);
  s.Iter = std::max(1, P3);
  s.P = int(Round(P4 / 100.0 * 4)) + 10;
  s.T0 = P4 > 89 ? 8 : P4 > 69 ? 5 : P4 > 49 ? 3 : P4 > 19 ? 2 : 1;
  s.M = P4 > 80 ? 30 : P4 > 50 ? 20 : 10;
  s.EarlyStop = P4 < 75;
  s.op = std::max(0.1f, float(P5) / 100.0f);
  if (!doClear) {
    // Over a picture, smaller splashes keep more of it.
    s.Smax = (2 * s.Smax) / 3;
    s.Smin = std::min(s.Smin, s.Smax);
  }
  return s;
}

TSplashPass WatercolorSplashPass(const TSplashSettings& s, int pass, int P4, bool doClear) {
  TSplashPass k;
  const float F = float(s.P - pass) / float(s.P);
  const double F3 = double(F) * double(F) * double(F);
  k.size = int(Round((s.Smax - s.Smin) * F3)) + s.Smin;
  k.Coarse = F > 0.87f;
  k.g = std::max<int>(1, int(Round(k.size / (s.Iter / 15.0 + 0.8))));
  k.hw = int(Round(0.7 * k.size)) + 2;
  k.T = s.T0 + (k.size > 40 ? 2 : 0);
  const int base = int(Round(double(s.Smax - k.size) / std::max(1, s.Smax - s.Smin) * 50));
  k.Tc = std::max(2, P4 > 70 ? base - 7 : base + 3);
  if (!doClear) k.Tc /= 2;
  k.Tg = int(Round(double(k.size) * k.size * 0.1));
  if (!doClear) k.Tg /= 4;
  k.e = k.size > 50 ? 4 : k.size > 30 ? 3 : 2;
  return k;
}

int WatercolorSplashGridHeight(int w, int h) {
  const int GW = std::min(w, 256);
  return std::max<int>(1, int(Round(double(h) * GW / std::max(1, w))));
}

int64_t WatercolorSplashFineAttempts(int w, int h, int size) {
  const double a = double(w) * double(h) * 3 / (double(size) * size);
  return std::clamp<int64_t>(Round(a), 200, 30000);
}

int WatercolorSplashProgress(int pass, int P) { return int(Round(double(pass + 1) / (P + 1) * 100)) + 1; }

float SplashBrushAngle(const Image& brush) {
  if (!brush) return 0.0f;
  ConstPixelView v = brush.PeekPixels();
  double m = 0, sx = 0, sy = 0;
  for (int y = 0; y < v.height; ++y) {
    const uint32_t* row = v.row(y);
    for (int x = 0; x < v.width; ++x) {
      const uint32_t a = row[x] >> 24;
      if (a < 21) continue;  // faint spatter does not orient the brush
      m += a;
      sx += double(a) * x;
      sy += double(a) * y;
    }
  }
  if (m < 1000) return 0.0f;
  const double cx = sx / m, cy = sy / m;
  double mxx = 0, myy = 0, mxy = 0;
  for (int y = 0; y < v.height; ++y) {
    const uint32_t* row = v.row(y);
    const double dy = y - cy;
    for (int x = 0; x < v.width; ++x) {
      const uint32_t a = row[x] >> 24;
      if (a < 21) continue;
      const double dx = x - cx;
      mxx += a * dx * dx;
      myy += a * dy * dy;
      mxy += a * dx * dy;
    }
  }
  return float(0.5 * std::atan2(2 * mxy, mxx - myy));
}

void NewDirectionalStrokesgood(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                               bool Preview) {
  CheckCancellation();
  if (!Source) return;
  RequireDestOfSourceSize(Source, Dest);
  TSplashRun r;
  r.w = Source.width();
  r.h = Source.height();
  if (r.w <= 9 || r.h <= 9) {
    FinishUnpainted(Source, Dest, Preview);
    return;
  }
  r.src = Source.PeekPixels();
  CheckCancellation();

  // The atlas this run was launched with, never the driver's current one.
  r.PrecomputedBrushes = ExtractBrushCells(RunBrushAtlas());
  if (r.PrecomputedBrushes.empty()) {
    // No usable brush: keep the picture rather than commit a blank page.
    FinishUnpainted(Source, Dest, Preview);
    return;
  }
  r.BrushAngles.resize(r.PrecomputedBrushes.size());
  for (size_t k = 0; k < r.PrecomputedBrushes.size(); ++k)
    r.BrushAngles[k] = SplashBrushAngle(r.PrecomputedBrushes[k].image());

  WorkInProgressDisplay display;
  if (Preview) {
    Dest.GetCanvas()->Clear(0);
    r.DoClear = true;
  } else {
    r.DoClear = PrepareStartCanvas(Dest, Source);
    if (display.Ready()) display.Show(Dest.MakeImageSnapshot(), 1);
  }
  r.canvas = Dest.PeekPixels();
  r.st = WatercolorSplashSettings(P1, P2, P3, P4, P5, r.DoClear);
  CheckCancellation();

  BuildGradientMap(r, Source);
  ScratchSurface scratch(kScratchSide, kScratchSide);

  const int P = r.st.P;
  for (int pass = 0; pass <= P; ++pass) {
    CheckCancellation();
    const TSplashPass k = WatercolorSplashPass(r.st, pass, P4, r.DoClear);
    const bool firstFill = pass == 0 && r.DoClear;
    if (k.Coarse) {
      for (int y = Random(k.g); y < r.h; y += k.g) {
        CheckCancellation();
        for (int x = Random(k.g); x < r.w; x += k.g) SplashAttempt(r, scratch, k, x, y, firstFill);
      }
    } else {
      const int64_t A = WatercolorSplashFineAttempts(r.w, r.h, k.size);
      for (int64_t a = 0; a < A; ++a) {
        CheckCancellation();
        // Where the canvas differs most among a few random samples.
        int best = -1, bx = 0, by = 0;
        for (int m = 0; m < r.st.M; ++m) {
          const int x = Random(r.w);
          const int y = Random(r.h);
          const int d = BrushColorDistance(r.src.at(x, y), r.canvas.at(x, y));
          if (d > best) {
            best = d;
            bx = x;
            by = y;
          }
        }
        if (best >= k.Tc) SplashAttempt(r, scratch, k, bx, by, false);
      }
    }

    const int progress = WatercolorSplashProgress(pass, P);
    if (Preview) {
      SafeUpdatePreview(&Dest, progress);
    } else if (display.Ready()) {
      display.Show(Dest.MakeImageSnapshot(), std::min(100, progress));
    } else {
      UpdateProgressBar(std::min(100, progress));
    }
  }
  if (!Preview) display.Show(Dest.MakeImageSnapshot(), 101, true);
}

LQ_REGISTER_EFFECT(303, NewDirectionalStrokesgood)

}  // namespace lq
