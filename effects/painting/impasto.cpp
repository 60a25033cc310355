// Impasto brushstrokes: coarse-to-fine painting with thick, relief-shaded
// dabs. Each pass paints the picture in horizontal bands at the same time;
// at every candidate position a small search tries several brushes at several
// angles and keeps the dab that brings the canvas closest to the photograph.
// The search runs on a reduced copy of the canvas; accepted dabs are also
// composited at full resolution onto the destination.
#include "effects/painting/impasto.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <shared_mutex>
#include <thread>
#include <vector>

#include "effects/painting/brushes/brushes.h"
#include "engine/driver.h"
#include "engine/effect_registry.h"
#include "engine/parallel.h"
#include "engine/random.h"

namespace lq {

namespace {

struct TGradientInfo {
  float Angle = 0;  // radians
  uint8_t Magnitude = 0;
};

// Bands touch each other's rows near their borders: a dab's window reaches
// beyond the row it starts on. Rows are guarded in stripes; a search holds
// its window's stripes shared, a composite holds them exclusively, so every
// dab lands as a unit and no search reads half of one. A thread holds one
// group of stripes at a time, taken in ascending order, so no deadlock.
class StripeLocks {
 public:
  static constexpr int kRows = 16;
  explicit StripeLocks(int rows)
      : count_(std::max(1, (rows + kRows - 1) / kRows)), m_(new std::shared_mutex[size_t(count_)]) {}
  void LockShared(int y0, int y1) {
    for (int s = First(y0); s <= Last(y1); ++s) m_[size_t(s)].lock_shared();
  }
  void UnlockShared(int y0, int y1) {
    for (int s = Last(y1); s >= First(y0); --s) m_[size_t(s)].unlock_shared();
  }
  void Lock(int y0, int y1) {
    for (int s = First(y0); s <= Last(y1); ++s) m_[size_t(s)].lock();
  }
  void Unlock(int y0, int y1) {
    for (int s = Last(y1); s >= First(y0); --s) m_[size_t(s)].unlock();
  }

 private:
  int First(int y) const { return std::clamp(y / kRows, 0, count_ - 1); }
  int Last(int y) const { return std::clamp(y / kRows, 0, count_ - 1); }
  int count_;
  std::unique_ptr<std::shared_mutex[]> m_;
};

template <bool Exclusive>
class StripeGuard {
 public:
  StripeGuard(StripeLocks& l, int y0, int y1) : l_(l), y0_(y0), y1_(y1) {
    if (Exclusive)
      l_.Lock(y0_, y1_);
    else
      l_.LockShared(y0_, y1_);
  }
  ~StripeGuard() {
    if (Exclusive)
      l_.Unlock(y0_, y1_);
    else
      l_.UnlockShared(y0_, y1_);
  }
  StripeGuard(const StripeGuard&) = delete;
  StripeGuard& operator=(const StripeGuard&) = delete;

 private:
  StripeLocks& l_;
  int y0_, y1_;
};

struct TImpastoRun {
  bool Preview = false;
  bool DoClear = false;
  int w = 0, h = 0, WorkW = 0, WorkH = 0, ScaleFactor = 1;
  std::unique_ptr<Surface> workSrcSurface, workDestSurface;
  PixelView WorkSrc, WorkDest;  // work source and work canvas rows
  PixelView DestPx;             // destination pixels, composited directly
  std::vector<TGradientInfo> GradientMap;
  int GradW = 0, GradH = 0;
  BrushTable PrecomputedBrushes;
  std::vector<float> BrushAngles;
  int kBrushCount = 0;
  int P3 = 0, Q = 0, RefineBase = 2;
  float GlobalOpacity = 1.0f;
  int ImpastoStrength = 30;
  int Smin = 0, Smax = 0;
  // Per pass.
  int CurrentBrushSize = 0, WorkBrushSize = 0;
  bool IsStochastic = false;
  int ScanLimit = 0, ScratchSize = 0, ScratchCenter = 0, SkipLimit = 0;
  bool SkipCheck = false;
  int Threshold = 0, CheckStep = 1, CurrentRefineCount = 1, CurrentSideSteps = 0, GridStep = 2, DensityLayers = 1;
  int ThreadCount = 1;
  std::unique_ptr<StripeLocks> workLocks, destLocks;
};

struct TRect {
  int Left, Top, Right, Bottom;
};

constexpr double kFiveDegrees = 0.08726646259971647;

class BandWorker {
 public:
  BandWorker(TImpastoRun& r, int band, uint32_t seed)
      : r_(r), rnd_(seed), scratch_(r.ScratchSize, r.ScratchSize), C_(r.ScratchCenter) {
    int m = r.WorkH / r.ThreadCount;
    y0_ = band * m;
    y1_ = band == r.ThreadCount - 1 ? r.WorkH : y0_ + m;
    scanLo_ = std::max(0, C_ - r.ScanLimit);
    scanHi_ = std::min(r.ScratchSize - 1, C_ + r.ScanLimit);
  }

