// Smooth painting: painting by template matching. One stroke shape of the
// template atlas is prepared in seven orientations; every pixel finds the
// orientation whose footprint covers the most uniform colour, the best fits on
// a fine grid become strokes in the mean colour under them, drawn from the
// worst fit to the best. Four inner passes refine the result, a fill pass
// flattens areas the strokes left too light and a despeckle pass removes
// bright specks; outer passes repeat all of it on the previous result.
#include "effects/painting/smooth_painting.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <numbers>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "effects/painting/brushes/brushes.h"
#include "engine/driver.h"
#include "engine/effect_registry.h"
#include "engine/parallel.h"
#include "engine/random.h"

namespace lq {

namespace {

constexpr int NumOrientations = 7;
constexpr int kInnerPasses = 4;
constexpr int64_t kNoMatch = 999999999;
constexpr int kTemplateCell = 250;

// One pixel of a brush footprint, relative to the footprint centre.
struct TBrushPixelOffset {
  int64_t Offset;  // in pixels of the matched image's rows: dY * row stride + dX
  int16_t dX, dY;
  uint8_t Alpha;
};

// Best orientation found for one pixel.
struct TMatch {
  int64_t Score;
  int32_t BrushAngle;  // orientation index
  uint8_t R, G, B, A;  // mean colour under the footprint; A = 255 when matched
};

struct TScoredStroke {
  int32_t X, Y;  // top-left of the stroke image
  int32_t brushIdx;
  TAlphaColor Color;
  int64_t Score;
};

// A stroke as drawn: the kept strokes in drawing order.
struct TDrawStroke {
  int32_t X, Y;
  TAlphaColor Color;
  int32_t brushIdx;
};

// A horizontal run of footprint pixels: the mean needs sums over the
// footprint, and a run's sum is a difference of two row prefix sums.
struct TRun {
  int64_t start, end;    // the two prefix sums, relative to the centre's entry
  int16_t dY, dX0, dX1;  // the pixels dX0 .. dX1 - 1 of row dY
  int32_t first;         // index of its first pixel in the footprint's offsets
};

// A painted pixel of a stroke image, relative to its top-left corner.
struct TInk {
  int16_t x, y;
  uint8_t a;
};

// Consecutive ink pixels of one row: ink[first .. first + len - 1].
struct TInkSpan {
  int16_t y, x, len;
  int32_t first;
};

struct TOrientation {
  std::vector<TBrushPixelOffset> offsets;  // alpha > 9: the footprint that is matched
  std::vector<TRun> runs;                  // the same pixels by rows
  // The same offsets padded to a multiple of four with weightless entries,
  // and per pixel the alpha as four 16-bit weights (R, G, B, 0) for the error loop.
  std::vector<int64_t> off;
  std::vector<int16_t> weights;
  // The footprint rows in blocks of four neighbouring pixels, each read with
  // one load: per block its offset and, per pixel, four weights as above;
  // pixels outside the footprint or already in an earlier block weigh 0.
  std::vector<int64_t> blockOff;
  std::vector<int16_t> blockWeights;
  uint64_t meanScale = 0;  // ceil(2^42 / pixel count): divides a channel sum exactly
  // outCost[i]: what offsets 0 .. i - 1 add to the error when they all lie
  // outside the picture.
  std::vector<int64_t> outCost;
  std::vector<TInk> ink;  // every pixel with paint: what drawing the stroke lays down
  std::vector<TInkSpan> spans;      // the same pixels as row runs
  std::vector<uint16_t> inkAlpha4;  // per ink pixel its alpha four times, for vector blending
};

struct TTemplateMatchingRun {
  Surface* Dest = nullptr;
  bool Preview = false;
  bool ShowsWork = false;  // full runs hand work in progress to the display
  Image AtlasImage;
  int c = 8, HalfSize = 4, OuterPasses = 1;
  int w = 0, h = 0;
  std::array<TOrientation, NumOrientations> Brushes;
  std::vector<TMatch> MatchTable;
  std::vector<uint8_t> ContrastMap;
  ConstPixelView Pixels;           // the image being matched (PixelsBase, SrcRowBytes)
  std::vector<uint64_t> RowSums;   // per row, prefix sums of R, G, B packed 21 bits apart
  int64_t Accumulated = 0, Total = 1;
  uint32_t LastDisplay = 0;
  Image snap;
};

// --- Progress and display -------------------------------------------------

void UpdateProgress(TTemplateMatchingRun& r, int v) {
  v = std::clamp(v, 0, 101);
  if (r.Preview)
    SafeUpdatePreview(r.Dest, v);
  else
    SafeUpdateProgress(v);
}

void AddProgress(TTemplateMatchingRun& r, int units) {
  r.Accumulated += units;
  UpdateProgress(r, int(Round(double(r.Accumulated) / double(r.Total) * 100)));
}

void UpdateDisplay(TTemplateMatchingRun& r, bool forced) {
  if (!r.ShowsWork) return;
  uint32_t now = GetTickCount();
  if (!forced && uint32_t(now - r.LastDisplay) <= 1000) return;
  r.Dest->Flush();
  r.snap = r.Dest->MakeImageSnapshot();
  Image shown = r.snap;
  RunOnUi([&] {
    if (!Driver().Cancel.load()) Driver().UpdateDisplayImage(shown, -1);
  });
  r.LastDisplay = GetTickCount();
}

// --- Brushes ---------------------------------------------------------------

// The stroke of atlas column 1, row `row`, in seven orientations of c x c pixels.
void PrepareBrushes(TTemplateMatchingRun& r, int row) {
  const int c = r.c, H = r.HalfSize;
  const int64_t stride = int64_t(r.Pixels.rowBytes / 4);
  Paint paint;
  paint.antiAlias = true;
  // White, alpha = 1 - luminance of the atlas: its dark strokes become the brush.
  paint.colorFilter = ColorFilter::MakeMatrix({0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1,  //
                                               -0.299f, -0.587f, -0.114f, 0, 1});
  const RectF cell = RectF::MakeXYWH(kTemplateCell, double(kTemplateCell) * row, kTemplateCell, kTemplateCell);
  for (int i = 0; i < NumOrientations; ++i) {
    auto s = MakeWorkSurface(c, c);
    Canvas* cv = s->GetCanvas();
    cv->Clear(0);
    cv->Save();
    cv->Translate(c / 2.0, c / 2.0);
    cv->Rotate(i * 180.0 / NumOrientations + 90.0);
    cv->Translate(-c / 2.0, -c / 2.0);
    cv->DrawImageRect(r.AtlasImage, cell, RectF::MakeWH(c, c), SamplingOptions::High(), &paint);
    cv->Restore();
    Image img = s->MakeImageSnapshot();

    TOrientation& o = r.Brushes[size_t(i)];
    o = TOrientation();
    ConstPixelView v = img.PeekPixels();
    for (int y = 0; y < c; ++y) {
      int runStart = -1;
      for (int x = 0; x <= c; ++x) {
        uint32_t a = x < c ? GetA(v.at(x, y)) : 0;
        if (x < c && a > 0) o.ink.push_back({int16_t(x), int16_t(y), uint8_t(a)});
        bool in = a > 9;
        if (in) {
          TBrushPixelOffset p;
          p.dX = int16_t(x - H);
          p.dY = int16_t(y - H);
          p.Alpha = uint8_t(a);
          p.Offset = int64_t(p.dY) * stride + p.dX;
          o.offsets.push_back(p);
          o.off.push_back(p.Offset);
          for (int16_t wgt : {int16_t(a), int16_t(a), int16_t(a), int16_t(0)}) o.weights.push_back(wgt);
          if (runStart < 0) runStart = x;
        } else if (runStart >= 0) {
          const int64_t dy = y - H, rowStart = dy * (r.w + 1);
          o.runs.push_back({rowStart + runStart - H, rowStart + x - H, int16_t(dy), int16_t(runStart - H),
                            int16_t(x - H), int32_t(o.offsets.size()) - (x - runStart)});
          runStart = -1;
        }
      }
    }
    for (size_t k = 0; k < o.ink.size(); ++k) {
      const TInk& in = o.ink[k];
      for (int j = 0; j < 4; ++j) o.inkAlpha4.push_back(in.a);
      TInkSpan* last = o.spans.empty() ? nullptr : &o.spans.back();
      if (last && last->y == in.y && last->x + last->len == in.x)
        ++last->len;
      else
        o.spans.push_back({in.y, in.x, 1, int32_t(k)});
    }
    // Blocks start at the row's first footprint pixel; the last one of a row
    // is moved left to end inside the c x c box, so it never reads beyond it.
    for (size_t k = 0; k < o.offsets.size();) {
      const int dy = o.offsets[k].dY;
      std::array<uint8_t, 64> alpha{};  // by dX + H; c is at most 50
      int maxX = -H;
      const int minX = o.offsets[k].dX;
      for (; k < o.offsets.size() && o.offsets[k].dY == dy; ++k) {
        alpha[size_t(o.offsets[k].dX + H)] = o.offsets[k].Alpha;
        maxX = o.offsets[k].dX;
      }
      for (int sx = minX; sx <= maxX; sx += 4) {
        const int bx = std::min(sx, H - 4);
        std::array<int16_t, 16> wv{};
        bool any = false;
        for (int j = 0; j < 4; ++j) {
          const int px = bx + j;
          if (px < sx || px > maxX) continue;
          const int16_t a = alpha[size_t(px + H)];
          wv[size_t(4 * j)] = wv[size_t(4 * j + 1)] = wv[size_t(4 * j + 2)] = a;
          any = any || a != 0;
        }
        if (!any) continue;
        o.blockOff.push_back(int64_t(dy) * stride + bx);
        o.blockWeights.insert(o.blockWeights.end(), wv.begin(), wv.end());
      }
    }
    while (o.off.size() % 4 != 0) {
      o.off.push_back(0);
      for (int k = 0; k < 4; ++k) o.weights.push_back(0);
    }
    o.outCost.assign(1, 0);
    for (const TBrushPixelOffset& p : o.offsets) o.outCost.push_back(o.outCost.back() + ((int(p.Alpha) * 255) >> 5));
    if (!o.offsets.empty()) o.meanScale = ((uint64_t(1) << 42) + o.offsets.size() - 1) / o.offsets.size();
  }
}

// --- Contrast map ------------------------------------------------------------

void BuildContrastMap(TTemplateMatchingRun& r) {
  const int w = r.w, h = r.h;
  r.ContrastMap.assign(size_t(w) * size_t(h), 0);
  if (w < 3 || h < 3) return;
  const ConstPixelView I = r.Pixels;
  ParallelFor(1, h - 1, 32, [&](int lo, int hi) {
    for (int y = lo; y < hi; ++y) {
      if (IsEffectCancelled()) return;
      const uint32_t *up = I.row(y - 1), *row = I.row(y), *dn = I.row(y + 1);
      uint8_t* out = r.ContrastMap.data() + size_t(y) * size_t(w);
      for (int x = 1; x < w - 1; ++x) {
        uint32_t p = row[x];
        if (GetA(p) <= 9) continue;
        int d = 0;
        for (int sh = 0; sh < 24; sh += 8) {
          auto ch = [sh](uint32_t q) { return int((q >> sh) & 255u); };
          int sum = ch(up[x - 1]) + ch(up[x]) + ch(up[x + 1]) + ch(row[x - 1]) + ch(row[x + 1]) + ch(dn[x - 1]) +
                    ch(dn[x]) + ch(dn[x + 1]);
          d += std::abs(ch(p) - (sum >> 3));
        }
        out[x] = uint8_t(d / 3);
      }
    }
  });
  CheckCancellation();
}

// --- Matching ------------------------------------------------------------------

constexpr int kChannelBits = 21;
constexpr uint64_t kChannelMask = (uint64_t(1) << kChannelBits) - 1;

// Row prefix sums of the three colour channels in one word each. A run's sum
// is a difference of two prefixes; every channel's run sum stays far below
// 2^21, so the packed difference is exact even where the prefixes wrap.
void BuildRowSums(TTemplateMatchingRun& r) {
  const int w = r.w, h = r.h;
  r.RowSums.resize(size_t(w + 1) * size_t(h));
  ParallelFor(0, h, 64, [&](int lo, int hi) {
    for (int y = lo; y < hi; ++y) {
      const uint32_t* row = r.Pixels.row(y);
      uint64_t* p = r.RowSums.data() + size_t(y) * size_t(w + 1);
      uint64_t acc = 0;
      p[0] = 0;
      for (int x = 0; x < w; ++x) {
        uint32_t q = row[x];
        acc += (uint64_t(GetR(q)) << (2 * kChannelBits)) | (uint64_t(GetG(q)) << kChannelBits) | GetB(q);
        p[x + 1] = acc;
      }
    }
  });
}

class Matcher {
 public:
  Matcher(TTemplateMatchingRun& r, uint32_t seed) : r_(r), rnd_(seed) {}

