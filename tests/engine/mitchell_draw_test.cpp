// Scaled draws with "high" sampling: the separable Mitchell resampler used for
// axis-aligned draws.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/gfx/surface.h"
#include "tests/support/harness.h"

using namespace lq;

namespace {

double Mitchell(double x) {
  const double B = 1.0 / 3, C = 1.0 / 3;
  x = std::fabs(x);
  if (x < 1) return ((12 - 9 * B - 6 * C) * x * x * x + (-18 + 12 * B + 6 * C) * x * x + (6 - 2 * B)) / 6;
  if (x < 2) return ((-B - 6 * C) * x * x * x + (6 * B + 30 * C) * x * x + (-12 * B - 48 * C) * x + (8 * B + 24 * C)) / 6;
  return 0;
}

// Weight of a source sample at distance d (in source pixels) from where an
// output sample lands, when one output sample spans `span` source pixels:
// Mitchell itself when enlarging, Mitchell averaged over a box of the span
// when shrinking (by a fine midpoint sum).
double Tap(double d, double span) {
  if (span <= 1.0001) return Mitchell(d);
  const int n = 256;
  double acc = 0;
  for (int k = 0; k < n; ++k) acc += Mitchell(d - span / 2 + (k + 0.5) * span / n);
  return acc * span / n;
}

// Expected grey level of device pixel (x, y) for a draw of the w x h source
// into dst; source edges are clamped.
double Expected(const std::vector<int>& v, int w, int h, const RectF& dst, int x, int y) {
  const double sx = w / dst.width(), sy = h / dst.height();
  const double u = (x + 0.5 - dst.left) * sx, t = (y + 0.5 - dst.top) * sy;
  const double rx = 2 + (sx > 1 ? sx / 2 : 0), ry = 2 + (sy > 1 ? sy / 2 : 0);
  double acc = 0, wsum = 0;
  for (int j = int(std::floor(t - ry)) - 1; j <= int(std::ceil(t + ry)) + 1; ++j)
    for (int i = int(std::floor(u - rx)) - 1; i <= int(std::ceil(u + rx)) + 1; ++i) {
      double wt = Tap(i + 0.5 - u, sx) * Tap(j + 0.5 - t, sy);
      acc += wt * v[size_t(std::clamp(j, 0, h - 1) * w + std::clamp(i, 0, w - 1))];
      wsum += wt;
    }
  return acc / wsum;
}

}  // namespace

// Enlarging, shrinking, both at once, and destinations at fractional offsets,
// against weights worked out here from the kernel itself.
TEST(MitchellDraw, MatchesAnalyticWeightsWhenShrinkingAndEnlarging) {
  struct Case {
    int w, h;
    RectF dst;
    int outW, outH;
  };
  const Case cases[] = {
      {23, 17, {0, 0, 9, 7}, 9, 7},            // shrink by about 2.5
      {31, 9, {0.25, 0.5, 12.25, 27.5}, 13, 28},  // shrink across, enlarge down
      {7, 6, {1.5, 0, 24.5, 11}, 26, 11},      // enlarge, half-pixel offset
      {40, 40, {0, 0, 6, 6}, 6, 6},            // shrink by almost 7
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << " x " << c.h << " into " << c.dst.width() << " x " << c.dst.height());
    std::vector<int> v(size_t(c.w) * c.h);
    std::vector<uint32_t> px;
    uint32_t s = 99;
    for (int& g : v) {
      s = s * 1664525u + 1013904223u;
      g = int(s >> 24);
      px.push_back(MakeColor(255, uint32_t(g), uint32_t(g), uint32_t(g)));
    }
    Image src = Image::MakeFromPixels(c.w, c.h, std::move(px), true);
    auto surf = Surface::MakeRaster(c.outW, c.outH);
    surf->GetCanvas()->DrawImageRect(src, c.dst, SamplingOptions::High());
    PixelView out = surf->PeekPixels();
    int worst = 0;
    // Pixels whose centres fall inside the destination rectangle.
    for (int y = int(std::ceil(c.dst.top - 0.5)); y < int(std::ceil(c.dst.bottom - 0.5)); ++y)
      for (int x = int(std::ceil(c.dst.left - 0.5)); x < int(std::ceil(c.dst.right - 0.5)); ++x) {
        int expect = std::clamp(int(std::lround(Expected(v, c.w, c.h, c.dst, x, y))), 0, 255);
        worst = std::max(worst, std::abs(int(GetG(out.at(x, y))) - expect));
        EXPECT_EQ(GetA(out.at(x, y)), 255u);
      }
    EXPECT_LE(worst, 1);
  }
}

