// Adjustments: a photo-correction panel as an effect. A "structure" step
// (local contrast by an overlay of the luminance's high-pass), then a colour
// matrix for brightness, contrast and saturation, then a blur or a sharpening.
#include <algorithm>
#include <cmath>
#include <cstring>
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

// Box blur of a line of n values with radius r, ends repeated.
void BoxLine(const uint8_t* in, size_t inStep, uint8_t* out, size_t outStep, int n, int r) {
  const int win = 2 * r + 1;
  auto at = [&](int i) { return int(in[size_t(std::clamp(i, 0, n - 1)) * inStep]); };
  int sum = 0;
  for (int i = -r; i <= r; ++i) sum += at(i);
  for (int i = 0; i < n; ++i) {
    out[size_t(i) * outStep] = uint8_t(sum / win);
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

// The structure step into `out` (w x h, premultiplied). False when the
// source pixels cannot be read.
bool Structure(const Image& source, int p4, bool preview, std::vector<uint32_t>& out) {
  ConstPixelView src = source.PeekPixels();
  if (!src) return false;
  const int w = src.width, h = src.height;
  const int64_t total = int64_t(w) * h;
  ReportFull(preview, 5);

  const double rho = std::min(p4 / 100.0, 1.0);
  const double gain = p4 / 50.0 + 1;
  const int r = p4 / 10 + 5;

  // Luminance of the straight colour, so translucent pixels are judged by
  // their colour and not darkened by their coverage.
  const size_t count = static_cast<size_t>(total);
  std::vector<uint8_t> lum(count), tmp(count), blur(count);
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
      BoxLine(&lum[size_t(y) * size_t(w)], 1, &tmp[size_t(y) * size_t(w)], 1, w, r);
  });
  ReportFull(preview, 30);
  // Columns in strips so every row touched is read as whole cache lines.
  constexpr int kStrip = 64;
  ParallelFor(0, (w + kStrip - 1) / kStrip, 1, [&](int lo, int hi) {
    std::vector<int> sums;
    const int win = 2 * r + 1;
    for (int s = lo; s < hi; ++s) {
      const int x0 = s * kStrip, x1 = std::min(w, x0 + kStrip), n = x1 - x0;
      sums.assign(size_t(n), 0);
      auto rowAt = [&](int y) { return &tmp[size_t(std::clamp(y, 0, h - 1)) * size_t(w) + size_t(x0)]; };
      for (int y = -r; y <= r; ++y) {
        const uint8_t* t = rowAt(y);
        for (int i = 0; i < n; ++i) sums[size_t(i)] += t[i];
      }
      for (int y = 0; y < h; ++y) {
        uint8_t* o = &blur[size_t(y) * size_t(w) + size_t(x0)];
        for (int i = 0; i < n; ++i) o[i] = uint8_t(sums[size_t(i)] / win);
        const uint8_t* in = rowAt(y + r + 1);
        const uint8_t* outgoing = rowAt(y - r);
        for (int i = 0; i < n; ++i) sums[size_t(i)] += int(in[i]) - int(outgoing[i]);
      }
    }
  });
  ReportFull(preview, 40);

  // The ratio depends only on (l, b): one table per run.
  std::vector<double> ratio(256 * 256);
  for (int l = 0; l < 256; ++l)
    for (int b = 0; b < 256; ++b) ratio[size_t(l) * 256 + size_t(b)] = StructureRatio(l, b, gain, rho);

  out.resize(size_t(total));
  // Rows in blocks of about 65536 pixels, reporting between blocks.
  const int blockRows = std::max(1, int(65536 / std::max(1, w)));
  for (int y0 = 0; y0 < h; y0 += blockRows) {
    const int64_t i = int64_t(y0) * w;
    ReportFull(preview, int(Round(double(i) / double(total) * 50)) + 40);
    const int y1 = std::min(h, y0 + blockRows);
    ParallelFor(y0, y1, 4, [&](int lo, int hi) {
      for (int y = lo; y < hi; ++y) {
        const uint32_t* row = src.row(y);
        const size_t off = size_t(y) * size_t(w);
        for (int x = 0; x < w; ++x) {
          uint32_t p = row[x];
          uint32_t a = p >> 24;
          double q = ratio[size_t(lum[off + size_t(x)]) * 256 + blur[off + size_t(x)]];
          if (a == 0) {
            out[off + size_t(x)] = p;
            continue;
          }
          if (a != 255) p = Unpremultiply(p);
          uint32_t c = MakeColor(a, uint32_t(Clamp255(RoundD(GetR(p) * q))), uint32_t(Clamp255(RoundD(GetG(p) * q))),
                                 uint32_t(Clamp255(RoundD(GetB(p) * q))));
          out[off + size_t(x)] = a == 255 ? c : Premultiply(c);
        }
      }
    });
  }
  ReportFull(preview, 90);
  return true;
}

