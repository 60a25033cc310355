#include <gtest/gtest.h>

#include "effects/painting/stochastic_painting.h"
#include "engine/random.h"
#include "tests/effects/painting_support.h"
#include "tests/support/harness.h"

using namespace lq;
using namespace lq::test;

namespace {

class StochasticPaintingTest : public ::testing::Test {
 protected:
  StochasticPaintingTest() { host.driver().FEraseBdChecked = true; }
  HeadlessHost host;
};

constexpr std::array<int, 5> kDefaults = {10, 50, 20, 50, 90};

}  // namespace

TEST(StochasticSettings, Table) {
  struct Case {
    int w, h, p1, p2, p3, p4, p5;
    int smin, smax;
    double u;
    int64_t n;
    int st, tr, alpha, gw, gh;
  };
  // Opacity: 90 x 2.55 lies just below 229.5 in binary floating point.
  const Case cases[] = {
      // Defaults on a megapixel: 2500 x 35 strokes from 100 down to 20 pixels.
      {1000, 1000, 10, 50, 20, 50, 90, 20, 100, 35, 87500, 5, 6, 229, 256, 256},
      // Density at its top: fewer tries, coarser sampling; a quarter fewer strokes when Q > 80.
      {1000, 1000, 10, 50, 100, 50, 90, 20, 100, 155, 387500, 5, 2, 229, 256, 256},
      {1000, 1000, 10, 50, 100, 90, 90, 20, 100, 116.25, 290625, 3, 2, 229, 256, 256},
      {1000, 1000, 10, 50, 55, 100, 90, 20, 100, 65.625, 164062, 1, 5, 229, 256, 256},  // 164062.5 to even
      // P1 > P2 swaps the sizes; P1 = P2 = 0 gives the smallest ones; P5 = 0 still paints.
      {1000, 1000, 60, 20, 20, 50, 90, 40, 120, 35, 87500, 5, 6, 229, 256, 256},
      {1000, 1000, 0, 0, 20, 0, 0, 5, 10, 35, 87500, 10, 1, 20, 256, 256},
      // A very wide picture still gets a row of directions.
      {600, 1, 10, 50, 20, 50, 90, 20, 100, 35, 35, 5, 6, 229, 256, 1},
      {100, 700, 10, 50, 20, 50, 90, 20, 100, 35, 6125, 5, 6, 229, 100, 700},
      {19, 20, 10, 50, 20, 50, 90, 20, 100, 35, 0, 5, 6, 229, 19, 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " P " << c.p1 << "," << c.p2 << "," << c.p3 << ","
                                    << c.p4 << "," << c.p5);
    TStochasticSettings s = StochasticSettings(c.w, c.h, c.p1, c.p2, c.p3, c.p4, c.p5);
    EXPECT_EQ(s.Smin, c.smin);
    EXPECT_EQ(s.Smax, c.smax);
    EXPECT_DOUBLE_EQ(s.U, c.u);
    EXPECT_EQ(s.N, c.n);
    EXPECT_EQ(s.SampleStep, c.st);
    EXPECT_EQ(s.Tries, c.tr);
    EXPECT_EQ(s.Alpha, c.alpha);
    EXPECT_EQ(s.GW, c.gw);
    EXPECT_EQ(s.GH, c.gh);
  }
  EXPECT_EQ(StochasticSettings(1000, 1000, 10, 50, 20, 50, 90).ProgressEvery, 875);
  EXPECT_EQ(StochasticSettings(100, 100, 10, 50, 20, 50, 90).ProgressEvery, 100);
}

TEST(StochasticSettings, StrokesShrinkFromTheLargestToJustAboveTheSmallest) {
  TStochasticSettings s = StochasticSettings(1000, 1000, 10, 50, 20, 50, 90);
  EXPECT_FLOAT_EQ(StochasticStrokeSize(s, 0), 100.0f);
  float last = StochasticStrokeSize(s, s.N - 1);  // above 20 by less than a float can tell
  EXPECT_GE(last, 20.0f);
  EXPECT_LT(last, 20.001f);
  EXPECT_GT(StochasticStrokeSize(s, s.N - 1000), 20.0f);
  EXPECT_LT(StochasticStrokeSize(s, s.N / 2), StochasticStrokeSize(s, s.N / 4));
}

TEST_F(StochasticPaintingTest, PaintsALikenessFromScratch) {
  Image photo = LoadPhoto("chelsea").MakeSubset(IRect::MakeXYWH(100, 50, 240, 200));
  const double blank = MeanGreenDiff(Solid(240, 200, 0xFFFFFFFF), photo);
  struct Case {
    std::array<int, 5> p;
    double atMost;  // mean distance to the photograph, as a share of the blank canvas's
  };
  // At the sliders' far end the strokes are tiny and nearly transparent
  // (opacity 20 / 255): they still move the canvas towards the photograph.
  for (const Case& c : {Case{kDefaults, 1.0 / 6}, Case{{0, 0, 100, 100, 0}, 0.95}}) {
    SCOPED_TRACE(testing::Message() << "P5 " << c.p[4]);
    Image out = RunSync(host, 307, photo, c.p);
    ASSERT_TRUE(out);
    EXPECT_TRUE(AllPremultipliedValid(out));
    ConstPixelView v = out.PeekPixels();
    for (int y = 0; y < v.height; ++y)
      for (int x = 0; x < v.width; ++x) ASSERT_EQ(GetA(v.at(x, y)), 255u);
    EXPECT_LT(MeanGreenDiff(out, photo), blank * c.atMost);
    EXPECT_GT(MaxChannelDiff(out, photo), 30);
  }
}