// The resampled pixels go through the same compositing as any other draw:
// blend modes, paint alpha, clip paths and anti-aliased fractional edges give
// what the general path (taken by any rotation, however small) gives.
TEST(MitchellDraw, CompositesLikeTheGeneralPath) {
  struct Case {
    BlendMode mode;
    float alpha;
    bool clip;
    RectF dst;
  };
  const Case cases[] = {
      {BlendMode::SrcOver, 1, false, {0, 0, 61, 47}},        {BlendMode::SrcOver, 0.5f, true, {3.3, 2.6, 58.2, 44.7}},
      {BlendMode::Multiply, 1, false, {3.3, 2.6, 58.2, 44.7}}, {BlendMode::SrcIn, 0.7f, true, {0, 0, 61, 47}},
      {BlendMode::DstIn, 1, true, {2, 3, 50, 40}},          {BlendMode::Modulate, 1, false, {3.3, 2.6, 58.2, 44.7}},
      {BlendMode::Screen, 0.6f, false, {1, 2, 60, 45}},      {BlendMode::Src, 1, false, {0, 0, 61, 47}},
  };
  Image src = test::TestPattern(37, 29);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << int(c.mode) << " alpha " << c.alpha << " clip " << c.clip);
    std::unique_ptr<Surface> out[2];
    for (int k = 0; k < 2; ++k) {
      out[k] = Surface::MakeRaster(64, 50);
      Canvas* cv = out[k]->GetCanvas();
      cv->Clear(0xC0336699);
      if (c.clip) {
        Path circle;
        circle.AddCircle(30, 24, 19);
        cv->ClipPath(circle, true);
      }
      if (k == 1) cv->RotateRadians(1e-12);
      Paint p;
      p.blendMode = c.mode;
      p.setAlphaf(c.alpha);
      p.antiAlias = true;
      cv->DrawImageRect(src, RectF::MakeWH(src.width(), src.height()), c.dst, SamplingOptions::High(), &p);
    }
    int worst = 0;
    for (int y = 0; y < 50; ++y)
      for (int x = 0; x < 64; ++x)
        for (int sh = 0; sh < 32; sh += 8)
          worst = std::max(worst, std::abs(int((out[0]->PeekPixels().at(x, y) >> sh) & 255) -
                                           int((out[1]->PeekPixels().at(x, y) >> sh) & 255)));
    // Both evaluate the same kernel, but the general path rounds sample
    // positions to 1/256 pixel; next to hard edges that moves a level or two.
    EXPECT_LE(worst, 2);
  }
}

// Where alpha steps sharply, the kernel's negative lobes would lift colour
// above alpha; every drawn pixel stays a valid premultiplied one, and what
// lies outside the picture stays untouched.
TEST(MitchellDraw, TranslucentEdgesStayValidPremultiplied) {
  std::vector<uint32_t> px;
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x) {
      bool inside = (x / 3 + y / 3) % 2 == 0;
      px.push_back(inside ? 0xFFF0F0F0u : Premultiply(0x20FF0000u));
    }
  Image src = Image::MakeFromPixels(12, 12, std::move(px));
  for (RectF dst : {RectF{2, 2, 52, 52}, RectF{2.5, 1.5, 9.5, 8.5}}) {
    auto surf = Surface::MakeRaster(56, 56);
    surf->GetCanvas()->DrawImageRect(src, dst, SamplingOptions::High());
    int invalid = 0;
    for (int y = 0; y < 56; ++y)
      for (int x = 0; x < 56; ++x) invalid += !IsValidPremul(surf->PeekPixels().at(x, y));
    EXPECT_EQ(invalid, 0);
    EXPECT_EQ(surf->PeekPixels().at(55, 55), 0u);
    EXPECT_EQ(surf->PeekPixels().at(0, 0), 0u);
  }
}
