#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/gfx/filters.h"

using namespace lq;

namespace {

const char* TileName(TileMode t) {
  switch (t) {
    case TileMode::Clamp: return "clamp";
    case TileMode::Repeat: return "repeat";
    case TileMode::Mirror: return "mirror";
    case TileMode::Decal: return "decal";
  }
  return "?";
}

// Where a sample outside 0..n-1 comes from; -1 is transparent.
int Source(int i, int n, TileMode t) {
  if (i >= 0 && i < n) return i;
  switch (t) {
    case TileMode::Clamp: return i < 0 ? 0 : n - 1;
    case TileMode::Decal: return -1;
    case TileMode::Repeat: return ((i % n) + n) % n;
    case TileMode::Mirror: {
      int m = ((i % (2 * n)) + 2 * n) % (2 * n);
      return m < n ? m : 2 * n - 1 - m;
    }
  }
  return -1;
}

// A true Gaussian of the given sigmas (sampled out to five sigma) over a plane
// of c interleaved channels, in double.
std::vector<double> ReferenceBlur(std::vector<double> v, int w, int h, int c, double sx, double sy, TileMode tile) {
  auto pass = [&](int n, int lines, double sigma, auto index) {
    if (sigma <= 0) return;
    int r = int(std::ceil(5 * sigma));
    std::vector<double> k(size_t(2 * r + 1));
    double sum = 0;
    for (int i = -r; i <= r; ++i) sum += k[size_t(i + r)] = std::exp(-i * i / (2 * sigma * sigma));
    std::vector<double> out(v.size());
    for (int line = 0; line < lines; ++line)
      for (int i = 0; i < n; ++i)
        for (int ch = 0; ch < c; ++ch) {
          double acc = 0;
          for (int j = -r; j <= r; ++j) {
            int s = Source(i + j, n, tile);
            if (s >= 0) acc += k[size_t(j + r)] * v[index(line, s) + size_t(ch)];
          }
          out[index(line, i) + size_t(ch)] = acc / sum;
        }
    v.swap(out);
  };
  pass(w, h, sx, [&](int y, int x) { return (size_t(y) * w + x) * c; });
  pass(h, w, sy, [&](int x, int y) { return (size_t(y) * w + x) * c; });
  return v;
}

// Premultiplied pixels with hard-edged shapes, translucency, a transparent
// hole and noise: flat areas, steps and texture for every channel.
std::vector<uint32_t> Fixture(int w, int h) {
  std::vector<uint32_t> px(size_t(w) * h);
  uint32_t s = 7;
  auto rnd = [&] { return (s = s * 1664525u + 1013904223u) >> 24; };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t a = 255, r = 40 + rnd() % 40, g = 200 - rnd() % 40, b = (x * 255) / w;
      if (x > w / 3 && x < w / 2 + 3 && y > h / 4) r = 250, g = 20, b = 10;
      if (y > 2 * h / 3) a = 120 + rnd() % 60;
      if (x > 3 * w / 4 && y < h / 3) a = 0;
      px[size_t(y) * w + x] = Premultiply(MakeColor(a, r, g, b));
    }
  return px;
}

std::vector<double> Channels(const std::vector<uint32_t>& px) {
  std::vector<double> v;
  for (uint32_t p : px)
    for (int sh = 0; sh < 32; sh += 8) v.push_back(double((p >> sh) & 255));
  return v;
}

std::vector<double> Plane(const std::vector<uint32_t>& px, int shift) {
  std::vector<double> v;
  for (uint32_t p : px) v.push_back(double((p >> shift) & 255));
  return v;
}

struct Diff {
  double worst = 0, mean = 0;
};

template <typename T>
Diff Compare(const std::vector<T>& got, const std::vector<double>& ref) {
  Diff d;
  for (size_t i = 0; i < ref.size(); ++i) {
    double e = std::fabs(double(got[i]) - ref[i]);
    d.worst = std::max(d.worst, e);
    d.mean += e;
  }
  d.mean /= double(ref.size());
  return d;
}

struct BlurCase {
  float sx, sy;
  TileMode tile;
  int w, h;
  double tolerance;  // largest difference from the true Gaussian, in levels
};

}  // namespace

