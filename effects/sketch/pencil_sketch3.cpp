// Pencil Sketch 3: freely traced pencil strokes on white paper. Strokes start
// at random, preferring dark places, head along the local edge (or one of two
// hatching directions where the photograph is flat), wander towards darker
// neighbours, darken the paper where it is still lighter than the photograph
// and lighten it where it is already darker, and fade out. A local-contrast
// step can sharpen the photograph first and a colour step can tint the grey
// drawing.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "effects/sketch/sketch_support.h"
#include "effects/sketch/pencil_sketches.h"
#include "engine/effect_registry.h"
#include "engine/parallel.h"
#include "engine/pixel.h"
#include "engine/random.h"

namespace lq {

namespace {

constexpr int kMaxStrokeSteps = 5000;
// A start point is accepted where the photograph is darker than a random
// level below 255; on very light pictures that can take long or never
// happen, so a stroke gives up after this many tries.
constexpr int kMaxStartTries = 256;

// The sixteen deviations tried at each step, accumulated as the stroke
// tracer always has, with their sines and cosines.
struct Deviations {
  std::array<double, 16> d{}, c{}, s{};
  Deviations() {
    double v = -1.2;
    for (int k = 0; k < 16; ++k) {
      d[k] = v;
      c[k] = std::cos(v);
      s[k] = std::sin(v);
      v += 0.17142857142857143;
    }
  }
};

// Kept together so a stroke step touches one place per pixel.
struct Px {
  uint16_t sum;   // R + G + B of the photo
  uint8_t paper;  // grey drawing
  uint8_t red;    // red of the photo
};

struct DynamicPencilState {
  int W = 0, H = 0;
  int I = 0, S = 0, B = 0, C = 0, K = 0;
  bool Preview = false;
  // The photo over white, row-major. Its colour is opaque; the alpha byte
  // keeps the source alpha for the output.
  LargeBuffer<uint32_t> photo;
  LargeBuffer<Px> px;  // what a stroke step reads and writes

  size_t at(int x, int y) const { return size_t(y) * size_t(W) + size_t(x); }

  // The paper as opaque engine pixels (it is grey until the colour step).
  void PaperTo(PixelView out) const {
    ParallelFor(0, out.height, 64, [&](int lo, int hi) {
      for (int y = lo; y < hi; ++y) {
        const Px* p = &px[at(0, y)];
        uint32_t* o = out.row(y);
        for (int x = 0; x < out.width; ++x) o[x] = MakeColor(255, p[x].paper, p[x].paper, p[x].paper);
      }
    });
  }