  void Row(int y) {
    const int w = r_.w, h = r_.h, H = r_.HalfSize;
    const ConstPixelView I = r_.Pixels;
    const uint32_t* row = I.row(y);
    TMatch* out = r_.MatchTable.data() + size_t(y) * size_t(w);
    const bool rowInside = y >= H && y < h - H;
    for (int x = 0; x < w; ++x) {
      TMatch& m = out[x];
      const uint32_t p = row[x];
      if (GetA(p) <= 9) {
        m.Score = kNoMatch;
        m.A = 0;
        continue;
      }
      int d = -1;
      if (x > 0 && x < w - 1 && y > 0 && y < h - 1) {
        auto S = [](uint32_t q) { return int(GetR(q) + GetG(q) + GetB(q)); };
        int gh = S(row[x + 1]) - S(row[x - 1]);
        int gv = S(I.at(x, y + 1)) - S(I.at(x, y - 1));
        if (std::abs(gh) > 5 || std::abs(gv) > 5) {
          double t = std::atan2(double(gv), double(gh)) + std::numbers::pi / 2;
          if (t < 0) t += 2 * std::numbers::pi;
          if (t >= 2 * std::numbers::pi) t -= 2 * std::numbers::pi;
          d = int(Round(t * NumOrientations / std::numbers::pi) % NumOrientations);
        }
      }
      int candidates[NumOrientations], nc = 0;
      const int contrast = r_.ContrastMap[size_t(y) * size_t(w) + size_t(x)];
      if (contrast >= 31 && d >= 0) {
        for (int k = -2; k <= 2; ++k) candidates[nc++] = (d + k + NumOrientations) % NumOrientations;
      } else if (contrast < 16) {
        for (int k = 0; k < NumOrientations; ++k) candidates[nc++] = k;
      } else {
        for (int k : {0, 2, 4, 6}) candidates[nc++] = k;
      }

      const bool inside = rowInside && x >= H && x < w - H;
      int64_t best = kNoMatch;
      int bestO = -1;
      uint32_t bestM = 0;
      for (int ci = 0; ci < nc; ++ci) {
        const int o = candidates[ci];
        const TOrientation& b = r_.Brushes[size_t(o)];
        if (b.offsets.empty()) continue;
        int64_t n = 0, error = 0;
        uint32_t M = 0;
        if (inside) {
          n = int64_t(b.offsets.size());
          M = InteriorMean(b, x, y, n);
          error = InteriorError(b, row + x, M, best);
        } else if (!BorderMatch(b, x, y, best, &n, &M, &error)) {
          continue;
        }
        if (error > best) continue;  // stopped early: cannot win
        error += rnd_(int32_t(std::max<int64_t>(1, error >> 4)));
        if (error < best) {
          best = error;
          bestO = o;
          bestM = M;
          if (best < 12 * n) break;
        }
      }
      if (bestO < 0) {
        // No orientation could be measured here (a footprint entirely
        // outside a tiny picture): no stroke starts at this pixel.
        m.Score = kNoMatch;
        m.A = 0;
        continue;
      }
      m.Score = best;
      m.BrushAngle = bestO;
      m.R = uint8_t(GetR(bestM));
      m.G = uint8_t(GetG(bestM));
      m.B = uint8_t(GetB(bestM));
      m.A = 255;
    }
  }

