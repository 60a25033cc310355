// Finishing steps shared by the painting effects.
#include "effects/painting/brushes/finishing.h"

#include <tbb/task_arena.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "effects/painting/brushes/brushes.h"
#include "engine/driver.h"
#include "engine/gfx/filters.h"
#include "engine/parallel.h"
#include "engine/random.h"

namespace lq {

std::atomic<bool> g_finishingAvx2Disabled{false};

namespace {

inline int RoundInt(double v) { return int(std::nearbyint(v)); }

// These steps also serve tools that run outside any effect run.
bool Cancelled() { return DriverIfAny() && IsEffectCancelled(); }

// Row bands of [0, h) across cores; stops between bands once the run is cancelled.
template <typename F>
void ForRows(int h, int grain, F&& body) {
  ParallelFor(0, h, grain, [&](int lo, int hi) {
    if (Cancelled()) throw EAbort();
    body(lo, hi);
  });
}

}  // namespace

// ---------------------------------------------------------------------------
// Similarity smoothing

namespace {

// Pixels of the pass' input and of the guide (the input itself without one).
struct SmoothPlanes {
  const uint32_t* in = nullptr;
  size_t inStride = 0;  // in pixels
  const uint32_t* guide = nullptr;
  size_t guideStride = 0;
  int w = 0, h = 0, R = 0, thr2 = 0;
  const uint32_t* at(int x, int y) const { return in + size_t(y) * inStride + size_t(x); }
  const uint32_t* gat(int x, int y) const { return guide + size_t(y) * guideStride + size_t(x); }
};

// Mean of the visible 3 x 3 neighbours, or the pixel itself when none is:
// what a pixel becomes when no neighbour qualifies.
uint32_t NeighbourMean(const SmoothPlanes& P, int x, int y) {
  int n = 0, ar = 0, ag = 0, ab = 0;
  for (int dy = std::max(-1, -y); dy <= std::min(1, P.h - 1 - y); ++dy)
    for (int dx = std::max(-1, -x); dx <= std::min(1, P.w - 1 - x); ++dx) {
      uint32_t p = *P.at(x + dx, y + dy);
      if ((p >> 24) == 0) continue;
      ++n;
      ar += int(GetR(p));
      ag += int(GetG(p));
      ab += int(GetB(p));
    }
  uint32_t c = *P.at(x, y);
  if (n == 0) return c;
  return MakeColor(GetA(c), uint32_t(ar / n), uint32_t(ag / n), uint32_t(ab / n));
}

// Colour from more opaque neighbours must not exceed the pixel's own alpha.
inline uint32_t KeepPremul(uint32_t a, int r, int g, int b) {
  int ai = int(a);
  return MakeColor(a, uint32_t(std::clamp(r, 0, ai)), uint32_t(std::clamp(g, 0, ai)), uint32_t(std::clamp(b, 0, ai)));
}

inline int RoundedDiv(int64_t num, int64_t den) { return int((num + den / 2) / den); }

// Integer weights (the spatial Gaussian in 1/4096): one pixel, any position.
uint32_t SmoothPixelInt(const SmoothPlanes& P, const int32_t* spatial, int x, int y) {
  const uint32_t c = *P.at(x, y);
  if ((c >> 24) == 0) return c;
  const int R = P.R, side = 2 * R + 1;
  const uint32_t g = *P.gat(x, y);
  const int gr = int(GetR(g)), gg = int(GetG(g)), gb = int(GetB(g));
  int64_t sw = 0, sr = 0, sg = 0, sb = 0;
  for (int dy = std::max(-R, -y); dy <= std::min(R, P.h - 1 - y); ++dy) {
    const uint32_t* q = P.at(x, y + dy);
    const uint32_t* gq = P.gat(x, y + dy);
    const int32_t* sp = spatial + (dy + R) * side + R;
    for (int dx = std::max(-R, -x); dx <= std::min(R, P.w - 1 - x); ++dx) {
      const uint32_t p = q[dx], gp = gq[dx];
      const int dr = gr - int(GetR(gp)), dg = gg - int(GetG(gp)), db = gb - int(GetB(gp));
      if (dr * dr + dg * dg + db * db > P.thr2 || (p >> 24) == 0) continue;
      sw += sp[dx];
      sr += sp[dx] * int(GetR(p));
      sg += sp[dx] * int(GetG(p));
      sb += sp[dx] * int(GetB(p));
    }
  }
  if (sw == 0) return NeighbourMean(P, x, y);
  return KeepPremul(c >> 24, RoundedDiv(sr, sw), RoundedDiv(sg, sw), RoundedDiv(sb, sw));
}

typedef int32_t V8 __attribute__((vector_size(32)));
typedef uint32_t U8 __attribute__((vector_size(32)));

// Eight neighbouring output pixels at once (x .. x + 7, all taps inside the
// picture): every lane sees the same spatial weight at each tap, so the work
// is the same arithmetic as SmoothPixelInt, eight lanes wide.
__attribute__((always_inline)) inline void SmoothBlock8Body(const SmoothPlanes& P, const int32_t* spatial, int x, int y,
                                                            uint32_t* out) {
  const int R = P.R, side = 2 * R + 1;
  U8 g;
  std::memcpy(&g, P.gat(x, y), sizeof g);
  const V8 gr = V8((g >> 16) & 255u), gg = V8((g >> 8) & 255u), gb = V8(g & 255u);
  V8 sw = {}, sr = {}, sg = {}, sb = {};
  const V8 thr = V8{} + P.thr2;
  for (int dy = std::max(-R, -y); dy <= std::min(R, P.h - 1 - y); ++dy) {
    const uint32_t* q = P.at(x, y + dy);
    const uint32_t* gq = P.gat(x, y + dy);
    const int32_t* sp = spatial + (dy + R) * side + R;
    for (int dx = -R; dx <= R; ++dx) {
      U8 p, gp;
      std::memcpy(&p, q + dx, sizeof p);
      std::memcpy(&gp, gq + dx, sizeof gp);
      const V8 dr = gr - V8((gp >> 16) & 255u), dg = gg - V8((gp >> 8) & 255u), db = gb - V8(gp & 255u);
      const V8 d2 = dr * dr + dg * dg + db * db;
      const V8 m = (d2 <= thr) & ((p >> 24) != 0u);
      const V8 wv = m & sp[dx];
      sw += wv;
      sr += wv * V8((p >> 16) & 255u);
      sg += wv * V8((p >> 8) & 255u);
      sb += wv * V8(p & 255u);
    }
  }
  for (int i = 0; i < 8; ++i) {
    const uint32_t c = *P.at(x + i, y);
    if ((c >> 24) == 0)
      out[i] = c;
    else if (sw[i] == 0)
      out[i] = NeighbourMean(P, x + i, y);
    else
      out[i] = KeepPremul(c >> 24, RoundedDiv(sr[i], sw[i]), RoundedDiv(sg[i], sw[i]), RoundedDiv(sb[i], sw[i]));
  }
}

// The same block compiled for the baseline and for AVX2, chosen once by a
// run-time CPU check (an explicit pointer rather than an ifunc, which would be
// resolved before sanitizer runtimes start).
using SmoothBlockFn = void (*)(const SmoothPlanes&, const int32_t*, int, int, uint32_t*);
void SmoothBlock8Base(const SmoothPlanes& P, const int32_t* spatial, int x, int y, uint32_t* out) {
  SmoothBlock8Body(P, spatial, x, y, out);
}
#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"))) void SmoothBlock8Avx2(const SmoothPlanes& P, const int32_t* spatial, int x, int y,
                                                      uint32_t* out) {
  SmoothBlock8Body(P, spatial, x, y, out);
}
#endif
SmoothBlockFn SmoothBlock8() {
#if defined(__x86_64__) || defined(__i386__)
  static const bool avx2 = [] {
    __builtin_cpu_init();
    return bool(__builtin_cpu_supports("avx2"));
  }();
  if (avx2 && !g_finishingAvx2Disabled.load(std::memory_order_relaxed)) return &SmoothBlock8Avx2;
#endif
  return &SmoothBlock8Base;
}

void SmoothRowsInt(const SmoothPlanes& P, const int32_t* spatial, int y0, int y1, uint32_t* out, size_t outStride) {
  const SmoothBlockFn block = SmoothBlock8();
  const int R = P.R;
  for (int y = y0; y < y1; ++y) {
    uint32_t* o = out + size_t(y) * outStride;
    int x = 0;
    for (; x < std::min(R, P.w); ++x) o[x] = SmoothPixelInt(P, spatial, x, y);
    // 32-bit lane sums hold up to radius 20.
    if (R <= 20)
      for (; x + 8 <= P.w - R; x += 8) block(P, spatial, x, y, o + x);
    for (; x < P.w; ++x) o[x] = SmoothPixelInt(P, spatial, x, y);
  }
}

// With range weights: floating point, one pixel at a time.
void SmoothRowsRange(const SmoothPlanes& P, const float* spatial, const float* range, int y0, int y1, uint32_t* out,
                     size_t outStride) {
  const int R = P.R, side = 2 * R + 1;
  for (int y = y0; y < y1; ++y) {
    uint32_t* o = out + size_t(y) * outStride;
    for (int x = 0; x < P.w; ++x) {
      const uint32_t c = *P.at(x, y);
      if ((c >> 24) == 0) {
        o[x] = c;
        continue;
      }
      const uint32_t g = *P.gat(x, y);
      const int gr = int(GetR(g)), gg = int(GetG(g)), gb = int(GetB(g));
      float sw = 0, sr = 0, sg = 0, sb = 0;
      for (int dy = std::max(-R, -y); dy <= std::min(R, P.h - 1 - y); ++dy) {
        const uint32_t* q = P.at(x, y + dy);
        const uint32_t* gq = P.gat(x, y + dy);
        const float* sp = spatial + (dy + R) * side + R;
        for (int dx = std::max(-R, -x); dx <= std::min(R, P.w - 1 - x); ++dx) {
          const uint32_t p = q[dx], gp = gq[dx];
          const int dr = gr - int(GetR(gp)), dg = gg - int(GetG(gp)), db = gb - int(GetB(gp));
          if (dr * dr + dg * dg + db * db > P.thr2 || (p >> 24) == 0) continue;
          const float wgt = sp[dx] * range[std::max({std::abs(dr), std::abs(dg), std::abs(db)})];
          sw += wgt;
          sr += wgt * float(GetR(p));
          sg += wgt * float(GetG(p));
          sb += wgt * float(GetB(p));
        }
      }
      if (sw > 0.001f)
        o[x] = KeepPremul(c >> 24, RoundInt(sr / sw), RoundInt(sg / sw), RoundInt(sb / sw));
      else
        o[x] = NeighbourMean(P, x, y);
    }
  }
}

}  // namespace