  void Run() {
    if (y1_ <= y0_) return;
    if (r_.IsStochastic) BuildRectangles();
    for (int layer = 1; layer <= r_.DensityLayers; ++layer) {
      if (IsEffectCancelled()) return;
      if (r_.IsStochastic)
        LatePositions();
      else
        GridPositions(layer);
    }
  }

 private:
  const TGradientInfo* GradientAt(int x, int y) const {
    int gx = int(int64_t(x) * r_.GradW / r_.WorkW), gy = int(int64_t(y) * r_.GradH / r_.WorkH);
    if (gx < 0 || gx >= r_.GradW || gy < 0 || gy >= r_.GradH) return nullptr;
    return &r_.GradientMap[size_t(gy) * size_t(r_.GradW) + size_t(gx)];
  }

  // Cells of the band whose canvas still differs from the photograph.
  void BuildRectangles() {
    rects_.clear();
    const int s = std::max(32, r_.WorkBrushSize);
    const int nx = (r_.WorkW + s - 1) / s, ny = (y1_ - y0_ + s - 1) / s;
    StripeGuard<false> g(*r_.workLocks, y0_, y1_ - 1);
    for (int j = 0; j < ny; ++j)
      for (int i = 0; i < nx; ++i) {
        int top = y0_ + s * j, bottom = std::min(y1_, top + s);
        int left = s * i, right = std::min(r_.WorkW, left + s);
        int64_t sum = 0, n = 0;
        for (int y = (top + 3) / 4 * 4; y < bottom; y += 4) {
          const uint32_t* a = r_.WorkSrc.row(y);
          const uint32_t* b = r_.WorkDest.row(y);
          for (int x = (left + 3) / 4 * 4; x < right; x += 4) {
            uint32_t p = a[x], q = b[x];
            sum += std::abs(int(GetR(p)) - int(GetR(q))) + std::abs(int(GetG(p)) - int(GetG(q))) +
                   std::abs(int(GetB(p)) - int(GetB(q)));
            ++n;
          }
        }
        if (n > 0 && sum / n > r_.SkipLimit) rects_.push_back({left, top, right, bottom});
      }
  }

  void LatePositions() {
    const int64_t B = ImpastoLateBudget(r_.WorkW, y1_ - y0_, r_.WorkBrushSize, r_.P3);
    int64_t attempts = 0, accepted = 0;
    while (true) {
      if (IsEffectCancelled()) return;
      ++attempts;
      if (attempts > 20 * B || accepted >= B) return;
      int x, y;
      bool fromList = false;
      if (!rects_.empty() && rnd_(100) < 80) {
        const TRect& R = rects_[size_t(rnd_(int(rects_.size())))];
        x = R.Left + rnd_(std::max(1, R.Right - R.Left));
        y = R.Top + rnd_(std::max(1, R.Bottom - R.Top));
        fromList = true;
      } else {
        y = y0_ + rnd_(y1_ - y0_);
        x = rnd_(r_.WorkW);
      }
      if (x < 0 || x >= r_.WorkW || y < y0_ || y >= y1_) continue;
      const TGradientInfo* gi = GradientAt(x, y);
      if (!gi) continue;
      uint32_t s = r_.WorkSrc.at(x, y);
      int Dsd;
      {
        StripeGuard<false> g(*r_.workLocks, y, y);
        Dsd = BrushColorDistance(s, r_.WorkDest.at(x, y));
      }
      int M = gi->Magnitude, p;
      if (fromList) {
        p = Dsd < 31 ? 100 : 300;
      } else {
        p = M;
        if (Dsd > r_.SkipLimit + 20)
          p = 300;
        else if (Dsd > r_.SkipLimit && p < 100)
          p = 120;
        if (Dsd < r_.SkipLimit && M < 20) p = 5;
      }
      if (rnd_(255) >= std::min(p, 255)) continue;
      ++accepted;
      Position(x, y);
    }
  }