// The blur against a true Gaussian in all three pixel formats: exact kernels
// for small sigmas (within rounding), three running boxes for large ones
// (within what three boxes can do), anisotropic sigmas, every tile mode, and
// images smaller than the blur's reach so the tile modes wrap more than once.
TEST(Filters, BlurMatchesTrueGaussian) {
  const BlurCase cases[] = {
      {0.6f, 0.6f, TileMode::Clamp, 23, 19, 1},    {1.5f, 2.5f, TileMode::Repeat, 31, 17, 1},
      {2.9f, 0.0f, TileMode::Mirror, 40, 9, 1},    {0.0f, 1.2f, TileMode::Decal, 12, 30, 1},
      {6.0f, 1.0f, TileMode::Repeat, 11, 9, 2},    {3.0f, 3.0f, TileMode::Clamp, 64, 48, 10},
      {8.0f, 8.0f, TileMode::Clamp, 90, 70, 10},   {8.0f, 3.5f, TileMode::Decal, 90, 50, 10},
      {5.0f, 16.0f, TileMode::Repeat, 60, 40, 10}, {12.0f, 6.0f, TileMode::Mirror, 70, 20, 10},
      {20.0f, 20.0f, TileMode::Decal, 50, 50, 10},
  };
  for (const BlurCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "sigma " << c.sx << " x " << c.sy << ", " << TileName(c.tile) << ", " << c.w
                                    << " x " << c.h);
    const double meanTolerance = c.tolerance > 2 ? 2.0 : 0.5;
    std::vector<uint32_t> src = Fixture(c.w, c.h), dst(src.size());
    GaussianBlur(ConstPixelView(src.data(), size_t(c.w) * 4, c.w, c.h),
                 PixelView{dst.data(), size_t(c.w) * 4, c.w, c.h}, c.sx, c.sy, c.tile);
    Diff d = Compare(Channels(dst), ReferenceBlur(Channels(src), c.w, c.h, 4, c.sx, c.sy, c.tile));
    EXPECT_LE(d.worst, c.tolerance) << "four channels";
    EXPECT_LE(d.mean, meanTolerance) << "four channels";
    int invalid = 0;
    for (uint32_t p : dst) invalid += !IsValidPremul(p);
    EXPECT_EQ(invalid, 0);

    // One byte per pixel, rows padded to a wider stride.
    const size_t stride = size_t(c.w) + 5;
    std::vector<uint8_t> a8(stride * c.h, 77), a8out(a8.size(), 77);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) a8[y * stride + x] = uint8_t(src[size_t(y) * c.w + x] >> 8);
    GaussianBlurA8(a8.data(), a8out.data(), c.w, c.h, stride, c.sx, c.sy, c.tile);
    std::vector<uint8_t> a8got;
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) a8got.push_back(a8out[y * stride + x]);
    EXPECT_EQ(a8out[stride - 1], 77) << "the padding between rows is not written";
    Diff da = Compare(a8got, ReferenceBlur(Plane(src, 8), c.w, c.h, 1, c.sx, c.sy, c.tile));
    EXPECT_LE(da.worst, c.tolerance) << "A8";
    EXPECT_LE(da.mean, meanTolerance) << "A8";

    // Floats keep what bytes would round away.
    std::vector<float> f(src.size()), fout(src.size());
    for (size_t i = 0; i < src.size(); ++i) f[i] = float((src[i] >> 16) & 255) / 255.0f;
    GaussianBlurF32(f.data(), fout.data(), c.w, c.h, c.sx, c.sy, c.tile);
    std::vector<double> fref = ReferenceBlur(Plane(src, 16), c.w, c.h, 1, c.sx, c.sy, c.tile);
    for (double& v : fref) v /= 255.0;
    Diff df = Compare(fout, fref);
    EXPECT_LE(df.worst * 255.0, c.tolerance > 1 ? c.tolerance : 0.25) << "F32";
    EXPECT_LE(df.mean * 255.0, meanTolerance) << "F32";
  }
}