void SimilaritySmoothSurface_MT(const PixelView& surface, const Image& guide, int Radius, int ColourThreshold,
                                int Iterations, bool UseRange, float SigmaS, float SigmaR, int Threads,
                                const std::function<void(float)>& progress) {
  if (!surface || Iterations <= 0) return;
  const int w = surface.width, h = surface.height;
  const int R = std::clamp(Radius, 0, 64);
  std::vector<uint32_t> A(size_t(w) * size_t(h)), B(A.size());
  for (int y = 0; y < h; ++y) std::memcpy(&A[size_t(y) * w], surface.row(y), size_t(w) * 4);
  ConstPixelView gv;
  if (guide && guide.width() == w && guide.height() == h && guide.PeekPixels().rowBytes % 4 == 0)
    gv = guide.PeekPixels();

  float sigmaS = SigmaS;
  if (sigmaS < R / 2.5f) sigmaS = std::max(0.5f, R / 2.5f);
  const int side = 2 * R + 1;
  std::vector<float> spatial(size_t(side) * side);
  std::vector<int32_t> spatialInt(spatial.size());
  for (int dy = -R; dy <= R; ++dy)
    for (int dx = -R; dx <= R; ++dx) {
      size_t i = size_t((dy + R) * side + dx + R);
      spatial[i] = float(std::exp(-0.5 * (dx * dx + dy * dy) / (double(sigmaS) * sigmaS)));
      spatialInt[i] = int32_t(std::lround(double(spatial[i]) * 4096));
    }
  const int thr2 = std::min(ColourThreshold, 1000) * std::min(ColourThreshold, 1000);
  std::vector<float> range(256, 1.0f);

  auto run = [&] {
    for (int n = 1; n <= Iterations; ++n) {
      if (progress) progress(float(n) / float(Iterations));
      if (UseRange) {
        double sr = double(SigmaR) * ((n - 1) * 0.2 + 1);
        for (int k = 0; k < 256; ++k) range[size_t(k)] = float(std::exp(-double(k) * k / (2 * sr * sr)));
      }
      SmoothPlanes P;
      P.in = (n % 2 == 1) ? A.data() : B.data();
      P.inStride = size_t(w);
      P.guide = gv ? gv.base : P.in;
      P.guideStride = gv ? gv.rowBytes / 4 : P.inStride;
      P.w = w;
      P.h = h;
      P.R = R;
      P.thr2 = thr2;
      uint32_t* out = (n % 2 == 1) ? B.data() : A.data();
      ForRows(h, 8, [&](int y0, int y1) {
        if (UseRange)
          SmoothRowsRange(P, spatial.data(), range.data(), y0, y1, out, size_t(w));
        else
          SmoothRowsInt(P, spatialInt.data(), y0, y1, out, size_t(w));
      });
    }
  };
  if (Threads > 0) {
    tbb::task_arena arena(Threads);
    arena.execute(run);
  } else {
    run();
  }
  const std::vector<uint32_t>& last = (Iterations % 2 == 1) ? B : A;
  for (int y = 0; y < h; ++y) std::memcpy(surface.row(y), &last[size_t(y) * w], size_t(w) * 4);
}