  void GridPositions(int layer) {
    const int G = r_.GridStep;
    int jitterX = 0, jitterY = 0;
    if (layer > 1) {
      jitterX = rnd_(G);
      jitterY = rnd_(G);
    }
    int y = y0_ + rnd_(G / 2) + jitterY;
    int x = rnd_(G / 2) + jitterX;
    while (true) {
      if (IsEffectCancelled()) return;
      if (y >= y1_) return;
      if (x >= r_.WorkW) {
        y += G;
        x = rnd_(G / 2);
        if (y >= y1_) return;
      }
      Position(x, y);
      x += G;
    }
  }

  // One candidate position: search the best dab, then apply it.
  void Position(int x, int y) {
    uint32_t s = r_.WorkSrc.at(x, y);
    if ((s >> 24) <= 9) return;
    const int C = C_;
    // Window in scratch coordinates; scratch (r, c) covers work pixel (x - C + c, y - C + r).
    int r0 = y + scanLo_ - C < 0 ? C - y : scanLo_;
    int r1 = y + scanHi_ - C >= r_.WorkH ? r_.WorkH - 1 + C - y : scanHi_;
    int c0 = x + scanLo_ - C < 0 ? C - x : scanLo_;
    int c1 = x + scanHi_ - C >= r_.WorkW ? r_.WorkW - 1 + C - x : scanHi_;
    if (r1 < r0 || c1 < c0) return;
    const int step = r_.CheckStep;
    const int r0a = (r0 + step - 1) / step * step, c0a = (c0 + step - 1) / step * step;
    const IRect window = {x - C + c0, y - C + r0, x - C + c1 + 1, y - C + r1 + 1};

    int bestK = -1;
    double bestPhi = 0;
    TAlphaColor colour = Unpremultiply(s);
    {
      StripeGuard<false> g(*r_.workLocks, window.top, window.bottom - 1);
      if (!r_.IsStochastic && !r_.SkipCheck && BrushColorDistance(s, r_.WorkDest.at(x, y)) < r_.SkipLimit)
        return;  // the canvas already matches here
      const TGradientInfo* gi = GradientAt(x, y);
      double theta =
          (!gi || gi->Magnitude < 16) ? rnd_.Unit() * 2 * std::numbers::pi : double(gi->Angle) + std::numbers::pi / 2;
      int64_t bestScore = -2147483647;
      for (int n = 0; n < r_.CurrentRefineCount; ++n) {
        int k = rnd_(r_.kBrushCount);
        if (k < 0 || k >= int(r_.PrecomputedBrushes.size())) continue;
        const BrushTip& tip = r_.PrecomputedBrushes[size_t(k)];
        if (!tip) continue;
        double base = theta - r_.BrushAngles[size_t(k)];
        for (int side = -r_.CurrentSideSteps; side <= r_.CurrentSideSteps; ++side) {
          double phi = base + side * kFiveDegrees;
          BrushStamp stamp(tip, colour, x, y, phi, r_.WorkBrushSize, r_.WorkBrushSize, r_.GlobalOpacity);
          int64_t gain = 0, sumAfter = 0, cnt = 0;
          stamp.ForEachPixel(window, x - C + c0a, y - C + r0a, step, [&](int px, int py, uint32_t t) {
            uint32_t src = r_.WorkSrc.at(px, py), cur = r_.WorkDest.at(px, py);
            int before = BrushColorDistance(src, cur);
            int after = BrushColorDistance(src, BlendOverPremul(t, cur));
            gain += before - after;
            sumAfter += after;
            ++cnt;
          });
          int64_t avgAfter = cnt ? sumAfter / cnt : 2147483647;
          int64_t score = gain - 2 * avgAfter;
          if (gain > r_.Threshold && score > bestScore) {
            bestScore = score;
            bestK = k;
            bestPhi = phi;
          }
        }
      }
    }
    if (bestK < 0) return;
    Apply(x, y, bestK, bestPhi, colour, window);
  }

