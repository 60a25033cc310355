// Stochastic Painting: a large number of strokes from the template atlas
// dropped at random places. Each takes the photograph's colour at its centre,
// follows the local contour, shrinks as the run advances, and is drawn only
// when, on a sample of the pixels it would cover, it brings the canvas closer
// to the photograph.
#include "effects/painting/stochastic_painting.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <optional>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "effects/painting/brushes/brushes.h"
#include "engine/driver.h"
#include "engine/effect_registry.h"
#include "engine/random.h"

namespace lq {

namespace {

constexpr int kTemplateCell = 250;
constexpr int kTemplateColumns = 5;
constexpr int kTemplateBrushes = 38;

struct TGradientInfo {
  float Angle = 0;  // contour direction, radians
  uint8_t Magnitude = 0;
};

struct TStochasticRun {
  bool Preview = false;
  Surface* Dest = nullptr;
  bool HasTransparency = false;
  bool DoClear = true;
  int w = 0, h = 0;
  TStochasticSettings S;
  ConstPixelView Src;
  PixelView Canvas;
  std::vector<TGradientInfo> Gradient;
  BrushTable Brushes;
  std::vector<float> Angles;
  Image Snap, FinalSnap;
  int Prog = 0;
};

// Sobel on the premultiplied red byte of the picture reduced to GW x GH.
void BuildGradientMap(TStochasticRun& r, const Image& source) {
  const int GW = r.S.GW, GH = r.S.GH;
  auto g = MakeWorkSurface(GW, GH);
  g->GetCanvas()->DrawImageRect(source, RectF::MakeWH(GW, GH), SamplingOptions::LinearMipNearest());
  const PixelView v = g->PeekPixels();
  r.Gradient.assign(size_t(GW) * size_t(GH), TGradientInfo());
  auto R = [&](int x, int y) { return int(GetR(v.at(x, y))); };
  for (int y = 1; y <= GH - 2; ++y)
    for (int x = 1; x <= GW - 2; ++x) {
      int gx = (2 * R(x + 1, y) + R(x + 1, y - 1) + R(x + 1, y + 1)) - (2 * R(x - 1, y) + R(x - 1, y - 1) + R(x - 1, y + 1));
      int gy = (2 * R(x, y + 1) + R(x - 1, y + 1) + R(x + 1, y + 1)) - (2 * R(x, y - 1) + R(x - 1, y - 1) + R(x + 1, y - 1));
      TGradientInfo& gi = r.Gradient[size_t(y) * size_t(GW) + size_t(x)];
      gi.Magnitude = uint8_t(std::min(std::abs(gx) + std::abs(gy), 255));
      gi.Angle = float(std::atan2(double(gy), double(gx)) + std::numbers::pi / 2);
    }
}

// The 38 strokes of the template atlas as white brushes whose alpha is the
// cell's darkness. False when the sheet holds none of them.
bool PrepareBrushes(TStochasticRun& r, const Image& sheet) {
  if (!sheet || sheet.width() < kTemplateCell || sheet.height() < kTemplateCell) return false;
  Paint paint;
  paint.colorFilter = ColorFilter::MakeMatrix({0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1,  //
                                               -0.299f, -0.587f, -0.114f, 0, 1});
  r.Brushes.assign(kTemplateBrushes, BrushTip());
  r.Angles.assign(kTemplateBrushes, 0.0f);
  bool any = false;
  for (int k = 0; k < kTemplateBrushes; ++k) {
    const RectF cell = RectF::MakeXYWH(double(k % kTemplateColumns) * kTemplateCell,
                                       double(k / kTemplateColumns) * kTemplateCell, kTemplateCell, kTemplateCell);
    if (cell.right > sheet.width() || cell.bottom > sheet.height()) continue;  // beyond a short sheet: paints nothing
    auto s = MakeWorkSurface(kTemplateCell, kTemplateCell);
    s->GetCanvas()->DrawImageRect(sheet, cell, RectF::MakeWH(kTemplateCell, kTemplateCell), SamplingOptions::High(),
                                  &paint);
    Image brush = s->MakeImageSnapshot();
    r.Angles[size_t(k)] = ComputeBrushAngle(brush);
    r.Brushes[size_t(k)] = BrushTip(brush);
    any = any || r.Brushes[size_t(k)].hasPaint();
  }
  return any;
}

// Start canvas of a run that paints from scratch on a picture with
// transparent parts: opaque white wherever the picture has any alpha.
void DrawSilhouette(const ConstPixelView& src, const PixelView& dst) {
  for (int y = 0; y < src.height; ++y) {
    const uint32_t* s = src.row(y);
    uint32_t* d = dst.row(y);
    for (int x = 0; x < src.width; ++x) d[x] = GetA(s[x]) != 0 ? 0xFFFFFFFFu : 0u;
  }
}

// Accepted strokes are drawn on a second thread while the next ones are
// scored: drawing every pixel of a stroke costs about as much as scoring it.
// Exact: a stroke is scored only once every earlier stroke that could touch
// the pixels it reads has been drawn, so it sees the canvas and draws the
// random numbers of a one-thread run. Without a second thread (`threaded`
// false) strokes are drawn at once.
class StrokeDrawer {
 public:
  explicit StrokeDrawer(bool threaded) {
    if (threaded) thread_ = std::thread([this] { Consume(); });
  }
  ~StrokeDrawer() {
    if (!thread_.joinable()) return;
    pushed_.fetch_or(kStop, std::memory_order_release);
    pushed_.notify_all();
    thread_.join();
  }
  StrokeDrawer(const StrokeDrawer&) = delete;
  StrokeDrawer& operator=(const StrokeDrawer&) = delete;

