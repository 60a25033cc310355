// Brushstrokes 2: a painter dragging loaded brushes along the contours.
//
// A flow field (direction and strength of the colour edges) comes first; with
// erase background on, a coarse underpainting is laid at half resolution;
// then 500 passes of strokes follow with a large, a medium and a small brush.
// A stroke is one brush mask stamped along a slowly curving path, carrying a
// small field of colours sampled from the photograph. In evaluation mode a
// stroke stays only when it brings the canvas closer to the photograph; the
// strokes aim preferentially at 32 x 32 blocks still far from it. Finally the
// canvas is sharpened and its saturation adjusted.
//
// Strokes paint opaque colour. The photograph is matched in straight colour,
// and a picture with transparency gets its alpha back at the end, with the
// colour premultiplied again, so no pixel ever carries colour above its alpha.
#include "effects/painting/brushstrokes2.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "effects/painting/brushes/brushes.h"
#include "effects/painting/brushes/finishing.h"
#include "engine/driver.h"
#include "engine/effect_registry.h"
#include "engine/random.h"

namespace lq {

namespace {

constexpr int kPasses = 500;
constexpr int kBlock = 32;

struct TVectorInfo {
  int Length = 0;
  float Angle = 0;  // radians
};

struct TTouchedPixel {
  int X = 0, Y = 0;
  TAlphaColor OldColor = 0;
};

// One brush mask and the pixels of it that carry paint, row by row in runs
// of neighbours.
struct TBrushMask {
  int W = 32, H = 32;
  std::vector<uint8_t> Alpha;
  struct Dot {
    int mx, my;
    uint32_t a;
  };
  std::vector<Dot> dots;
  std::vector<uint64_t> invA;  // per dot, 255 - a in each colour lane (see Spread)
  struct Span {
    int my, mx0, count, first;  // dots first .. first + count - 1
  };
  std::vector<Span> spans;

