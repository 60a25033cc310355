// Pencil Sketch 2: straight grey pencil lines on white paper. Every line is
// the best of many random candidates along the local edge direction, scored
// on its own pixels by how much closer it brings the drawing to the grey
// photograph; strong edges are darkened afterwards and the photograph's
// colours can tint the result.
#include <algorithm>
#include <atomic>
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

constexpr double kPi = 3.141592653589793;
constexpr float kFlatAngleA = 2.7415926f;
constexpr float kFlatAngleB = 2.6415927f;
constexpr int kMaxLinePoints = 2001;

// The drawing is grey and opaque wherever lines may go, so one tone byte
// stands for each of its pixels; it sits beside the target grey level because
// the candidate search reads both together.
struct Cell {
  uint8_t grey;  // target grey level
  uint8_t tone;  // drawing tone; 255 where the drawing is transparent
};

// How the half sine and cosine of a pixel follow from its angle.
enum : uint32_t {
  kFromAngle = 0,  // cos(a) / 2, sin(a) / 2
  kBorder = 1,     // flat cosine, sine 0
  kFlatA = 2,      // flat cosine, sine of kFlatAngleA
  kFlatB = 3,      // flat cosine, sine of kFlatAngleB
};

struct Grad {
  uint32_t mk;  // |gx| + |gy| in the low 24 bits, the kind above in the high 8
  float a;      // direction across the gradient, 0..pi
  int m() const { return int(mk & 0xFFFFFF); }
  uint32_t kind() const { return mk >> 24; }
};

struct Pencil6State {
  int W = 0, H = 0;
  int Lmin = 0, Lmax = 0, N0 = 0, Q = 0;
  bool Preview = false;
  bool transparent = false;  // the first pixels decided it
  bool hasBlank = false;     // some pixel is (almost) fully transparent
  // Cells and blank flags are kept in tiles of 8 x 4 pixels, one cache line of
  // cells each: a candidate line in any direction then touches a few lines
  // instead of one per row.
  int tilesX = 0;
  LargeBuffer<Cell> cells;
  LargeBuffer<uint8_t> blank;  // source alpha below 10: no ink goes there
  LargeBuffer<Grad> grad;      // row-major
  double flatHalfCos = 0, flatHalfSinA = 0, flatHalfSinB = 0;

  size_t idx(int x, int y) const {
    return ((size_t(y >> 2) * size_t(tilesX) + size_t(x >> 3)) << 5) + size_t((y & 3) << 3) + size_t(x & 7);
  }
  bool Blank(size_t i) const { return hasBlank && blank[i]; }
  const Grad& g(int x, int y) const { return grad[size_t(y) * size_t(W) + size_t(x)]; }

  void HalfCosSin(const Grad& gr, double* c, double* s) const {
    switch (gr.kind()) {
      case kBorder: *c = flatHalfCos; *s = 0; return;
      case kFlatA: *c = flatHalfCos; *s = flatHalfSinA; return;
      case kFlatB: *c = flatHalfCos; *s = flatHalfSinB; return;
      default: {
        double a = gr.a;
        *c = std::cos(a) / 2;
        *s = std::sin(a) / 2;
      }
    }
  }

  // The drawing as engine pixels: grey and opaque, transparent where the
  // transparent source had (almost) nothing.
  void Expand(PixelView out) const {
    ParallelFor(0, out.height, 64, [&](int lo, int hi) {
      for (int y = lo; y < hi; ++y) {
        uint32_t* o = out.row(y);
        for (int x = 0; x < out.width; ++x) {
          size_t i = idx(x, y);
          if (transparent && Blank(i)) {
            o[x] = 0;
          } else {
            uint32_t t = cells[i].tone;
            o[x] = MakeColor(255, t, t, t);
          }
        }
      }
    });
  }

  Image Snapshot() const {
    auto store = AllocPixels(W, H, false);
    if (!store) return {};
    Expand(store->view());
    return Image::MakeFromStore(std::move(store));
  }
};

