// Watercolor 2: flat watercolour washes grown from random seed pixels.
//
// Each seed grows a region of similar colour ring by ring; the part connected
// to the seed is filled with the region's mean colour, modulated by a paper
// texture. Later regions are more tolerant, so the picture fills up with ever
// larger washes. Then brightness, darker edge lines where the colour changes,
// and saturation.
//
// Colour arithmetic works on straight (unpremultiplied) colour and every pixel
// written to the work surface is premultiplied again, so translucent pictures
// keep R, G, B <= A.
#include "effects/painting/watercolor2.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "engine/effect_registry.h"
#include "engine/parallel.h"
#include "engine/pixel.h"
#include "engine/random.h"

#if __has_include("resources/repository.h")
#include "resources/repository.h"
#define LQ_WATERCOLOR2_HAS_REPOSITORY 1
#endif

namespace lq {

namespace watercolor2 {

int SeedProgress(int64_t painted, int64_t pixels) {
  int64_t m = painted * 85 / std::max<int64_t>(1, pixels);
  return int(std::clamp<int64_t>(m, 0, 84));
}

}  // namespace watercolor2

namespace {

constexpr int kOpaqueEnough = 128;
constexpr int kNearWhite = 250;
constexpr int kSeedTries = 501;
constexpr int kSmoothTolerance = 35;
constexpr int kEdgeMin = 8;
// Channel distances never exceed 3 x 255, so a larger tolerance matches everything.
constexpr int kMaxDistance = 3 * 255 + 1;
// Work-in-progress pictures of full runs are copies of the whole surface,
// shown at most every 50 ms like every other display update, and further
// apart when copying them takes long, so that showing never dominates work.
constexpr auto kWipInterval = std::chrono::milliseconds(50);
constexpr int kWipCostFactor = 5;

inline int Clamp254(int v) { return v < 0 ? 0 : (v > 254 ? 254 : v); }

inline int ColorDistance(uint32_t a, uint32_t b) {
  return std::abs(int(GetR(a)) - int(GetR(b))) + std::abs(int(GetG(a)) - int(GetG(b))) +
         std::abs(int(GetB(a)) - int(GetB(b)));
}

// Straight colour with alpha a, premultiplied for the work surface.
inline TAlphaColor PremulColor(uint32_t a, int r, int g, int b) {
  TAlphaColor c = MakeColor(a, uint32_t(r), uint32_t(g), uint32_t(b));
  return a == 255 ? c : Premultiply(c);
}

// The paper texture as a table of byte offsets. The pattern repeats every
// 1023 columns and 767 rows.
struct TPaperTexture {
  static constexpr int kW = 1024, kH = 768;
  std::vector<int8_t> offset;  // index x * kH + y
  bool TextureReady = false;

  int At(int64_t a, int64_t b) const {
    if (!TextureReady) return 0;
    return offset[size_t((a % 1023) * kH + (b % 767))];
  }
};

// The paper picture from the host's embedded pictures (tools and tests may
// supply their own); the repository itself when the host has none. Read on
// the UI thread, which owns the hook.
Image PaperPicture() {
  Image pic;
  bool hosted = false;
  RunOnUi([&] {
    EffectDriver& d = Driver();
    hosted = bool(d.BuiltinImage);
    if (hosted) pic = d.BuiltinImage(watercolor2::kPaperTextureName);
  });
#ifdef LQ_WATERCOLOR2_HAS_REPOSITORY
  if (!hosted) pic = Repository().Picture(watercolor2::kPaperTextureName);
#endif
  return pic;
}

void BuildPaperTexture(TPaperTexture& t) {
  t.TextureReady = false;
  Image pic = PaperPicture();
  if (!pic || pic.width() <= 0 || pic.height() <= 0) return;
  const int cw = std::min(pic.width() - 1, TPaperTexture::kW - 1) + 1;
  const int ch = std::min(pic.height() - 1, TPaperTexture::kH - 1) + 1;
  std::vector<uint32_t> px(size_t(cw) * size_t(ch));
  if (!pic.ReadPixels(ImageInfo::Make(cw, ch), px.data(), size_t(cw) * 4, 0, 0)) return;
  std::vector<uint8_t> table(size_t(TPaperTexture::kW) * TPaperTexture::kH, 128);
  int64_t sum = 0;
  for (int y = 0; y < ch; ++y)
    for (int x = 0; x < cw; ++x) {
      uint8_t v = uint8_t(GetR(px[size_t(y) * cw + x]));
      table[size_t(x) * TPaperTexture::kH + y] = v;
      sum += v;
    }
  const int mean = int(Round(double(sum) / (double(cw) * double(ch))));
  t.offset.resize(table.size());
  for (size_t i = 0; i < table.size(); ++i) t.offset[i] = int8_t((mean - int(table[i])) * 75 / 255);
  t.TextureReady = true;
}

// Unpainted pixels as bits, by rows and (transposed) by columns. Earlier
// washes leave a ring's runs unchanged, so ring sides jump over them a word
// at a time; late in a run most of every ring lies on painted paper.
struct TUnpaintedBits {
  size_t rowWords = 0, colWords = 0;
  std::vector<uint64_t> rows, cols;

