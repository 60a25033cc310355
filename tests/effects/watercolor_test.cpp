#include "effects/painting/watercolor.h"

#include <gtest/gtest.h>

#include <cmath>

#include "effects/painting/brushes/brushes.h"
#include "effects/painting/brushes/finishing.h"
#include "tests/support/harness.h"

using namespace lq;
using namespace lq::test;

namespace {

// A small opaque picture with a few soft translucent and empty regions.
Image MixedPicture(int w, int h) {
  std::vector<uint32_t> px(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t a = 255;
      if (x < w / 6)
        a = 0;
      else if (y < h / 5)
        a = uint32_t(60 + (x * 7) % 150);
      uint32_t r = uint32_t((x * 37 + y * 11) % 256), g = uint32_t((x * 5 + y * 23) % 256),
               b = uint32_t((x ^ y) * 9 % 256);
      if ((x / 9 + y / 7) % 3 == 0) r = g = b = 200;  // flat patches
      px[size_t(y) * w + x] = Premultiply(MakeColor(a, r, g, b));
    }
  return Image::MakeFromPixels(w, h, std::move(px));
}

// The smoothing as described, in floating point, one pixel at a time.
Image ReferenceSmooth(const Image& img, int R, int thr, int iterations, float sigmaS) {
  const int w = img.width(), h = img.height();
  std::vector<uint32_t> a(size_t(w) * h), b(a.size());
  ConstPixelView v = img.PeekPixels();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) a[size_t(y) * w + x] = v.at(x, y);
  if (sigmaS < R / 2.5f) sigmaS = std::max(0.5f, R / 2.5f);
  for (int n = 0; n < iterations; ++n) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        uint32_t c = a[size_t(y) * w + x];
        if ((c >> 24) == 0) {
          b[size_t(y) * w + x] = c;
          continue;
        }
        double sw = 0, sr = 0, sg = 0, sb = 0;
        for (int dy = -R; dy <= R; ++dy)
          for (int dx = -R; dx <= R; ++dx) {
            int qx = x + dx, qy = y + dy;
            if (qx < 0 || qy < 0 || qx >= w || qy >= h) continue;
            uint32_t q = a[size_t(qy) * w + qx];
            int dr = int(GetR(c)) - int(GetR(q)), dg = int(GetG(c)) - int(GetG(q)), db = int(GetB(c)) - int(GetB(q));
            if (dr * dr + dg * dg + db * db > thr * thr || (q >> 24) == 0) continue;
            double wt = std::exp(-0.5 * (dx * dx + dy * dy) / (sigmaS * sigmaS));
            sw += wt;
            sr += wt * GetR(q);
            sg += wt * GetG(q);
            sb += wt * GetB(q);
          }
        uint32_t al = c >> 24;
        auto ch = [&](double s) { return std::min<uint32_t>(al, uint32_t(std::lround(s / sw))); };
        b[size_t(y) * w + x] = MakeColor(al, ch(sr), ch(sg), ch(sb));
      }
    std::swap(a, b);
  }
  return Image::MakeFromPixels(w, h, std::move(a));
}

double MeanAbsDiff(const Image& a, const Image& b) {
  ConstPixelView va = a.PeekPixels(), vb = b.PeekPixels();
  double sum = 0;
  for (int y = 0; y < va.height; ++y)
    for (int x = 0; x < va.width; ++x)
      for (int s = 0; s < 32; s += 8) sum += std::abs(int((va.at(x, y) >> s) & 255) - int((vb.at(x, y) >> s) & 255));
  return sum / (4.0 * va.width * va.height);
}

class WatercolorTest : public ::testing::Test {
 protected:
  HeadlessHost host;
};

}  // namespace