  void Load(const Image& img) {
    ExtractBrushMask(img, Alpha, W, H);
    dots.clear();
    invA.clear();
    spans.clear();
    for (int my = 0; my < H; ++my)
      for (int mx = 0; mx < W; ++mx) {
        const uint32_t a = Alpha[size_t(my) * W + mx];
        if (!a) continue;
        if (spans.empty() || spans.back().my != my || spans.back().mx0 + spans.back().count != mx)
          spans.push_back({my, mx, 0, int(dots.size())});
        ++spans.back().count;
        dots.push_back({mx, my, a});
        const uint64_t ia = 255 - a;
        invA.push_back(ia | (ia << 16) | (ia << 32));
      }
  }
};

inline int ChannelDiff(uint32_t p, uint32_t q) {
  return std::abs(int(GetR(p)) - int(GetR(q))) + std::abs(int(GetG(p)) - int(GetG(q))) +
         std::abs(int(GetB(p)) - int(GetB(q)));
}

// Colour channels in 16-bit lanes of one word, so that one multiplication
// treats all three: every product stays below 65536.
constexpr uint64_t kLanes = 0x000000FF00FF00FFull;
inline uint64_t Spread(uint32_t c) {
  return uint64_t(c & 0xFFu) | (uint64_t(c & 0xFF00u) << 8) | (uint64_t(c & 0xFF0000u) << 16);
}
inline uint32_t Pack(uint64_t v) {
  return uint32_t(v & 0xFFu) | uint32_t((v >> 8) & 0xFF00u) | uint32_t((v >> 16) & 0xFF0000u);
}
// Exact division by 255 in every lane (lanes hold at most 255 * 255).
inline uint64_t Div255(uint64_t t) { return ((t + 0x0000000100010001ull + ((t >> 8) & kLanes)) >> 8) & kLanes; }

// The mask pixel of alpha a laid with colour b over canvas pixel cv, the whole
// stamp at alpha a0: m = (cv (255 - a) + b a) / 255, then
// ((255 - a0) cv + a0 m) / 255 per channel; the result is opaque. `ba` is
// Spread(b) * a, the same for every stamp of a stroke.
inline uint32_t StrokeBlend(uint32_t cv, uint64_t ba, uint32_t a, uint32_t a0) {
  const uint64_t C = Spread(cv);
  const uint64_t M = Div255(C * (255 - a) + ba);
  return 0xFF000000u | Pack(Div255(C * (255 - a0) + M * a0));
}

// StrokeBlend of a run of n neighbouring canvas pixels with n consecutive
// dots of a mask.
inline void BlendRun(uint32_t* px, const uint64_t* ba, const uint64_t* inva, const TBrushMask::Dot* dots, int n,
                     uint32_t a0) {
  int k = 0;
#if defined(__SSE2__)
  // Two pixels per register, one channel per 16-bit lane; x / 255 is
  // (x * 0x8081) >> 23 for every x below 65536.
  const __m128i zero = _mm_setzero_si128();
  const __m128i vInvA0 = _mm_set1_epi16(short(255 - a0)), vA0 = _mm_set1_epi16(short(a0));
  const __m128i k8081 = _mm_set1_epi16(short(0x8081));
  const __m128i opaque = _mm_set1_epi32(int(0xFF000000u));
  auto two = [&](__m128i c, const uint64_t* b, const uint64_t* ia) {
    const __m128i t = _mm_add_epi16(_mm_mullo_epi16(c, _mm_loadu_si128(reinterpret_cast<const __m128i*>(ia))),
                                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)));
    const __m128i m = _mm_srli_epi16(_mm_mulhi_epu16(t, k8081), 7);
    const __m128i o = _mm_add_epi16(_mm_mullo_epi16(c, vInvA0), _mm_mullo_epi16(m, vA0));
    return _mm_srli_epi16(_mm_mulhi_epu16(o, k8081), 7);
  };
  for (; k + 4 <= n; k += 4) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px + k));
    const __m128i lo = two(_mm_unpacklo_epi8(c, zero), ba + k, inva + k);
    const __m128i hi = two(_mm_unpackhi_epi8(c, zero), ba + k + 2, inva + k + 2);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(px + k), _mm_or_si128(_mm_packus_epi16(lo, hi), opaque));
  }
#else
  (void)inva;
#endif
  for (; k < n; ++k) px[k] = StrokeBlend(px[k], ba[k], dots[k].a, a0);
}

struct TOllivanderRun {
  Surface* Dest = nullptr;
  bool Preview = false;
  int w = 0, h = 0;
  bool HasAlpha = false, DoClear = false, E = false;
  int P3 = 0, P5 = 0;
  TBrushstrokes2Settings st;
  std::vector<uint32_t> src;  // the photograph in straight colour, row-major
  PixelView canvas;           // Dest's pixels
  // The flow field, one entry per pixel, kept in two planes (5 bytes a
  // pixel): strengths never exceed 255.
  std::vector<float> flowAngle;
  std::vector<uint8_t> flowLength;
  TBrushMask masks[3];
  const TBrushMask* mask = nullptr;
  // Undo of one stroke in evaluation mode: the pixels it touched, flagged
  // over the stroke's bounding box, and their colours before it.
  std::vector<IPoint> steps;  // top-left corner of every stamp
  IRect box;
  std::vector<uint8_t> touched;
  std::vector<TTouchedPixel> touchedList;  // never more than the box holds
  size_t touchedCount = 0;
  // The brush's load: per dot of the current mask, Spread(colour) * alpha.
  std::vector<uint64_t> colourBuffer;
  // Blocks.
  int G = 1, Hb = 1;
  std::vector<int64_t> blockError, cumWeight;
  std::vector<int> rejections;
  // Per-pixel draws are many millions: a private stream of the engine's
  // generator, seeded from the shared one, spares the atomic shared word.
  BandRandom rnd;

