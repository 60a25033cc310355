// Adjustments: a photo-correction panel as an effect. A "structure" step
// (local contrast by an overlay of the luminance's high-pass), then a colour
// matrix for brightness, contrast and saturation, then a blur or a sharpening.
//
// The three steps run as one pass over row bands: each band makes the
// structured and colour-corrected rows it needs (plus one row above and below
// for the sharpening) and writes finished rows. The colour matrix and the
// 3 x 3 sharpening give the same bytes as the raster back end's colour-matrix
// filter and matrix convolution; translucent pixels go through the back end's
// own colour filter.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "effects/photolab/photolab.h"
#include "effects/photolab/photolab_common.h"
#include "engine/effect_registry.h"
#include "engine/gfx/filters.h"
#include "engine/random.h"

namespace lq {

namespace {

using photolab::Clamp255;
using photolab::RoundD;

inline int Lum(int r, int g, int b) { return (77 * r + 150 * g + 29 * b) >> 8; }

void ReportFull(bool preview, int value) {
  if (!preview) SafeUpdateProgress(value);
}

// Box blur of a line of n values with radius r, ends repeated. `quotient`
// holds sum div (2r + 1) for every possible window sum.
void BoxLine(const uint8_t* in, uint8_t* out, int n, int r, const uint8_t* quotient) {
  auto at = [&](int i) { return int(in[std::clamp(i, 0, n - 1)]); };
  int sum = 0;
  for (int i = -r; i <= r; ++i) sum += at(i);
  int i = 0;
  for (; i < n && (i - r < 0 || i + r + 1 >= n); ++i) {  // left edge (and short lines)
    out[i] = quotient[sum];
    sum += at(i + r + 1) - at(i - r);
  }
  for (; i + r + 1 < n; ++i) {
    out[i] = quotient[sum];
    sum += int(in[i + r + 1]) - int(in[i - r]);
  }
  for (; i < n; ++i) {
    out[i] = quotient[sum];
    sum += at(i + r + 1) - at(i - r);
  }
}

// Ratio by which the structure step scales a pixel of luminance l whose
// blurred luminance is b.
double StructureRatio(int l, int b, double gain, double rho) {
  if (l < 1) return 1.0;
  double t = l / 255.0;
  double d = (l - b) / 255.0;
  d = d > 0 ? d * gain * 0.5 : d * gain;
  double s = std::clamp(d + 0.5, 0.0, 1.0);
  double v = t < 0.5 ? 2 * t * s : 1 - 2 * (1 - t) * (1 - s);
  int u = int(Round(v * 255));
  int n = l + int(Round((u - l) * rho));
  return double(n) / l;
}

// Luminance of the straight colour and its box blur, the inputs of the
// per-pixel structure step, plus the ratio for every (l, b) pair.
struct StructurePlanes {
  int w = 0, h = 0;
  std::vector<uint8_t> lum, blur;
  std::vector<double> ratio;  // [l][b]