 private:
  uint32_t InteriorMean(const TOrientation& b, int x, int y, int64_t n) const {
    const uint64_t* p = r_.RowSums.data() + size_t(y) * size_t(r_.w + 1) + size_t(x);
    uint64_t sum = 0;
    for (const TRun& run : b.runs) sum += p[run.end] - p[run.start];
    // Channel sums stay below 2^21 and n below 2^12, so multiplying by the
    // rounded-up reciprocal gives exactly the integer quotient.
    (void)n;
    auto mean = [&](int shift) { return uint32_t((((sum >> shift) & kChannelMask) * b.meanScale) >> 42); };
    return MakeColor(255, mean(2 * kChannelBits), mean(kChannelBits), mean(0));
  }

  // Alpha-weighted colour distance to M over the footprint; stops once it
  // exceeds `best`, when only the fact that it lost matters.
  int64_t InteriorError(const TOrientation& b, const uint32_t* centre, uint32_t M, int64_t best) const {
    int64_t error = 0;
#if defined(__SSE2__)
    // Four pixels at a time: byte distances to the mean, weighted by alpha
    // in 16-bit multiply-adds, each pixel's sum shifted on its own.
    // The footprint's rows are read four neighbouring pixels per load.
    // Checking against `best` less often changes nothing: the error only
    // grows, and a loser's exact value is never used.
    const size_t blocks = b.blockOff.size();
    const int64_t* boff = b.blockOff.data();
    const int16_t* bw = b.blockWeights.data();
    const __m128i mean = _mm_set1_epi32(int(M & 0x00FFFFFFu));
    const __m128i rgb = _mm_set1_epi32(0x00FFFFFF);
    const __m128i zero = _mm_setzero_si128();
    size_t i = 0;
    while (i < blocks) {
      const size_t end = std::min(blocks, i + 6);
      __m128i acc = zero;
      for (; i < end; ++i) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(centre + boff[i]));
        v = _mm_and_si128(v, rgb);
        __m128i ad = _mm_or_si128(_mm_subs_epu8(v, mean), _mm_subs_epu8(mean, v));
        __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi8(ad, zero),
                                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(bw + 16 * i)));
        __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi8(ad, zero),
                                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(bw + 16 * i + 8)));
        __m128 lf = _mm_castsi128_ps(lo), hf = _mm_castsi128_ps(hi);
        __m128i even = _mm_castps_si128(_mm_shuffle_ps(lf, hf, _MM_SHUFFLE(2, 0, 2, 0)));
        __m128i odd = _mm_castps_si128(_mm_shuffle_ps(lf, hf, _MM_SHUFFLE(3, 1, 3, 1)));
        acc = _mm_add_epi32(acc, _mm_srli_epi32(_mm_add_epi32(even, odd), 5));
      }
      acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, _MM_SHUFFLE(1, 0, 3, 2)));
      acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, _MM_SHUFFLE(2, 3, 0, 1)));
      error += _mm_cvtsi128_si32(acc);
      if (error > best) return error;
    }