int ClampInt(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Cell indices of the points from (x1, y1) to (x2, y2), both ends included.
// Returns the count.
int BresenhamLine(const Pencil6State& s, int x1, int y1, int x2, int y2, uint32_t* pts) {
  int dx = std::abs(x2 - x1), dy = -std::abs(y2 - y1);
  if (dx > 2000 || -dy > 2000) return 0;
  int sx = x1 < x2 ? 1 : -1, sy = y1 < y2 ? 1 : -1;
  int err = dx + dy, n = 0;
  int x = x1, y = y1;
  for (;;) {
    size_t i = s.idx(x, y);
    __builtin_prefetch(&s.cells[i]);  // the trial reads every point right after
    pts[n++] = uint32_t(i);
    if (x == x2 && y == y2) break;
    int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y += sy;
    }
  }
  return n;
}

// Gradient and direction of every pixel.
bool BuildGradient(Pencil6State& s) {
  const int W = s.W, H = s.H;
  // The border keeps m = 0, the flat angle and sine 0.
  if (!s.grad.Fill(size_t(W) * size_t(H), Grad{kBorder << 24, kFlatAngleB})) return false;
  // One pass in row order: flat places draw random numbers, and the same
  // seed should give the same drawing.
  for (int y = 1; y < H - 1; ++y) {
    CheckCancellation();
    Grad* gr = &s.grad[size_t(y) * size_t(W)];
    auto p = [&](int x, int yy) { return int(s.cells[s.idx(x, yy)].grey); };
    for (int x = 1; x < W - 1; ++x) {
      int ul = p(x - 1, y - 1), u = p(x, y - 1), ur = p(x + 1, y - 1);
      int l = p(x - 1, y), r = p(x + 1, y);
      int dl = p(x - 1, y + 1), d = p(x, y + 1), dr = p(x + 1, y + 1);
      int gx = 47 * ul + 162 * l + 47 * dl - 47 * ur - 162 * r - 47 * dr;
      int gy = 47 * ul + 162 * u + 47 * ur - 47 * dl - 162 * d - 47 * dr;
      int m = std::abs(gx) + std::abs(gy);
      float a;
      uint32_t kind = kFromAngle;
      if (m > 3000) {
        a = float(std::atan2(double(gy), double(gx)) + 1.5707);
      } else if (Random(100) <= 50) {
        a = kFlatAngleA;
        if (m == 0) kind = kFlatA;
      } else {
        a = kFlatAngleB;
        if (m == 0) kind = kFlatB;
      }
      if (a < 0) a = float(double(a) + 2 * kPi);
      if (a > kPi) a = float(double(a) - kPi);
      // Perfectly flat places all share one angle; their sine stays that of
      // the angle drawn above.
      if (m == 0) a = kFlatAngleB;
      gr[x] = {uint32_t(m) | (kind << 24), a};
    }
  }
  return true;
}