  void Push(const BrushStamp& stamp, const PixelView& canvas) {
    if (!thread_.joinable()) {
      stamp.Draw(canvas);
      return;
    }
    IRect bounds = stamp.Bounds();
    if (!bounds.intersect(IRect::MakeWH(canvas.width, canvas.height))) return;  // leaves nothing on the canvas
    // Scoring takes about half as long as drawing: this thread draws the
    // lower third of the stroke itself, the other thread the rest. A stamp
    // pixel's value does not depend on the clip.
    const int split = bounds.top + (2 * bounds.height() + 2) / 3;
    const IRect own{bounds.left, split, bounds.right, bounds.bottom};
    if (!own.isEmpty()) {
      Clear(own);
      stamp.Draw(canvas, own);
    }
    bounds.bottom = split;
    if (bounds.isEmpty()) return;
    const uint64_t p = pushed_.load(std::memory_order_relaxed);
    Await(drawn_, [p](uint64_t d) { return p - d < kSlots; });
    slots_[p % kSlots].emplace(Job{stamp, canvas, bounds});
    pushed_.store(p + 1, std::memory_order_release);
    pushed_.notify_one();
  }

  // Returns once no stroke still waiting to be drawn reaches into `area`.
  void Clear(const IRect& area) {
    if (!thread_.joinable()) return;
    const uint64_t p = pushed_.load(std::memory_order_relaxed);
    uint64_t d = drawn_.load(std::memory_order_acquire);
    for (uint64_t j = p; j > d; --j) {
      IRect b = slots_[(j - 1) % kSlots]->bounds;
      if (b.intersect(area)) {
        Await(drawn_, [j](uint64_t v) { return v >= j; });
        return;
      }
    }
  }

  // Returns once every pushed stroke is on the canvas.
  void Drain() {
    if (!thread_.joinable()) return;
    const uint64_t p = pushed_.load(std::memory_order_relaxed);
    Await(drawn_, [p](uint64_t v) { return v >= p; });
  }

 private:
  static constexpr uint64_t kSlots = 32;
  static constexpr uint64_t kStop = uint64_t(1) << 63;
  struct Job {
    BrushStamp stamp;
    PixelView canvas;
    IRect bounds;
  };

  // Short waits spin; longer ones sleep until the other side moves.
  template <typename Ready>
  static void Await(std::atomic<uint64_t>& a, Ready ready) {
    for (int i = 0; i < 200; ++i) {
      if (ready(a.load(std::memory_order_acquire))) return;
#if defined(__SSE2__)
      _mm_pause();
#endif
    }
    for (;;) {
      const uint64_t v = a.load(std::memory_order_acquire);
      if (ready(v)) return;
      a.wait(v, std::memory_order_acquire);
    }
  }

  void Consume() {
    uint64_t d = 0;
    for (;;) {
      uint64_t p = 0;
      Await(pushed_, [&](uint64_t v) {
        p = v;
        return (v & ~kStop) > d || (v & kStop) != 0;
      });
      if ((p & ~kStop) == d) return;  // stopped, nothing left
      for (; d < (p & ~kStop); ++d) {
        const Job& j = *slots_[d % kSlots];
        j.stamp.Draw(j.canvas, j.bounds);
        drawn_.store(d + 1, std::memory_order_release);
        drawn_.notify_one();
      }
    }
  }