  uint32_t Src(int x, int y) const { return src[size_t(y) * size_t(w) + size_t(x)]; }
  bool Inside(int x, int y) const { return x >= 0 && x < w && y >= 0 && y < h; }
  bool Interior(int x, int y) const { return x >= 1 && x <= w - 2 && y >= 1 && y <= h - 2; }
  TVectorInfo Flow(int x, int y) const {
    const size_t i = size_t(y) * size_t(w) + size_t(x);
    return {flowLength[i], flowAngle[i]};
  }
  // Pixels under a transparent part of the photograph are never painted.
  bool Paintable(int x, int y) const { return !HasAlpha || (Src(x, y) >> 24) != 0; }
};

// First touch of a pixel by the current stroke: remember its colour.
[[gnu::always_inline]] inline void Touch(TOllivanderRun& r, uint8_t& flag, int X, int Y, uint32_t old) {
  flag = 1;
  r.touchedList[r.touchedCount++] = {X, Y, old};
}

void Report(TOllivanderRun& r, int progress) {
  if (r.Preview)
    SafeUpdatePreview(r.Dest, progress);
  else
    SafeUpdateProgress(progress);
}

// ---------------------------------------------------------------------------
// Flow field

void BuildFlowField(TOllivanderRun& r) {
  const int w = r.w, h = r.h;
  r.flowAngle.assign(size_t(w) * size_t(h), 0.0f);
  r.flowLength.assign(size_t(w) * size_t(h), 0);
  for (int y = 0; y < h; ++y) {
    if (y % 64 == 0) {
      CheckCancellation();
      Report(r, int(Round(double(y) * 5 / h)));
    }
    if (y < 1 || y > h - 2) continue;
    const uint32_t* up = &r.src[size_t(y - 1) * w];
    const uint32_t* mid = &r.src[size_t(y) * w];
    const uint32_t* dn = &r.src[size_t(y + 1) * w];
    float* angle = &r.flowAngle[size_t(y) * w];
    uint8_t* length = &r.flowLength[size_t(y) * w];
    for (int x = 1; x <= w - 2; ++x) {
      int gx = 0, gy = 0;
      for (int sh = 16; sh >= 0; sh -= 8) {  // R, then G, then B
        auto C = [sh](uint32_t p) { return int((p >> sh) & 255u); };
        const int TL = C(up[x - 1]), T = C(up[x]), TR = C(up[x + 1]);
        const int L = C(mid[x - 1]), R = C(mid[x + 1]);
        const int BL = C(dn[x - 1]), B = C(dn[x]), BR = C(dn[x + 1]);
        const int cy = (3 * TL + 10 * T + 3 * TR) - (3 * BL + 10 * B + 3 * BR);
        const int cx = (3 * TL + 10 * L + 3 * BL) - (3 * TR + 10 * R + 3 * BR);
        if (sh == 16 || std::abs(cx) > std::abs(gx)) gx = cx;
        if (sh == 16 || std::abs(cy) > std::abs(gy)) gy = cy;
      }
      const int L = (std::abs(gx) + std::abs(gy)) / 32;  // at most 2 x 16 x 255 / 32 = 255
      length[x] = uint8_t(L);
      // Across the gradient: along the contour. Without a clear edge, any way.
      angle[x] = L > 4 ? float(std::atan2(double(gy), double(gx)) + 1.5707) : float(r.rnd.Unit() * 6.28);
    }
  }
}

// ---------------------------------------------------------------------------
// Underpainting