  void Build(ConstPixelView src, int p4, bool preview) {
    w = src.width;
    h = src.height;
    const double rho = std::min(p4 / 100.0, 1.0);
    const double gain = p4 / 50.0 + 1;
    const int r = p4 / 10 + 5;
    const size_t count = size_t(w) * size_t(h);
    lum.resize(count);
    blur.resize(count);
    std::vector<uint8_t> across(count);
    const int win = 2 * r + 1;
    std::vector<uint8_t> quotient(size_t(255 * win + 1));
    for (size_t v = 0; v < quotient.size(); ++v) quotient[v] = uint8_t(int(v) / win);

    // Translucent pixels are judged by their colour, not darkened by their coverage.
    ParallelFor(0, h, 32, [&](int lo, int hi) {
      for (int y = lo; y < hi; ++y) {
        const uint32_t* row = src.row(y);
        uint8_t* l = &lum[size_t(y) * size_t(w)];
        for (int x = 0; x < w; ++x) {
          uint32_t p = row[x];
          if ((p >> 24) != 255) p = Unpremultiply(p);
          l[x] = uint8_t(Lum(int(GetR(p)), int(GetG(p)), int(GetB(p))));
        }
      }
    });
    ReportFull(preview, 15);
    ParallelFor(0, h, 32, [&](int lo, int hi) {
      for (int y = lo; y < hi; ++y)
        BoxLine(&lum[size_t(y) * size_t(w)], &across[size_t(y) * size_t(w)], w, r, quotient.data());
    });
    ReportFull(preview, 30);
    // Down the columns, in strips so every row touched is read as whole cache lines.
    constexpr int kStrip = 64;
    ParallelFor(0, (w + kStrip - 1) / kStrip, 1, [&](int lo, int hi) {
      std::vector<int> sums;
      for (int s = lo; s < hi; ++s) {
        const int x0 = s * kStrip, x1 = std::min(w, x0 + kStrip), n = x1 - x0;
        sums.assign(size_t(n), 0);
        auto rowAt = [&](int y) { return &across[size_t(std::clamp(y, 0, h - 1)) * size_t(w) + size_t(x0)]; };
        for (int y = -r; y <= r; ++y) {
          const uint8_t* t = rowAt(y);
          for (int i = 0; i < n; ++i) sums[size_t(i)] += t[i];
        }
        for (int y = 0; y < h; ++y) {
          uint8_t* o = &blur[size_t(y) * size_t(w) + size_t(x0)];
          for (int i = 0; i < n; ++i) o[i] = quotient[size_t(sums[size_t(i)])];
          const uint8_t* in = rowAt(y + r + 1);
          const uint8_t* outgoing = rowAt(y - r);
          for (int i = 0; i < n; ++i) sums[size_t(i)] += int(in[i]) - int(outgoing[i]);
        }
      }
    });
    ReportFull(preview, 40);
    ratio.resize(256 * 256);
    for (int l = 0; l < 256; ++l)
      for (int b = 0; b < 256; ++b) ratio[size_t(l) * 256 + size_t(b)] = StructureRatio(l, b, gain, rho);
  }

  // Row y of the structured picture.
  void Row(const uint32_t* in, int y, uint32_t* out) const {
    const uint8_t* l = &lum[size_t(y) * size_t(w)];
    const uint8_t* b = &blur[size_t(y) * size_t(w)];
    for (int x = 0; x < w; ++x) {
      uint32_t p = in[x];
      const uint32_t a = p >> 24;
      if (a == 0) {
        out[x] = p;
        continue;
      }
      const double q = ratio[size_t(l[x]) * 256 + b[x]];
      if (a != 255) p = Unpremultiply(p);
      const uint32_t c = MakeColor(a, uint32_t(Clamp255(RoundD(GetR(p) * q))), uint32_t(Clamp255(RoundD(GetG(p) * q))),
                                   uint32_t(Clamp255(RoundD(GetB(p) * q))));
      out[x] = a == 255 ? c : Premultiply(c);
    }
  }
};

// Nearest integer with halves away from zero, for 0 <= v < 2^23 (lround).
template <typename V>
LQ_ALWAYS_INLINE typename V::I RoundHalfUp(typename V::F v) {
  using I = typename V::I;
  using F = typename V::F;
  I i = __builtin_convertvector(v, I);  // truncates
  F frac = v - __builtin_convertvector(i, F);
  return i - (I)(frac >= 0.5f);  // a true comparison is -1
}

struct MatrixStep {
  ColorMatrix m;
  std::shared_ptr<const ColorFilter> filter;  // the back end's filter, for translucent pixels