// Brightness, contrast and saturation as one matrix; the saturation acts last.
ColorMatrix AdjustmentMatrix(int p1, int p2, int p3) {
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
    const ColorMatrix s = {0.213f * is + sigma, 0.715f * is,         0.072f * is,         0, 0,
                           0.213f * is,         0.715f * is + sigma, 0.072f * is,         0, 0,
                           0.213f * is,         0.715f * is,         0.072f * is + sigma, 0, 0,
                           0,                   0,                   0,                   1, 0};
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

}  // namespace

void Adjustments(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview) {
  if (!Source || Source.width() <= 0 || Source.height() <= 0) return;
  const int w = Source.width(), h = Source.height();

  // 1. Structure.
  Image working = Source;
  if (P4 >= 1) {
    std::vector<uint32_t> out;
    if (Structure(Source, P4, Preview, out)) working = Image::MakeFromPixels(w, h, std::move(out));
  }
  ReportFull(Preview, 92);

  // 3. Colour matrix (skipped when it is the identity).
  const ColorMatrix m = AdjustmentMatrix(P1, P2, P3);
  const bool identity = m == IdentityColorMatrix();

  Canvas* canvas = Dest.GetCanvas();
  PixelView dst = Dest.PeekPixels();
  ConstPixelView wv = working.PeekPixels();
  if (!canvas) return;
  if (!dst || !wv || dst.width != w || dst.height != h) {
    // No direct access: the same operation through the canvas.
    ImageFilter::Ptr filter;
    if (!identity) filter = ImageFilter::MakeColorFilter(ColorFilter::MakeMatrix(m));
    if (P5 < 50) {
      float s = float(50 - P5) / 5.0f;
      filter = ImageFilter::MakeBlur(s, s, TileMode::Decal, filter);
    } else if (P5 > 50) {
      float a = float(P5 - 50) / 30.0f;
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

  // 4-5. The same chain on the destination's pixels: matrix, then blur with
  // transparent surroundings or a sharpening with repeated edges.
  if (P5 < 50) {
    const float s = float(50 - P5) / 5.0f;
    const int pad = BlurRadius(s);
    auto padded = AllocPixels(w + 2 * pad, h + 2 * pad, true);
    if (!padded) return;
    PixelView pv = padded->view();
    PixelView inner{pv.row(pad) + pad, pv.rowBytes, w, h};
    if (identity) {
      for (int y = 0; y < h; ++y) std::memcpy(inner.row(y), wv.row(y), size_t(w) * 4);
    } else {
      ApplyColorMatrix(wv, inner, m);
    }
    CheckCancellation();
    GaussianBlur(pv, pv, s, s, TileMode::Decal);
    for (int y = 0; y < h; ++y) std::memcpy(dst.row(y), inner.row(y), size_t(w) * 4);
  } else if (P5 > 50) {
    const float a = float(P5 - 50) / 30.0f;
    std::shared_ptr<PixelStore> tmp;
    ConstPixelView in = wv;
    if (!identity) {
      tmp = AllocPixels(w, h, false);
      if (!tmp) return;
      ApplyColorMatrix(wv, tmp->view(), m);
      in = tmp->view();
    }
    CheckCancellation();
    Convolve3x3(in, dst, {0, -a, 0, -a, 4 * a + 1, -a, 0, -a, 0}, 1, 0, {1, 1}, TileMode::Clamp, true);
  } else if (identity) {
    for (int y = 0; y < h; ++y) std::memcpy(dst.row(y), wv.row(y), size_t(w) * 4);
  } else {
    ApplyColorMatrix(wv, dst, m);
  }
  Dest.Flush();
}

LQ_REGISTER_EFFECT(401, Adjustments)

}  // namespace lq
