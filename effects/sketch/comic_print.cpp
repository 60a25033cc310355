// Comic print: a four-colour halftone. The picture is separated into cyan,
// magenta, yellow and black; each separation is printed as round dots on its
// own rotated grid, the screens are multiplied onto white paper, and ink
// contours found by an edge detector with hysteresis are laid on top.
// Deterministic; no random numbers.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "effects/sketch/band_draw.h"
#include "engine/driver.h"
#include "engine/effect_registry.h"
#include "engine/gfx/filters.h"
#include "engine/gfx/surface.h"
#include "engine/parallel.h"
#include "engine/pixel.h"
#include "engine/random.h"

namespace lq {

namespace {

struct Screen {
  double angle;
  uint32_t ink;  // opaque straight colour
};

// Indexed by separation: cyan, magenta, yellow, black.
const Screen kScreens[4] = {
    {M_PI / 12, MakeColor(255, 0, 200, 255)},
    {5 * M_PI / 12, MakeColor(255, 255, 0, 144)},
    {0.0, MakeColor(255, 255, 247, 0)},
    {M_PI / 4, MakeColor(255, 20, 20, 20)},
};
const int kPrintOrder[4] = {2, 0, 1, 3};

struct Dot {
  sketch::BandExtent extent;
  double x, y, r;
};

struct ComicRun {
  Surface* dest = nullptr;
  bool preview = false;
  int W = 0, H = 0;
  int c = 4;  // grid cell size
  double dmin = 0, dmax = 1, h = 2, I = 1;
  int F = 0;

  std::vector<uint8_t> alpha;     // source alpha
  std::vector<uint8_t> plane[4];  // C, M, Y, K
  std::shared_ptr<PixelStore> halftone;

  size_t At(int x, int y) const { return size_t(y) * size_t(W) + size_t(x); }