TEST(WatercolorSettings, SlidersAndPictureSize) {
  for (int p2 : {0, 1, 5}) EXPECT_EQ(WatercolorSettings(300, 200, 30, p2, 40, 100, false, false).K, 3) << p2;
  EXPECT_EQ(WatercolorSettings(300, 200, 30, 6, 40, 100, false, false).K, 3);
  EXPECT_EQ(WatercolorSettings(300, 200, 30, 40, 40, 100, false, false).K, 20);
  TWatercolorSettings s100 = WatercolorSettings(300, 200, 30, 100, 40, 100, false, false);
  EXPECT_EQ(s100.K, 50);
  EXPECT_FLOAT_EQ(s100.sigma, 0.3f);

  EXPECT_EQ(WatercolorSettings(200, 200, 0, 40, 40, 100, true, false).ShapeCount, 50);  // preview minimum
  EXPECT_EQ(WatercolorSettings(200, 200, 30, 40, 40, 100, false, false).ShapeCount, 15500);
  TWatercolorSettings big = WatercolorSettings(3000, 3000, 30, 40, 40, 100, false, false);
  EXPECT_NEAR(big.SizeFactor, 9000000.0 / 4194304.0, 1e-9);
  EXPECT_EQ(big.ShapeCount, 33259);  // Round(15500 * 2.14577)
  EXPECT_EQ(WatercolorSettings(4000, 2000, 30, 40, 40, 100, false, false).SizeFactor, 1.0);
  EXPECT_EQ(WatercolorSettings(20000, 20000, 30, 40, 40, 100, false, false).SizeFactor, 5.0);

  // The colour threshold halves when painting over a picture.
  EXPECT_EQ(WatercolorSettings(300, 200, 30, 40, 40, 100, false, false).T, 108);
  EXPECT_EQ(WatercolorSettings(300, 200, 30, 40, 40, 100, false, true).T, 54);
}

TEST(SmoothRayLengths, GaussianAroundTheCircle) {
  std::vector<int> flat(12, 40);
  SmoothRayLengths(flat, 12, 0.55f);
  EXPECT_EQ(flat, std::vector<int>(12, 40));

  std::vector<int> spike(10, 10);
  spike[0] = 110;  // the neighbours on both sides, across the wrap, take a share
  SmoothRayLengths(spike, 10, 0.8f);
  EXPECT_LT(spike[0], 110);
  EXPECT_GT(spike[1], 10);
  EXPECT_EQ(spike[1], spike[9]);
  EXPECT_EQ(spike[5], 10);
}

TEST(RedmeanDistance, Table) {
  struct Case {
    TAlphaColor a, b;
    int want;
  };
  const Case cases[] = {
      {0xFF336699, 0xFF336699, 0},   {0x00000000, 0xFF000000, 255},  // empty against visible
      {0x05FFFFFF, 0x00000000, 0},                                   // both empty
      {0xFFFFFFFF, 0xFF000000, 765},                                 // sqrt(162308 + 260100 + 162562) = 764.8
      {0xFF000000, 0xFFFFFFFF, 765}, {0xFFFFFFFF, 0xC1000000, 858},  // 765 * (62 / 255 * 0.5 + 1)
  };
  for (const Case& c : cases) EXPECT_EQ(RedmeanDistance(c.a, c.b), c.want) << std::hex << c.a << " " << c.b;
}

// The fast smoothing (eight pixels at a time, integer weights) agrees with a
// plain floating-point reading of the rule, borders and empty pixels included.
TEST(SimilaritySmooth, MatchesThePlainRule) {
  for (int w : {37, 8, 3})
    for (bool baseline : {false, true}) {
      SCOPED_TRACE(testing::Message() << w << (baseline ? " baseline kernel" : ""));
      g_finishingAvx2Disabled = baseline;
      Image img = MixedPicture(w, 29);
      auto s = Surface::MakeRaster(w, 29);
      s->GetCanvas()->DrawImage(img, 0, 0);
      int calls = 0;
      SimilaritySmoothSurface_MT(s->PeekPixels(), Image(), 5, 30, 3, false, 1.2f, 5.0f, 0, [&](float) { ++calls; });
      EXPECT_EQ(calls, 3);
      Image got = s->MakeImageSnapshot();
      EXPECT_LE(MaxChannelDiff(got, ReferenceSmooth(img, 5, 30, 3, 1.2f)), 1);
      EXPECT_TRUE(AllPremultipliedValid(got));
      ConstPixelView a = got.PeekPixels(), b = img.PeekPixels();
      for (int y = 0; y < 29; ++y)
        for (int x = 0; x < w; ++x) ASSERT_EQ(a.at(x, y) >> 24, b.at(x, y) >> 24);  // alpha kept
      g_finishingAvx2Disabled = false;
    }
}