  void Init(int w, int h) {
    rowWords = (size_t(w) + 63) / 64;
    colWords = (size_t(h) + 63) / 64;
    rows.assign(rowWords * size_t(h), 0);
    cols.assign(colWords * size_t(w), 0);
    for (int y = 0; y < h; ++y) SetRange(&rows[size_t(y) * rowWords], w);
    for (int x = 0; x < w; ++x) SetRange(&cols[size_t(x) * colWords], h);
  }
  static void SetRange(uint64_t* words, int n) {
    for (int k = 0; k < n / 64; ++k) words[k] = ~uint64_t(0);
    if (n % 64) words[n / 64] = (uint64_t(1) << (n % 64)) - 1;
  }
  void Clear(int x, int y) {
    rows[size_t(y) * rowWords + size_t(x) / 64] &= ~(uint64_t(1) << (x % 64));
    cols[size_t(x) * colWords + size_t(y) / 64] &= ~(uint64_t(1) << (y % 64));
  }
  const uint64_t* Row(int y) const { return &rows[size_t(y) * rowWords]; }
  const uint64_t* Column(int x) const { return &cols[size_t(x) * colWords]; }
};

// Calls f(position) for the set bits in positions a..b, in increasing order,
// while f returns true.
template <typename F>
inline void ForEachSetBit(const uint64_t* words, int a, int b, F&& f) {
  const int ka = a >> 6, kb = b >> 6;
  for (int k = ka; k <= kb; ++k) {
    uint64_t m = words[k];
    if (k == ka) m &= ~uint64_t(0) << (a & 63);
    if (k == kb) m &= ~uint64_t(0) >> (63 - (b & 63));
    while (m) {
      if (!f(k * 64 + std::countr_zero(m))) return;
      m &= m - 1;
    }
  }
}

// Per-run state of one RegionGrowing call.
struct TRegionGrowingRun {
  int w = 0, h = 0;
  int64_t pixels = 0;
  bool Preview = false;
  int P2 = 0;

  TPaperTexture paper;
  std::vector<uint8_t> alpha;  // source alpha per pixel
  std::vector<uint32_t> src;   // smoothed source, straight colour with its alpha
  std::vector<uint32_t> srcT;  // the same by columns: ring sides read both ways sequentially
  std::vector<uint8_t> Painted;
  TUnpaintedBits unpainted;
  std::vector<uint8_t> Mark;  // 2 in the flooded region, else 0
  std::vector<int32_t> queue;
  std::vector<int> colSum;

  // The region of the current seed iteration.
  int seedX = 0, seedY = 0;
  uint32_t seedColor = 0;
  int64_t growth = 0;  // extra tolerance of later iterations
  int Rlast = 0;

  std::unique_ptr<Surface> WorkSurf;
  PixelView work;
  Image Snap;
  bool HasTransparency = false;
  bool DoClear = false;
  int64_t count = 0;

  bool showWip = false;
  std::chrono::steady_clock::time_point nextWip;

  bool OpaqueEnough(size_t i) const { return alpha[i] >= kOpaqueEnough; }
  uint32_t& WorkAt(int x, int y) const { return work.row(y)[x]; }

