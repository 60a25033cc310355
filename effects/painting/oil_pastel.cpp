// Oil Pastel: randomly rotated pastel-stick marks. Each of 1001 iterations,
// with a mark size falling from the largest to the smallest, looks for places
// where the canvas differs most from the photograph, tries a few marks there
// and keeps the best one when it improves the canvas enough.
#include "effects/painting/oil_pastel.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>

#include "effects/painting/brushes/brushes.h"
#include "engine/driver.h"
#include "engine/effect_registry.h"
#include "engine/random.h"

namespace lq {

namespace {

constexpr int kReliefStrength = 35;

struct TOilPastelRun {
  const Image* Source = nullptr;
  Surface* Dest = nullptr;
  bool Preview = false;
  bool DoClear = false;
  int w = 0, h = 0;
  int Smin = 0, Smax = 0, Iter = 1, Q = 1, N0 = 25;
  float op = 1.0f;
  double rho = 1.0;
  ConstPixelView src;  // source rows
  PixelView canvas;    // Dest's pixels
  int S = 0, C = 0;    // scratch side and centre
  BrushTable PrecomputedBrushes;
  Image TempImg;
};

// Per-iteration values.
struct TMarkStep {
  int t = 0, size = 0, lo = 0, hi = 0, M = 1, st = 1;
};

int64_t MarkError(const TOilPastelRun& r, int x, int y) {
  return BrushColorDistance(r.src.at(x, y), r.canvas.at(x, y));
}

void MarkAttempt(TOilPastelRun& r, ScratchSurface& scratch, const TMarkStep& k) {
  CheckCancellation();
  const int w = r.w, h = r.h, size = k.size;

  // Position search: the sample with the largest error around a few candidates.
  int s3 = std::max(1, size / 3);
  int nCand = std::clamp(k.M / 10, 1, 15);
  int64_t best = -1;
  int bx = 0, by = 0;
  bool found = false, done = false;
  for (int cnd = 0; cnd < nCand && !done; ++cnd) {
    int cx = Random(w - 20) + 10;
    int cy = Random(h - 20) + 10;
    for (int smp = 0; smp < 10; ++smp) {
      int px = cx + Random(64) - 32;
      int py = cy + Random(64) - 32;
      if (!(px > 0 && px < w - 1 && py > 0 && py < h - 1)) continue;
      if ((r.src.at(px, py) >> 24) <= 9) continue;
      int64_t e = MarkError(r, px, py);
      uint32_t cv = r.canvas.at(px, py);
      if (r.DoClear && k.t > 800 && GetR(cv) > 230 && GetG(cv) > 230 && GetB(cv) > 230) e *= 50;  // blank paper
      if (e > 20) {
        const int dx[4] = {-s3, s3, -s3, s3}, dy[4] = {-s3, -s3, s3, s3};
        for (int d = 0; d < 4; ++d) {
          int qx = px + dx[d], qy = py + dy[d];
          if (qx >= 0 && qx < w && qy >= 0 && qy < h) e += MarkError(r, qx, qy);
        }
      }
      if (e > best) {
        best = e;
        bx = px;
        by = py;
        found = true;
        if (e > 2000) {
          done = true;
          break;
        }
      }
    }
  }
  if (!found) return;

  // Tries: a random brush at a random angle, scored on every st-th pixel.
  int T = size < 15 ? 1 : r.Q / 15 + 1;
  int64_t G = 20LL * size * size;
  int64_t bestScore = -2147483647;
  int bestBrush = -1;
  double bestAngle = 0;
  const TAlphaColor colour = Unpremultiply(r.src.at(bx, by));
  const int nBrushes = int(r.PrecomputedBrushes.size());
  const int penalty = size > 39 ? 35 : (size > 14 ? 15 : 5);
  // Scratch window lo..hi around the centre C, in image coordinates.
  const IRect window = {bx + k.lo - r.C, by + k.lo - r.C, bx + k.hi - r.C + 1, by + k.hi - r.C + 1};
  IRect clip = window;
  clip.intersect(IRect::MakeWH(w, h));
  for (int tr = 0; tr < T; ++tr) {
    int kb = Random(nBrushes);
    if (kb < 0 || kb >= nBrushes || !r.PrecomputedBrushes[size_t(kb)]) continue;
    double angle = Random(360) * std::numbers::pi / 180.0;
    CheckCancellation();
    BrushStamp stamp(r.PrecomputedBrushes[size_t(kb)], colour, bx, by, angle, size, size, r.op,
                     SamplingOptions::High());
    int64_t gain = 0;
    stamp.ForEachPixel(clip, window.left, window.top, k.st, [&](int x, int y, uint32_t s) {
      uint32_t cur = r.canvas.at(x, y), sp = r.src.at(x, y);
      int before = BrushColorDistance(sp, cur);
      if (r.DoClear || before > 0)
        gain += before - BrushColorDistance(sp, BlendOverPremul(s, cur));
      else
        gain -= penalty;  // an untouched matching pixel of the picture painted over
    });
    int64_t score = int64_t(k.st) * k.st * gain;
    if (score > bestScore) {
      bestScore = score;
      bestBrush = kb;
      bestAngle = angle;
      if (score > G) break;
    }
  }
  if (bestBrush < 0) return;

  int64_t A = k.t < 501 ? Round(double(size) * size * 1.1 * (k.t / 500.0 * 3 + 2)) : Round(double(size) * size * 2.5);
  if (!r.DoClear) A /= 2;
  if (!(A < bestScore)) return;

  // Accepted: draw on the scratch, shade the relief, composite onto the canvas.
  scratch.Clear();
  scratch.Stamp(BrushStamp(r.PrecomputedBrushes[size_t(bestBrush)], colour, r.C, r.C, bestAngle, size, size, r.op,
                           SamplingOptions::High()));
  if (size > 29) ApplyImpastoRelief(scratch.view(), r.C, size, kReliefStrength, k.lo + 1, k.hi - 1, scratch.painted());
  IRect area = scratch.painted();
  if (!area.intersect({k.lo, k.lo, k.hi + 1, k.hi + 1})) return;
  const PixelView& sv = scratch.view();
  for (int row = area.top; row < area.bottom; ++row) {
    int y = by + row - r.C;
    if (y < 0 || y >= h) continue;
    const uint32_t* srow = sv.row(row);
    uint32_t* crow = r.canvas.row(y);
    for (int col = area.left; col < area.right; ++col) {
      uint32_t s = srow[col];
      if ((s >> 24) == 0) continue;
      int x = bx + col - r.C;
      if (x < 0 || x >= w) continue;
      crow[x] = BlendOverPremul(s, crow[x]);
    }
  }
}

}  // namespace

TPastelSizes OilPastelSizes(int P1, int P2, bool doClear) {
  int p1 = P1;
  if (p1 >= P2) p1 = P2 - 5;
  p1 = std::max(0, p1);
  TPastelSizes s;
  s.Smin = 4 * p1 + 3;
  s.Smax = 4 * P2 + 3;
  if (!doClear) s.Smax = (2 * s.Smax) / 3;
  s.Smin = std::min(s.Smin, s.Smax);
  return s;
}

int OilPastelExtraPasses(int size) {
  if (size >= 50 || size < 1) return 0;
  return std::clamp(((2 * (14000 / (size * size))) / 3 - 1) / 5, 0, 50);
}

void NewRandomStrokes_BestOfN(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                              bool Preview) {
  CheckCancellation();
  // Runs started at different times differ.
  auto now = std::chrono::system_clock::now().time_since_epoch();
  RandSeed = uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(now).count() % 1000);