TEST(SimilaritySmooth, GuideDecidesWhichNeighboursCount) {
  // Left half dark, right half light in the guide: the two halves of a noisy
  // surface are smoothed separately, so the edge stays sharp.
  const int w = 40, h = 20;
  std::vector<uint32_t> g(size_t(w) * h), p(g.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      g[size_t(y) * w + x] = x < w / 2 ? 0xFF101010u : 0xFFF0F0F0u;
      uint32_t v = (x < w / 2 ? 40u : 220u) + uint32_t((x * 7 + y * 13) % 11);
      p[size_t(y) * w + x] = MakeColor(255, v, v, v);
    }
  Image guide = Image::MakeFromPixels(w, h, std::move(g));
  auto s = Surface::MakeRaster(w, h);
  s->GetCanvas()->DrawImage(Image::MakeFromPixels(w, h, std::move(p)), 0, 0);
  SimilaritySmoothSurface_MT(s->PeekPixels(), guide, 5, 30, 2, true, 1.2f, 5.0f, 1);
  PixelView v = s->PeekPixels();
  for (int y = 0; y < h; ++y) {
    EXPECT_LE(GetR(v.at(w / 2 - 1, y)), 51u);
    EXPECT_GE(GetR(v.at(w / 2, y)), 220u);
  }
}

TEST(VibrancePop, GreyKeptDullColoursLifted) {
  Image img = Image::MakeFromPixels(4, 1, {0xFF808080u, 0xFF7A8090u, 0xFFD09070u, 0x80402010u});
  auto s = Surface::MakeRaster(4, 1);
  VibrancePop(img, *s, 60, 0, 0, 0, 100);
  PixelView v = s->PeekPixels();
  EXPECT_EQ(v.at(0, 0), 0xFF808080u);  // no saturation to lift
  auto spread = [](uint32_t c) {
    return int(std::max({GetR(c), GetG(c), GetB(c)}) - std::min({GetR(c), GetG(c), GetB(c)}));
  };
  EXPECT_GT(spread(v.at(1, 0)), spread(0xFF7A8090u));
  EXPECT_EQ(v.at(3, 0) >> 24, 0x80u);
  EXPECT_TRUE(IsValidPremul(v.at(3, 0)));

  // Mix 0 keeps the picture; skin protection tempers a skin tone's boost.
  VibrancePop(img, *s, 60, 0, 0, 0, 0);
  EXPECT_LE(MaxChannelDiff(s->MakeImageSnapshot(), img), 1);
  Image skin = Image::MakeFromPixels(1, 1, {0xFFD09070u});
  auto a = Surface::MakeRaster(1, 1), b = Surface::MakeRaster(1, 1);
  VibrancePop(skin, *a, 100, 30, 0, 0, 100);
  VibrancePop(skin, *b, 100, 30, 0, 100, 100);
  EXPECT_GT(spread(a->PeekPixels().at(0, 0)), spread(b->PeekPixels().at(0, 0)));
}

TEST(SharpenSurface, FlatStaysEdgesOvershoot) {
  std::vector<uint32_t> px(20 * 10);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) px[size_t(y) * 20 + x] = x < 10 ? 0xFF505050u : 0xFFA0A0A0u;
  Image img = Image::MakeFromPixels(20, 10, std::move(px));
  auto s = Surface::MakeRaster(20, 10);
  SharpenSurface(img, *s, 40);
  PixelView v = s->PeekPixels();
  EXPECT_EQ(v.at(3, 5), 0xFF505050u);
  EXPECT_LT(GetR(v.at(9, 5)), 0x50u);
  EXPECT_GT(GetR(v.at(10, 5)), 0xA0u);
  // In place, amount 0: unchanged.
  Image before = s->MakeImageSnapshot();
  SharpenSurface(Image(), *s, 0);
  EXPECT_EQ(MaxChannelDiff(before, s->MakeImageSnapshot()), 0);
}

TEST(DrawEdgeStrokes, DarkStrokesOnlyAlongEdges) {
  auto out = Surface::MakeRaster(40, 30);
  DrawEdgeStrokes(Solid(40, 30, 0xFF808080), *out, 5, 230, 10);
  EXPECT_EQ(MaxChannelDiff(out->MakeImageSnapshot(), Solid(40, 30, 0xFFFFFFFF)), 0);

  std::vector<uint32_t> px(40 * 30);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) px[size_t(y) * 40 + x] = x < 20 ? 0xFF202020u : 0xFFE0E0E0u;
  DrawEdgeStrokes(Image::MakeFromPixels(40, 30, std::move(px)), *out, 5, 230, 10);
  PixelView v = out->PeekPixels();
  EXPECT_LT(GetR(v.at(20, 15)), 200u);  // along the edge
  EXPECT_EQ(v.at(5, 15), 0xFFFFFFFFu);  // far from it

  // A picture with transparency gets a transparent layer away from the strokes.
  std::vector<uint32_t> tp(40 * 30, 0);
  for (int y = 10; y < 20; ++y)
    for (int x = 10; x < 30; ++x) tp[size_t(y) * 40 + x] = 0xFFFFFFFFu;
  DrawEdgeStrokes(Image::MakeFromPixels(40, 30, std::move(tp)), *out, 5, 230, 10);
  EXPECT_EQ(v.at(1, 1), 0u);
  EXPECT_EQ(v.at(9, 15) >> 24, 255u);  // a stroke just outside the box is opaque
  EXPECT_LT(GetR(v.at(9, 15)), 255u);
  EXPECT_TRUE(AllPremultipliedValid(out->MakeImageSnapshot()));
}