  int RowAvx2(uint32_t* px, int n) const;
  int RowVec4(uint32_t* px, int n) const;
  void Row(uint32_t* px, int n) const {
    int x = photolab::HasAvx2() ? RowAvx2(px, n) : RowVec4(px, n);
    for (; x < n; ++x) px[x] = filter->FilterColor(px[x]);
  }
};

// The colour matrix on opaque pixels, N at a time: the single-precision
// operations of the back end's filter in the same order.
template <int N>
LQ_ALWAYS_INLINE int MatrixRow(const MatrixStep& st, uint32_t* px, int n) {
  using V = photolab::Lanes<N>;
  using F = typename V::F;
  using I = typename V::I;
  using U = typename V::U;
  const ColorMatrix& m = st.m;
  const F zero = V::Splat(0.0f), one = V::Splat(1.0f);
  // Opaque input: alpha in units is exactly 1, so the alpha row's result is
  // fixed for the whole row.
  const float a1 = std::clamp(m[15] * 0.0f + m[16] * 0.0f + m[17] * 0.0f + m[18] * 1.0f + m[19], 0.0f, 1.0f);
  const bool alphaKept = a1 == 1.0f;
  int x = 0;
  for (; x + N <= n; x += N) {
    uint32_t all = px[x];
    for (int i = 1; i < N; ++i) all &= px[x + i];
    if ((all >> 24) != 255 || !alphaKept) {
      for (int i = 0; i < N; ++i) px[x + i] = st.filter->FilterColor(px[x + i]);
      continue;
    }
    const U p = V::Load(px + x);
    const F r = __builtin_convertvector((I)((p >> 16) & 255u), F) / 255.0f;
    const F g = __builtin_convertvector((I)((p >> 8) & 255u), F) / 255.0f;
    const F b = __builtin_convertvector((I)(p & 255u), F) / 255.0f;
    auto channel = [&](int row) LQ_ALWAYS_INLINE_LAMBDA {
      const float* k = &m[size_t(row) * 5];
      F v = k[0] * r + k[1] * g + k[2] * b + k[3] * 1.0f + k[4];
      v = v < zero ? zero : v;
      v = v > one ? one : v;
      return (U)RoundHalfUp<V>(v * 1.0f * 255.0f);
    };
    V::Store(px + x, 0xFF000000u | (channel(0) << 16) | (channel(1) << 8) | channel(2));
  }
  return x;
}

LQ_TARGET_AVX2 int MatrixStep::RowAvx2(uint32_t* px, int n) const { return MatrixRow<8>(*this, px, n); }
int MatrixStep::RowVec4(uint32_t* px, int n) const { return MatrixRow<4>(*this, px, n); }

// 3 x 3 sharpening (0, -a, 0 / -a, 4a + 1, -a / 0, -a, 0) with repeated edges
// and alpha convolved, as the back end's matrix convolution computes it.
struct SharpenStep {
  float a = 0, centre = 1;

  uint32_t Pixel(const uint32_t* up, const uint32_t* mid, const uint32_t* down, int x, int w) const {
    const int l = x > 0 ? x - 1 : 0, r = x + 1 < w ? x + 1 : w - 1;
    const uint32_t t = up[x], lf = mid[l], c = mid[x], rt = mid[r], bt = down[x];
    auto acc = [&](int shift) {
      float s = 0.0f;
      s += -a * float((t >> shift) & 255u);
      s += -a * float((lf >> shift) & 255u);
      s += centre * float((c >> shift) & 255u);
      s += -a * float((rt >> shift) & 255u);
      s += -a * float((bt >> shift) & 255u);
      return uint32_t(std::clamp(int(std::lround(s * 1.0f + 0.0f * 255.0f)), 0, 255));
    };
    const uint32_t al = acc(24);
    return MakeColor(al, std::min(al, acc(16)), std::min(al, acc(8)), std::min(al, acc(0)));
  }