  void Report(int v) {
    if (preview)
      SafeUpdatePreview(dest, v);
    else
      SafeUpdateProgress(v);
  }
};

inline double Clamp01(double v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }
inline double Clamp255(double v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// A Gaussian blur of a whole picture into new pixels of its size. Edges
// clamp, so the borders keep their full alpha and colour.
std::shared_ptr<PixelStore> Blurred(ConstPixelView src, float sigma) {
  auto out = AllocPixels(src.width, src.height, false);
  if (out) GaussianBlur(src, out->view(), sigma, sigma, TileMode::Clamp);
  return out;
}

void Separate(ComicRun& r, ConstPixelView soft) {
  ParallelFor(0, r.H, 16, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      const uint32_t* row = soft.row(y);
      for (int x = 0; x < r.W; ++x) {
        const size_t i = r.At(x, y);
        uint32_t p = row[x];
        uint32_t a = GetA(p);
        if (a == 0) {
          r.plane[0][i] = r.plane[1][i] = r.plane[2][i] = r.plane[3][i] = 0;
          continue;
        }
        double R = GetR(p), G = GetG(p), B = GetB(p);
        if (a < 255) {
          R = Clamp255(R * 255 / a);
          G = Clamp255(G * 255 / a);
          B = Clamp255(B * 255 / a);
        }
        double L = 0.299 * R + 0.587 * G + 0.114 * B;
        auto boost = [L](double v) { return Clamp255((L * 10000 + (v - L) * 14500) / 10000); };
        R = boost(R);
        G = boost(G);
        B = boost(B);
        double K = 1 - std::max(R, std::max(G, B)) / 255;
        if (K >= 0.999) {
          r.plane[0][i] = r.plane[1][i] = r.plane[2][i] = 0;
          r.plane[3][i] = 255;
          continue;
        }
        // Part of the black is taken out of the colour inks (less so with
        // more colour intensity).
        double g = std::clamp(0.65 - r.I * 0.15, 0.25, 0.75);
        double k = K * g;
        double cmy[3] = {(1 - R / 255 - k) / (1 - k), (1 - G / 255 - k) / (1 - k), (1 - B / 255 - k) / (1 - k)};
        for (int j = 0; j < 3; ++j) {
          double v = cmy[j];
          if (r.I < 1)
            v *= r.I;
          else if (r.I > 1)
            v = std::min(1.0, v * r.I);
          r.plane[j][i] = uint8_t(Round(Clamp255(v * 255)));
        }
        r.plane[3][i] = uint8_t(Round(Clamp255(K * 255)));
      }
    }
  });
}

void PrintScreen(ComicRun& r, int j, Surface& screen) {
  const int s = kPrintOrder[j];
  const int W = r.W, H = r.H, c = r.c;
  screen.GetCanvas()->Clear(0xFFFFFFFFu);
  const double sn = std::sin(kScreens[s].angle), cs = std::cos(kScreens[s].angle);

  // Grid coordinates of the image corners bound the grid that covers it.
  double us[4], vs[4];
  const double cx[4] = {0, double(W), 0, double(W)}, cy[4] = {0, 0, double(H), double(H)};
  for (int k = 0; k < 4; ++k) {
    us[k] = (cx[k] * cs + cy[k] * sn) / c;
    vs[k] = (-cx[k] * sn + cy[k] * cs) / c;
  }
  const int u0 = int(std::floor(*std::min_element(us, us + 4))) - 1;
  const int u1 = int(std::ceil(*std::max_element(us, us + 4))) + 1;
  const int v0 = int(std::floor(*std::min_element(vs, vs + 4))) - 1;
  const int v1 = int(std::ceil(*std::max_element(vs, vs + 4))) + 1;
  const int64_t total = std::max<int64_t>(int64_t(u1 - u0 + 1) * (v1 - v0 + 1), 1);
  int64_t counter = 0;

  const uint32_t ink = kScreens[s].ink;
  const std::vector<uint8_t>& plane = r.plane[s];
  // Dot radius by ink share t: h t^0.5625 keeps the dot's area close to the
  // ink share, a little below it in the highlights.
  double radius[256];
  for (int v = 0; v < 256; ++v) {
    const double t = v / 255.0;
    const double p = t > 0 ? std::pow(std::pow(t, 0.75), 0.75) : 0.0;
    radius[v] = std::max(r.h * r.dmax * p, r.h * r.dmin);
  }
  std::vector<Dot> dots;
  auto flush = [&] {
    sketch::DrawInBands(screen, dots, [ink](Canvas& canvas, const Dot& d) {
      Paint paint(ink);
      paint.antiAlias = true;
      paint.style = PaintStyle::Fill;
      canvas.DrawCircle(d.x, d.y, d.r, paint);
    });
    dots.clear();
  };

  for (int v = v0; v <= v1; ++v) {
    for (int u = u0; u <= u1; ++u) {
      ++counter;
      const double px = u * c * cs - v * c * sn, py = u * c * sn + v * c * cs;
      int64_t ix = Round(px), iy = Round(py);
      if (ix < -c || ix >= W + c || iy < -c || iy >= H + c) continue;
      ix = std::clamp<int64_t>(ix, 0, W - 1);
      iy = std::clamp<int64_t>(iy, 0, H - 1);
      const size_t i = r.At(int(ix), int(iy));
      if (r.alpha[i] == 0) continue;
      const double rad = radius[plane[i]];
      if (rad >= 0.4) dots.push_back({{float(py - rad - 2), float(py + rad + 2)}, px, py, rad});
    }
    if ((v & 15) == 0) {
      flush();
      r.Report(int(std::min<int64_t>(Round(22.0 * j + 22.0 * double(counter) / double(total)), 88)));
      CheckCancellation();
    }
  }
  flush();
}

// Edge map of the blurred source, hysteresis with a minimum line length, and
// the ink it lays on the halftone. False when the source cannot be read.
bool Contours(ComicRun& r, const Image& Source) {
  const int W = r.W, H = r.H, F = r.F, c = r.c;
  ConstPixelView sp = Source.PeekPixels();
  if (!sp) return false;
  auto blurred = Blurred(sp, float(F / 100.0 + 1));
  if (!blurred) return false;
  ConstPixelView bp = blurred->view();
  const size_t N = size_t(W) * size_t(H);

  std::vector<uint8_t> grey(N);
  ParallelFor(0, H, 32, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      const uint32_t* row = bp.row(y);
      for (int x = 0; x < W; ++x) {
        uint32_t p = row[x], a = GetA(p);
        int v;
        if (a == 0) {
          v = 0;
        } else if (a == 255) {
          v = int((299 * GetR(p) + 587 * GetG(p) + 114 * GetB(p)) / 1000);
        } else {
          double R = Clamp255(GetR(p) * 255.0 / a), G = Clamp255(GetG(p) * 255.0 / a),
                 B = Clamp255(GetB(p) * 255.0 / a);
          v = int(Round(0.299 * R + 0.587 * G + 0.114 * B));
        }
        grey[r.At(x, y)] = uint8_t(std::clamp(v, 0, 255));
      }
    }
  });
  blurred.reset();

  // Sobel; the border keeps magnitude 0 and vector (0, 0).
  std::vector<int32_t> mag(N, 0);
  std::vector<int16_t> gxs(N, 0), gys(N, 0);
  ParallelFor(1, H - 1, 32, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      const uint8_t* a = &grey[r.At(0, y - 1)];
      const uint8_t* b = &grey[r.At(0, y)];
      const uint8_t* d = &grey[r.At(0, y + 1)];
      for (int x = 1; x <= W - 2; ++x) {
        int gx = a[x + 1] + 2 * b[x + 1] + d[x + 1] - a[x - 1] - 2 * b[x - 1] - d[x - 1];
        int gy = d[x - 1] + 2 * d[x] + d[x + 1] - a[x - 1] - 2 * a[x] - a[x + 1];
        size_t i = r.At(x, y);
        mag[i] = std::abs(gx) + std::abs(gy);
        gxs[i] = int16_t(gx);
        gys[i] = int16_t(gy);
      }
    }
  });
  std::vector<uint8_t>().swap(grey);

  // Summed-area table of the magnitudes: the local mean costs four reads.
  const size_t SW = size_t(W) + 1;
  std::vector<int64_t> sat(SW * (size_t(H) + 1), 0);
  for (int y = 0; y < H; ++y) {
    int64_t rowSum = 0;
    const int64_t* up = &sat[size_t(y) * SW];
    int64_t* cur = &sat[size_t(y + 1) * SW];
    for (int x = 0; x < W; ++x) {
      rowSum += mag[r.At(x, y)];
      cur[x + 1] = up[x + 1] + rowSum;
    }
  }

  int hi;
  if (F > 50)
    hi = std::max(int(Round(200 - (F - 50) * 3.6)), 20);
  else
    hi = 800 - 12 * F;
  const int lo = hi * 3 / 10;

  // Non-maximum suppression across the edge.
  std::vector<int32_t> sup(N, 0);
  ParallelFor(1, H - 1, 32, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      for (int x = 1; x <= W - 2; ++x) {
        size_t i = r.At(x, y);
        int m = mag[i];
        if (m < lo) continue;
        int gx = gxs[i], gy = gys[i];
        int ax = std::abs(gx), ay = std::abs(gy);
        int dir;
        if (ax == 0) {
          dir = 2;
        } else if (ay == 0) {
          dir = 0;
        } else {
          int q = ay * 1000 / ax;
          if (q <= 413)
            dir = 0;
          else if (q >= 2415)
            dir = 2;
          else
            dir = gx * gy < 1 ? 1 : 3;
        }
        int m1, m2;
        switch (dir) {
          case 0: m1 = mag[r.At(x - 1, y)]; m2 = mag[r.At(x + 1, y)]; break;
          case 1: m1 = mag[r.At(x + 1, y - 1)]; m2 = mag[r.At(x - 1, y + 1)]; break;
          case 2: m1 = mag[r.At(x, y - 1)]; m2 = mag[r.At(x, y + 1)]; break;
          default: m1 = mag[r.At(x - 1, y - 1)]; m2 = mag[r.At(x + 1, y + 1)]; break;
        }
        if (m >= m1 && m >= m2) sup[i] = m;
      }
    }
  });
  std::vector<int32_t>().swap(mag);

  // Strong and weak pixels, each measured against its neighbourhood's mean.
  enum : uint8_t { kNone = 0, kWeak = 1, kStrong = 2, kContour = 3, kVisited = 0x80 };
  std::vector<uint8_t> cls(N, kNone);
  const int R = std::max(c, 6);
  const double k1 = 3.5 - 0.02 * F, k2 = k1 * 0.5;
  ParallelFor(0, H, 32, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      const int ya = std::max(0, y - R), yb = std::min(H - 1, y + R);
      for (int x = 0; x < W; ++x) {
        size_t i = r.At(x, y);
        int s = sup[i];
        if (s == 0) continue;
        const int xa = std::max(0, x - R), xb = std::min(W - 1, x + R);
        int64_t sum = sat[size_t(yb + 1) * SW + size_t(xb + 1)] - sat[size_t(ya) * SW + size_t(xb + 1)] -
                      sat[size_t(yb + 1) * SW + size_t(xa)] + sat[size_t(ya) * SW + size_t(xa)];
        int64_t mu = sum / (int64_t(xb - xa + 1) * (yb - ya + 1));
        if (s >= hi && s >= Round(double(mu) * k1))
          cls[i] = kStrong;
        else if (s >= lo && s >= Round(double(mu) * k2))
          cls[i] = kWeak;
      }
    }
  });
  std::vector<int64_t>().swap(sat);

  // Hysteresis: every 8-connected group of weak and strong pixels that holds
  // a strong one becomes a contour, unless it is shorter than the minimum.
  const int64_t minLen = std::max<int64_t>(Round(c * 0.6), 5);
  std::vector<int32_t> stack, comp;
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      size_t start = r.At(x, y);
      if (cls[start] != kStrong) continue;
      stack.clear();
      comp.clear();
      cls[start] |= kVisited;
      stack.push_back(int32_t(start));
      while (!stack.empty()) {
        int32_t p = stack.back();
        stack.pop_back();
        comp.push_back(p);
        const int px = p % W, py = p / W;
        for (int dy = -1; dy <= 1; ++dy) {
          const int ny = py + dy;
          if (ny < 0 || ny >= H) continue;
          for (int dx = -1; dx <= 1; ++dx) {
            const int nx = px + dx;
            if ((dx == 0 && dy == 0) || nx < 0 || nx >= W) continue;
            size_t q = r.At(nx, ny);
            if (cls[q] == kWeak || cls[q] == kStrong) {
              cls[q] |= kVisited;
              stack.push_back(int32_t(q));
            }
          }
        }
      }
      const uint8_t to = int64_t(comp.size()) < minLen ? kNone : kContour;
      for (int32_t p : comp) cls[size_t(p)] = to;
    }
  }

  // Line width grows with the contour setting and the cell size; curved
  // stretches get a little more.
  const int b = F <= 25 ? 0 : int(std::min<int64_t>(Round((F - 20) / 20.0 * c / 9.0), 12));
  const int bmax = b + std::max(b / 2, 1);
  std::vector<uint8_t> ink(N, 0);
  auto raise = [&](int x, int y, int64_t v) {
    uint8_t& k = ink[r.At(x, y)];
    if (v > k) k = uint8_t(std::min<int64_t>(v, 255));
  };
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      size_t i = r.At(x, y);
      if (cls[i] != kContour) continue;
      const int s = sup[i];
      const int D = int(std::min<int64_t>(F / 5 + int64_t(s) * 150 / std::max(hi, 1) + 30, 255));
      int t = b;
      if (b > 0 && s > 0) {
        const int gx0 = gxs[i], gy0 = gys[i];
        int64_t sum = 0;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            int nx = x + dx, ny = y + dy;
            if (nx < 0 || ny < 0 || nx >= W || ny >= H) continue;
            size_t q = r.At(nx, ny);
            sum += std::abs(gxs[q] - gx0) + std::abs(gys[q] - gy0);
          }
        double kappa = double(sum) / double(std::max<int64_t>(9 * int64_t(s), 1));
        if (kappa > 0.35 && kappa < 1.5) t = int(std::min<int64_t>(b + Round((kappa - 0.35) * b * 1.5), bmax));
      }
      if (t > 0) {
        const int e = t + 1;
        for (int dy = -e; dy <= e; ++dy) {
          const int ny = y + dy;
          if (ny < 0 || ny >= H) continue;
          for (int dx = -e; dx <= e; ++dx) {
            const int nx = x + dx;
            if (nx < 0 || nx >= W) continue;
            double d = std::sqrt(double(dx * dx + dy * dy));
            if (d <= e) raise(nx, ny, Round(D * Clamp01(e - d)));
          }
        }
      } else {
        raise(x, y, D);
        const int64_t side = Round(D * 0.65), corner = Round(D * 0.3);
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            if (dx == 0 && dy == 0) continue;
            int nx = x + dx, ny = y + dy;
            if (nx < 0 || ny < 0 || nx >= W || ny >= H) continue;
            raise(nx, ny, (dx == 0 || dy == 0) ? side : corner);
          }
      }
    }
  }

  PixelView hv = r.halftone->view();
  ParallelFor(0, H, 32, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      uint32_t* row = hv.row(y);
      for (int x = 0; x < W; ++x) {
        size_t i = r.At(x, y);
        uint32_t k = ink[i];
        if (r.alpha[i] == 0 || k == 0) continue;
        uint32_t p = row[x];
        auto dark = [k](uint32_t v) { return v * (255 - k) / 255; };
        row[x] = MakeColor(GetA(p), dark(GetR(p)), dark(GetG(p)), dark(GetB(p)));
      }
    }
  });
  r.Report(95);
  return true;
}

}  // namespace

