// Felt-tip pen: short, flat, semi-transparent marker strokes in the picture's
// own colours, multiplied onto paper (or onto the picture shown), one stroke
// candidate per grid cell, then thin grey contour strokes along strong edges.
// Uses the shared random generator without seeding it.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "effects/sketch/band_draw.h"
#include "engine/driver.h"
#include "engine/effect_registry.h"
#include "engine/gfx/surface.h"
#include "engine/parallel.h"
#include "engine/pixel.h"
#include "engine/random.h"

namespace lq {

namespace {

constexpr double kDegToRad = 0.017453292519943295;

inline int Lum(uint32_t c) { return LuminanceI100(int(GetR(c)), int(GetG(c)), int(GetB(c))); }

// Pushes the dominant channel(s) up and the weakest down when a colour is
// already clearly coloured; greys stay as they are.
void SaturationBoost(int& r, int& g, int& b) {
  int mx = std::max(r, std::max(g, b));
  int mn = std::min(r, std::min(g, b));
  if (mx - mn <= 34) return;
  int f = 2 * mx - 2 * mn > 110 ? 40 : (mx - mn - 35) * 2;
  const int r0 = r, g0 = g, b0 = b;
  if (r0 == mx) r = std::min(r + f, 255);
  if (g0 == mx) g = std::min(g + f, 255);
  if (b0 == mx) b = std::min(b + f, 255);
  f /= 2;
  if (r0 == mn) r = std::max(r - f, 0);
  if (g0 == mn) g = std::max(g - f, 0);
  if (b0 == mn) b = std::max(b - f, 0);
}

struct FeltTipRun {
  Surface* dest = nullptr;
  bool preview = false;
  bool doClear = false;
  int W = 0, H = 0;
  // Internal values of the sliders.
  int s = 1;            // grid spacing
  int strokeAlpha = 0;  // 0..255
  double Lb = 2;        // base length
  double Wb = 1;        // base width
  int E = 0, Es = 5, Ec = 1;
  // Working data.
  std::shared_ptr<PixelStore> src;  // the source in straight colour
  ConstPixelView px;
  std::vector<int32_t> mag;
  std::vector<float> ang;
  int units = 1, counter = 0;

  uint32_t P(int x, int y) const { return px.at(x, y); }
  int Mag(int x, int y) const { return mag[size_t(y) * size_t(W) + size_t(x)]; }
  float Ang(int x, int y) const { return ang[size_t(y) * size_t(W) + size_t(x)]; }

  void ReportUnit() {
    ++counter;
    int a = int(std::min<int64_t>(100, Round(double(counter) / units * 100.0)));
    if (preview)
      SafeUpdatePreview(dest, a);
    else
      SafeUpdateProgress(a);
  }
};

// Sobel of the luminance, in blocks of ten rows between progress reports,
// each block split across cores.
void ComputeGradient(FeltTipRun& r) {
  const int W = r.W, H = r.H;
  if (H < 3 || W < 3) return;
  std::vector<uint8_t> lum(size_t(W) * size_t(H));
  ParallelFor(0, H, 16, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < W; ++x) lum[size_t(y) * size_t(W) + size_t(x)] = uint8_t(Lum(r.P(x, y)));
  });
  auto rows = [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      const uint8_t* l0 = &lum[size_t(y - 1) * size_t(W)];
      const uint8_t* l1 = l0 + W;
      const uint8_t* l2 = l1 + W;
      int32_t* m = &r.mag[size_t(y) * size_t(W)];
      float* a = &r.ang[size_t(y) * size_t(W)];
      for (int x = 1; x <= W - 2; ++x) {
        int gx = l0[x - 1] + 2 * l1[x - 1] + l2[x - 1] - l0[x + 1] - 2 * l1[x + 1] - l2[x + 1];
        int gy = l0[x - 1] + 2 * l0[x] + l0[x + 1] - l2[x - 1] - 2 * l2[x] - l2[x + 1];
        m[x] = std::abs(gx) + std::abs(gy);
        a[x] = (gx != 0 || gy != 0) ? float(std::atan2(double(gy), double(gx)) + 1.5707) : 0.0f;
      }
    }
  };
  for (int y = 1; y <= H - 2 && !IsEffectCancelled();) {
    if (y % 10 == 0) r.ReportUnit();
    const int next = std::min(H - 1, (y / 10 + 1) * 10);
    ParallelFor(y, next, 2, rows);
    y = next;
  }
}