#else
    const size_t n = b.off.size();
    const int64_t* off = b.off.data();
    const int16_t* wgt = b.weights.data();
    const int mr = int(GetR(M)), mg = int(GetG(M)), mb = int(GetB(M));
    size_t i = 0;
    while (i < n) {
      const size_t end = std::min(n, i + 16);
      for (; i < end; ++i) {
        const uint32_t q = centre[off[i]];
        int diff = std::abs(int(GetR(q)) - mr) + std::abs(int(GetG(q)) - mg) + std::abs(int(GetB(q)) - mb);
        error += (diff * wgt[4 * i]) >> 5;
      }
      if (error > best) return error;
    }
#endif
    return error;
  }

  // A footprint that reaches beyond the picture: only pixels inside enter the
  // mean; each one outside counts as fully different. False when no pixel of
  // the footprint lies inside.
  bool BorderMatch(const TOrientation& b, int x, int y, int64_t best, int64_t* n, uint32_t* M,
                   int64_t* error) const {
    const int w = r_.w, h = r_.h;
    const ConstPixelView I = r_.Pixels;
    // The part of each run inside the picture.
    auto clip = [&](const TRun& run, int* a, int* e) {
      const int py = y + run.dY;
      if (py < 0 || py >= h) return false;
      *a = std::max(x + run.dX0, 0);
      *e = std::min(x + run.dX1, w);
      return *a < *e;
    };
    uint64_t sum = 0;
    int64_t cnt = 0;
    for (const TRun& run : b.runs) {
      int xa, xb;
      if (!clip(run, &xa, &xb)) continue;
      const uint64_t* p = r_.RowSums.data() + size_t(y + run.dY) * size_t(w + 1);
      sum += p[xb] - p[xa];
      cnt += xb - xa;
    }
    if (cnt == 0) return false;
    const int mr = int(int64_t((sum >> (2 * kChannelBits)) & kChannelMask) / cnt);
    const int mg = int(int64_t((sum >> kChannelBits) & kChannelMask) / cnt);
    const int mb = int(int64_t(sum & kChannelMask) / cnt);
    const int64_t* out = b.outCost.data();
    int64_t e = 0;
    for (const TRun& run : b.runs) {
      const int len = run.dX1 - run.dX0;
      int xa, xb;
      if (!clip(run, &xa, &xb)) {
        e += out[run.first + len] - out[run.first];
      } else {
        const int i0 = xa - (x + run.dX0), i1 = xb - (x + run.dX0);
        e += (out[run.first + i0] - out[run.first]) + (out[run.first + len] - out[run.first + i1]);
        const uint32_t* row = I.row(y + run.dY) + (x + run.dX0);
        for (int i = i0; i < i1; ++i) {
          const uint32_t q = row[i];
          int diff = std::abs(int(GetR(q)) - mr) + std::abs(int(GetG(q)) - mg) + std::abs(int(GetB(q)) - mb);
          e += (diff * int(b.offsets[size_t(run.first + i)].Alpha)) >> 5;
        }
      }
      if (e > best) break;
    }
    *n = cnt;
    *M = MakeColor(255, uint32_t(mr), uint32_t(mg), uint32_t(mb));
    *error = e;
    return true;
  }

  TTemplateMatchingRun& r_;
  BandRandom rnd_;
};