void ComicPrintHalftone(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview) {
  if (!Source) return;
  ComicRun r;
  r.dest = &Dest;
  r.preview = Preview;
  r.W = Source.width();
  r.H = Source.height();
  const int W = r.W, H = r.H;
  if (W <= 1 || H <= 1) return;
  CheckCancellation();
  r.c = int(Round(P1 * 0.36)) + 4;
  r.dmax = P3 / 100.0;
  r.dmin = std::min(P2 / 100.0, r.dmax);
  r.h = r.c / 2.0;
  r.I = P4 / 50.0;
  r.F = P5;
  const size_t N = size_t(W) * size_t(H);

  auto src = AllocPixels(W, H, false);
  if (!src) return;
  PixelView sv = src->view();
  if (!Source.ReadPixels(ImageInfo::Make(W, H), sv.base, sv.rowBytes, 0, 0)) return;
  r.alpha.resize(N);
  for (int y = 0; y < H; ++y) {
    const uint32_t* row = sv.row(y);
    for (int x = 0; x < W; ++x) r.alpha[r.At(x, y)] = uint8_t(GetA(row[x]));
  }

  // Soft copy: large cells print from a blurred picture so that one dot
  // stands for its whole cell.
  CheckCancellation();
  std::shared_ptr<PixelStore> soft;
  ConstPixelView softView = sv;
  if (r.c >= 9) {
    soft = Blurred(sv, float(r.c / 6.0));
    if (!soft) return;
    softView = soft->view();
  }
  for (auto& pl : r.plane) pl.resize(N);
  Separate(r, softView);
  soft.reset();
  src.reset();

  CheckCancellation();
  auto paper = Surface::MakeRaster(W, H);
  auto screen = Surface::MakeRaster(W, H);
  if (!paper || !screen) return;
  paper->GetCanvas()->Clear(0xFFFFFFFFu);
  Paint multiply;
  multiply.blendMode = BlendMode::Multiply;
  for (int j = 0; j < 4; ++j) {
    const int s = kPrintOrder[j];
    if (r.I < 0.1 && s != 3) continue;
    CheckCancellation();
    PrintScreen(r, j, *screen);
    paper->GetCanvas()->DrawImage(screen->MakeImageSnapshot(), 0, 0, SamplingOptions::Low(), &multiply);
    if (!Preview) {
      Image snap = paper->MakeImageSnapshot();
      QueueOnUi([snap] {
        if (!Driver().Cancel.load()) Driver().UpdateDisplayImage(snap, -1);
      });
    }
  }
  screen.reset();
  for (auto& pl : r.plane) std::vector<uint8_t>().swap(pl);

  // Soften the dot edges a touch, as ink spreads on paper; the softened
  // paper is the halftone result.
  r.halftone = Blurred(paper->PeekPixels(), 0.4f);
  paper.reset();
  if (!r.halftone) return;
  CheckCancellation();
  PixelView hv = r.halftone->view();

  if (r.F > 0 && !Contours(r, Source)) return;

  CheckCancellation();
  // The source's alpha goes back on, premultiplied.
  ParallelFor(0, H, 32, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      uint32_t* row = hv.row(y);
      for (int x = 0; x < W; ++x) {
        const uint32_t a = r.alpha[r.At(x, y)];
        const uint32_t p = row[x];
        if (a == 0)
          row[x] = 0;
        else if (a < 255)
          row[x] = MakeColor(a, GetR(p) * a / 255, GetG(p) * a / 255, GetB(p) * a / 255);
        else
          row[x] = MakeColor(255, GetR(p), GetG(p), GetB(p));
      }
    }
  });
  Image out = Image::MakeFromStore(std::move(r.halftone));
  Canvas* canvas = Dest.GetCanvas();
  canvas->Clear(0x00000000u);
  canvas->DrawImage(out, 0, 0, SamplingOptions::Low());

  if (Preview) {
    LastUIUpdateTick = 0;
    SafeUpdatePreview(&Dest, 101);
  } else {
    SafeUpdateProgress(101);
  }
}

LQ_REGISTER_EFFECT(203, ComicPrintHalftone)

}  // namespace lq