void RunLines(Pencil6State& s, Pencil6Trace* trace) {
  const int W = s.W, H = s.H;
  int maxi = s.N0;
  if (!s.Preview) maxi = int(Round(double(W) * double(H) / 40000.0 * s.N0)) + 1;

  std::vector<uint32_t> pts(kMaxLinePoints), best(kMaxLinePoints);
  // Shared with the display blocks, which may run after this routine ended:
  // they read the iteration when they run, and at most one waits at a time so
  // a busy UI thread never collects a backlog of full-size copies.
  struct DisplayState {
    std::atomic<int> i{0};
    std::atomic<bool> pending{false};
  };
  auto shared = std::make_shared<DisplayState>();
  RunContext* ctx = CurrentRun();
  // Synchronous runs (scripts, batches) never show work in progress.
  const bool showImages = !s.Preview && !(ctx && ctx->kind == RunKind::Synchronous);
  uint32_t lastDisplay = GetTickCount();

  for (int i = 0; i <= maxi; ++i) {
    CheckCancellation();
    shared->i.store(i);
    if (trace) trace->iterations++;
    // A preview's block would show nothing, so none is made.
    if (!s.Preview && uint32_t(GetTickCount() - lastDisplay) > 200) {
      lastDisplay = GetTickCount();
      if (!shared->pending.exchange(true)) {
        // An immutable copy: the drawing keeps changing meanwhile.
        Image snap = showImages ? s.Snapshot() : Image();
        QueueOnUi([snap, shared, maxi] {
          shared->pending = false;
          int progress = int(int64_t(shared->i.load()) * 100 / maxi + 1);
          if (snap)
            Driver().UpdateDisplayImage(snap, progress);
          else
            UpdateProgressBar(progress);
        });
      }
    }

    // 64-bit: a very large picture runs beyond 2^31 / 100 iterations.
    const int w = int(int64_t(i) * 100 / maxi);
    const int K = w <= 5 ? 26 : int(int64_t(i) * 4 / maxi) + 1;
    int T = s.Q <= 127 ? (110 - w) / ((128 - s.Q) / 25 + 1) : (110 - w) * ((s.Q - 127) / 15 + 1);
    if (w < 5) T /= 4;
    const int stallLimit = T / 20 + 5;

    for (int line = 0; line < K; ++line) {
      int B = 0, stall = 0, bestN = 0, bestT = 0;
      for (int attempt = 0; attempt <= T; ++attempt) {
        // a. A start point, favouring places where the drawing is still off.
        int x, y;
        size_t ci;
        for (;;) {
          x = Random(W - 2) + 1;
          y = Random(H - 2) + 1;
          ci = s.idx(x, y);
          // Fetch the gradient alongside the cell: a kept point reads it next.
          __builtin_prefetch(&s.g(x, y));
          const Cell c = s.cells[ci];
          int d = s.Blank(ci) ? 0 : std::abs(int(c.grey) - int(c.tone));
          int r = Random(5 * w);
          if (d >= r || w <= 4) break;
        }
        const Cell c0 = s.cells[ci];
        // b.
        const int t = (int(c0.grey) + 2 * int(c0.tone)) / 3;
        // c.
        const Grad& g0 = s.g(x, y);
        int L = Random(s.Lmax / 2 - w + 100) / 3;
        L += Random(std::min(g0.m() / 2500, 40));
        L += s.Lmin + 3;
        L = std::min(L, s.Lmax);
        // d. Shorter where the direction turns along the line.
        double hc, hs;
        s.HalfCosSin(g0, &hc, &hs);
        int fx = ClampInt(x + RoundInt(L * hc), 0, W - 1);
        int fy = ClampInt(y + RoundInt(L * hs), 0, H - 1);
        double diff = std::fabs(double(g0.a) - double(s.g(fx, fy).a));
        if (diff > kPi) diff = 2 * kPi - diff;
        if (diff > 1.05) L = std::max(L / 3, 1);
        // e.
        int dx = RoundInt(L * hc), dy = RoundInt(L * hs);
        int n = BresenhamLine(s, ClampInt(x - dx, 0, W - 1), ClampInt(y - dy, 0, H - 1),
                              ClampInt(x + dx, 0, W - 1), ClampInt(y + dy, 0, H - 1), pts.data());
        // f, g. Try the line on its own pixels and score the change.
        int score = 0;
        for (int k = 0; k < n; ++k) {
          if (s.Blank(pts[k])) continue;
          const Cell c = s.cells[pts[k]];
          int fade = n == 1 ? 0 : ClampByte(std::abs(k - n / 2) * 384 / (n - 1));
          int nt = ((255 - fade) * t + fade * int(c.tone)) / 255;
          score += std::abs(nt - int(c.grey)) - std::abs(int(c.tone) - int(c.grey));
        }
        if (score < B) {
          B = score;
          bestT = t;
          bestN = n;
          std::copy(pts.begin(), pts.begin() + n, best.begin());
          stall = 0;
        }
        if (++stall >= stallLimit) {
          if (B < 0) break;
          stall = 0;
        }
      }
      if (B < 0) {
        for (int k = 0; k < bestN; ++k) {
          if (s.Blank(best[k])) continue;
          Cell& c = s.cells[best[k]];
          int fade = bestN == 1 ? 64 : ClampByte(std::abs(k - bestN / 2) * 384 / (bestN - 1) + 64);
          c.tone = uint8_t(((255 - fade) * bestT + fade * int(c.tone)) / 255);
        }
        if (trace) trace->linesDrawn++;
      }
    }
  }
}

}  // namespace