  void Smooth(const std::vector<uint32_t>& orig);
  void ReportSeeding();
  bool SeedIteration(int64_t n, int coverageGoal, int64_t areaUnit);
  void Transpose();
  int Threshold(int r) const;
  bool IsCandidate(size_t i, int px, int py) const;
  int GrowRings();
  void PaintRegion();
  void PaintPixel(size_t i, int px, int py, int ox, int oy, int R, int G, int B);
  void FinishEdges(int cap);
};

// 5 x 5 average over opaque-enough neighbours of similar colour: evens out
// noise before regions are compared against their seed.
void TRegionGrowingRun::Smooth(const std::vector<uint32_t>& orig) {
  ParallelFor(0, h, 8, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      const int ya = std::max(0, y - 2), yb = std::min(h - 1, y + 2);
      for (int x = 0; x < w; ++x) {
        const size_t i = size_t(y) * w + x;
        const uint32_t c = orig[i];
        if (alpha[i] < kOpaqueEnough) {
          src[i] = c;
          continue;
        }
        const int xa = std::max(0, x - 2), xb = std::min(w - 1, x + 2);
        int sr = 0, sg = 0, sb = 0, n = 0;
        for (int yy = ya; yy <= yb; ++yy) {
          const size_t row = size_t(yy) * w;
          for (int xx = xa; xx <= xb; ++xx) {
            const size_t j = row + xx;
            if (alpha[j] < kOpaqueEnough) continue;
            const uint32_t d = orig[j];
            if (ColorDistance(c, d) > kSmoothTolerance) continue;
            sr += int(GetR(d));
            sg += int(GetG(d));
            sb += int(GetB(d));
            ++n;
          }
        }
        src[i] = MakeColor(GetA(c), uint32_t(sr / n), uint32_t(sg / n), uint32_t(sb / n));
      }
    }
  });
}

void TRegionGrowingRun::ReportSeeding() {
  CheckCancellation();
  const int m = watercolor2::SeedProgress(count, pixels);
  if (Preview) {
    SafeUpdatePreview(WorkSurf.get(), m);
    return;
  }
  SafeUpdateProgress(m);
  if (!showWip) return;
  const auto start = std::chrono::steady_clock::now();
  if (start < nextWip) return;
  WorkSurf->Flush();
  Snap = WorkSurf->MakeImageSnapshot();
  RunOnUi([this] {
    EffectDriver& d = Driver();
    if (!d.Cancel.load()) d.UpdateDisplayImage(Snap, -1);
  });
  const auto end = std::chrono::steady_clock::now();
  nextWip = end + std::max<std::chrono::steady_clock::duration>(kWipInterval, (end - start) * kWipCostFactor);
}

void TRegionGrowingRun::Transpose() {
  srcT.resize(src.size());
  constexpr int kBlock = 32;
  ParallelFor(0, (w + kBlock - 1) / kBlock, 1, [&](int b0, int b1) {
    for (int b = b0; b < b1; ++b) {
      const int x0 = b * kBlock, x1 = std::min(w, x0 + kBlock);
      for (int y = 0; y < h; ++y) {
        const uint32_t* row = &src[size_t(y) * w];
        for (int x = x0; x < x1; ++x) srcT[size_t(x) * h + y] = row[x];
      }
    }
  });
}

// Colour tolerance on the ring at distance r: tight near the seed, looser
// for later seeds.
inline int TRegionGrowingRun::Threshold(int r) const {
  const int64_t thr = int64_t(std::max(P2 - r, P2 / 8)) + 1 + growth;
  return int(std::min<int64_t>(thr, kMaxDistance));
}

// A pixel is a candidate of the region when it matches the seed on its own
// ring: unpainted, opaque enough, within the tolerance of the ring at its
// distance, and on a ring the growth reached. Growth decides per whole ring,
// so this is exactly the set of pixels a full scan of the rings would mark.
inline bool TRegionGrowingRun::IsCandidate(size_t i, int px, int py) const {
  const int r = std::max(std::abs(px - seedX), std::abs(py - seedY));
  if (r > Rlast || Painted[i]) return false;
  const uint32_t c = src[i];
  return GetA(c) >= kOpaqueEnough && ColorDistance(c, seedColor) < Threshold(r);
}