// In-place use must give what separate buffers give, also where the tile mode
// reaches back for rows and columns the blur has already written (Repeat and
// Mirror on images shorter than the reach), with padded strides, several
// column strips, and widths that do not fill whole vectors. The separate
// result goes through a third buffer, one axis at a time, so that no pass of
// it reads what it writes.
TEST(Filters, InPlaceMatchesSeparateBuffers) {
  struct Case {
    float sx, sy;
    TileMode tile;
    int w, h;
  };
  const Case cases[] = {
      {8, 8, TileMode::Repeat, 150, 12},  {2, 2.5f, TileMode::Mirror, 150, 7}, {5, 30, TileMode::Mirror, 37, 41},
      {0, 12, TileMode::Clamp, 150, 60},  {10, 0, TileMode::Decal, 61, 5},     {1, 6, TileMode::Repeat, 150, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "sigma " << c.sx << " x " << c.sy << ", " << TileName(c.tile) << ", " << c.w
                                    << " x " << c.h);
    // Four channels, rows three pixels longer than the image.
    const int pitch = c.w + 3;
    const size_t rb = size_t(pitch) * 4;
    std::vector<uint32_t> src(size_t(pitch) * c.h);
    std::vector<uint32_t> fx = Fixture(c.w, c.h);
    for (int y = 0; y < c.h; ++y) std::copy_n(&fx[size_t(y) * c.w], c.w, &src[size_t(y) * pitch]);
    std::vector<uint32_t> rows(src.size()), apart(src.size()), inPlace = src;
    GaussianBlur(ConstPixelView(src.data(), rb, c.w, c.h), PixelView{rows.data(), rb, c.w, c.h}, c.sx, 0, c.tile);
    GaussianBlur(ConstPixelView(rows.data(), rb, c.w, c.h), PixelView{apart.data(), rb, c.w, c.h}, 0, c.sy, c.tile);
    PixelView v{inPlace.data(), rb, c.w, c.h};
    GaussianBlur(v, v, c.sx, c.sy, c.tile);
    int differ = 0;
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) differ += apart[size_t(y) * pitch + x] != inPlace[size_t(y) * pitch + x];
    EXPECT_EQ(differ, 0) << "four channels";

    const size_t n = size_t(c.w) * c.h;
    std::vector<uint8_t> a8(n);
    for (size_t i = 0; i < n; ++i) a8[i] = uint8_t(fx[i] >> 16);
    std::vector<uint8_t> a8rows(n), a8apart(n), a8in = a8;
    GaussianBlurA8(a8.data(), a8rows.data(), c.w, c.h, size_t(c.w), c.sx, 0, c.tile);
    GaussianBlurA8(a8rows.data(), a8apart.data(), c.w, c.h, size_t(c.w), 0, c.sy, c.tile);
    GaussianBlurA8(a8in.data(), a8in.data(), c.w, c.h, size_t(c.w), c.sx, c.sy, c.tile);
    EXPECT_EQ(a8apart, a8in) << "A8";

    std::vector<float> f(a8.begin(), a8.end()), frows(n), fapart(n), fin = f;
    GaussianBlurF32(f.data(), frows.data(), c.w, c.h, c.sx, 0, c.tile);
    GaussianBlurF32(frows.data(), fapart.data(), c.w, c.h, 0, c.sy, c.tile);
    GaussianBlurF32(fin.data(), fin.data(), c.w, c.h, c.sx, c.sy, c.tile);
    EXPECT_EQ(fapart, fin) << "F32";
  }
}

// A single bright sample spreads into a centred bell of the requested width
// on each axis, from the shortest exact kernels to wide boxes.
TEST(Filters, ImpulseSpreadsToTheRequestedSigma) {
  for (float sigma : {0.7f, 2.0f, 3.2f, 5.5f, 8.0f, 25.0f}) {
    const float sx = sigma, sy = std::max(0.6f, sigma / 2);
    const int w = 2 * int(std::ceil(4 * sx)) + 1, h = 2 * int(std::ceil(4 * sy)) + 1;
    std::vector<float> f(size_t(w) * h, 0.0f);
    f[size_t(h / 2) * w + w / 2] = 1000.0f;
    GaussianBlurF32(f.data(), f.data(), w, h, sx, sy, TileMode::Decal);
    double m = 0, mx = 0, my = 0, vx = 0, vy = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        double v = f[size_t(y) * w + x];
        m += v, mx += v * x, my += v * y;
      }
    mx /= m, my /= m;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        double v = f[size_t(y) * w + x];
        vx += v * (x - mx) * (x - mx), vy += v * (y - my) * (y - my);
      }
    SCOPED_TRACE(testing::Message() << "sigma " << sx << " x " << sy);
    EXPECT_NEAR(m, 1000.0, 1.0);
    EXPECT_NEAR(mx, w / 2, 1e-3);
    EXPECT_NEAR(my, h / 2, 1e-3);
    EXPECT_NEAR(std::sqrt(vx / m), sx, 0.05 * sx);
    EXPECT_NEAR(std::sqrt(vy / m), sy, 0.05 * sy);
  }
}