void Pencil6Traced(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview,
                   Pencil6Trace* trace) {
  CheckCancellation();
  if (!Source) return;
  Pencil6State s;
  s.Preview = Preview;
  s.Q = int(Round(P5 * 2.5));
  s.Lmax = P2 + 5;
  s.Lmin = std::min(P1, s.Lmax);
  s.N0 = P3 * 20 + 100;
  ConstPixelView src = Source.PeekPixels();
  if (!src || src.width <= 0 || src.height <= 0 || !IsValidSize(src.width, src.height)) return;
  const int W = src.width, H = src.height;
  s.W = W;
  s.H = H;
  PixelView dest = Dest.PeekPixels();
  if (!dest) return;

  // 2. A source counts as transparent when its first pixels already are.
  {
    int64_t probe = std::min<int64_t>(2001, int64_t(W) * H), seen = 0;
    for (int y = 0; y < H && seen < probe && !s.transparent; ++y)
      for (int x = 0; x < W && seen < probe; ++x, ++seen)
        if (GetA(src.at(x, y)) < 250) {
          s.transparent = true;
          break;
        }
  }
  for (int y = 0; y < H && !s.hasBlank; ++y) {
    const uint32_t* row = src.row(y);
    for (int x = 0; x < W; ++x)
      if (GetA(row[x]) < 10) {
        s.hasBlank = true;
        break;
      }
  }
  s.tilesX = (W + 7) / 8;
  const size_t cellCount = size_t(s.tilesX) * size_t((H + 3) / 4) * 32;
  if (!s.cells.Allocate(cellCount)) return;
  if (s.hasBlank && !s.blank.Allocate(cellCount)) return;
  ParallelFor(0, H, 64, [&](int lo, int hi) {
    for (int y = lo; y < hi; ++y) {
      const uint32_t* row = src.row(y);
      for (int x = 0; x < W; ++x) {
        uint32_t p = row[x], a = GetA(p);
        size_t i = s.idx(x, y);
        s.cells[i].grey = a < 11 ? 255 : uint8_t((3 * GetR(p) + 6 * GetG(p) + GetB(p)) / 10);
        s.cells[i].tone = 255;  // white paper, or transparent (tone 255 as well)
        if (s.hasBlank) s.blank[i] = a < 10;
      }
    }
  });
  s.flatHalfCos = std::cos(2.641592653589793) / 2;
  s.flatHalfSinA = std::sin(double(kFlatAngleA)) / 2;
  s.flatHalfSinB = std::sin(double(kFlatAngleB)) / 2;

  // Random start points need at least one interior pixel each way; narrower
  // pictures stay blank paper.
  const bool lines = W >= 3 && H >= 3;
  if (trace) trace->linePhase = lines;
  if (lines) {
    // 3.
    if (!BuildGradient(s)) return;
    // 4, 5.
    RunLines(s, trace);
  } else {
    if (!s.grad.Fill(size_t(W) * size_t(H), Grad{kBorder << 24, kFlatAngleB})) return;
  }

  // 6. Darker strokes on strong edges.
  ParallelFor(0, H, 64, [&](int lo, int hi) {
    for (int y = lo; y < hi; ++y) {
      const Grad* g = &s.grad[size_t(y) * size_t(W)];
      for (int x = 0; x < W; ++x) {
        size_t i = s.idx(x, y);
        Cell& c = s.cells[i];
        if (!s.Blank(i) && 3 * int(c.tone) < 540) c.tone = uint8_t(std::max(0, int(c.tone) - g[x].m() / 1800));
      }
    }
  });

  // 7. Output.
  const bool full = !Preview;
  Image drawing;
  if (full) {
    drawing = s.Snapshot();
    if (!drawing) return;
  }
  // A caller's surface of another size keeps only the drawing, clipped.
  if (dest.width != W || dest.height != H) Dest.GetCanvas()->Clear(0);
  dest.width = std::min(dest.width, W);
  dest.height = std::min(dest.height, H);
  s.Expand(dest);
  Image tinted;
  if (P4 > 0) {
    Paint paint;
    paint.blendMode = BlendMode::Color;
    paint.setAlpha(int(Round(P4 / 100.0 * 255)));
    Dest.GetCanvas()->DrawImage(Source, 0, 0, SamplingOptions::High(), &paint);
    Dest.Flush();
    if (full) tinted = Dest.MakeImageSnapshot();
  }
  if (full) {
    RunOnUi([&] {
      EffectDriver& d = Driver();
      d.UpdateDisplayImage(drawing, -1);
      d.UpdateProgressBar(101);
      if (tinted) d.UpdateDisplayImage(tinted, -1);
      d.host().RepaintWorkspace();
    });
  }
}

void Pencil6(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview) {
  Pencil6Traced(Source, Dest, P1, P2, P3, P4, P5, Preview, nullptr);
}

LQ_REGISTER_EFFECT(101, Pencil6)

}  // namespace lq