void Match(TTemplateMatchingRun& r) {
  // Seeds drawn here, in band order, from the shared generator: every band
  // then draws its jitter from a private stream, never contending for it.
  constexpr int kRowsPerBand = 16;
  const int bands = (r.h + kRowsPerBand - 1) / kRowsPerBand;
  std::vector<uint32_t> seeds(static_cast<size_t>(bands));
  for (uint32_t& s : seeds) s = RandomStep();
  ParallelFor(0, bands, 1, [&](int lo, int hi) {
    for (int b = lo; b < hi; ++b) {
      Matcher m(r, seeds[size_t(b)]);
      for (int y = b * kRowsPerBand; y < std::min(r.h, (b + 1) * kRowsPerBand); ++y) {
        if (IsEffectCancelled()) return;
        m.Row(y);
      }
    }
  });
  CheckCancellation();
}

// --- Stroke selection --------------------------------------------------------

std::vector<TScoredStroke> SelectStrokes(TTemplateMatchingRun& r) {
  const int w = r.w, h = r.h, H = r.HalfSize;
  const int s = std::max(1, r.c / 10);
  std::vector<TScoredStroke> strokes;
  strokes.reserve(size_t((int64_t(w) / s + 2 * H / s + 2) * (int64_t(h) / s + 2 * H / s + 2)));
  // Per column of the current grid row: the lowest score over the window's
  // rows and the first row holding it, packed as score << 32 | row so that
  // one comparison orders them. A window's minimum is then the minimum over
  // its columns; (score, row, column) order reproduces a row-by-row search in
  // which the first pixel found wins ties. Scores are errors of at most
  // 50 x 50 pixels, far below 2^32.
  std::vector<uint64_t> colKey(static_cast<size_t>(w));
  TMatch* table = r.MatchTable.data();
  auto key = [&](int x, int y) {
    return (uint64_t(table[size_t(y) * size_t(w) + size_t(x)].Score) << 32) | uint32_t(y);
  };
  auto columnMin = [&](int x, int r0, int r1) {
    uint64_t best = key(x, r0);
    for (int y = r0 + 1; y <= r1; ++y) best = std::min(best, key(x, y));
    colKey[size_t(x)] = best;
  };
  const int j0 = -(H / s), j1 = (h + H) / s;
  const int k0 = -(H / s), k1 = (w + H) / s;
  bool haveMinima = false;
  int prev1 = -1;  // last row the column minima cover
  for (int j = j0; j <= j1; ++j) {
    if ((j & 63) == 0) CheckCancellation();
    int r0 = std::max(0, j * s - H), r1 = std::min(h - 1, j * s + H);
    if (r0 > r1) continue;
    // The window moves down: a column's minimum stays valid unless its row
    // left the window; otherwise only the rows that came in can beat it
    // (on a tie the earlier row keeps it). Picks recompute their column.
    for (int x = 0; x < w; ++x) {
      uint64_t& ck = colKey[size_t(x)];
      if (!haveMinima || int(uint32_t(ck)) < r0) {
        columnMin(x, r0, r1);
        continue;
      }
      for (int y = prev1 + 1; y <= r1; ++y) ck = std::min(ck, key(x, y));
    }
    haveMinima = true;
    prev1 = r1;
    for (int k = k0; k <= k1; ++k) {
      int c0 = std::max(0, k * s - H), c1 = std::min(w - 1, k * s + H);
      if (c0 > c1) continue;
      int bx = c0;
      uint64_t bk = colKey[size_t(c0)];
      for (int x = c0 + 1; x <= c1; ++x) {
        const uint64_t a = colKey[size_t(x)];
        if (a < bk) {
          bk = a;
          bx = x;
        }
      }
      const int by = int(uint32_t(bk));
      TMatch& m = table[size_t(by) * size_t(w) + size_t(bx)];
      if (m.A > 4) {
        strokes.push_back({bx - H, by - H, m.BrushAngle, MakeColor(255, m.R, m.G, m.B), m.Score});
        m.Score = kNoMatch;
        columnMin(bx, r0, r1);
      }
    }
  }
  return strokes;
}

// Sorts the strokes by score, largest first (equal scores in selection
// order), and returns the last `keep` of them ready to draw; the selection
// itself is released. Scores are below 2^31, so a stable radix sort of 32-bit
// keys does it in three passes.
std::vector<TDrawStroke> SortStrokes(std::vector<TScoredStroke>& strokes, size_t keep) {
  const size_t n = strokes.size();
  std::vector<uint64_t> keys(n), tmp(n);
  for (size_t i = 0; i < n; ++i) {
    uint32_t score = uint32_t(std::clamp<int64_t>(strokes[i].Score, 0, 0x7FFFFFFF));
    keys[i] = (uint64_t(0x7FFFFFFFu - score) << 32) | uint64_t(i);
  }
  for (int shift = 32; shift < 64; shift += 11) {
    std::vector<size_t> count(2049, 0);
    for (uint64_t k : keys) ++count[((k >> shift) & 2047) + 1];
    for (size_t b = 1; b < count.size(); ++b) count[b] += count[b - 1];
    for (uint64_t k : keys) tmp[count[(k >> shift) & 2047]++] = k;
    keys.swap(tmp);
  }
  tmp = std::vector<uint64_t>();
  keep = std::min(keep, n);
  std::vector<TDrawStroke> out(keep);
  // Reads all over the selection: spread over the cores.
  ParallelFor(0, int((keep + 4095) / 4096), 1, [&](int lo, int hi) {
    for (size_t i = size_t(lo) * 4096; i < std::min(keep, size_t(hi) * 4096); ++i) {
      const TScoredStroke& st = strokes[size_t(keys[n - keep + i] & 0xFFFFFFFFu)];
      out[i] = {st.X, st.Y, st.Color, st.brushIdx};
    }
  });
  strokes = std::vector<TScoredStroke>();
  return out;
}