  Image PaperImage() const {
    auto store = AllocPixels(W, H, false);
    if (!store) return {};
    PaperTo(store->view());
    return Image::MakeFromStore(std::move(store));
  }
};

// Shows img in the preview panel, unless a newer preview has taken over.
void ShowInPreviewPanel(const Image& img) {
  if (!img) return;
  RunOnUi([&] {
    EffectDriver& d = Driver();
    RunContext* ctx = CurrentRun();
    if (ctx && ctx->kind == RunKind::Preview && ctx->generation != d.FPreviewGeneration.load()) return;
    d.host().SetPreviewBitmap(img);
  });
}

void LocalContrast(DynamicPencilState& s) {
  const int W = s.W, H = s.H;
  const size_t n = size_t(W) * size_t(H);
  // Global means, per channel.
  int64_t tr = 0, tg = 0, tb = 0;
  for (size_t i = 0; i < n; ++i) {
    uint32_t p = s.photo[i];
    tr += GetR(p);
    tg += GetG(p);
    tb += GetB(p);
  }
  const int mean[3] = {int(tr / int64_t(n)), int(tg / int64_t(n)), int(tb / int64_t(n))};
  // Every pixel must see its neighbours as they were before the step.
  LargeBuffer<uint32_t> orig;
  if (!orig.Allocate(n)) return;
  std::copy(s.photo.data(), s.photo.data() + n, orig.data());

  ParallelFor(0, H, 32, [&](int lo, int hi) {
    // Sums of 9 rows (clamped at the border) for each column, kept up to date
    // as the band moves down.
    std::vector<int> col(size_t(W) * 3, 0);
    auto addRow = [&](int yy, int sign) {
      const uint32_t* r = &orig[s.at(0, std::clamp(yy, 0, H - 1))];
      for (int x = 0; x < W; ++x) {
        col[3 * x] += sign * int(GetR(r[x]));
        col[3 * x + 1] += sign * int(GetG(r[x]));
        col[3 * x + 2] += sign * int(GetB(r[x]));
      }
    };
    for (int k = -4; k <= 4; ++k) addRow(lo + k, 1);
    for (int y = lo; y < hi; ++y) {
      CheckCancellation();
      const uint32_t* centreRow = &orig[s.at(0, y)];
      uint32_t* out = &s.photo[s.at(0, y)];
      int win[3] = {0, 0, 0};
      for (int k = -4; k <= 4; ++k) {
        int cx = std::clamp(k, 0, W - 1);
        for (int ch = 0; ch < 3; ++ch) win[ch] += col[3 * cx + ch];
      }
      for (int x = 0; x < W; ++x) {
        uint32_t p = centreRow[x];
        int centre[3] = {int(GetR(p)), int(GetG(p)), int(GetB(p))};
        int v[3];
        for (int ch = 0; ch < 3; ++ch) {
          int local = (win[ch] - centre[ch]) / 80;
          int m = (2 * local + mean[ch]) / 3;
          v[ch] = ClampByte(centre[ch] + RoundInt(double((centre[ch] - m) * s.C) / 100));
        }
        out[x] = MakeColor(GetA(p), uint32_t(v[0]), uint32_t(v[1]), uint32_t(v[2]));
        // Slide the window one column to the right.
        int leave = std::clamp(x - 4, 0, W - 1), enter = std::clamp(x + 5, 0, W - 1);
        for (int ch = 0; ch < 3; ++ch) win[ch] += col[3 * enter + ch] - col[3 * leave + ch];
      }
      if (y + 1 < hi) {
        addRow(y - 4, -1);
        addRow(y + 5, 1);
      }
    }
  });
}

// Sine and cosine of |d| <= 0.15 by their series, which are exact to the
// last bit or two there; a library call per stroke step costs more than the
// rest of the step.
inline void SmallSinCos(double d, double* sn, double* cs) {
  const double d2 = d * d;
  *sn = d * (1 - d2 / 6 * (1 - d2 / 20 * (1 - d2 / 42 * (1 - d2 / 72))));
  *cs = 1 - d2 / 2 * (1 - d2 / 12 * (1 - d2 / 30 * (1 - d2 / 56)));
}

// One stroke from an accepted start point. Returns false when the start-point
// search gave up.
bool TraceStroke(DynamicPencilState& s, const Deviations& dev, const uint8_t* lighten) {
  const int W = s.W, H = s.H;
  int x0 = 0, y0 = 0, x = 0, y = 0;
  bool found = false;
  for (int tries = 0; tries < kMaxStartTries; ++tries) {
    x0 = Random(W);
    y0 = Random(H);
    x = std::clamp(x0, 1, W - 2);
    y = std::clamp(y0, 1, H - 2);
    int mean = s.px[s.at(x, y)].sum / 3;
    int r = Random(255);
    if (mean < r) {
      found = true;
      break;
    }
  }
  if (!found) return false;

  // Direction: the strongest channel difference across the 3 x 3 block.
  const uint32_t* up = &s.photo[s.at(0, y - 1)];
  const uint32_t* mid = &s.photo[s.at(0, y)];
  const uint32_t* dn = &s.photo[s.at(0, y + 1)];
  int Fx = INT32_MIN, Fy = INT32_MIN;
  for (int shift = 0; shift <= 16; shift += 8) {  // B, G, R
    auto c = [shift](uint32_t p) { return int((p >> shift) & 255); };
    int dy = 3 * c(up[x - 1]) + 10 * c(up[x]) + 3 * c(up[x + 1]) - 3 * c(dn[x - 1]) - 10 * c(dn[x]) -
             3 * c(dn[x + 1]);
    int dx = 3 * c(up[x - 1]) + 10 * c(mid[x - 1]) + 3 * c(dn[x - 1]) - 3 * c(up[x + 1]) - 10 * c(mid[x + 1]) -
             3 * c(dn[x + 1]);
    Fy = std::max(Fy, dy);
    Fx = std::max(Fx, dx);
  }
  const int N = std::abs(Fx) + std::abs(Fy);
  double theta;
  if (N > s.B + 1) {
    theta = std::atan2(double(Fy), double(Fx)) + 1.5707;
  } else {
    int r1 = Random(100), r2 = Random(100);
    if (r1 < 27)
      theta = r2 > 50 ? 0.6707 : 3.81229;
    else
      theta = r2 > 50 ? -0.4 : 2.74159;
  }
  const bool flat = N < s.B + 1;
  const double cosT = std::cos(theta), sinT = std::sin(theta);
  // Unit steps of the sixteen deviations from this stroke's heading.
  double pc[16], ps[16];
  if (!flat)
    for (int k = 0; k < 16; ++k) {
      pc[k] = cosT * dev.c[k] - sinT * dev.s[k];
      ps[k] = sinT * dev.c[k] + cosT * dev.s[k];
    }

  double ink = double((768 - int(s.px[s.at(x, y)].sum)) >> 6);
  const double decay = s.S / 1500.0 + 0.7;
  const int divisor = (255 - s.S) / 8 + 8;
  const int tolerance = s.B / 3;
  double X = x0, Y = y0;

  for (int step = 0; step < kMaxStrokeSteps; ++step) {
    if (step % 100 == 0) CheckCancellation();
    const size_t i = s.at(x, y);
    // a, b. Darken the paper towards the photograph, or lighten it back.
    Px& cur = s.px[i];
    const int q = cur.paper;
    int Z = (3 * q - int(cur.sum)) / divisor;
    if (Z < -4) {
      cur.paper = lighten[cur.red];
    } else {
      Z = std::max(Z, 0);
      cur.paper = uint8_t((q * (255 - Z)) >> 8);
    }
    // c, d. Lean towards the darkest neighbour ahead.
    double mc = cosT, ms = sinT;  // step for a deviation of 0
    if (Random(100) >= 25 && !flat) {
      // Written without branches: which probe wins is data, not a pattern
      // the processor could predict.
      int best = 768, bestK = -1;
      for (int k = 0; k < 16; ++k) {
        int qx = RoundInt(X + pc[k]), qy = RoundInt(Y + ps[k]);
        bool inside = unsigned(qx - 1) <= unsigned(W - 3) && unsigned(qy - 1) <= unsigned(H - 3);
        int sm = s.px[s.at(inside ? qx : 1, inside ? qy : 1)].sum;
        bool take = inside & (sm - best < tolerance);
        best = take ? sm : best;
        bestK = take ? k : bestK;
      }
      if (bestK >= 0) {
        mc = pc[bestK];
        ms = ps[bestK];
      }
    }
    if (flat) {
      const double delta = Random() * 0.3 - 0.15;
      double cd, sd;
      SmallSinCos(delta, &sd, &cd);
      mc = cosT * cd - sinT * sd;  // cos(theta + delta)
      ms = sinT * cd + cosT * sd;  // sin(theta + delta)
    }
    // e. Move.
    X += mc;
    Y += ms;
    x = RoundInt(X);
    y = RoundInt(Y);
    // f. Fade out.
    ink *= decay;
    if (ink < 0.01) break;
    // g. Stay inside the border.
    if (x < 1) x = 1, X = 1;
    if (y < 1) y = 1, Y = 1;
    if (x >= W - 1) x = W - 2, X = W - 2;
    if (y >= H - 1) y = H - 2, Y = H - 2;
  }
  return true;
}

}  // namespace

void DynamicPencilTraced(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview,
                         DynamicPencilTrace* trace) {
  CheckCancellation();
  if (!Source) return;
  DynamicPencilState s;
  s.Preview = Preview;
  s.I = int(Round(P1 * 2.55));
  s.S = int(Round(P2 * 2.55));
  s.B = int(Round(P3 * 2.55));
  s.C = int(Round(P4 * 2.55));
  s.K = int(Round(P5 * 2.55));
  ConstPixelView src = Source.PeekPixels();
  if (!src || src.width <= 0 || src.height <= 0 || !IsValidSize(src.width, src.height)) return;
  const int W = src.width, H = src.height;
  s.W = W;
  s.H = H;
  PixelView dest = Dest.PeekPixels();
  if (!dest) return;
  // A caller's surface of another size receives the overlapping part.
  dest.width = std::min(dest.width, W);
  dest.height = std::min(dest.height, H);
  const size_t n = size_t(W) * size_t(H);
  if (!s.photo.Allocate(n) || !s.px.Allocate(n)) return;

  // 2. Photo over white paper. Source colour is premultiplied, so covering
  // white adds only the white the pixel lets through.
  ParallelFor(0, H, 64, [&](int lo, int hi) {
    for (int y = lo; y < hi; ++y) {
      const uint32_t* row = src.row(y);
      for (int x = 0; x < W; ++x) {
        uint32_t p = row[x], a = GetA(p);
        size_t i = s.at(x, y);
        uint32_t white = 255 - a;
        s.photo[i] = a > 9 ? MakeColor(a, std::min(255u, GetR(p) + white), std::min(255u, GetG(p) + white),
                                       std::min(255u, GetB(p) + white))
                           : MakeColor(a, 255, 255, 255);
      }
    }
  });

  // 3.
  if (s.C > 0) LocalContrast(s);
  ParallelFor(0, H, 64, [&](int lo, int hi) {
    for (int y = lo; y < hi; ++y)
      for (int x = 0; x < W; ++x) {
        uint32_t p = s.photo[s.at(x, y)];
        s.px[s.at(x, y)] = {uint16_t(GetR(p) + GetG(p) + GetB(p)), 255, uint8_t(GetR(p))};
      }
  });

  // 4. A stroke needs an interior pixel to stand on.
  int maxi = int(Round((s.I * 100 + 1000) * std::min(35.0, W / 200.0) * std::min(35.0, H / 200.0)));
  maxi = std::max(maxi, 1);
  const int step = std::max(maxi / 20, 1);
  if (!Preview) RunOnUi([] { Driver().UpdateProgressBar(0); });

  bool strokes = W >= 3 && H >= 3;
  if (strokes) {
    // No start point can ever be accepted where no interior pixel is darker
    // than the lightest acceptance level.
    bool anyDark = false;
    for (int y = 1; y < H - 1 && !anyDark; ++y)
      for (int x = 1; x < W - 1; ++x)
        if (s.px[s.at(x, y)].sum / 3 < 254) {
          anyDark = true;
          break;
        }
    strokes = anyDark;
  }
  if (trace) trace->strokePhase = strokes;

  // 5.
  RunContext* ctx = CurrentRun();
  const bool showImages = !Preview && !(ctx && ctx->kind == RunKind::Synchronous);
  static const Deviations dev;
  uint8_t lighten[256];
  for (int v = 0; v < 256; ++v) lighten[v] = uint8_t(std::min<int64_t>(255, Round(v * 1.1)));
  int reports = 0;
  for (int i = 0; i <= maxi; ++i) {
    CheckCancellation();
    if (trace) trace->strokes++;
    if (i % step == 0 || i == maxi) {
      int pct = int(Round(double(i) / maxi * 100));
      if (!Preview) {
        RunOnUi([pct] { Driver().UpdateProgressBar(pct); });
        if (++reports > 3) {
          // Synchronous runs never show work in progress; skip the copies.
          if (showImages) {
            s.PaperTo(dest);
            Image snap = Dest.MakeImageSnapshot();
            RunOnUi([&] { Driver().UpdateDisplayImage(snap, -1); });
          }
          reports = 0;
        }
      } else if (i % (5 * step) == 0) {
        SafeUpdatePreview(&Dest, pct);
        ShowInPreviewPanel(s.PaperImage());
      }
    }
    if (strokes && !TraceStroke(s, dev, lighten) && trace) trace->strokesSkipped++;
  }

  // 6, 7. Colour, then the source's alpha; the paper goes out premultiplied.
  const double u = s.K / 255.0;
  ParallelFor(0, dest.height, 64, [&](int lo, int hi) {
    for (int y = lo; y < hi; ++y) {
      uint32_t* o = dest.row(y);
      for (int x = 0; x < dest.width; ++x) {
        size_t i = s.at(x, y);
        const int g = s.px[i].paper;
        int out[3] = {g, g, g};
        if (s.K > 0 && g < 201) {
          uint32_t p = s.photo[i];
          int c[3] = {int(GetR(p)), int(GetG(p)), int(GetB(p))};
          int mx = std::max({c[0], c[1], c[2]}), mn = std::min({c[0], c[1], c[2]});
          int sat = mx - mn;
          int lum = (59 * c[1] + 30 * c[0] + 11 * c[2]) / 100;
          for (int ch = 0; ch < 3; ++ch) {
            double tint = g;
            if (sat >= 10 && lum >= 5) {
              double k = double(g) / lum;
              if (k < 0.7) k = k * 0.7 + 0.21;
              int cc = ClampByte(RoundInt(c[ch] * k));
              double t = std::min(1.0, sat / 50.0);
              tint = double(RoundInt(g * (1 - t) + cc * t));
            }
            out[ch] = RoundInt(g * (1 - u) + tint * u);
          }
        }
        o[x] = Premultiply(MakeColor(GetA(s.photo[i]), uint32_t(out[0]), uint32_t(out[1]), uint32_t(out[2])));
      }
    }
  });
  if (Preview) {
    ShowInPreviewPanel(Dest.MakeImageSnapshot());
    LastUIUpdateTick = 0;
    SafeUpdatePreview(&Dest, 101);
  } else {
    RunOnUi([] { Driver().UpdateProgressBar(101); });
  }
}

void DynamicPencil(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview) {
  DynamicPencilTraced(Source, Dest, P1, P2, P3, P4, P5, Preview, nullptr);
}

LQ_REGISTER_EFFECT(102, DynamicPencil)

}  // namespace lq