// The start canvas of a full run, decided on the UI thread from the window's
// state: white paper (transparent when the source has transparency) with
// "Erase background", otherwise the picture currently shown.
void PrepareStart(FeltTipRun& r) {
  RunOnUi([&r] {
    EffectDriver& d = Driver();
    r.doClear = d.FEraseBdChecked.load();
    Canvas* c = r.dest->GetCanvas();
    if (r.doClear) {
      bool translucent = false;
      if (d.VIrSourceImage) {
        ConstPixelView v = d.VIrSourceImage.PeekPixels();
        translucent = v ? HasAnyTranslucentPixel(v) : false;
      }
      c->Clear(translucent ? 0x00000000u : 0xFFFFFFFFu);
    } else if (d.VIrImage) {
      c->Clear(0x00000000u);
      c->DrawImage(d.StartImage(), 0, 0, SamplingOptions::Low());
    }
  });
}

// Strokes are collected in scan order (that fixes the random sequence) and
// drawn in batches across cores; a batch is drawn before the next one starts.
constexpr size_t kBatchItems = 131072;
constexpr int kBatchRows = 512;

struct MarkerStroke {
  sketch::BandExtent extent;
  double cx, cy, theta;
  float A, B, F;
  uint32_t color;  // straight ARGB
};

struct ContourStroke {
  sketch::BandExtent extent;
  double x0, y0, mx, my, x1, y1;
  float width;
  uint32_t color;  // straight ARGB
};

void DrawMarkers(Surface& dest, const std::vector<MarkerStroke>& strokes) {
  sketch::DrawInBands(dest, strokes, [](Canvas& c, const MarkerStroke& k) {
    Paint paint(k.color);
    paint.antiAlias = true;
    paint.style = PaintStyle::Fill;
    paint.blendMode = BlendMode::Multiply;
    c.Save();
    c.Translate(k.cx, k.cy);
    c.RotateRadians(k.theta);
    c.DrawRect(RectF{-double(k.B), -double(k.F) / 2, double(k.A), double(k.F) / 2}, paint);
    c.Restore();
  });
}

void DrawContours(Surface& dest, const std::vector<ContourStroke>& strokes) {
  sketch::DrawInBands(dest, strokes, [](Canvas& c, const ContourStroke& k) {
    Paint paint(k.color);
    paint.antiAlias = true;
    paint.style = PaintStyle::Stroke;
    paint.cap = StrokeCap::Round;
    paint.blendMode = BlendMode::Multiply;
    paint.strokeWidth = k.width;
    Path path;
    path.MoveTo(k.x0, k.y0).QuadTo(k.mx, k.my, k.x1, k.y1);
    c.DrawPath(path, paint);
  });
}