// --- Drawing ---------------------------------------------------------------------

// The white brush pixel of alpha a modulated by an opaque stroke colour
// (premultiplied a, aR, aG, aB), composited over d: BlendOverPremul's result,
// two channels per multiply.
inline uint32_t InkOver(uint32_t colourRB, uint32_t colourG, uint32_t a, uint32_t d) {
  if (a == 255) return 0xFF000000u | (colourRB | (colourG << 8));
  uint32_t rb = colourRB * a + 0x00800080u;
  rb = ((rb + ((rb >> 8) & 0x00FF00FFu)) >> 8) & 0x00FF00FFu;
  uint32_t gg = colourG * a + 128u;
  gg = ((gg + (gg >> 8)) >> 8) & 0xFFu;
  const uint32_t s = (a << 24) | rb | (gg << 8);
  const uint32_t inv = 255 - a;
  uint32_t drb = (d & 0x00FF00FFu) * inv;
  drb = ((drb + ((drb >> 7) & 0x01FF01FFu)) >> 8) & 0x00FF00FFu;
  uint32_t dag = ((d >> 8) & 0x00FF00FFu) * inv;
  dag = ((dag + ((dag >> 7) & 0x01FF01FFu)) >> 8) & 0x00FF00FFu;
  return s + (drb | (dag << 8));
}

// Ink pixels ink[first .. first + len - 1] of one row composited over
// consecutive pixels from px on.
inline void InkSpan(uint32_t* px, const TOrientation& o, int first, int len, uint32_t colour) {
  const uint32_t rb = colour & 0x00FF00FFu, g = (colour >> 8) & 0xFFu;
  int i = 0;
#if defined(__SSE2__)
  // Four pixels at a time in 16-bit lanes, with InkOver's rounding.
  const __m128i zero = _mm_setzero_si128();
  const __m128i col = _mm_unpacklo_epi8(_mm_set1_epi32(int(colour | 0xFF000000u)), zero);
  const __m128i c255 = _mm_set1_epi16(255), c128 = _mm_set1_epi16(128);
  const uint16_t* a4 = o.inkAlpha4.data() + size_t(first) * 4;
  for (; i + 4 <= len; i += 4) {
    __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px + i));
    __m128i out[2];
    for (int half = 0; half < 2; ++half) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a4 + 4 * i + 8 * half));
      __m128i sv = _mm_add_epi16(_mm_mullo_epi16(col, a), c128);
      sv = _mm_srli_epi16(_mm_add_epi16(sv, _mm_srli_epi16(sv, 8)), 8);
      const __m128i dv = half == 0 ? _mm_unpacklo_epi8(d, zero) : _mm_unpackhi_epi8(d, zero);
      __m128i t = _mm_mullo_epi16(dv, _mm_sub_epi16(c255, a));
      t = _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 7)), 8);
      out[half] = _mm_add_epi16(sv, t);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(px + i), _mm_packus_epi16(out[0], out[1]));
  }
#endif

  for (; i < len; ++i) px[i] = InkOver(rb, g, o.ink[size_t(first + i)].a, px[i]);
}

// Composites the listed strokes, in order, inside the rectangle `tile` of dst.
void DrawStrokesInTile(const TTemplateMatchingRun& r, const TDrawStroke* list, size_t count, const PixelView& dst,
                       const IRect& tile) {
  const int c = r.c;
  const int64_t stride = int64_t(dst.rowBytes / 4);
  for (size_t i = 0; i < count; ++i) {
    const TDrawStroke& st = list[i];
    const TOrientation& o = r.Brushes[size_t(st.brushIdx)];
    if (st.X >= tile.left && st.X + c <= tile.right && st.Y >= tile.top && st.Y + c <= tile.bottom) {
      uint32_t* corner = dst.base + int64_t(st.Y) * stride + st.X;
      for (const TInkSpan& span : o.spans)
        InkSpan(corner + int64_t(span.y) * stride + span.x, o, span.first, span.len, st.Color);
      continue;
    }
    // Reaching beyond the tile: the part of each span inside it.
    for (const TInkSpan& span : o.spans) {
      const int y = st.Y + span.y;
      if (y < tile.top || y >= tile.bottom) continue;
      const int x0 = std::max(st.X + span.x, tile.left), x1 = std::min(st.X + span.x + span.len, tile.right);
      if (x0 >= x1) continue;
      InkSpan(dst.row(y) + x0, o, span.first + (x0 - st.X - span.x), x1 - x0, st.Color);
    }
  }
}