void Underpaint(TOllivanderRun& r) {
  const int w = r.w, h = r.h;
  int w2 = w / 2, h2 = h / 2, scale = 2;
  if (w2 < 10 || h2 < 10) {
    w2 = w;
    h2 = h;
    scale = 1;
  }
  std::vector<uint32_t> U(size_t(w2) * size_t(h2), 0xFFFFFFFFu);
  const TBrushMask& m = r.masks[0];
  const int W = m.W, H = m.H;
  const int rowsOfCells = h2 / 40;
  for (int i = 0; i <= rowsOfCells; ++i) {
    if (i % 4 == 0) {
      CheckCancellation();
      Report(r, 5 + int(Round(double(i) * 15 / (rowsOfCells + 1))));
    }
    for (int j = 0; j <= w2 / 40; ++j) {
      const int cx = 40 * j, cy = 40 * i;
      const int fx = std::clamp((W / 2 + cx) * 2, 1, w - 2), fy = std::clamp((H / 2 + cy) * 2, 1, h - 2);
      double theta = r.Interior(fx, fy) ? double(r.Flow(fx, fy).Angle) : r.rnd.Unit() * 6.28;
      double drift = r.rnd.Unit() * 0.005 - 0.0025;
      const uint32_t a0 = uint32_t(std::clamp(r.rnd(r.P5 / 10) + 15, 0, 255));
      const uint32_t c = r.Src(std::clamp((W / 2 + cx) * 2, 0, w - 1), std::clamp((H / 2 + cy) * 2, 0, h - 1));
      if (r.HasAlpha && (c >> 24) == 0) continue;
      // The cell's colour, mostly a little lighter (+15), now and then a
      // little darker (0 .. -9).
      uint64_t shade[11];
      for (int k = 0; k < 11; ++k) {
        const int d = k == 0 ? 15 : -(k - 1);
        shade[k] = Spread(MakeColor(255, uint32_t(ClampByte(int(GetR(c)) + d)), uint32_t(ClampByte(int(GetG(c)) + d)),
                                    uint32_t(ClampByte(int(GetB(c)) + d))));
      }
      const int n = r.rnd((w2 + h2) / 128) + r.rnd(20) + 10;
      for (int s = 0; s <= n; ++s) {
        const int tx = cx + int(std::floor(s * std::cos(theta))), ty = cy + int(std::floor(s * std::sin(theta)));
        if (r.rnd(100) > 74) drift += r.rnd.Unit() * 0.003 - 0.0015;
        theta += drift;
        for (const TBrushMask::Span& sp : m.spans) {
          const int Y = ty + sp.my;
          if (Y < 0 || Y >= h2) continue;
          const int xa = std::max(0, tx + sp.mx0), xb = std::min(w2, tx + sp.mx0 + sp.count);
          uint32_t* row = &U[size_t(Y) * size_t(w2)];
          const uint32_t* srow = &r.src[size_t(std::min(Y * scale, h - 1)) * size_t(w)];
          for (int X = xa; X < xb; ++X) {
            if (r.HasAlpha && (srow[std::min(X * scale, w - 1)] >> 24) == 0) continue;
            const TBrushMask::Dot& d = m.dots[size_t(sp.first + X - tx - sp.mx0)];
            const int k = r.rnd(d.mx + d.my + 1) % 3 != 0 ? 0 : 1 + r.rnd(10);
            row[X] = StrokeBlend(row[X], shade[k] * d.a, d.a, a0);
          }
        }
      }
    }
  }
  Image under = Image::MakeFromPixels(w2, h2, std::move(U), true);
  r.Dest->GetCanvas()->DrawImageRect(under, RectF::MakeWH(w, h), SamplingOptions::LinearMipNearest());
}

// ---------------------------------------------------------------------------
// Blocks

void ComputeBlockErrors(TOllivanderRun& r) {
  std::fill(r.blockError.begin(), r.blockError.end(), 0);
  std::fill(r.rejections.begin(), r.rejections.end(), 0);
  for (int y = 0; y < r.h; ++y) {
    const uint32_t* c = r.canvas.row(y);
    const uint32_t* s = &r.src[size_t(y) * size_t(r.w)];
    int64_t* row = &r.blockError[size_t(y / kBlock) * size_t(r.G)];
    for (int x = 0; x < r.w; ++x)
      if (r.Paintable(x, y)) row[x / kBlock] += ChannelDiff(c[x], s[x]);
  }
}

