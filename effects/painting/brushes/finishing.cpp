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

namespace {

inline int RoundInt(double v) { return int(std::nearbyint(v)); }

// Row bands of [0, h) across cores; stops between bands once the run is cancelled.
template <typename F>
void ForRows(int h, int grain, F&& body) {
  ParallelFor(0, h, grain, [&](int lo, int hi) {
    if (IsEffectCancelled()) throw EAbort();
    body(lo, hi);
  });
}

}  // namespace

int RedmeanDistance(TAlphaColor a, TAlphaColor b) {
  int aA = int(GetA(a)), bA = int(GetA(b));
  if (aA < 10 || bA < 10) return (aA < 10 && bA < 10) ? 0 : 255;
  int aR = int(GetR(a)), bR = int(GetR(b));
  int rm = (aR + bR) >> 1;
  int dR = aR - bR, dG = int(GetG(a)) - int(GetG(b)), dB = int(GetB(a)) - int(GetB(b));
  int e = (((512 + rm) * dR * dR) >> 8) + 4 * dG * dG + (((767 - rm) * dB * dB) >> 8);
  int d = RoundInt(std::sqrt(double(e)));
  if (aA == bA) return d;
  float f = float(std::abs(aA - bA)) / 255.0f * 0.5f + 1.0f;
  return RoundInt(double(float(d) * f));
}

// ---------------------------------------------------------------------------
// Similarity smoothing

namespace {

template <bool UseRange, bool HasGuide>
void SmoothRows(int y0, int y1, int w, int h, int R, int thr2, const uint32_t* in, uint32_t* out,
                const ConstPixelView& guide, const std::vector<float>& spatial, const float* range) {
  const int side = 2 * R + 1;
  for (int y = y0; y < y1; ++y) {
    const uint32_t* inRow = in + size_t(y) * size_t(w);
    uint32_t* outRow = out + size_t(y) * size_t(w);
    const int dy0 = std::max(-R, -y), dy1 = std::min(R, h - 1 - y);
    for (int x = 0; x < w; ++x) {
      const uint32_t c = inRow[x];
      const uint32_t ca = c >> 24;
      if (ca == 0) {
        outRow[x] = c;
        continue;
      }
      const uint32_t g = HasGuide ? guide.at(x, y) : c;
      const int gr = int(GetR(g)), gg = int(GetG(g)), gb = int(GetB(g));
      const int dx0 = std::max(-R, -x), dx1 = std::min(R, w - 1 - x);
      float sw = 0, sr = 0, sg = 0, sb = 0;
      for (int dy = dy0; dy <= dy1; ++dy) {
        const uint32_t* q = in + size_t(y + dy) * size_t(w) + x;
        const uint32_t* gq = HasGuide ? guide.row(y + dy) + x : q;
        const float* sp = spatial.data() + size_t((dy + R) * side + R);
        for (int dx = dx0; dx <= dx1; ++dx) {
          const uint32_t p = q[dx], gp = gq[dx];
          const int dr = gr - int(GetR(gp)), dg = gg - int(GetG(gp)), db = gb - int(GetB(gp));
          if (dr * dr + dg * dg + db * db > thr2 || (p >> 24) == 0) continue;
          float wgt = sp[dx];
          if (UseRange) wgt *= range[std::max({std::abs(dr), std::abs(dg), std::abs(db)})];
          sw += wgt;
          sr += wgt * float(GetR(p));
          sg += wgt * float(GetG(p));
          sb += wgt * float(GetB(p));
        }
      }
      int r, gch, b;
      if (sw > 0.001f) {
        r = RoundInt(sr / sw);
        gch = RoundInt(sg / sw);
        b = RoundInt(sb / sw);
      } else {
        // Plain mean of the visible 3 x 3 neighbours, else unchanged.
        int n = 0, ar = 0, ag = 0, ab = 0;
        for (int dy = std::max(-1, -y); dy <= std::min(1, h - 1 - y); ++dy)
          for (int dx = std::max(-1, -x); dx <= std::min(1, w - 1 - x); ++dx) {
            uint32_t p = in[size_t(y + dy) * size_t(w) + size_t(x + dx)];
            if ((p >> 24) == 0) continue;
            ++n;
            ar += int(GetR(p));
            ag += int(GetG(p));
            ab += int(GetB(p));
          }
        if (n == 0) {
          outRow[x] = c;
          continue;
        }
        r = ar / n;
        gch = ag / n;
        b = ab / n;
      }
      // Colour from more opaque neighbours must not exceed this pixel's own alpha.
      const int a = int(ca);
      outRow[x] = MakeColor(ca, uint32_t(std::clamp(r, 0, a)), uint32_t(std::clamp(gch, 0, a)),
                            uint32_t(std::clamp(b, 0, a)));
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
  if (guide && guide.width() == w && guide.height() == h) gv = guide.PeekPixels();

  float sigmaS = SigmaS;
  if (sigmaS < R / 2.5f) sigmaS = std::max(0.5f, R / 2.5f);
  const int side = 2 * R + 1;
  std::vector<float> spatial(size_t(side) * side);
  for (int dy = -R; dy <= R; ++dy)
    for (int dx = -R; dx <= R; ++dx)
      spatial[size_t((dy + R) * side + dx + R)] = float(std::exp(-0.5 * (dx * dx + dy * dy) / (sigmaS * sigmaS)));
  const int thr2 = ColourThreshold * ColourThreshold;
  std::vector<float> range(256, 1.0f);

  auto run = [&] {
    for (int n = 1; n <= Iterations; ++n) {
      if (progress) progress(float(n) / float(Iterations));
      if (UseRange) {
        double sr = SigmaR * ((n - 1) * 0.2 + 1);
        for (int k = 0; k < 256; ++k) range[size_t(k)] = float(std::exp(-double(k) * k / (2 * sr * sr)));
      }
      const uint32_t* in = (n % 2 == 1) ? A.data() : B.data();
      uint32_t* out = (n % 2 == 1) ? B.data() : A.data();
      ForRows(h, 8, [&](int y0, int y1) {
        if (UseRange) {
          if (gv)
            SmoothRows<true, true>(y0, y1, w, h, R, thr2, in, out, gv, spatial, range.data());
          else
            SmoothRows<true, false>(y0, y1, w, h, R, thr2, in, out, gv, spatial, range.data());
        } else {
          if (gv)
            SmoothRows<false, true>(y0, y1, w, h, R, thr2, in, out, gv, spatial, range.data());
          else
            SmoothRows<false, false>(y0, y1, w, h, R, thr2, in, out, gv, spatial, range.data());
        }
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
    if ((y & 63) == 0 && IsEffectCancelled()) throw EAbort();
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