  void Relief(int a) {
    const int C = C_;
    int lo = std::max(1, C - a / 2 - 2), hi = std::min(r_.ScratchSize - 2, C + a / 2 + 2);
    ApplyImpastoRelief(scratch_.view(), C, a, r_.ImpastoStrength, lo, hi, scratch_.painted());
  }

  // Composites the painted scratch pixels inside the scratch rectangle `area`
  // onto `dst`, the scratch centre landing on (X, Y).
  void Composite(const PixelView& dst, IRect area, int X, int Y) {
    const int C = C_;
    if (!area.intersect(scratch_.painted())) return;
    if (!area.intersect({C - X, C - Y, C - X + dst.width, C - Y + dst.height})) return;
    const PixelView& sv = scratch_.view();
    for (int r = area.top; r < area.bottom; ++r) {
      const uint32_t* srow = sv.row(r);
      uint32_t* drow = dst.row(Y - C + r) + (X - C);
      for (int c = area.left; c < area.right; ++c) {
        uint32_t t = srow[c];
        if (t >> 24) drow[c] = BlendOverPremul(t, drow[c]);
      }
    }
  }

  void Apply(int x, int y, int k, double phi, TAlphaColor colour, const IRect& window) {
    const BrushTip& tip = r_.PrecomputedBrushes[size_t(k)];
    const int C = C_;
    const int size = r_.CurrentBrushSize;
    // Work canvas.
    scratch_.Clear();
    scratch_.Stamp(BrushStamp(tip, colour, C, C, phi, r_.WorkBrushSize, r_.WorkBrushSize, r_.GlobalOpacity));
    if (size > 15) Relief(size);
    {
      StripeGuard<true> g(*r_.workLocks, window.top, window.bottom - 1);
      IRect area = {window.left - x + C, window.top - y + C, window.right - x + C, window.bottom - y + C};
      Composite(r_.WorkDest, area, x, y);
    }
    // Full resolution: the same dab at full size (already on the scratch when
    // the work canvas is not reduced).
    const int X = x * r_.ScaleFactor, Y = y * r_.ScaleFactor;
    if (r_.ScaleFactor != 1) {
      scratch_.Clear();
      scratch_.Stamp(BrushStamp(tip, colour, C, C, phi, size, size, r_.GlobalOpacity));
      if (size > 15) Relief(size);
    }
    int O = int(Round(size * 0.7)) + 2;
    IRect area = {std::max(0, C - O), std::max(0, C - O), std::min(r_.ScratchSize - 1, C + O) + 1,
                  std::min(r_.ScratchSize - 1, C + O) + 1};
    int top = std::max(0, Y - C + area.top), bottom = std::min(r_.h - 1, Y - C + area.bottom - 1);
    if (bottom < top) return;
    StripeGuard<true> g(*r_.destLocks, top, bottom);
    Composite(r_.DestPx, area, X, Y);
  }