void ComputeWeights(TOllivanderRun& r) {
  int64_t total = 0;
  for (size_t b = 0; b < r.blockError.size(); ++b) {
    int64_t wgt = r.blockError[b];
    if (r.rejections[b] > 20) wgt /= r.rejections[b] / 20 + 1;  // stop insisting where strokes keep failing
    total += std::max<int64_t>(1, wgt);
    r.cumWeight[b] = total;
  }
}

int PickBlock(TOllivanderRun& r) {
  const int64_t total = r.cumWeight.empty() ? 0 : r.cumWeight.back();
  if (total <= 0) return r.rnd(r.G * r.Hb);
  const int64_t t = Trunc(r.rnd.Unit() * double(total));
  return int(std::lower_bound(r.cumWeight.begin(), r.cumWeight.end(), t) - r.cumWeight.begin());
}

size_t BlockOf(const TOllivanderRun& r, int x, int y) { return size_t(y / kBlock) * size_t(r.G) + size_t(x / kBlock); }

// ---------------------------------------------------------------------------
// Strokes

void Stroke(TOllivanderRun& r, int c) {
  const int w = r.w, h = r.h;
  const TBrushMask& m = *r.mask;
  const int W = m.W, H = m.H;

  // Placement: mostly inside a block chosen by its error, else anywhere.
  int x0, y0;
  bool fromBlock = r.rnd(100) < 90;
  if (fromBlock) {
    const int b = PickBlock(r);
    x0 = kBlock * (b % r.G) + r.rnd(kBlock) - W / 2;
    y0 = kBlock * (b / r.G) + r.rnd(kBlock) - H / 2;
  } else {
    x0 = r.rnd(w - 1) - W / 2;
    y0 = r.rnd(h - 1) - H / 2;
  }
  const int cx = x0 + W / 2, cy = y0 + H / 2;
  const bool centreInside = r.Inside(cx, cy);
  // Later passes leave flat areas alone: they follow the edges.
  if (fromBlock) {
    if (c > 50 && centreInside && r.Flow(cx, cy).Length < r.rnd(c / 8)) return;
  } else {
    if (r.rnd(290) < r.st.Rj) return;
    if (c > 50 && (!centreInside || r.Flow(cx, cy).Length < r.rnd(c / 4))) return;
  }

  double theta = r.Interior(cx, cy) ? double(r.Flow(cx, cy).Angle) : r.rnd.Unit() * 6.28;
  const int bias = r.rnd(100) < 70 ? -50 : 100;
  double drift = r.rnd.Unit() * 0.009 - 0.0045;
  const int L = Brushstrokes2StrokeLength(r.st.Ls, centreInside ? r.Flow(cx, cy).Length : 0,
                                          centreInside ? r.rnd((kPasses - c) / r.st.Ls) : 0, centreInside);
  const uint32_t a0 = uint32_t(std::clamp(r.rnd(r.P5 / 2 + c / 30) + r.P5 / 8, 1, 255));

  // The colours the brush is loaded with, one per painted mask pixel, from
  // around where that pixel starts (mask pixels starting outside the picture
  // take the nearest picture colours: they may enter it along the path).
  const int ccx = std::clamp(cx, 0, w - 1), ccy = std::clamp(cy, 0, h - 1);
  // The stroke lands anywhere: ask for its part of the photograph at once
  // rather than wait for it line by line.
  {
    const int xa = std::clamp(x0 - 3, 0, w - 1), xb = std::clamp(x0 + W + 3, 0, w - 1);
    for (int y = std::max(0, y0 - 3); y <= std::min(h - 1, y0 + H + 3); ++y) {
      const uint32_t* row = &r.src[size_t(y) * size_t(w)];
      for (int x = xa; x <= xb + 15; x += 16) __builtin_prefetch(row + std::min(x, xb));
    }
  }
  const int centreLimit = r.P3 / 5 + 80;
  for (size_t i = 0; i < m.dots.size(); ++i) {
    const TBrushMask::Dot& d = m.dots[i];
    const int X = x0 + d.mx, Y = y0 + d.my;
    const int jitter = r.rnd(d.mx + d.my + 1) % 3 != 0 ? 25 : -r.rnd(20);
    int sx, sy;
    if (r.rnd(150) + bias < centreLimit) {
      sx = ccx;
      sy = ccy;
    } else if (r.rnd(100) < r.P3) {
      sx = X + r.rnd(7) - 3;
      sy = Y + r.rnd(7) - 3;
    } else {
      sx = X + r.rnd(3) - 1;
      sy = Y + r.rnd(3) - 1;
    }
    const uint32_t s = r.Src(std::clamp(sx, 0, w - 1), std::clamp(sy, 0, h - 1));
    const uint32_t load = MakeColor(255, uint32_t(ClampByte(int(GetR(s)) + jitter)),
                                    uint32_t(ClampByte(int(GetG(s)) + jitter)), uint32_t(ClampByte(int(GetB(s)) + jitter)));
    r.colourBuffer[i] = Spread(load) * d.a;
  }

  // The walk: the stamps' places first (the path draws its own numbers),
  // then the stamps.
  const bool evaluate = r.E;
  r.steps.clear();
  int left = w, top = h, right = 0, bottom = 0;
  for (int s = 0; s <= L; ++s) {
    const int tx = x0 + int(std::floor(s * std::cos(theta))), ty = y0 + int(std::floor(s * std::sin(theta)));
    if (evaluate) {
      if (r.rnd(100) > 80) drift += r.rnd.Unit() * 0.003 - 0.0015;
    } else if (r.rnd(100) > 85) {
      drift += r.rnd.Unit() * 0.002 - 0.001;
    }
    theta += drift;
    r.steps.push_back({tx, ty});
    left = std::min(left, tx);
    top = std::min(top, ty);
    right = std::max(right, tx + W);
    bottom = std::max(bottom, ty + H);
  }
  IRect& box = r.box;
  box = {left, top, right, bottom};
  if (!box.intersect(IRect::MakeWH(w, h))) return;  // nothing touched: neither kept nor undone
  const int bw = box.width();
  for (int y = box.top; y < box.bottom; ++y) {
    const uint32_t* row = r.canvas.row(y);
    for (int x = box.left; x < box.right + 15; x += 16) __builtin_prefetch(row + std::min(x, box.right - 1), 1);
  }
  if (evaluate) {
    const size_t area = size_t(bw) * size_t(box.height());
    r.touched.assign(area, 0);
    if (r.touchedList.size() < area) r.touchedList.resize(area);
    r.touchedCount = 0;
  }
  for (const IPoint& st : r.steps) {
    const int tx = st.x, ty = st.y;
    if (tx >= w || ty >= h || tx + W <= 0 || ty + H <= 0) continue;
    for (const TBrushMask::Span& sp : m.spans) {
      const int Y = ty + sp.my;
      if (Y < 0 || Y >= h) continue;
      const int xa = std::max(0, tx + sp.mx0), xb = std::min(w, tx + sp.mx0 + sp.count);
      uint32_t* row = r.canvas.row(Y);
      // Flags of this row, indexed by image column.
      uint8_t* trow = evaluate ? r.touched.data() + size_t(Y - box.top) * size_t(bw) - box.left : nullptr;
      const int i0 = sp.first - (tx + sp.mx0);  // dot index of column X is i0 + X
      if (r.HasAlpha) {
        // Pixels under transparent parts of the photograph stay as they are.
        const uint32_t* srow = &r.src[size_t(Y) * size_t(w)];
        for (int X = xa; X < xb; ++X) {
          if ((srow[X] >> 24) == 0) continue;
          if (evaluate && !trow[X]) Touch(r, trow[X], X, Y, row[X]);
          const size_t i = size_t(i0 + X);
          row[X] = StrokeBlend(row[X], r.colourBuffer[i], m.dots[i].a, a0);
        }
        continue;
      }
      if (evaluate) {
        // Most pixels were touched by the previous stamp already.
        int X = xa;
        for (; X + 8 <= xb; X += 8) {
          uint64_t flags;
          std::memcpy(&flags, trow + X, 8);
          if (flags == 0x0101010101010101ull) continue;  // flags are 0 or 1
          for (int j = X; j < X + 8; ++j)
            if (!trow[j]) Touch(r, trow[j], j, Y, row[j]);
        }
        for (; X < xb; ++X)
          if (!trow[X]) Touch(r, trow[X], X, Y, row[X]);
      }
      const size_t i = size_t(i0 + xa);
      BlendRun(row + xa, &r.colourBuffer[i], &m.invA[i], &m.dots[i], xb - xa, a0);
    }
  }
  if (!evaluate || r.touchedCount == 0) return;

  // Keep the stroke only when it brings the canvas closer to the photograph.
  const std::span<const TTouchedPixel> touchedPixels(r.touchedList.data(), r.touchedCount);
  int64_t before = 0, after = 0;
  for (const TTouchedPixel& t : touchedPixels) {
    const uint32_t sp = r.Src(t.X, t.Y);
    before += 32 * ChannelDiff(t.OldColor, sp);
    after += 32 * ChannelDiff(r.canvas.row(t.Y)[t.X], sp);
  }
  const size_t centreBlock = centreInside ? BlockOf(r, cx, cy) : 0;
  if (double(after) * double(r.st.Fa) >= double(before)) {
    for (const TTouchedPixel& t : touchedPixels) r.canvas.row(t.Y)[t.X] = t.OldColor;
    if (centreInside) ++r.rejections[centreBlock];
  } else {
    for (const TTouchedPixel& t : touchedPixels) {
      const uint32_t sp = r.Src(t.X, t.Y);
      int64_t& e = r.blockError[BlockOf(r, t.X, t.Y)];
      e += ChannelDiff(r.canvas.row(t.Y)[t.X], sp) - ChannelDiff(t.OldColor, sp);
      if (e < 0) e = 0;
    }
    if (centreInside) r.rejections[centreBlock] = 0;
  }
}

