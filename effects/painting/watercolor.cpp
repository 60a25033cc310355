// Watercolor: many translucent star-shaped washes. Each wash starts at a seed
// pixel, sends spokes out until the photograph's colour changes too much,
// joins the spoke ends into a polygon and fills it with the seed's colour.
// Washes shrink as the run advances; the painting is then smoothed, given a
// gentle colour pop, dark edge strokes and a light sharpening.
#include "effects/painting/watercolor.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "effects/painting/brushes/brushes.h"
#include "effects/painting/brushes/finishing.h"
#include "engine/driver.h"
#include "engine/effect_registry.h"
#include "engine/gfx/path.h"
#include "engine/random.h"

namespace lq {

TWatercolorSettings WatercolorSettings(int w, int h, int P1, int P2, int P3, int P4, bool preview, bool paintOver) {
  TWatercolorSettings s;
  s.K = P2 > 5 ? P2 / 2 : 3;
  s.g = std::clamp(float(P2) / 100.0f, 0.0f, 1.0f);
  if (w >= 2049 && h >= 2049) s.SizeFactor = std::min(5.0, double(w) * double(h) / 4194304.0);
  s.R0 = (0.02 * P3 * P3 + 0.2 * P3) * s.SizeFactor;
  int64_t count = preview ? std::max<int64_t>(50, Round(std::sqrt(double(w) * double(h)) * 0.2 * (P1 + 1)))
                          : Round(500.0 * (P1 + 1));
  s.ShapeCount = int(Round(double(count) * s.SizeFactor));
  s.T = int(Round(140 - 80 * double(s.g)));
  if (paintOver) s.T = s.T > 29 ? s.T / 2 : 15;
  s.sigma = 0.8f - 0.5f * s.g;
  s.op = float(std::clamp(P4, 0, 100)) / 100.0f;
  return s;
}

void SmoothRayLengths(std::vector<int>& L, int K, float sigma) {
  if (K <= 0 || int(L.size()) < K) return;
  float wt[7], sum = 0;
  for (int t = -3; t <= 3; ++t) {
    wt[t + 3] = float(std::exp(-0.5 * (t / double(sigma)) * (t / double(sigma))));
    sum += wt[t + 3];
  }
  std::vector<int> old(L.begin(), L.begin() + K);
  for (int k = 0; k < K; ++k) {
    double acc = 0;
    for (int t = -3; t <= 3; ++t) acc += double(wt[t + 3]) * old[size_t(((k + t) % K + K) % K)];
    L[size_t(k)] = int(Round(acc / sum));
  }
}

namespace {

constexpr int kRayPrefetch = 12;

struct TWatercolorRun {
  bool Preview = false;
  int ShapeCount = 0;
  int i = 0;
  int w = 0, h = 0;
  Surface* Dest = nullptr;
  bool DoClear = false;
  TAlphaColor BackgroundColor = 0;
  std::vector<uint32_t> WorkBuf;  // the canvas in paint-over mode
  Image SnapImg;
  int CurrentProgress = 0;
};

// More than one pixel in a thousand not opaque.
bool HasTransparency(const ConstPixelView& v) {
  const int64_t limit = int64_t(v.width) * v.height / 1000;
  int64_t count = 0;
  for (int y = 0; y < v.height; ++y) {
    const uint32_t* row = v.row(y);
    for (int x = 0; x < v.width; ++x) count += (row[x] >> 24) != 255;
    if (count > limit) return true;
  }
  return false;
}

Image ImageOfBuffer(const std::vector<uint32_t>& buf, int w, int h) {
  return Image::MakeFromPixels(w, h, std::vector<uint32_t>(buf));
}

}  // namespace

void CentralSpokeEffect(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview) {
  CheckCancellation();
  if (!Source) return;
  RequireDestOfSourceSize(Source, Dest);
  TWatercolorRun r;
  r.Preview = Preview;
  r.Dest = &Dest;
  r.w = Source.width();
  r.h = Source.height();
  const int w = r.w, h = r.h;
  const ConstPixelView src = Source.PeekPixels();
  const bool hasT = HasTransparency(src);
  r.BackgroundColor = hasT ? 0x00000000u : 0xFFFFFFFFu;

  // Start canvas.
  if (Preview) {
    Dest.GetCanvas()->Clear(0xFFFFFFFF);
    r.DoClear = true;
  } else {
    Image start;
    RunOnUi([&] {
      r.DoClear = Driver().FEraseBdChecked.load();
      if (!r.DoClear) start = Driver().StartImage();
    });
    if (r.DoClear) {
      Dest.GetCanvas()->Clear(r.BackgroundColor);
    } else {
      r.WorkBuf.assign(size_t(w) * size_t(h), 0);
      if (start) {
        ConstPixelView sv = start.PeekPixels();
        int cw = std::min(w, sv.width), chh = std::min(h, sv.height);
        for (int y = 0; y < chh; ++y) std::memcpy(&r.WorkBuf[size_t(y) * w], sv.row(y), size_t(cw) * 4);
      }
    }
  }
  const bool direct = r.DoClear;
  const TWatercolorSettings s = WatercolorSettings(w, h, P1, P2, P3, P4, Preview, !direct);
  r.ShapeCount = std::max(1, s.ShapeCount);
  const int K = s.K;
  const double step = 2 * std::numbers::pi / K;
  // Pixel offsets of every spoke step from its seed pixel. A spoke starts at the
  // seed's centre, so the offsets depend on the seed only through the parity
  // of its coordinates (round half to even), hence two tables per axis.
  const int maxB = int(Round((s.R0 + 0.5) * 8)) + 1;
  const int maxLen = maxB + maxB / 4 + 1;
  std::vector<int32_t> offX[2], offY[2];
  for (int par = 0; par < 2; ++par) {
    offX[par].resize(size_t(K) * size_t(maxLen));
    offY[par].resize(size_t(K) * size_t(maxLen));
    for (int k = 0; k < K; ++k) {
      const double c = std::cos(k * step), sn = std::sin(k * step);
      for (int rr = 0; rr < maxLen; ++rr) {
        offX[par][size_t(k) * maxLen + rr] = int32_t(Round(par + 0.5 + rr * c) - par);
        offY[par][size_t(k) * maxLen + rr] = int32_t(Round(par + 0.5 + rr * sn) - par);
      }
    }
  }
  Paint paint;
  paint.style = PaintStyle::Fill;
  paint.antiAlias = true;
  Randomize();

  PixelView canvas = direct ? Dest.PeekPixels() : PixelView{r.WorkBuf.data(), size_t(w) * 4, w, h};
  std::unique_ptr<Surface> scratch;
  if (!direct) scratch = MakeWorkSurface(w, h);
  IRect scratchUsed;  // part of the scratch painted by the last wash
  std::vector<int> L(static_cast<size_t>(K));
  uint32_t lastUpdate = GetTickCount();
  WorkInProgressDisplay display;

  for (r.i = 1; r.i <= r.ShapeCount; ++r.i) {
    CheckCancellation();
    const int i = r.i, SC = r.ShapeCount;
    const int washes = int(std::max<int64_t>(0, Round(double(i - SC / 2) * 8 / SC))) + 1;
    for (int wash = 0; wash < washes; ++wash) {
      CheckCancellation();
      const int B = int(Round((s.R0 + 0.5) * 8 * (SC - i) / SC)) + 1;

      // Seed: the try where the canvas differs most from the photograph.
      int bestD = -1, sx = 0, sy = 0;
      for (int t = 0; t < 8; ++t) {
        int x = Random(w);
        int y = Random(h);
        uint32_t S = src.at(x, y), C = canvas.at(x, y);
        int d = RedmeanDistance(S, C);
        if (t == 0 || d > bestD) {
          bestD = d;
          sx = x;
          sy = y;
        }
        if (direct && C == 0xFFFFFFFFu && S != 0xFFFFFFFFu && (!hasT || (S >> 24) >= 10)) {
          sx = x;
          sy = y;
          break;
        }
      }
      const uint32_t S = src.at(sx, sy);
      if (!(hasT && (S >> 24) < 10)) {
        // Spokes grow until the colour budget is spent.
        const double cx = sx + 0.5, cy = sy + 0.5;
        for (int k = 0; k < K; ++k) {
          int b = B + Random(B) / 4;
          const int maxSteps = std::min(b, maxLen - 1);
          const int32_t* ox = offX[sx & 1].data() + size_t(k) * maxLen;
          const int32_t* oy = offY[sy & 1].data() + size_t(k) * maxLen;
          int len = 1;
          for (int rr = 1; rr <= maxSteps; ++rr) {
            const int px = sx + ox[rr], py = sy + oy[rr];
            if (unsigned(px) >= unsigned(w) || unsigned(py) >= unsigned(h)) break;
            // Steps across rows miss the cache; ask for the pixels a little ahead.
            if (rr + kRayPrefetch <= maxSteps) {
              const int qx = std::clamp(sx + ox[rr + kRayPrefetch], 0, w - 1);
              const int qy = std::clamp(sy + oy[rr + kRayPrefetch], 0, h - 1);
              __builtin_prefetch(src.row(qy) + qx);
            }
            uint32_t P = src.at(px, py);
            if (hasT && (P >> 24) < 10) {
              b /= 2;
              if (s.g > 0.6f) break;
            } else {
              int d = RedmeanDistance(P, S);
              if (d > s.T) {
                b = s.g > 0.8f ? b / 2 : b * 3 / 4;
                b -= int(Round(d / 8.0));
              } else {
                int q = int(Round(d / 16.0));
                b -= q > 0 ? q : 1;
              }
            }
            b -= 1;
            if (b < 1) break;
            len = rr;
          }
          L[size_t(k)] = len;
        }
        if (K > 4) SmoothRayLengths(L, K, s.sigma);

        Path poly;
        double left = cx + L[0], right = left, top = cy, bottom = cy;
        poly.MoveTo(cx + L[0], cy);
        for (int j = 1; j <= K; ++j) {
          double px = cx + L[size_t(j % K)] * std::cos(j * step), py = cy + L[size_t(j % K)] * std::sin(j * step);
          poly.LineTo(px, py);
          left = std::min(left, px);
          right = std::max(right, px);
          top = std::min(top, py);
          bottom = std::max(bottom, py);
        }
        poly.Close();
        uint32_t alpha = hasT ? uint32_t(Round((S >> 24) * double(s.op))) : uint32_t(Round(double(s.op) * 255));
        paint.color = (Unpremultiply(S) & 0x00FFFFFFu) | (std::min(alpha, 255u) << 24);

        if (direct) {
          Dest.GetCanvas()->DrawPath(poly, paint);
        } else {
          // Paint-over: keep the wash only if it brings the canvas closer to the photograph.
          int x0 = std::max(0, int(std::floor(left))), y0 = std::max(0, int(std::floor(top)));
          int x1 = std::min(w - 1, int(std::ceil(right))), y1 = std::min(h - 1, int(std::ceil(bottom)));
          if (x0 <= x1 && y0 <= y1) {
            PixelView sc = scratch->PeekPixels();
            for (int y = scratchUsed.top; y < scratchUsed.bottom; ++y)
              std::memset(sc.row(y) + scratchUsed.left, 0, size_t(scratchUsed.width()) * 4);
            scratch->GetCanvas()->DrawPath(poly, paint);
            scratchUsed = {x0, y0, x1 + 1, y1 + 1};
            int minL = *std::min_element(L.begin(), L.end()), maxL = *std::max_element(L.begin(), L.end());
            double spread = maxL > 0 ? 1 - double(minL) / maxL : 0;
            double factor = std::max(1.0, 1.7 - 0.4 * spread);
            int64_t before = 0, after = 0;
            for (int y = y0; y <= y1; ++y) {
              const uint32_t* srow = sc.row(y);
              const uint32_t* wrow = canvas.row(y);
              const uint32_t* prow = src.row(y);
              for (int x = x0; x <= x1; ++x) {
                uint32_t sp = srow[x];
                uint32_t a = sp >> 24;
                if (a == 0) continue;
                uint32_t W = wrow[x], Pp = prow[x];
                for (int sh = 0; sh < 24; sh += 8) {
                  int wc = int((W >> sh) & 255), pc = int((Pp >> sh) & 255);
                  int m = int((sp >> sh) & 255) + wc * int(255 - a) / 255;
                  before += std::abs(wc - pc);
                  after += std::abs(m - pc);
                }
              }
            }
            if (before > 0 && double(before) > double(after) * factor) {
              for (int y = y0; y <= y1; ++y) {
                const uint32_t* srow = sc.row(y);
                uint32_t* wrow = canvas.row(y);
                for (int x = x0; x <= x1; ++x) {
                  uint32_t sp = srow[x];
                  uint32_t a = sp >> 24;
                  if (a == 0) continue;
                  uint32_t W = wrow[x], out = 0;
                  for (int sh = 0; sh < 24; sh += 8) {
                    int m = int((sp >> sh) & 255) + int((W >> sh) & 255) * int(255 - a) / 255;
                    out |= uint32_t(std::clamp(m, 0, 255)) << sh;
                  }
                  int na = std::clamp(int(W >> 24) * int(255 - a) / 255 + int(a), 0, 255);
                  wrow[x] = out | (uint32_t(na) << 24);
                }
              }
            }
          }
        }
      }

      // Progress and work in progress.
      if (Preview) {
        if (i % std::max(1, SC / 20) == 0) SafeUpdatePreview(&Dest, int(Round(double(i) / SC * 75)));
      } else if (uint32_t(GetTickCount() - lastUpdate) > 200) {
        lastUpdate = GetTickCount();
        r.CurrentProgress = int(Round(double(i) / SC * 75));
        if (display.Ready()) {
          r.SnapImg = direct ? Dest.MakeImageSnapshot() : ImageOfBuffer(r.WorkBuf, w, h);
          display.Show(r.SnapImg, r.CurrentProgress);
        } else {
          UpdateProgressBar(r.CurrentProgress);
        }
        CheckCancellation();
      }
    }
  }

  // Finishing.
  CheckCancellation();
  if (!direct) {
    PixelView d = Dest.PeekPixels();
    for (int y = 0; y < h; ++y) std::memcpy(d.row(y), &r.WorkBuf[size_t(y) * w], size_t(w) * 4);
    std::vector<uint32_t>().swap(r.WorkBuf);
    scratch.reset();
  }
  CheckCancellation();
  SimilaritySmoothSurface_MT(Dest.PeekPixels(), Image(), 5, 30, 3, false, 1.2f, 5.0f, 0, [&](float f) {
    int v = 75 + int(Round(15 * double(f)));
    if (Preview)
      SafeUpdatePreview(&Dest, v);
    else
      UpdateProgressBar(v);
  });
  CheckCancellation();
  if (Preview) SafeUpdatePreview(&Dest, 92);
  VibrancePop(Dest.MakeImageSnapshot(), Dest, 8, 5, 2, 40, 70);
  CheckCancellation();
  if (Preview) SafeUpdatePreview(&Dest, 95);
  EdgeStrokeOverlay(Source, Dest, 5, 230, 10, 0, P5);
  CheckCancellation();
  if (Preview) SafeUpdatePreview(&Dest, 98);
  SharpenSurface(Image(), Dest, r.DoClear ? 40 : 10);
  if (Preview) {
    LastUIUpdateTick = 0;
    SafeUpdatePreview(&Dest, 101);
  } else {
    UpdateProgressBar(101);
  }
}

LQ_REGISTER_EFFECT(300, CentralSpokeEffect)

}  // namespace lq