// Grows square rings around the seed until too few consecutive pixels on
// their sides still match; returns the last radius visited. Painted pixels
// neither break nor extend a run, so the sides skip them. A ring only has to
// show that its runs add up to the limit; once they do, the rest of it cannot
// change the outcome (the region's pixels are found again by the flood).
int TRegionGrowingRun::GrowRings() {
  const int x = seedX, y = seedY;
  const uint32_t S = seedColor;
  const int Rmax = std::max({x, w - 1 - x, y, h - 1 - y});
  int last = 0;
  for (int r = 1; r <= Rmax; ++r) {
    last = r;
    const int thr = Threshold(r);
    const int xa = std::max(0, x - r), xb = std::min(w - 1, x + r);
    const int ya = std::max(0, y - r), yb = std::min(h - 1, y + r);
    const int limit = r < 20 ? 4 : 11;
    int total = 0;
    auto side = [&](const uint64_t* bits, const uint32_t* line, int a, int b) {
      if (total >= limit) return;
      int run = 0, best = 0;
      ForEachSetBit(bits, a, b, [&](int k) {
        const uint32_t c = line[k];
        if (GetA(c) >= kOpaqueEnough && ColorDistance(c, S) < thr) {
          if (++run > best) best = run;
        } else {
          run = 0;
        }
        return total + best < limit;
      });
      total += best;
    };
    if (y - r >= 0) side(unpainted.Row(y - r), &src[size_t(y - r) * w], xa, xb);
    if (y + r < h) side(unpainted.Row(y + r), &src[size_t(y + r) * w], xa, xb);
    if (x - r >= 0) side(unpainted.Column(x - r), &srcT[size_t(x - r) * h], ya, yb);
    if (x + r < w) side(unpainted.Column(x + r), &srcT[size_t(x + r) * h], ya, yb);
    if (total < limit) break;
  }
  return last;
}

void TRegionGrowingRun::PaintPixel(size_t i, int px, int py, int ox, int oy, int R, int G, int B) {
  const int o = paper.At(int64_t(ox) + px, int64_t(oy) + py);
  WorkAt(px, py) = PremulColor(alpha[i], Clamp254(R + o), Clamp254(G + o), Clamp254(B + o));
  Painted[i] = 1;
  unpainted.Clear(px, py);
  ++count;
}