void UseMask(TOllivanderRun& r, int k) {
  r.mask = &r.masks[k];
  r.colourBuffer.assign(r.mask->dots.size(), 0);
}

// The photograph's alpha back on the opaque canvas, colour premultiplied.
void RestoreAlpha(TOllivanderRun& r) {
  for (int y = 0; y < r.h; ++y) {
    uint32_t* row = r.canvas.row(y);
    const uint32_t* s = &r.src[size_t(y) * size_t(r.w)];
    for (int x = 0; x < r.w; ++x) {
      const uint32_t a = s[x] >> 24;
      if (a == 255) continue;
      const uint32_t straight = Unpremultiply(row[x]);
      row[x] = Premultiply((straight & 0x00FFFFFFu) | (a << 24));
    }
  }
}

}  // namespace

TBrushstrokes2Settings Brushstrokes2Settings(int P1, int P2, int P3, int P4, int /*P5*/) {
  TBrushstrokes2Settings s;
  s.Ls = std::max(1, 28 - P1 / 10);
  s.D = (2 * P2) / 25 + 1;
  s.Rj = 255 - 2 * P2;
  s.Fa = float(P3) / 256.0f + 1.0f;
  s.s = std::clamp(2 * P4 - 100, -100, 100);
  return s;
}

int64_t Brushstrokes2StrokesInPass(int w, int h, int D, int c) {
  const int64_t k = c >= 400 ? 12 : 1;
  return (int64_t(w) * h * D / 48400) * k + 1;
}