  std::array<std::optional<Job>, kSlots> slots_;
  std::atomic<uint64_t> pushed_{0}, drawn_{0};
  std::thread thread_;
};

int ChannelGain(uint32_t P, uint32_t C, uint32_t m) {
  int g = 0;
  for (int sh = 0; sh < 24; sh += 8) {
    int p = int((P >> sh) & 255u), c = int((C >> sh) & 255u), n = int((m >> sh) & 255u);
    g += std::abs(p - c) - std::abs(p - n);
  }
  return g;
}

}  // namespace

TStochasticSettings StochasticSettings(int w, int h, int P1, int P2, int P3, int P4, int P5) {
  TStochasticSettings s;
  s.Smin = std::clamp(2 * P1, 5, 250);
  s.Smax = std::clamp(2 * P2, 10, 250);
  if (s.Smax < s.Smin) std::swap(s.Smin, s.Smax);
  s.Q = std::clamp(P4, 1, 100);
  s.U = P3 / 100.0 * 150 + 5;
  if (s.Q > 80) s.U *= 0.75;
  s.N = Round(double(int64_t(w) * int64_t(h) / 400) * s.U);
  s.SampleStep = s.Q / 10 < 10 ? 10 - s.Q / 10 : 1;
  if (P3 > 60) s.SampleStep = std::max(2, s.SampleStep);
  if (P3 > 85) s.SampleStep = std::max(3, s.SampleStep);
  s.Tries = s.Q / 10 + 1;
  if (P3 > 50) s.Tries = std::min(5, s.Tries);
  if (P3 > 80) s.Tries = std::min(2, s.Tries);
  s.Alpha = int(std::clamp<int64_t>(Round(P5 * 2.55), 20, 255));
  s.ProgressEvery = std::max<int64_t>(100, s.N / 100);
  s.GW = std::max(1, std::min(w, 256));
  // A very wide picture still gets one row of directions.
  s.GH = int(std::max<int64_t>(1, Round(double(h) * s.GW / std::max(1, w))));
  return s;
}

float StochasticStrokeSize(const TStochasticSettings& s, int64_t n) {
  float t = s.N > 0 ? 1.0f - float(n) / float(s.N) : 1.0f;
  return float(s.Smin) + float(s.Smax - s.Smin) * t * t * t;
}

void StochasticPainting(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview) {
  if (!Source || !Dest.GetCanvas()) return;
  RequireDestOfSourceSize(Source, Dest);
  CheckCancellation();
  TStochasticRun r;
  r.Preview = Preview;
  r.Dest = &Dest;
  r.w = Source.width();
  r.h = Source.height();
  r.S = StochasticSettings(r.w, r.h, P1, P2, P3, P4, P5);
  const TStochasticSettings& S = r.S;
  if (S.N <= 0) {
    // Too small for a single stroke: a blank canvas is no painting of it.
    FinishUnpainted(Source, Dest, Preview);
    return;
  }
  r.Src = Source.PeekPixels();
  r.HasTransparency = HasAnyTranslucentPixel(r.Src);

  if (Preview) {
    Dest.GetCanvas()->Clear(0xFFFFFFFF);
  } else {
    r.DoClear = PrepareStartCanvas(Dest, Source);
    if (r.DoClear && r.HasTransparency) DrawSilhouette(r.Src, Dest.PeekPixels());
  }
  Dest.Flush();
  r.Canvas = Dest.PeekPixels();
  CheckCancellation();

  BuildGradientMap(r, Source);
  CheckCancellation();

  Image sheet;
  RunOnUi([&] {
    EffectDriver& d = Driver();
    if (d.BuiltinImage) sheet = d.BuiltinImage("TemplateMatchingBrushes");
  });
  if (!PrepareBrushes(r, sheet)) {
    // Without strokes the canvas would be committed as the painting.
    FinishUnpainted(Source, Dest, Preview);
    return;
  }
  sheet = Image();

  const RunContext* ctx = CurrentRun();
  const bool fullRun = !Preview && ctx && ctx->kind == RunKind::Full;
  WorkInProgressDisplay display;
  uint32_t lastUpdate = GetTickCount();
  const float opacity = float(S.Alpha) / 255.0f;
  const int alphaCut = 10 * S.Alpha;  // brush alpha above 10 in units of K * 255
  const double twoPi = 2 * std::numbers::pi;
  // Small pictures keep one thread: their strokes would mostly wait for each other.
  StrokeDrawer drawer(int64_t(r.w) * r.h >= 250000 && std::thread::hardware_concurrency() > 1);

  for (int64_t n = 0; n < S.N; ++n) {
    if (n % 500 == 0) CheckCancellation();
    const float s = StochasticStrokeSize(S, n);
    const int x = Random(r.w);
    const int y = Random(r.h);
    if (!r.HasTransparency || GetA(r.Src.at(x, y)) > 9) {
      const int gx = std::clamp(int(int64_t(x) * S.GW / r.w), 0, S.GW - 1);
      const int gy = std::clamp(int(int64_t(y) * S.GH / r.h), 0, S.GH - 1);
      const TGradientInfo& gi = r.Gradient[size_t(gy) * size_t(S.GW) + size_t(gx)];
      const double theta = gi.Magnitude < 16 ? Random() * twoPi : double(gi.Angle);
      int k = Random(kTemplateBrushes);
      double rot = theta - r.Angles[size_t(k)] + (Random() - 0.5) * 0.2;
      const uint32_t P0 = r.Src.at(x, y);
      const TAlphaColor colour = Unpremultiply(P0);

      const double half = 0.5 * s;
      const int B = int(std::ceil(1.414 * half));
      const IRect box{std::max(0, x - B), std::max(0, y - B), std::min(r.w - 1, x + B) + 1,
                      std::min(r.h - 1, y + B) + 1};
      const int step = s > 20 ? S.SampleStep : 1;
      drawer.Clear(box);
      int64_t gain = 0;
      for (int t = 1; t <= S.Tries; ++t) {
        if (t > 1) {
          k = Random(kTemplateBrushes);
          rot = theta - r.Angles[size_t(k)] + (Random() - 0.5) * 0.3;
        }
        gain = 0;
        BrushStamp stamp(r.Brushes[size_t(k)], colour, x, y, rot, s, s, opacity);
        stamp.ForEachPixel(box, 0, 0, step, [&](int q, int row, uint32_t sp) {
          const uint32_t K = sp >> 24;
          if (int(K) * 255 <= alphaCut) return;  // the brush's faint fringe does not count
          const uint32_t P = r.Src.at(q, row);
          if (r.HasTransparency && GetA(P) <= 9) return;
          const uint32_t C = r.Canvas.at(q, row);
          gain += ChannelGain(P, C, BlendOverPremul(sp, C));
        });
        if (gain > 0) break;
      }
      if (gain > 0) drawer.Push(BrushStamp(r.Brushes[size_t(k)], colour, x, y, rot, s, s, opacity), r.Canvas);
    }

    if (n % S.ProgressEvery == 0) {
      const int prog = int(Round(double(n) / double(S.N) * 100));
      if (fullRun) {
        if (uint32_t(GetTickCount() - lastUpdate) > 200 && display.Ready()) {
          drawer.Drain();
          Dest.Flush();
          r.Snap = Dest.MakeImageSnapshot();
          r.Prog = prog;
          display.Show(r.Snap, r.Prog);
          r.Canvas = Dest.PeekPixels();
          lastUpdate = GetTickCount();
        } else {
          SafeUpdateProgress(prog);
        }
      } else if (Preview && uint32_t(GetTickCount() - lastUpdate) > 100) {
        drawer.Drain();
        SafeUpdatePreview(&Dest, prog);
        r.Canvas = Dest.PeekPixels();
        lastUpdate = GetTickCount();
      }
    }
  }

  // The last picture is taken here, on the worker, and handed over as a
  // finished image: nothing reads Dest once the routine has returned.
  drawer.Drain();
  Dest.Flush();
  CheckCancellation();
  if (Preview) {
    LastUIUpdateTick = 0;
    SafeUpdatePreview(&Dest, 101);
  } else if (fullRun) {
    r.FinalSnap = Dest.MakeImageSnapshot();
    display.Show(r.FinalSnap, 101, true);
  } else {
    UpdateProgressBar(101);
  }
}

LQ_REGISTER_EFFECT(307, StochasticPainting)

}  // namespace lq