// ---------------------------------------------------------------------------
// Vibrance, sharpening, edge strokes

void VibrancePop(const Image& image, Surface& target, int Vibrance, int Saturation, int Contrast, int SkinProtect,
                 int Mix) {
  if (!image) return;
  const double v = std::clamp(Vibrance, -100, 100) / 100.0, s = std::clamp(Saturation, -100, 100) / 100.0;
  const double c = std::clamp(Contrast, -100, 100) / 100.0;
  const double skin = std::clamp(SkinProtect, 0, 100) / 100.0, mix = std::clamp(Mix, 0, 100) / 100.0;
  ConstPixelView src = image.PeekPixels();
  // The image may be a snapshot of the target: compute into a buffer first.
  const int w = src.width, h = src.height;
  std::vector<uint32_t> out(size_t(w) * size_t(h));
  ForRows(h, 16, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      const uint32_t* row = src.row(y);
      uint32_t* o = &out[size_t(y) * w];
      for (int x = 0; x < w; ++x) {
        const uint32_t px = row[x];
        const uint32_t A = px >> 24;
        double ch[3] = {double(GetR(px)), double(GetG(px)), double(GetB(px))};
        for (double& q : ch) q = (A > 0 && A < 255) ? q / A : q / 255.0;
        const double r = ch[0], g = ch[1], b = ch[2];
        const double L = 0.299 * r + 0.587 * g + 0.114 * b;
        const double mx = std::max({r, g, b}), mn = std::min({r, g, b}), sat = mx - mn;
        const double k0 = std::max(0.0, 1 - sat), k = k0 * std::sqrt(k0);
        double f = (2 * v * k + 1) * std::max(0.0, s + 1);
        const double Lc = c != 0 ? (L - 0.5) * (0.8 * c + 1) + 0.5 : L;
        if (skin > 0) {
          double H = 0;
          if (sat > 0) {
            if (mx == r)
              H = 60 * (g - b) / sat;
            else if (mx == g)
              H = 60 * ((b - r) / sat + 2);
            else
              H = 60 * ((r - g) / sat + 4);
            if (H < 0) H += 360;
          }
          double dh = std::fabs(H - 35);
          if (dh > 180) dh = 360 - dh;
          double wt = std::max(0.0, 1 - dh / 30);
          wt *= wt;
          f = (f - 1) * (1 - 0.7 * skin * wt) + 1;
        }
        uint32_t bytes[3];
        for (int i = 0; i < 3; ++i) {
          double n = std::clamp(Lc + f * (ch[i] - L), 0.0, 1.0);
          double oc = std::clamp((1 - mix) * ch[i] + mix * n, 0.0, 1.0);
          uint32_t byte = uint32_t(RoundInt(255 * oc));
          if (A < 255) byte = byte * A / 255;
          bytes[i] = byte;
        }
        o[x] = MakeColor(A, bytes[0], bytes[1], bytes[2]);
      }
    }
  });
  CopySourceToDest(Image::MakeFromPixels(w, h, std::move(out)), target);
}