void MarkerPass(FeltTipRun& r) {
  const int W = r.W, H = r.H, s = r.s;
  const int edgeStop = std::max(r.Es, 50);
  std::vector<MarkerStroke> batch;
  batch.reserve(std::min(kBatchItems, size_t(W / s + 1) * size_t(kBatchRows / s + 1)));
  int batchTop = 0;

  for (int y = 0; y < H && !IsEffectCancelled(); y += s) {
    r.ReportUnit();
    for (int x = 0; x < W; x += s) {
      uint32_t p = r.P(x, y);
      int lum = Lum(p);
      if (lum > 250 || !(Random() <= 1.0 - lum / 400.0)) continue;

      int cr = int(GetR(p)), cg = int(GetG(p)), cb = int(GetB(p));
      SaturationBoost(cr, cg, cb);
      cr = std::min(cr + 20, 255);
      cg = std::min(cg + 20, 255);
      cb = std::min(cb + 20, 255);

      double theta;
      bool edgeLimited;
      if (r.Mag(x, y) < 41) {
        theta = ((Random() - 0.5) * 40.0 - 45.0) * kDegToRad;
        edgeLimited = true;
      } else {
        theta = r.Ang(x, y);
        edgeLimited = false;
      }
      double v = std::max(4.0, r.Lb * (Random() * 1.2 + 0.8));

      const double ct = std::cos(theta), st = std::sin(theta);
      const int64_t reach = Round(v * 0.5);
      // Steps the stroke may take in one direction before it leaves the
      // picture, meets an edge (random-direction strokes only) or, past its
      // first fifth, runs into a clearly different colour.
      auto steps = [&](int dir) {
        int n = 0;
        for (int64_t k = 1; k <= reach; ++k) {
          int64_t qx = x + dir * Round(double(k) * ct), qy = y + dir * Round(double(k) * st);
          if (qx < 0 || qy < 0 || qx >= W || qy >= H) break;
          if (edgeLimited && r.Mag(int(qx), int(qy)) > edgeStop) break;
          if (double(k) > v * 0.2) {
            uint32_t q = r.P(int(qx), int(qy));
            if (std::abs(int(GetR(q)) - cr) + std::abs(int(GetG(q)) - cg) + std::abs(int(GetB(q)) - cb) > 90) break;
          }
          ++n;
        }
        return n;
      };
      int A = steps(1), B = steps(-1);
      if (A + B <= 1) A = B = 2;

      double F = std::max(1.5, r.Wb * (Random() * 0.4 + 0.8));
      double jx = (Random() - 0.5) * s * 0.5;
      double jy = (Random() - 0.5) * s * 0.5;

      MarkerStroke k;
      k.cx = x + jx;
      k.cy = y + jy;
      k.theta = theta;
      k.A = float(A);
      k.B = float(B);
      k.F = float(F);
      k.color = MakeColor(uint32_t(r.strokeAlpha), uint32_t(cr), uint32_t(cg), uint32_t(cb));
      double reachY = std::max(A, B) * std::fabs(st) + F / 2 * std::fabs(ct) + 2;
      k.extent = {float(k.cy - reachY), float(k.cy + reachY)};
      // At opacity 0 a stroke changes nothing; its numbers are drawn all the same.
      if (r.strokeAlpha > 0) batch.push_back(k);
    }
    if (batch.size() >= kBatchItems || y + s - batchTop >= kBatchRows) {
      DrawMarkers(*r.dest, batch);
      batch.clear();
      batchTop = y + s;
    }
  }
  if (IsEffectCancelled()) return;
  DrawMarkers(*r.dest, batch);
  if (r.preview) {
    LastUIUpdateTick = 0;
    SafeUpdatePreview(r.dest, 101);
  }
}

void ContourPass(FeltTipRun& r) {
  const int W = r.W, H = r.H;
  std::vector<ContourStroke> batch;
  int batchTop = 2;

  for (int y = 2; y <= H - 3 && !IsEffectCancelled(); y += 2) {
    if (y % 20 == 0) r.ReportUnit();
    for (int x = 2; x <= W - 3; x += 2) {
      int m = r.Mag(x, y);
      if (m <= r.Es) continue;
      int h = Random(40);
      double b = std::min(double(m - r.Es) / 250.0, 1.0);
      int o = int(Round(Lum(r.P(x, y)) * 0.4)) + h - 20;
      o = std::clamp(o, 10, 110);
      int64_t u = Round(b * 8) + Round(r.E * 0.45);
      int alpha = u < 1 ? 3 : int(std::min<int64_t>(u + 2, 100));
      const uint32_t color = MakeColor(uint32_t(alpha), uint32_t(o), uint32_t(o), uint32_t(o));
      const float width = float(b * 0.5 + 0.5);

      double theta = r.Ang(x, y);
      double G = std::max(3.0, (b * 0.7 + 0.3) * 15.0);
      int64_t n = Round(r.Ec * b);

      // Only where the edge runs on in the same direction half a stroke away.
      int64_t qx = x + Round(std::cos(theta) * G * 0.5), qy = y + Round(std::sin(theta) * G * 0.5);
      if (qx < 2 || qx > W - 3 || qy < 2 || qy > H - 3) continue;
      double diff = std::fabs(theta - double(r.Ang(int(qx), int(qy))));
      if (diff > M_PI) diff = 2 * M_PI - diff;
      if (diff > 0.8) continue;

      for (int64_t i = 0; i <= n; ++i) {
        double jx = (Random() - 0.5) * 1.5;
        double jy = (Random() - 0.5) * 1.5;
        double len = G * (Random() * 0.3 + 0.7);
        double t = (Random() - 0.5) * 0.2;
        double hx = std::cos(theta + t) * len * 0.5, hy = std::sin(theta + t) * len * 0.5;
        ContourStroke k;
        k.x0 = x - hx + jx;
        k.y0 = y - hy + jy;
        k.x1 = x + hx + jx;
        k.y1 = y + hy + jy;
        // A gentle bend: the control point leaves the chord sideways.
        double c = (Random() - 0.5) * 3.0;
        k.mx = (k.x0 + k.x1) / 2 - c * (k.y1 - k.y0) * 0.1;
        k.my = (k.y0 + k.y1) / 2 + c * (k.x1 - k.x0) * 0.1;
        k.width = width;
        k.color = color;
        double pad = width / 2 + 2;
        k.extent = {float(std::min({k.y0, k.y1, k.my}) - pad), float(std::max({k.y0, k.y1, k.my}) + pad)};
        batch.push_back(k);
      }
    }
    if (batch.size() >= kBatchItems || y + 2 - batchTop >= kBatchRows) {
      DrawContours(*r.dest, batch);
      batch.clear();
      batchTop = y + 2;
    }
  }
  if (IsEffectCancelled()) return;
  DrawContours(*r.dest, batch);
  if (r.preview) {
    LastUIUpdateTick = 0;
    SafeUpdatePreview(r.dest, 101);
  }
}

}  // namespace