// Draws the strokes in order on Dest. Tiles are painted side by side; each
// tile lists the strokes that reach it in drawing order, so every pixel sees
// the strokes in that order, and a tile's pixels stay in cache meanwhile.
void DrawStrokes(TTemplateMatchingRun& r, const std::vector<TDrawStroke>& strokes) {
  const size_t count = strokes.size();
  const PixelView dst = r.Dest->PeekPixels();
  const int T = std::max(4 * r.c, 128);
  const int tilesX = (r.w + T - 1) / T, tilesY = (r.h + T - 1) / T;
  const size_t tiles = size_t(tilesX) * size_t(tilesY);
  auto tileRange = [&](int v, int n) {
    return std::pair{std::clamp(v / T, 0, n - 1), std::clamp((v + r.c - 1) / T, 0, n - 1)};
  };
  std::vector<size_t> start(tiles + 1), fill(tiles);
  std::vector<TDrawStroke> lists;  // copies, so that a tile reads its strokes in sequence
  const size_t every = std::max<size_t>(200, count / 10);
  const double done = double(r.Accumulated);
  for (size_t b = 0; b < count; b += every) {
    CheckCancellation();
    const size_t e = std::min(count, b + every);
    std::fill(start.begin(), start.end(), 0);
    auto forTiles = [&](const TDrawStroke& st, auto&& fn) {
      auto [x0, x1] = tileRange(std::max(0, st.X), tilesX);
      auto [y0, y1] = tileRange(std::max(0, st.Y), tilesY);
      for (int ty = y0; ty <= y1; ++ty)
        for (int tx = x0; tx <= x1; ++tx) fn(size_t(ty) * size_t(tilesX) + size_t(tx));
    };
    for (size_t i = b; i < e; ++i) forTiles(strokes[i], [&](size_t t) { ++start[t + 1]; });
    for (size_t t = 0; t < tiles; ++t) start[t + 1] += start[t];
    lists.resize(start[tiles]);
    std::copy(start.begin(), start.end() - 1, fill.begin());
    for (size_t i = b; i < e; ++i) forTiles(strokes[i], [&](size_t t) { lists[fill[t]++] = strokes[i]; });
    ParallelFor(0, int(tiles), 4, [&](int lo, int hi) {
      for (int t = lo; t < hi; ++t) {
        if (IsEffectCancelled()) return;
        const int tx = t % tilesX, ty = t / tilesX;
        const IRect tile{tx * T, ty * T, std::min(r.w, (tx + 1) * T), std::min(r.h, (ty + 1) * T)};
        DrawStrokesInTile(r, lists.data() + start[size_t(t)], start[size_t(t) + 1] - start[size_t(t)], dst, tile);
      }
    });
    CheckCancellation();
    if (e < count) {
      double drawn = double(e) / double(count);
      UpdateProgress(r, int(Round((done + drawn * 24) / double(r.Total) * 100)));
      UpdateDisplay(r, false);
    }
  }
  r.Accumulated += 24;
  UpdateProgress(r, int(Round(double(r.Accumulated) / double(r.Total) * 100)));
  UpdateDisplay(r, true);
}

void RunPass(TTemplateMatchingRun& r) {
  BuildContrastMap(r);
  // Every pixel starts unmatched: all bytes 255.
  std::memset(static_cast<void*>(r.MatchTable.data()), 255, r.MatchTable.size() * sizeof(TMatch));
  AddProgress(r, 8);
  Match(r);
  AddProgress(r, 40);
  std::vector<TScoredStroke> strokes = SelectStrokes(r);
  AddProgress(r, 20);
  // The worst 5 % are left out.
  const std::vector<TDrawStroke> kept = SortStrokes(strokes, size_t(Round(0.95 * double(strokes.size()))));
  AddProgress(r, 8);
  DrawStrokes(r, kept);
}

// Areas the strokes left lighter than the picture are repaired, then the
// result goes on display.
void FillWhitePixelsPass(TTemplateMatchingRun& r) {
  r.Dest->Flush();
  FillLighterAreas(r.Pixels, r.Dest->PeekPixels(), [&r] { AddProgress(r, 10); });
  AddProgress(r, 10);
  UpdateDisplay(r, true);
}

// Works on a copy that is then drawn back over the cleared destination.
void Despeckle(TTemplateMatchingRun& r) {
  r.Dest->Flush();
  const PixelView D = r.Dest->PeekPixels();
  std::vector<uint32_t> copy(size_t(r.w) * size_t(r.h));
  const PixelView cv{copy.data(), size_t(r.w) * 4, r.w, r.h};
  for (int y = 0; y < r.h; ++y) std::memcpy(cv.row(y), D.row(y), size_t(r.w) * 4);
  DespeckleBrightPixels(cv);
  for (int y = 0; y < r.h; ++y) std::memcpy(D.row(y), cv.row(y), size_t(r.w) * 4);
  AddProgress(r, 10);
}

}  // namespace

// --- Fill pass and despeckle --------------------------------------------------

void FillLighterAreas(const ConstPixelView& matched, const PixelView& dest, const std::function<void()>& marked) {
  const int w = std::min(matched.width, dest.width), h = std::min(matched.height, dest.height);
  std::vector<uint8_t> lighter(size_t(w) * size_t(h), 0);
  ParallelFor(0, h, 64, [&](int lo, int hi) {
    for (int y = lo; y < hi; ++y) {
      const uint32_t *src = matched.row(y), *dst = dest.row(y);
      uint8_t* m = lighter.data() + size_t(y) * size_t(w);
      for (int x = 0; x < w; ++x) {
        uint32_t p = src[x], q = dst[x];
        if (GetA(p) <= 9) continue;
        int lp = int(GetR(p) + GetG(p) + GetB(p)) / 3, lq = int(GetR(q) + GetG(q) + GetB(q)) / 3;
        m[x] = lq - lp > 15;
      }
    }
  });
  CheckCancellation();
  if (marked) marked();

  std::vector<uint8_t> visited(size_t(w) * size_t(h), 0);
  std::vector<IPoint> stack, patch;
  for (int y0 = 0; y0 < h; ++y0) {
    if ((y0 & 63) == 0) CheckCancellation();
    for (int x0 = 0; x0 < w; ++x0) {
      size_t i0 = size_t(y0) * size_t(w) + size_t(x0);
      if (!lighter[i0] || visited[i0]) continue;
      stack.clear();
      patch.clear();
      visited[i0] = 1;
      stack.push_back({x0, y0});
      while (!stack.empty()) {
        IPoint p = stack.back();
        stack.pop_back();
        patch.push_back(p);
        const IPoint next[4] = {{p.x - 1, p.y}, {p.x + 1, p.y}, {p.x, p.y - 1}, {p.x, p.y + 1}};
        for (const IPoint& q : next) {
          if (q.x < 0 || q.x >= w || q.y < 0 || q.y >= h) continue;
          size_t qi = size_t(q.y) * size_t(w) + size_t(q.x);
          if (!lighter[qi] || visited[qi]) continue;
          // Pieces stay within 25 pixels of their seed; the rest seeds pieces of its own.
          int dx = q.x - x0, dy = q.y - y0;
          if (dx * dx + dy * dy > 625) continue;
          visited[qi] = 1;
          stack.push_back(q);
        }
      }
      int64_t sr = 0, sg = 0, sb = 0, n = 0;
      for (const IPoint& p : patch) {
        uint32_t q = matched.at(p.x, p.y);
        if (GetA(q) <= 10) continue;
        sr += GetR(q);
        sg += GetG(q);
        sb += GetB(q);
        ++n;
      }
      if (n == 0) continue;
      const TAlphaColor colour = MakeColor(255, uint32_t(sr / n), uint32_t(sg / n), uint32_t(sb / n));
      for (const IPoint& p : patch) dest.at(p.x, p.y) = colour;  // opaque: source-over replaces
    }
  }
}