void SharpenSurface(const Image& source, Surface& target, int Amount) {
  const float k = float(std::clamp(Amount, 0, 100)) / 100.0f;
  const std::array<float, 9> kernel = {0, -k, 0, -k, 4 * k + 1, -k, 0, -k, 0};
  PixelView t = target.PeekPixels();
  if (!source) {
    if (k > 0) Convolve3x3(t, t, kernel, 1, 0, {1, 1}, TileMode::Clamp, false);
    return;
  }
  if (source.width() == t.width && source.height() == t.height) {
    Convolve3x3(source.PeekPixels(), t, kernel, 1, 0, {1, 1}, TileMode::Clamp, false);
    return;
  }
  auto tmp = MakeWorkSurface(source.width(), source.height());
  Convolve3x3(source.PeekPixels(), tmp->PeekPixels(), kernel, 1, 0, {1, 1}, TileMode::Clamp, false);
  CopySourceToDest(tmp->MakeImageSnapshot(), target);
}

void DrawEdgeStrokes(const Image& source, Surface& out, int Threshold, int Strength, int LengthFactor) {
  if (Threshold < 1) Threshold = 24;
  Strength = std::clamp(Strength, 0, 255);
  if (LengthFactor < 1) LengthFactor = 60;
  out.GetCanvas()->Clear(0);
  if (!source) return;
  const int w = source.width(), h = source.height();
  if (w <= 2 || h <= 2) return;
  ConstPixelView src = source.PeekPixels();
  const bool hasT = HasAnyTranslucentPixel(src);

  std::vector<uint32_t> buf(size_t(w) * size_t(h), hasT ? 0u : 0xFFFFFFFFu);
  std::vector<uint8_t> lum(size_t(w) * size_t(h));
  ForRows(h, 32, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      const uint32_t* row = src.row(y);
      for (int x = 0; x < w; ++x) {
        uint32_t p = row[x];
        lum[size_t(y) * w + x] = uint8_t((59 * GetG(p) + 30 * GetR(p) + 11 * GetB(p)) / 100);
      }
    }
  });
  auto Y = [&](int x, int y) { return int(lum[size_t(y) * w + x]); };
  const int reach = (150 - Strength) / 4;
  auto mark = [&](int px, int py, int amount) {
    if (px < 0 || px >= w || py < 0 || py >= h) return;
    uint32_t& p = buf[size_t(py) * w + px];
    if (hasT && (p >> 24) == 0) p = 0xFFFFFFFFu;
    uint32_t r = uint32_t(std::max(0, int(GetR(p)) - amount));
    uint32_t g = uint32_t(std::max(0, int(GetG(p)) - amount));
    uint32_t b = uint32_t(std::max(0, int(GetB(p)) - amount));
    p = MakeColor(hasT ? 255u : GetA(p), r, g, b);
  };
  // Strokes reach neighbouring rows, so they are drawn in order on one thread.
  for (int y = 1; y <= h - 2; ++y) {
    if ((y & 63) == 0 && Cancelled()) throw EAbort();
    for (int x = 1; x <= w - 2; ++x) {
      int TL = Y(x - 1, y - 1), T = Y(x, y - 1), TR = Y(x + 1, y - 1);
      int L = Y(x - 1, y), Rr = Y(x + 1, y);
      int BL = Y(x - 1, y + 1), B = Y(x, y + 1), BR = Y(x + 1, y + 1);
      int gx = std::clamp((TL + 2 * L + BL - TR - 2 * Rr - BR) / 4, -255, 255);
      int gy = std::clamp((TL + 2 * T + TR - BL - 2 * B - BR) / 4, -255, 255);
      int mag = (std::abs(gx) + std::abs(gy)) >> 1;
      if (mag < Threshold || std::abs(std::abs(gx) - std::abs(gy)) <= 1) continue;
      double theta = gx != 0 ? std::atan(double(gy) / gx) + 1.5707 : 3.14159;
      double ct = std::cos(theta), st = std::sin(theta);
      int steps = LengthFactor * (mag >> 2) / 50;
      for (int j = 0; j <= steps; ++j) {
        int amount = LengthFactor * (mag >> 1) / 50 - j - reach;
        if (amount < 1) break;
        int dx = int(std::floor(j * ct)), dy = int(std::floor(j * st));
        mark(x - dx, y - dy, amount);
        mark(x + dx, y + dy, amount);
      }
    }
  }
  CopySourceToDest(Image::MakeFromPixels(w, h, std::move(buf)), out);
}

void EdgeStrokeOverlay(const Image& source, Surface& target, int Threshold, int Strength, int LengthFactor, int Mode,
                       int Opacity) {
  if (!source) return;
  float alpha = float(std::clamp(Opacity, 0, 100)) / 100.0f;
  if (alpha <= 0) return;  // nothing would show
  auto layer = MakeWorkSurface(source.width(), source.height());
  DrawEdgeStrokes(source, *layer, Threshold, Strength, LengthFactor);
  Paint p;
  p.blendMode = Mode == 1 ? BlendMode::Darken : (Mode == 2 ? BlendMode::Overlay : BlendMode::Multiply);
  p.setAlphaf(alpha);
  target.GetCanvas()->DrawImage(layer->MakeImageSnapshot(), 0, 0, SamplingOptions::Low(), &p);
}

}  // namespace lq