  int RowAvx2(const uint32_t* up, const uint32_t* mid, const uint32_t* down, uint32_t* out, int w) const;
  int RowVec4(const uint32_t* up, const uint32_t* mid, const uint32_t* down, uint32_t* out, int w) const;
  void Row(const uint32_t* up, const uint32_t* mid, const uint32_t* down, uint32_t* out, int w) const {
    out[0] = Pixel(up, mid, down, 0, w);
    int x = photolab::HasAvx2() ? RowAvx2(up, mid, down, out, w) : RowVec4(up, mid, down, out, w);
    for (; x < w; ++x) out[x] = Pixel(up, mid, down, x, w);
  }
};

// Columns 1 .. w - 2, N at a time. Returns the first column left over.
template <int N>
LQ_ALWAYS_INLINE int SharpenRow(const SharpenStep& st, const uint32_t* up, const uint32_t* mid, const uint32_t* down,
                                uint32_t* out, int w) {
  using V = photolab::Lanes<N>;
  using F = typename V::F;
  using I = typename V::I;
  using U = typename V::U;
  const float na = -st.a, centre = st.centre;
  int x = 1;
  for (; x + N <= w - 1; x += N) {
    const U t = V::Load(up + x), lf = V::Load(mid + x - 1), c = V::Load(mid + x), rt = V::Load(mid + x + 1),
            bt = V::Load(down + x);
    auto acc = [&](int shift) LQ_ALWAYS_INLINE_LAMBDA {
      auto f = [&](U v) LQ_ALWAYS_INLINE_LAMBDA { return __builtin_convertvector((I)((v >> shift) & 255u), F); };
      F s = na * f(t);
      s += na * f(lf);
      s += centre * f(c);
      s += na * f(rt);
      s += na * f(bt);
      const F zero = s - s;
      s = s < zero ? zero : s;  // negative sums round to 0 or below and clamp to 0
      return (U)V::Clamp255(RoundHalfUp<V>(s));
    };
    const U al = acc(24);
    auto capped = [&](int shift) LQ_ALWAYS_INLINE_LAMBDA {
      U v = acc(shift);
      return v > al ? al : v;
    };
    V::Store(out + x, (al << 24) | (capped(16) << 16) | (capped(8) << 8) | capped(0));
  }
  return x;
}

LQ_TARGET_AVX2 int SharpenStep::RowAvx2(const uint32_t* up, const uint32_t* mid, const uint32_t* down, uint32_t* out,
                                        int w) const {
  return SharpenRow<8>(*this, up, mid, down, out, w);
}
int SharpenStep::RowVec4(const uint32_t* up, const uint32_t* mid, const uint32_t* down, uint32_t* out, int w) const {
  return SharpenRow<4>(*this, up, mid, down, out, w);
}

}  // namespace

// The saturation acts after brightness and contrast.
ColorMatrix AdjustmentsColorMatrix(int p1, int p2, int p3) {
  const float beta = float(p1 - 50) / 200.0f;
  const float kappa = float(p2) / 50.0f;
  const float sigma = float(p3) / 50.0f;
  ColorMatrix m = IdentityColorMatrix();
  if (std::fabs(kappa - 1) > 0.001f)
    for (int i = 0; i < 3; ++i) {
      m[size_t(i) * 5 + size_t(i)] = kappa;
      m[size_t(i) * 5 + 4] = (1 - kappa) * 0.5f;
    }
  if (std::fabs(beta) > 0.001f)
    for (int i = 0; i < 3; ++i) m[size_t(i) * 5 + 4] += beta;
  if (std::fabs(sigma - 1) > 0.001f) {
    const float is = 1 - sigma;
    // clang-format off
    const ColorMatrix s = {0.213f * is + sigma, 0.715f * is,         0.072f * is,         0, 0,
                           0.213f * is,         0.715f * is + sigma, 0.072f * is,         0, 0,
                           0.213f * is,         0.715f * is,         0.072f * is + sigma, 0, 0,
                           0,                   0,                   0,                   1, 0};
    // clang-format on
    // s * m as 5 x 5 affine matrices: m first, then s.
    ColorMatrix r{};
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 5; ++j) {
        float v = 0;
        for (int k = 0; k < 4; ++k) v += s[size_t(i) * 5 + size_t(k)] * m[size_t(k) * 5 + size_t(j)];
        if (j == 4) v += s[size_t(i) * 5 + 4];
        r[size_t(i) * 5 + size_t(j)] = v;
      }
    m = r;
  }
  return m;
}