void DespeckleBrightPixels(const PixelView& px) {
  const int w = px.width, h = px.height;
  auto L = [](uint32_t q) { return int(GetR(q) + GetG(q) + GetB(q)) / 3; };
  for (int y = 1; y < h - 1; ++y) {
    if ((y & 255) == 0) CheckCancellation();
    const uint32_t *up = px.row(y - 1), *dn = px.row(y + 1);
    uint32_t* row = px.row(y);
    for (int x = 1; x < w - 1; ++x) {
      uint32_t& p = row[x];
      if (GetA(p) <= 9) continue;
      const int lp = L(p);
      int valid = 0, darker = 0;
      int64_t sr = 0, sg = 0, sb = 0;
      const uint32_t around[8] = {up[x - 1], up[x], up[x + 1], row[x - 1], row[x + 1], dn[x - 1], dn[x], dn[x + 1]};
      for (uint32_t q : around) {
        if (GetA(q) <= 9) continue;
        ++valid;
        if (lp - L(q) > 30) ++darker;
        sr += GetR(q);
        sg += GetG(q);
        sb += GetB(q);
      }
      if (valid > 0 && darker > 5)
        p = MakeColor(255, uint32_t(sr / valid), uint32_t(sg / valid), uint32_t(sb / valid));
    }
  }
}

TSmoothPaintingSettings SmoothPaintingSettings(int P1, int P2) {
  TSmoothPaintingSettings s;
  int c = P1 <= 15 ? 8 : (P1 >= 102 ? 50 : P1 / 2);
  if (c % 2 != 0) ++c;
  s.StrokeSize = c;
  s.HalfSize = c / 2;
  s.GridStep = std::max(1, c / 10);
  s.OuterPasses = std::clamp(P2 / 20, 1, 5);
  return s;
}

void TemplateMatching(const Image& Source, Surface& Dest, int P1, int P2, int /*P3*/, int /*P4*/, int /*P5*/,
                      bool Preview) {
  if (IsEffectCancelled()) return;
  if (!Source) return;
  RequireDestOfSourceSize(Source, Dest);
  TTemplateMatchingRun r;
  RunOnUi([&] {
    EffectDriver& d = Driver();
    if (d.BuiltinImage) r.AtlasImage = d.BuiltinImage("TemplateMatchingBrushes");
  });
  if (!r.AtlasImage || r.AtlasImage.width() < 2 * kTemplateCell || r.AtlasImage.height() < 8 * kTemplateCell) {
    // Nothing to paint with: keep the picture rather than commit a blank result.
    FinishUnpainted(Source, Dest, Preview);
    return;
  }

  const TSmoothPaintingSettings st = SmoothPaintingSettings(P1, P2);
  r.Dest = &Dest;
  r.Preview = Preview;
  RunContext* ctx = CurrentRun();
  r.ShowsWork = !Preview && ctx && ctx->kind == RunKind::Full;
  r.c = st.StrokeSize;
  r.HalfSize = st.HalfSize;
  r.OuterPasses = st.OuterPasses;
  r.w = Source.width();
  r.h = Source.height();
  r.Total = int64_t(r.OuterPasses) * 430;
  r.MatchTable.resize(size_t(r.w) * size_t(r.h));
  r.LastDisplay = GetTickCount();
  UpdateProgress(r, 0);

  // The image being matched: the photograph, then each outer pass's result.
  Image I = Source;
  for (int outer = 0; outer < r.OuterPasses; ++outer) {
    CheckCancellation();
    r.Pixels = I.PeekPixels();
    if (!r.Pixels) return;
    BuildRowSums(r);
    Canvas* cv = Dest.GetCanvas();
    cv->Clear(0);
    Paint silhouette;
    silhouette.colorFilter = ColorFilter::MakeBlend(0xFFFFFFFF, BlendMode::SrcIn);
    cv->DrawImage(I, 0, 0, SamplingOptions::High(), &silhouette);
    UpdateDisplay(r, true);
    for (int k = 1; k <= kInnerPasses; ++k) {
      CheckCancellation();
      if (k == 2) FillWhitePixelsPass(r);
      if (k <= 2) PrepareBrushes(r, k == 1 ? 5 : 7);
      RunPass(r);
      if (Preview) {
        LastUIUpdateTick = 0;
        SafeUpdatePreview(&Dest, int(Round(double(r.Accumulated) / double(r.Total) * 100)));
      }
    }
    Despeckle(r);
    if (outer + 1 < r.OuterPasses) {
      Dest.Flush();
      I = Dest.MakeImageSnapshot();
    }
  }
  UpdateDisplay(r, true);
  if (Preview) LastUIUpdateTick = 0;
  UpdateProgress(r, 101);
}

LQ_REGISTER_EFFECT(306, TemplateMatching)

}  // namespace lq