// Floods the candidates connected to the seed and paints them, then closes
// small holes inside the region's bounding box.
void TRegionGrowingRun::PaintRegion() {
  const int x = seedX, y = seedY;
  const int32_t seed = int32_t(size_t(y) * w + x);
  queue.clear();
  Mark[size_t(seed)] = 2;
  queue.push_back(seed);
  int minx = x, maxx = x, miny = y, maxy = y;
  for (size_t head = 0; head < queue.size(); ++head) {
    const int32_t p = queue[head];
    const int py = p / w, px = p - py * w;
    minx = std::min(minx, px);
    maxx = std::max(maxx, px);
    miny = std::min(miny, py);
    maxy = std::max(maxy, py);
    auto visit = [&](int32_t q, int qx, int qy) {
      if (Mark[size_t(q)] == 0 && IsCandidate(size_t(q), qx, qy)) {
        Mark[size_t(q)] = 2;
        queue.push_back(q);
      }
    };
    if (px > 0) visit(p - 1, px - 1, py);
    if (px < w - 1) visit(p + 1, px + 1, py);
    if (py > 0) visit(p - w, px, py - 1);
    if (py < h - 1) visit(p + w, px, py + 1);
  }
  if (queue.size() <= 3) return;

  // Sums in 64 bits: a wash may cover tens of millions of pixels.
  int64_t sr = 0, sg = 0, sb = 0;
  for (int32_t p : queue) {
    const uint32_t c = src[size_t(p)];
    sr += GetR(c);
    sg += GetG(c);
    sb += GetB(c);
  }
  const int64_t n = int64_t(queue.size());
  const int j = Random(24) - 8;
  const int R = Clamp254(int(sr / n) + j), G = Clamp254(int(sg / n) + j), B = Clamp254(int(sb / n) + j);
  const int ox = x + R, oy = y + R;
  for (int32_t p : queue) {
    const int py = p / w, px = p - py * w;
    PaintPixel(size_t(p), px, py, ox, oy, R, G, B);
  }

  // Hole filling: count flooded pixels in each 5 x 5 window with running
  // column sums over the bounding box. Filled holes keep their Mark, so the
  // counts do not depend on the order of filling.
  const int fx0 = minx + 2, fx1 = maxx - 2, fy0 = miny + 2, fy1 = maxy - 2;
  if (fx0 > fx1 || fy0 > fy1) return;
  const int bw = maxx - minx + 1;
  colSum.assign(size_t(bw), 0);
  auto addRow = [&](int yy, int sign) {
    const uint8_t* m = &Mark[size_t(yy) * w + minx];
    for (int k = 0; k < bw; ++k) colSum[size_t(k)] += sign * int(m[k] == 2);
  };
  for (int yy = miny; yy < fy0 + 2; ++yy) addRow(yy, 1);
  for (int py = fy0; py <= fy1; ++py) {
    addRow(py + 2, 1);
    int s = colSum[0] + colSum[1] + colSum[2] + colSum[3];
    const size_t row = size_t(py) * w;
    for (int px = fx0; px <= fx1; ++px) {
      const int k = px - minx;
      s += colSum[size_t(k + 2)];
      const size_t i = row + px;
      if (s > 7 && alpha[i] >= kOpaqueEnough && !Painted[i]) PaintPixel(i, px, py, ox, oy, R, G, B);
      s -= colSum[size_t(k - 2)];
    }
    addRow(py - 2, -1);
  }
}

// One seed iteration; false ends the seeding.
bool TRegionGrowingRun::SeedIteration(int64_t n, int coverageGoal, int64_t areaUnit) {
  int x = -1, y = -1;
  for (int t = 0; t < kSeedTries; ++t) {
    const int cx = Random(w);
    const int cy = Random(h);
    const size_t i = size_t(cy) * w + cx;
    if (!OpaqueEnough(i) || Painted[i]) continue;
    const uint32_t c = src[i];
    if (GetR(c) < kNearWhite || GetG(c) < kNearWhite || GetB(c) < kNearWhite) {
      x = cx;
      y = cy;
      break;
    }
  }
  if (x < 0) return false;
  if (coverageGoal < count / areaUnit) return false;

  seedX = x;
  seedY = y;
  seedColor = src[size_t(y) * w + x];
  growth = int64_t(P2 + 1) * n / (Preview ? 32 : 512);
  Rlast = GrowRings();
  if (Rlast > 7) {
    PaintRegion();
    for (int32_t p : queue) Mark[size_t(p)] = 0;
  }
  return true;
}