// Sigmas that are no blur leave the pixels alone; absurd ones finish, keep
// the pixels valid, and under Repeat wash the image out to its mean.
TEST(Filters, DegenerateSigmas) {
  const int w = 24, h = 16;
  std::vector<uint32_t> src = Fixture(w, h);
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  for (float s : {0.0f, -3.0f, nan}) {
    std::vector<uint32_t> dst(src.size(), 0xDEADBEEF);
    GaussianBlur(ConstPixelView(src.data(), w * 4, w, h), PixelView{dst.data(), w * 4, w, h}, s, s, TileMode::Clamp);
    EXPECT_EQ(dst, src) << "sigma " << s;
  }
  double mean[4] = {0, 0, 0, 0};
  for (uint32_t p : src)
    for (int c = 0; c < 4; ++c) mean[c] += double((p >> (8 * c)) & 255) / double(src.size());
  for (float s : {inf, 1e30f}) {
    std::vector<uint32_t> dst = src;
    PixelView v{dst.data(), w * 4, w, h};
    GaussianBlur(v, v, s, s, TileMode::Repeat);
    int off = 0, invalid = 0;
    for (uint32_t p : dst) {
      invalid += !IsValidPremul(p);
      for (int c = 0; c < 4; ++c) off += std::fabs(double((p >> (8 * c)) & 255) - mean[c]) > 1.0;
    }
    EXPECT_EQ(off, 0) << "sigma " << s;
    EXPECT_EQ(invalid, 0) << "sigma " << s;
  }
  EXPECT_EQ(BlurRadius(nan), 0);
  EXPECT_EQ(BlurRadius(-1), 0);
  EXPECT_GT(BlurRadius(inf), 0);
  EXPECT_EQ(BlurRadius(inf), BlurRadius(1e30f));
}

// The 3 x 3 convolution against a direct evaluation of its definition: every
// tile mode, kernels centred off the middle and even outside the 3 x 3 (so
// the rows it reads jump around), colour alone or with alpha, in place.
TEST(Filters, Convolve3x3MatchesDirectEvaluation) {
  const int w = 29, h = 23;
  std::vector<uint32_t> src = Fixture(w, h);
  const std::array<float, 9> k = {-1.0f, 0.3f, 0.5f, -2.0f, 5.1f, 0.2f, 0.1f, -0.7f, 0.4f};
  const float gain = 0.9f, bias = 0.1f;
  for (TileMode tile : {TileMode::Clamp, TileMode::Repeat, TileMode::Mirror, TileMode::Decal})
    for (bool withAlpha : {false, true})
      for (IPoint off : {IPoint{1, 1}, IPoint{0, 2}, IPoint{5, -3}}) {
        SCOPED_TRACE(testing::Message() << TileName(tile) << (withAlpha ? ", with alpha" : ", colour only")
                                        << ", centre " << off.x << "," << off.y);
        std::vector<uint32_t> got = src;
        PixelView v{got.data(), size_t(w) * 4, w, h};
        Convolve3x3(v, v, k, gain, bias, off, tile, withAlpha);
        int worst = 0;
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) {
            double acc[4] = {0, 0, 0, 0};
            for (int ky = 0; ky < 3; ++ky)
              for (int kx = 0; kx < 3; ++kx) {
                int sx = Source(x + kx - off.x, w, tile), sy = Source(y + ky - off.y, h, tile);
                if (sx < 0 || sy < 0) continue;
                uint32_t p = src[size_t(sy) * w + sx];
                if (!withAlpha) p = Unpremultiply(p);
                for (int c = 0; c < 4; ++c) acc[c] += k[size_t(ky * 3 + kx)] * double((p >> (8 * c)) & 255);
              }
            int q[4];
            for (int c = 0; c < 4; ++c) q[c] = std::clamp(int(std::lround(acc[c] * gain + bias * 255)), 0, 255);
            uint32_t expect;
            if (withAlpha) {
              int a = q[3];
              expect = MakeColor(uint32_t(a), uint32_t(std::min(a, q[2])), uint32_t(std::min(a, q[1])),
                                 uint32_t(std::min(a, q[0])));
            } else {
              expect = Premultiply(MakeColor(GetA(src[size_t(y) * w + x]), uint32_t(q[2]), uint32_t(q[1]), uint32_t(q[0])));
            }
            uint32_t g = got[size_t(y) * w + x];
            for (int sh = 0; sh < 32; sh += 8)
              worst = std::max(worst, std::abs(int((g >> sh) & 255) - int((expect >> sh) & 255)));
          }
        EXPECT_LE(worst, 1);
      }
}