  TOilPastelRun r;
  r.Source = &Source;
  r.Dest = &Dest;
  r.Preview = Preview;
  r.Iter = std::max(1, P3);
  r.Q = std::max(1, P4);
  r.N0 = 25 * r.Q;
  r.op = std::max(0.1f, float(P5) / 100.0f);

  if (!Source) return;
  RequireDestOfSourceSize(Source, Dest);
  r.w = Source.width();
  r.h = Source.height();
  if (r.w <= 99 || r.h <= 99) {
    FinishUnpainted(Source, Dest, Preview);
    return;
  }

  if (Preview) {
    // The preview region's share of the picture: a preview paints as densely as the full run.
    int64_t full = 0;
    RunOnUi([&] {
      const Image& s = Driver().VIrSourceImage;
      if (s) full = int64_t(s.width()) * s.height();
    });
    if (full > 0) r.rho = double(int64_t(r.w) * r.h) / double(full);
  }

  r.src = Source.PeekPixels();
  if (Preview) {
    Dest.GetCanvas()->Clear(0);
    r.DoClear = true;
  } else {
    r.DoClear = PrepareStartCanvas(Dest, Source);
  }
  const TPastelSizes sizes = OilPastelSizes(P1, P2, r.DoClear);
  r.Smin = sizes.Smin;
  r.Smax = sizes.Smax;
  r.canvas = Dest.PeekPixels();