  TImpastoRun& r_;
  BandRandom rnd_;
  ScratchSurface scratch_;
  int C_;
  int y0_ = 0, y1_ = 0, scanLo_ = 0, scanHi_ = 0;
  std::vector<TRect> rects_;
};

void BuildGradientMap(TImpastoRun& r) {
  auto g = MakeWorkSurface(r.GradW, r.GradH);
  g->GetCanvas()->DrawImageRect(r.workSrcSurface->MakeImageSnapshot(), RectF::MakeWH(r.GradW, r.GradH),
                                SamplingOptions::LinearMipNearest());
  PixelView v = g->PeekPixels();
  r.GradientMap.assign(size_t(r.GradW) * size_t(r.GradH), TGradientInfo());
  auto L = [&](int x, int y) {
    uint32_t p = v.at(x, y);
    return int(59 * GetG(p) + 30 * GetR(p) + 11 * GetB(p)) / 100;
  };
  for (int y = 1; y <= r.GradH - 2; ++y)
    for (int x = 1; x <= r.GradW - 2; ++x) {
      int gx =
          (2 * L(x + 1, y) + L(x + 1, y - 1) + L(x + 1, y + 1)) - (2 * L(x - 1, y) + L(x - 1, y - 1) + L(x - 1, y + 1));
      int gy =
          (2 * L(x, y + 1) + L(x - 1, y + 1) + L(x + 1, y + 1)) - (2 * L(x, y - 1) + L(x - 1, y - 1) + L(x + 1, y - 1));
      TGradientInfo& gi = r.GradientMap[size_t(y) * size_t(r.GradW) + size_t(x)];
      gi.Magnitude = uint8_t(std::min(std::abs(gx) + std::abs(gy), 255));
      gi.Angle = float(std::atan2(double(gy), double(gx)));
    }
}

// At least two bands, so that even a two-core machine paints on both cores;
// otherwise one core is left to the rest of the program.
int BandCount() {
  int cores = int(std::thread::hardware_concurrency());
  return std::max(2, cores - 1);
}

}  // namespace

TImpastoSettings ImpastoSettings(int w, int h, int P1, int P2, int P3, int P4, int P5) {
  TImpastoSettings s;
  s.Smin = std::clamp<int>(int(Round(P1 * 5.12)), 3, 1024);
  s.Smax = std::clamp<int>(int(Round(P2 * 5.12)), s.Smin, 2048);
  s.P3 = std::clamp(P3, 0, 100);
  s.Q = std::clamp(P4, 0, 100);
  s.GlobalOpacity = std::max(0.05f, float(std::clamp(P5, 0, 100)) / 100.0f);
  s.RefineBase = s.Q / 10 + 2;
  s.PassCount = std::clamp<int>(int(Round(s.Q / 25.0)) * 4 + 8, 6, 18);
  s.SkipLimit = int(Round((100 - s.Q) * 0.45)) + 20;
  s.ScaleFactor = (int64_t(w) * h > 1920000 && s.Q < 98) ? 2 : 1;
  s.WorkW = std::max(1, w / s.ScaleFactor);
  s.WorkH = std::max(1, h / s.ScaleFactor);
  s.GradW = std::min(s.WorkW, 256);
  s.GradH = std::max<int>(1, int(Round(double(s.WorkH) * s.GradW / std::max(1, s.WorkW))));
  return s;
}

int64_t ImpastoLateBudget(int WorkW, int bandRows, int WorkBrushSize, int P3) {
  const double density = 8.0 * (P3 / 100.0) * (P3 / 100.0) + 0.002;
  double raw = double(WorkW) * double(bandRows) / double(std::max(1, WorkBrushSize * WorkBrushSize)) * density;
  return std::clamp<int64_t>(Round(raw), 1, 100000);
}

void SystematicPainting(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview) {
  if (!Source || !Dest.GetCanvas()) return;
  RequireDestOfSourceSize(Source, Dest);
  TImpastoRun r;
  r.Preview = Preview;
  r.w = Source.width();
  r.h = Source.height();
  if (r.w <= 49 || r.h <= 49) {
    FinishUnpainted(Source, Dest, Preview);
    return;
  }
  if (Preview) {
    Dest.GetCanvas()->Clear(0);
    r.DoClear = true;
  } else {
    r.DoClear = PrepareStartCanvas(Dest, Source);
  }

  const TImpastoSettings st = ImpastoSettings(r.w, r.h, P1, P2, P3, P4, P5);
  r.Smin = st.Smin;
  r.Smax = st.Smax;
  r.P3 = st.P3;
  r.Q = st.Q;
  r.GlobalOpacity = st.GlobalOpacity;
  r.RefineBase = st.RefineBase;
  const int N = st.PassCount;
  r.ScaleFactor = st.ScaleFactor;
  r.WorkW = st.WorkW;
  r.WorkH = st.WorkH;
  r.GradW = st.GradW;
  r.GradH = st.GradH;
  r.SkipLimit = st.SkipLimit;

  // Work source: the photograph at search resolution.
  r.workSrcSurface = MakeWorkSurface(r.WorkW, r.WorkH);
  if (r.ScaleFactor == 1)
    r.workSrcSurface->GetCanvas()->DrawImage(Source, 0, 0);
  else
    r.workSrcSurface->GetCanvas()->DrawImageRect(Source, RectF::MakeWH(r.WorkW, r.WorkH),
                                                 SamplingOptions::LinearMipNearest());
  r.WorkSrc = r.workSrcSurface->PeekPixels();
  // Work canvas: transparent when erasing (even over a white start), else the start picture.
  r.workDestSurface = MakeWorkSurface(r.WorkW, r.WorkH);
  if (!r.DoClear)
    r.workDestSurface->GetCanvas()->DrawImageRect(Dest.MakeImageSnapshot(), RectF::MakeWH(r.WorkW, r.WorkH),
                                                  SamplingOptions::LinearMipNearest());
  r.WorkDest = r.workDestSurface->PeekPixels();
  BuildGradientMap(r);

  // The atlas this run was launched with, never the driver's current one.
  int count = 0;
  Image sheet = RunBrushAtlas(&count);
  r.kBrushCount = std::max(0, count);
  ExtractFixedBrushCells(sheet, r.kBrushCount, r.PrecomputedBrushes, r.BrushAngles);
  r.DestPx = Dest.PeekPixels();
  r.workLocks = std::make_unique<StripeLocks>(r.WorkH);
  r.destLocks = std::make_unique<StripeLocks>(r.h);
  r.ThreadCount = std::min(BandCount(), r.WorkH);

  WorkInProgressDisplay display;
  for (int pass = 0; pass <= N; ++pass) {
    CheckCancellation();
    double F = double(N - pass) / N;
    r.CurrentBrushSize = int(Round((r.Smax - r.Smin) * F * F * F * F)) + r.Smin;
    r.WorkBrushSize = std::max(1, r.CurrentBrushSize / r.ScaleFactor);
    r.IsStochastic = pass > 0.7 * N;
    r.ScanLimit = int(Round(r.WorkBrushSize * 0.7)) + 2;
    r.ScratchSize = int(Round(std::min(r.Smax, std::min(r.WorkW, r.WorkH) / 2) * 1.5)) + 256;
    r.ScratchCenter = r.ScratchSize / 2;
    r.SkipCheck = pass == 0 && r.DoClear;
    r.Threshold = int(Round(double(r.WorkBrushSize) * r.WorkBrushSize * 0.35));
    const int wbs = r.WorkBrushSize;
    r.CheckStep = wbs >= 81 ? 5 : wbs >= 41 ? 4 : wbs >= 21 ? 3 : wbs >= 9 ? 2 : 1;
    r.CurrentRefineCount = r.RefineBase;
    r.CurrentSideSteps = 4;
    if (wbs < 40) {
      r.CurrentRefineCount = std::max(1, r.RefineBase / 2);
      r.CurrentSideSteps = 1;
    }
    if (wbs < 10) {
      r.CurrentRefineCount = 1;
      r.CurrentSideSteps = 0;
    }
    if (r.IsStochastic) {
      r.GridStep = 1;
      r.DensityLayers = 1;
    } else {
      r.GridStep = std::max<int>(2, int(Round(wbs * 0.8)));
      r.DensityLayers = r.P3 < 40 ? 1 : (r.P3 < 80 ? 2 : 3);
    }

    // One private random stream per band, seeded here in band order.
    std::vector<uint32_t> seeds(size_t(r.ThreadCount));
    for (uint32_t& s : seeds) s = RandomStep();
    ParallelFor(0, r.ThreadCount, 1, [&](int lo, int hi) {
      for (int b = lo; b < hi; ++b) BandWorker(r, b, seeds[size_t(b)]).Run();
    });
    CheckCancellation();

    if (Preview) {
      SafeUpdatePreview(&Dest, int(Round(pass * 100.0 / N + 1)));
    } else {
      int progress = int(Round(pass * 100.0 / N));
      if (display.Ready())
        display.Show(Dest.MakeImageSnapshot(), progress);
      else
        UpdateProgressBar(progress);
    }
  }
  if (!Preview) display.Show(Dest.MakeImageSnapshot(), 101, true);
}

LQ_REGISTER_EFFECT(304, SystematicPainting)

}  // namespace lq