void Adjustments(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview) {
  if (!Source || Source.width() <= 0 || Source.height() <= 0) return;
  const int w = Source.width(), h = Source.height();
  Canvas* canvas = Dest.GetCanvas();
  if (!canvas) return;

  // 1a-c. Structure inputs (the per-pixel step runs in the pass below).
  ConstPixelView src = Source.PeekPixels();
  StructurePlanes structure;
  const bool structured = P4 >= 1 && src;
  if (structured) {
    ReportFull(Preview, 5);
    structure.Build(src, P4, Preview);
  }

  // 3. Colour matrix (skipped when it is the identity).
  MatrixStep matrix;
  matrix.m = AdjustmentsColorMatrix(P1, P2, P3);
  const bool identity = matrix.m == IdentityColorMatrix();
  matrix.filter = ColorFilter::MakeMatrix(matrix.m);

  PixelView dst = Dest.PeekPixels();
  if (!dst || !src || dst.width != w || dst.height != h) {
    // No direct pixel access: the same chain through the canvas.
    Image working = Source;
    if (structured) {
      std::vector<uint32_t> px(size_t(w) * size_t(h));
      for (int y = 0; y < h; ++y) structure.Row(src.row(y), y, &px[size_t(y) * size_t(w)]);
      working = Image::MakeFromPixels(w, h, std::move(px));
    }
    ImageFilter::Ptr filter;
    if (!identity) filter = ImageFilter::MakeColorFilter(matrix.filter);
    if (P5 < 50) {
      const float s = float(50 - P5) / 5.0f;
      filter = ImageFilter::MakeBlur(s, s, TileMode::Decal, filter);
    } else if (P5 > 50) {
      const float a = float(P5 - 50) / 30.0f;
      filter = ImageFilter::MakeMatrixConvolution({0, -a, 0, -a, 4 * a + 1, -a, 0, -a, 0}, 1, 0, {1, 1},
                                                  TileMode::Clamp, true, filter);
    }
    Paint paint;
    paint.antiAlias = true;
    paint.imageFilter = filter;
    canvas->Clear(0);
    canvas->DrawImage(working, 0, 0, SamplingOptions(), filter ? &paint : nullptr);
    Dest.Flush();
    return;
  }

  // Row y of the structured, colour-corrected picture.
  auto work = [&](int y, uint32_t* out) {
    if (structured)
      structure.Row(src.row(y), y, out);
    else
      std::memcpy(out, src.row(y), size_t(w) * 4);
    if (!identity) matrix.Row(out, w);
  };
  // Runs body(lo, hi) over row bands in blocks, reporting the structure
  // step's progress (full runs) between blocks.
  const int64_t total = int64_t(w) * h;
  const int blockRows = std::max(64, int(262144 / std::max(1, w)));
  auto bands = [&](int rowsBegin, int rowsEnd, auto&& body) {
    if (!structured) ReportFull(Preview, 92);
    for (int y0 = rowsBegin; y0 < rowsEnd; y0 += blockRows) {
      if (structured)
        ReportFull(Preview, int(Round(double(int64_t(y0) * w) / double(total) * 50)) + 40);
      else
        CheckCancellation();
      const int y1 = std::min(rowsEnd, y0 + blockRows);
      ParallelFor(y0, y1, 16, body);
    }
    if (structured) {
      ReportFull(Preview, 90);
      ReportFull(Preview, 92);
    }
  };

  if (P5 < 50) {
    // 4. Blur with transparent surroundings: the corrected picture goes into
    // a padded buffer so the blur can spread beyond the picture's edges.
    const float s = float(50 - P5) / 5.0f;
    const int pad = BlurRadius(s);
    auto padded = AllocPixels(w + 2 * pad, h + 2 * pad, true);
    if (!padded) return;
    PixelView pv = padded->view();
    bands(0, h, [&](int lo, int hi) {
      for (int y = lo; y < hi; ++y) work(y, pv.row(y + pad) + pad);
    });
    GaussianBlur(pv, pv, s, s, TileMode::Decal);
    ParallelFor(0, h, 64, [&](int lo, int hi) {
      for (int y = lo; y < hi; ++y) std::memcpy(dst.row(y), pv.row(y + pad) + pad, size_t(w) * 4);
    });
  } else if (P5 > 50) {
    // 4. Sharpening: each band makes its rows and one more above and below.
    SharpenStep sharpen;
    sharpen.a = float(P5 - 50) / 30.0f;
    sharpen.centre = 4 * sharpen.a + 1;
    bands(0, h, [&](int lo, int hi) {
      std::vector<uint32_t> ring(size_t(w) * 3);
      uint32_t* rows[3] = {&ring[0], &ring[size_t(w)], &ring[size_t(w) * 2]};
      auto clampRow = [&](int y) { return std::clamp(y, 0, h - 1); };
      work(clampRow(lo - 1), rows[0]);
      work(lo, rows[1]);
      for (int y = lo; y < hi; ++y) {
        work(clampRow(y + 1), rows[2]);
        sharpen.Row(rows[0], rows[1], rows[2], dst.row(y), w);
        std::swap(rows[0], rows[1]);
        std::swap(rows[1], rows[2]);
      }
    });
  } else {
    bands(0, h, [&](int lo, int hi) {
      for (int y = lo; y < hi; ++y) work(y, dst.row(y));
    });
  }
  Dest.Flush();
}

LQ_REGISTER_EFFECT(401, Adjustments)

}  // namespace lq