  int Sx = std::min(r.Smax, std::min(r.w / 2, r.h / 2));
  r.S = std::max<int>(370, int(Round(1.6 * Sx)) + 20);
  r.C = r.S / 2;
  ScratchSurface scratch(r.S, r.S);

  r.PrecomputedBrushes = ExtractBrushCells(RunBrushAtlas());
  if (r.PrecomputedBrushes.empty()) {
    // No usable brush (a custom atlas whose brushes all miss the probe rows):
    // keep the picture rather than commit a blank page.
    FinishUnpainted(Source, Dest, Preview);
    return;
  }

  const int halfMin = std::min(r.w / 2, r.h / 2);
  WorkInProgressDisplay display;
  for (int t = 1000; t >= 0; --t) {
    CheckCancellation();
    TMarkStep k;
    k.t = t;
    int size;
    if (t < 951) {
      float u = float(t) / 950.0f;
      float v = u * u * u * u;
      size = int(Round(double(r.Smax - r.Smin + 1) * v)) + r.Smin;
      int j = int(Round(0.2 * size));
      size = size + Random(j > 0 ? j : 1) - int(Round(0.1 * size));
    } else {
      size = r.Smax;
    }
    size = std::min(std::max(size, r.Smin), halfMin);
    k.size = size;
    int half = int(Round(0.75 * size)) + 4;
    k.lo = std::max(1, r.C - half);
    k.hi = std::min(r.S - 2, r.C + half);

    int M = 2 * r.N0;
    if (0.75 * r.Smax > size) M = r.N0;
    if (0.5 * r.Smax > size) M /= 3;
    if (0.25 * r.Smax > size) M /= 2;
    k.M = std::max(1, M);
    k.st = size < 31 ? 1 : (size < 61 ? 2 : 4);
    const int E = OilPastelExtraPasses(size);
    int L = r.Iter;
    if (size > 30) L = std::max(1, r.Iter / 2);
    if (size > 60) L = std::max(1, L / 3);

    for (int loop = 0; loop <= L; ++loop) {
      if (Preview && r.rho < 1 && Random() > 2 * r.rho) continue;
      for (int e = 0; e <= E; ++e) MarkAttempt(r, scratch, k);
      CheckCancellation();
    }

    if ((t + 10) % 50 == 0) {
      CheckCancellation();
      int p = (1000 - t) / 10;
      if (!Preview) {
        SafeUpdateProgress(p);
        if ((t + 10) % 100 == 0 && display.Ready()) {
          Dest.Flush();
          r.TempImg = Dest.MakeImageSnapshot();
          CheckCancellation();
          display.Show(r.TempImg, -1);
        }
      } else {
        SafeUpdatePreview(&Dest, p);
      }
    }
  }
  if (!Preview) {
    SafeUpdateProgress(101);
  } else {
    LastUIUpdateTick = 0;
    SafeUpdatePreview(&Dest, 101);
  }
}

LQ_REGISTER_EFFECT(302, NewRandomStrokes_BestOfN)

}  // namespace lq