// Sobel edge strength on the source colour, darkened where the picture is
// bright less than where it is dark, capped; drawn where edges form lines.
void TRegionGrowingRun::FinishEdges(int cap) {
  std::vector<uint8_t> edge(size_t(pixels), 0);
  ParallelFor(1, h - 1, 16, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      for (int x = 1; x < w - 1; ++x) {
        const size_t i = size_t(y) * w + x;
        if (alpha[i] < kOpaqueEnough || alpha[i - 1] < kOpaqueEnough || alpha[i + 1] < kOpaqueEnough ||
            alpha[i - size_t(w)] < kOpaqueEnough || alpha[i + size_t(w)] < kOpaqueEnough)
          continue;
        const uint32_t TL = src[i - w - 1], T = src[i - w], TR = src[i - w + 1];
        const uint32_t L = src[i - 1], C = src[i], Rt = src[i + 1];
        const uint32_t BL = src[i + w - 1], Bm = src[i + w], BR = src[i + w + 1];
        int sum = 0;
        for (int sh = 0; sh <= 16; sh += 8) {
          auto ch = [sh](uint32_t c) { return int((c >> sh) & 255u); };
          const int gx = (ch(TR) + 2 * ch(Rt) + ch(BR)) - (ch(TL) + 2 * ch(L) + ch(BL));
          const int gy = (ch(BL) + 2 * ch(Bm) + ch(BR)) - (ch(TL) + 2 * ch(T) + ch(TR));
          sum += std::abs(gx) + std::abs(gy);
        }
        int v = sum / 6;
        const int lum = (int(GetR(C)) + int(GetG(C)) + int(GetB(C))) / 3;
        v = v * (356 - lum) / 256;
        edge[i] = uint8_t(std::min(v, cap));
      }
    }
  });
  ParallelFor(1, h - 1, 16, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      for (int x = 1; x < w - 1; ++x) {
        const size_t i = size_t(y) * w + x;
        const int v = edge[i];
        if (v < kEdgeMin || !(Painted[i] || DoClear)) continue;
        int around = 0;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx)
            if ((dx || dy) && edge[size_t(int64_t(i) + int64_t(dy) * w + dx)] >= kEdgeMin) ++around;
        if (around < 3) continue;
        uint32_t& p = WorkAt(x, y);
        const uint32_t a = GetA(p);
        if (a == 0) continue;
        const TAlphaColor c = Unpremultiply(p);
        p = PremulColor(a, std::max(0, int(GetR(c)) - v), std::max(0, int(GetG(c)) - v),
                        std::max(0, int(GetB(c)) - v));
      }
    }
  });
}

// Copies Source unchanged: there is nothing to paint on a picture this small.
void CopySource(const Image& Source, Surface& Dest, bool Preview) {
  Canvas* c = Dest.GetCanvas();
  c->Clear(0);
  c->DrawImage(Source, 0, 0);
  Dest.Flush();
  if (Preview) {
    LastUIUpdateTick = 0;
    SafeUpdatePreview(&Dest, 101);
  } else {
    SafeUpdateProgress(101);
  }
}

}  // namespace