TEST_F(WatercolorTest, OpaquePhotoErasedBecomesAnOpaqueLikeness) {
  Image photo = LoadPhoto("chelsea").MakeSubset(IRect::MakeXYWH(100, 60, 160, 120));
  host.driver().FEraseBdChecked = true;
  Image out = RunSync(host, 300, photo, {2, 40, 40, 100, 20});
  ASSERT_TRUE(out);
  ConstPixelView v = out.PeekPixels();
  for (int y = 0; y < v.height; ++y)
    for (int x = 0; x < v.width; ++x) ASSERT_EQ(v.at(x, y) >> 24, 255u);
  double d = MeanAbsDiff(out, photo);
  EXPECT_GT(d, 1.0);   // painted, not copied
  EXPECT_LT(d, 30.0);  // and still the photograph
}

// More than 0.1 % non-opaque pixels: a full run with erase background starts
// transparent and leaves the empty part empty; a preview starts from white.
TEST_F(WatercolorTest, TransparencyDecidesTheStartCanvas) {
  Image img = MixedPicture(120, 90);
  host.driver().FEraseBdChecked = true;
  Image full = RunSync(host, 300, img, {1, 40, 20, 100, 20});
  ConstPixelView v = full.PeekPixels();
  EXPECT_EQ(v.at(2, 60) >> 24, 0u);  // inside the empty band on the left
  EXPECT_TRUE(AllPremultipliedValid(full));

  Image empty = Solid(60, 50, 0);
  Image preview = RunRoutine(300, empty, {0, 40, 40, 100, 20}, true);
  EXPECT_EQ(MaxChannelDiff(preview, Solid(60, 50, 0xFFFFFFFF)), 0);
}

// Painting over a picture keeps only washes that bring it closer to the
// photograph: over the photograph itself no wash survives, and the result is
// the finishing steps applied to the photograph.
TEST_F(WatercolorTest, PaintOverDiscardsWashesThatDoNotHelp) {
  Image photo = LoadPhoto("coffee").MakeSubset(IRect::MakeXYWH(200, 100, 150, 100));
  host.driver().FEraseBdChecked = false;
  host.driver().VIrImage = photo;
  Image out = RunSync(host, 300, photo, {1, 40, 40, 100, 20});

  auto expect = Surface::MakeRaster(photo.width(), photo.height());
  expect->GetCanvas()->DrawImage(photo, 0, 0);
  SimilaritySmoothSurface_MT(expect->PeekPixels(), Image(), 5, 30, 3, false, 1.2f, 5.0f, 0);
  VibrancePop(expect->MakeImageSnapshot(), *expect, 8, 5, 2, 40, 70);
  EdgeStrokeOverlay(photo, *expect, 5, 230, 10, 0, 20);
  SharpenSurface(Image(), *expect, 10);
  EXPECT_EQ(MaxChannelDiff(out, expect->MakeImageSnapshot()), 0);
}

TEST_F(WatercolorTest, TinyPicturesAndWrongDestination) {
  for (auto [w, h] : {std::pair{1, 1}, {2, 2}, {3, 5}, {40, 1}}) {
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    Image img = TestPattern(w, h);
    for (bool preview : {false, true}) {
      Image out = RunRoutine(300, img, {5, 40, 40, 100, 20}, preview);
      ASSERT_TRUE(out);
      EXPECT_TRUE(AllPremultipliedValid(out));
    }
  }
  auto wrong = Surface::MakeRaster(10, 10);
  EXPECT_THROW(host.driver().ProcessEffectOnSurface(TestPattern(20, 20), *wrong, 300, 30, 40, 40, 100, 20),
               std::invalid_argument);
}

TEST_F(WatercolorTest, CancelEndsTheRunQuickly) {
  Image photo = LoadPhoto("coffee");
  CancelResult r = CancelAfterFirstProgress(host, 300, photo, {30, 40, 40, 100, 20});
  ASSERT_TRUE(r.sawProgress);
  EXPECT_EQ(r.outcome, EffectHost::Outcome::Aborted);
  EXPECT_LT(r.msFromCancelToEnd, 2000);
}