int Brushstrokes2StrokeLength(int Ls, int length, int r, bool centreInside) {
  if (!centreInside) return 10;
  return std::clamp(r + length * 2 / std::max(1, Ls), 8, 150);
}

void Ollivander(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview) {
  if (!Source || !Dest.GetCanvas()) return;
  CheckCancellation();
  RequireDestOfSourceSize(Source, Dest);
  TOllivanderRun r;
  r.Dest = &Dest;
  r.Preview = Preview;
  r.w = Source.width();
  r.h = Source.height();
  if (r.w <= 9 || r.h <= 9) {
    FinishUnpainted(Source, Dest, Preview);
    return;
  }
  r.src.resize(size_t(r.w) * size_t(r.h));
  Source.ReadPixels(ImageInfo::Make(r.w, r.h, AlphaType::Unpremul), r.src.data(), size_t(r.w) * 4, 0, 0);
  r.HasAlpha = std::any_of(r.src.begin(), r.src.end(), [](uint32_t p) { return (p >> 24) != 255; });
  r.P3 = P3;
  r.P5 = P5;
  r.st = Brushstrokes2Settings(P1, P2, P3, P4, P5);
  CheckCancellation();

  WorkInProgressDisplay display;
  if (Preview) {
    Dest.GetCanvas()->Clear(0);
    r.DoClear = true;
  } else {
    r.DoClear = PrepareStartCanvas(Dest, Source);
  }
  r.E = !r.DoClear;
  r.canvas = Dest.PeekPixels();

  BuildFlowField(r);
  Image brush[3];
  RunOnUi([&] {
    EffectDriver& d = Driver();
    if (!d.BuiltinImage) return;
    brush[0] = d.BuiltinImage("PaintBrushSim");
    brush[1] = d.BuiltinImage("PaintBrushSim2");
    brush[2] = d.BuiltinImage("PaintBrushSim3");
  });
  for (int k = 0; k < 3; ++k) r.masks[k].Load(brush[k]);
  UseMask(r, 0);

  if (r.DoClear) {
    Underpaint(r);
      if (!Preview && display.Ready()) display.Show(Dest.MakeImageSnapshot(), -1);
  }

  r.G = (r.w + kBlock - 1) / kBlock;
  r.Hb = (r.h + kBlock - 1) / kBlock;
  const size_t blocks = size_t(r.G) * size_t(r.Hb);
  r.blockError.assign(blocks, 0);
  r.cumWeight.assign(blocks, 0);
  r.rejections.assign(blocks, 0);
  ComputeBlockErrors(r);

  for (int c = 0; c < kPasses; ++c) {
    if (c == 50) UseMask(r, 1);
    if (c == 400) UseMask(r, 2);
    if (r.DoClear && c == 15) r.E = true;
    if (c == 5 || c == 10 || c == 15 || c == 50 || c == 200 || c == 400) ComputeBlockErrors(r);
    ComputeWeights(r);
    const int64_t N = Brushstrokes2StrokesInPass(r.w, r.h, r.st.D, c);
    for (int64_t n = 0; n < N; ++n) {
      if (n % 25 == 0) CheckCancellation();
      if (n == 0 && c % 5 == 0) {
        const int p = int(Round(c * 80.0 / kPasses)) + 20;
        if (Preview) {
          SafeUpdatePreview(&Dest, p);
        } else {
          SafeUpdateProgress(p);
          if (c % 10 == 0 && display.Ready()) display.Show(Dest.MakeImageSnapshot(), -1);
        }
      }
      Stroke(r, c);
    }
  }

  CheckCancellation();
  SharpenSurface(Image(), Dest, r.DoClear ? 40 : 10);
  if (r.st.s != 0) VibrancePop(Dest.MakeImageSnapshot(), Dest, 0, r.st.s, 0, 0, 100);
  if (r.HasAlpha) RestoreAlpha(r);
  if (!Preview) {
    SafeUpdateProgress(101);
  } else {
    LastUIUpdateTick = 0;
    SafeUpdatePreview(&Dest, 101);
  }
}

LQ_REGISTER_EFFECT(305, Ollivander)

}  // namespace lq