// A stroke is drawn only when it brings the canvas closer to the
// photograph: painting over the photograph itself changes nothing.
TEST_F(StochasticPaintingTest, PaintingOverThePhotographChangesNothing) {
  Image photo = LoadPhoto("coffee").MakeSubset(IRect::MakeXYWH(150, 100, 200, 150));
  host.driver().FEraseBdChecked = false;
  host.driver().VIrImage = photo;
  EXPECT_EQ(MaxChannelDiff(RunSync(host, 307, photo, kDefaults), photo), 0);
}

// Transparent parts of the picture get no strokes, and a run that starts
// from scratch paints on a white silhouette of the picture.
TEST_F(StochasticPaintingTest, TransparentPartsStayTransparent) {
  const int w = 300, h = 120;
  std::vector<uint32_t> px(size_t(w) * h, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 150; x < w; ++x) px[size_t(y) * w + x] = MakeColor(255, 200, 40 + y, 60);
  for (int y = 0; y < h; ++y) px[size_t(y) * w + 40] = 0x09090909u;  // faint: below the limit
  Image img = Image::MakeFromPixels(w, h, std::move(px));
  Image out = RunSync(host, 307, img, {5, 20, 40, 50, 100});  // strokes of 10 .. 40 pixels
  ConstPixelView v = out.PeekPixels();
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < 150 - 30; ++x)
      ASSERT_EQ(v.at(x, y), x == 40 ? 0xFFFFFFFFu : 0u) << x << "," << y;  // any alpha is in the silhouette
    for (int x = 150; x < w; ++x) ASSERT_EQ(GetA(v.at(x, y)), 255u) << x << "," << y;
  }
  EXPECT_GT(MaxChannelDiff(out.MakeSubset(IRect::MakeXYWH(180, 0, 120, h)), Solid(120, h, 0xFFFFFFFF)), 100);
}

// Too small for a single stroke: the picture stays as it was rather than a
// blank canvas. A picture one pixel high still gets painted.
TEST_F(StochasticPaintingTest, SmallAndVeryWidePictures) {
  for (auto [w, h] : {std::pair{10, 10}, {19, 20}, {1, 399}}) {
    Image img = TestPattern(w, h);
    EXPECT_EQ(MaxChannelDiff(RunSync(host, 307, img, kDefaults), img), 0);
    EXPECT_EQ(MaxChannelDiff(RunRoutine(307, img, kDefaults, true), img), 0);
  }
  Image wide = Solid(600, 1, 0xFF2060A0);
  Image out = RunSync(host, 307, wide, kDefaults);
  EXPECT_LT(MeanGreenDiff(out, wide), MeanGreenDiff(Solid(600, 1, 0xFFFFFFFF), wide) * 0.8);
}

TEST_F(StochasticPaintingTest, MissingAtlasKeepsThePicture) {
  host.driver().BuiltinImage = [](const std::string&) { return Image(); };
  Image photo = TestPattern(80, 60);
  EXPECT_EQ(MaxChannelDiff(RunSync(host, 307, photo, kDefaults), photo), 0);
  EXPECT_EQ(MaxChannelDiff(RunRoutine(307, photo, kDefaults, true), photo), 0);
}

TEST_F(StochasticPaintingTest, CancelEndsTheRunQuickly) {
  CancelResult r = CancelAfterFirstProgress(host, 307, LoadPhoto("astronaut"), kDefaults);
  ASSERT_TRUE(r.sawProgress);
  EXPECT_EQ(r.outcome, EffectHost::Outcome::Aborted);
  EXPECT_LT(r.msFromCancelToEnd, 2000);
}

// The last picture of a preview is taken on the worker and handed over
// through the generation check: a stale preview never reaches the panel.
TEST_F(StochasticPaintingTest, StalePreviewsNeverShow) {
  EXPECT_EQ(PreviewDrawsAfterGoingStale(host, 307, LoadPhoto("coffee"), {10, 50, 100, 100, 90}), 0);
}

// Large pictures draw accepted strokes on a second thread while the next
// ones are scored: a stroke must still see every earlier overlapping stroke,
// so one seed gives one picture, the same on every run.
TEST_F(StochasticPaintingTest, OneSeedOnePictureWhileDrawingAlongside) {
  Image photo = LoadPhoto("astronaut").MakeSubset(IRect::MakeXYWH(0, 0, 512, 512));
  std::vector<Image> outs;
  for (int run = 0; run < 2; ++run) {
    RandSeed.store(0x5EED1234u);
    outs.push_back(RunSync(host, 307, photo, {5, 20, 60, 50, 90}));
    ASSERT_TRUE(outs.back());
  }
  EXPECT_EQ(MaxChannelDiff(outs[0], outs[1]), 0);
}