void RegionGrowing(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview) {
  // Parameters. Bt is taken from the exact decimal product, so P3 = 50 gives
  // 127.5, which rounds to the even 128.
  const int coverageGoal = int(Round(P1 * 14 / 10.0));
  const int Bt = int(Round(P3 * 255 / 100.0));
  const int shift = Bt - 127;
  const float e = float(P4) / 50.0f;
  const int edgeCap = int(Round(65.0 * double(e)));
  const int s = 2 * P5 - 100;
  const double satFactor = 1.0 + s / 100.0;

  // A. Set-up.
  if (!Source) return;
  CheckCancellation();
  TRegionGrowingRun st;
  st.Preview = Preview;
  st.P2 = P2;
  BuildPaperTexture(st.paper);

  const int w = Source.width(), h = Source.height();
  if (w <= 3 || h <= 3) {
    CopySource(Source, Dest, Preview);
    return;
  }
  st.w = w;
  st.h = h;
  st.pixels = int64_t(w) * h;
  const size_t N = size_t(st.pixels);
  std::vector<uint32_t> orig(N);
  if (!Source.ReadPixels(ImageInfo::Make(w, h, AlphaType::Unpremul), orig.data(), size_t(w) * 4, 0, 0)) return;

  st.alpha.resize(N);
  for (size_t i = 0; i < N; ++i) {
    st.alpha[i] = uint8_t(GetA(orig[i]));
    st.HasTransparency |= st.alpha[i] != 255;
  }
  CheckCancellation();

  st.src.resize(N);
  st.Smooth(orig);
  orig = std::vector<uint32_t>();
  st.Transpose();

  st.WorkSurf = Surface::MakeRaster(w, h);
  if (!st.WorkSurf) throw std::bad_alloc();  // a failure, not an empty painting
  const TAlphaColor underpaint = st.HasTransparency ? 0x00000000u : 0xFFFFFFFFu;
  if (!Preview) {
    RunOnUi([&] {
      EffectDriver& d = Driver();
      st.DoClear = d.FEraseBdChecked.load();
      Canvas* c = st.WorkSurf->GetCanvas();
      if (st.DoClear) {
        c->Clear(underpaint);
      } else if (Image start = d.StartImage()) {
        c->Clear(0);
        c->DrawImage(start, 0, 0);
      }
    });
  } else {
    st.WorkSurf->GetCanvas()->Clear(underpaint);
    st.DoClear = true;
  }
  st.WorkSurf->Flush();
  st.work = st.WorkSurf->PeekPixels();

  if (!Preview) {
    // Only a full run of the main window puts work in progress on display.
    RunContext* ctx = CurrentRun();
    st.showWip = ctx && ctx->kind == RunKind::Full && !Driver().ManualBrushMode.load();
  }

  st.Painted.assign(N, 0);
  st.unpainted.Init(w, h);
  st.Mark.assign(N, 0);
  const int64_t iterations = (int64_t(w) + h) * 100;
  const int64_t areaUnit = std::max<int64_t>(1, st.pixels / 140);

  // B. Seed iterations.
  for (int64_t n = 0; n <= iterations; ++n) {
    if (n % 256 == 0)
      st.ReportSeeding();
    else
      CheckCancellation();  // one iteration may scan much of a large picture
    if (!st.SeedIteration(n, coverageGoal, areaUnit)) break;
  }

  // C. Finishing.
  CheckCancellation();
  if (Preview)
    SafeUpdatePreview(st.WorkSurf.get(), 85);
  else
    SafeUpdateProgress(85);

  if (st.DoClear) {
    ParallelFor(0, h, 16, [&](int y0, int y1) {
      for (int y = y0; y < y1; ++y)
        for (int x = 0; x < w; ++x) {
          const size_t i = size_t(y) * w + x;
          if (!st.OpaqueEnough(i) || st.Painted[i]) continue;
          const int o = st.paper.At(x, y);
          const uint32_t c = st.src[i];
          st.WorkAt(x, y) = PremulColor(st.alpha[i], Clamp254(int(GetR(c)) + o), Clamp254(int(GetG(c)) + o),
                                        Clamp254(int(GetB(c)) + o));
        }
    });
  }
  CheckCancellation();

  // Applies f to the straight colour of every visible pixel this run owns:
  // painted ones, or all of them when the background was erased.
  auto adjust = [&](auto f) {
    ParallelFor(0, h, 16, [&](int y0, int y1) {
      for (int y = y0; y < y1; ++y) {
        uint32_t* row = st.work.row(y);
        const uint8_t* painted = &st.Painted[size_t(y) * w];
        for (int x = 0; x < w; ++x) {
          const uint32_t a = GetA(row[x]);
          if (a <= 9 || !(painted[x] || st.DoClear)) continue;
          const TAlphaColor c = Unpremultiply(row[x]);
          int r = int(GetR(c)), g = int(GetG(c)), b = int(GetB(c));
          f(r, g, b);
          row[x] = PremulColor(a, r, g, b);
        }
      }
    });
  };

  if (shift != 0) {
    adjust([shift](int& r, int& g, int& b) {
      r = ClampByte(r + shift);
      g = ClampByte(g + shift);
      b = ClampByte(b + shift);
    });
  }
  if (Preview)
    SafeUpdatePreview(st.WorkSurf.get(), 90);
  else
    SafeUpdateProgress(90);

  if (e > 0.01f) st.FinishEdges(edgeCap);

  CheckCancellation();
  if (s != 0) {
    adjust([satFactor](int& r, int& g, int& b) {
      const float L = float(0.299 * r + 0.587 * g + 0.114 * b);
      const double l = double(L);
      r = ClampByte(int(Round(l + (r - l) * satFactor)));
      g = ClampByte(int(Round(l + (g - l) * satFactor)));
      b = ClampByte(int(Round(l + (b - l) * satFactor)));
    });
  }

  st.WorkSurf->Flush();
  if (Dest.width() != w || Dest.height() != h) {
    Dest.GetCanvas()->Clear(0);
    Dest.Flush();
  }
  Dest.WritePixels(ImageInfo::Make(w, h), st.work.base, st.work.rowBytes, 0, 0);
  if (Preview) {
    LastUIUpdateTick = 0;
    SafeUpdatePreview(&Dest, 101);
  } else {
    SafeUpdateProgress(101);
  }
}

LQ_REGISTER_EFFECT(301, RegionGrowing)

}  // namespace lq