void MarkerRenderingEffect(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                           bool Preview) {
  if (!Source) return;
  FeltTipRun r;
  r.dest = &Dest;
  r.preview = Preview;
  RunOnUi([&r] { r.doClear = Driver().FEraseBdChecked.load(); });

  P1 = std::clamp(P1, 0, 100);
  P2 = std::clamp(P2, 0, 100);
  P3 = std::clamp(P3, 0, 100);
  P4 = std::clamp(P4, 0, 100);
  P5 = std::clamp(P5, 0, 100);
  r.s = int(std::max<int64_t>(Round((20 - P1 * 0.19) / 1.5), 1));
  r.strokeAlpha = int(Round(P2 / 100.0 * 255));
  r.Lb = std::max(P3, 2);
  r.Wb = std::clamp(P4 / 4.0, 1.0, 25.0);
  r.E = P5;
  r.Es = std::max(100 - P5, 5);
  r.Ec = int(std::max<int64_t>(Round(P5 / 20.0), 1));

  r.W = Source.width();
  r.H = Source.height();
  const int W = r.W, H = r.H;
  // Stroke colours, luminance and the colour test of the reach come from
  // straight colour: premultiplied bytes would paint translucent areas with
  // strokes darker than the picture. (Photographs are opaque: there both
  // readings are the same.)
  r.src = AllocPixels(W, H, false);
  if (!r.src) return;
  PixelView sv = r.src->view();
  if (!Source.ReadPixels(ImageInfo::Make(W, H, AlphaType::Unpremul), sv.base, sv.rowBytes, 0, 0)) return;
  r.px = sv;
  r.mag.assign(size_t(W) * size_t(H), 0);
  r.ang.assign(size_t(W) * size_t(H), 0.0f);

  r.units = std::max(1, (H - 2) / 10 + ((H - 1) / r.s + 1) + (r.E > 2 ? (H - 3) / 20 : 0));

  ComputeGradient(r);
  if (!IsEffectCancelled()) {
    if (Preview) {
      Dest.GetCanvas()->Clear(0xFFFFFFFFu);
      r.doClear = true;
    } else {
      PrepareStart(r);
    }
    MarkerPass(r);
    if (!IsEffectCancelled() && r.E > 2) ContourPass(r);
    if (!IsEffectCancelled()) {
      // Strokes keep only where the source is opaque.
      Paint in;
      in.blendMode = BlendMode::DstIn;
      Dest.GetCanvas()->DrawImage(Source, 0, 0, SamplingOptions::Low(), &in);
    }
  }

  // A preview has its own percent label; only a full run owns the progress bar.
  RunOnUi([Preview] {
    if (!Preview) UpdateProgressBar(101);
  });
}

LQ_REGISTER_EFFECT(202, MarkerRenderingEffect)

}  // namespace lq
