#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <numbers>
#include <vector>

#include "effects/painting/watercolor_splashes.h"
#include "tests/effects/synthetic_brushes.h"
#include "tests/support/harness.h"

using namespace lq;
using namespace lq::test;

namespace {

class WatercolorSplashesTest : public ::testing::Test {
 protected:
  WatercolorSplashesTest() { InstallSyntheticAtlases(host.driver()); }
  HeadlessHost host;
};

int CountPixels(const Image& img, TAlphaColor c) {
  ConstPixelView v = img.PeekPixels();
  int n = 0;
  for (int y = 0; y < v.height; ++y)
    for (int x = 0; x < v.width; ++x) n += v.at(x, y) == c;
  return n;
}

double MeanGreenDiff(const Image& a, const Image& b) {
  ConstPixelView va = a.PeekPixels(), vb = b.PeekPixels();
  int64_t sum = 0;
  for (int y = 0; y < va.height; ++y)
    for (int x = 0; x < va.width; ++x) sum += std::abs(int(GetG(va.at(x, y))) - int(GetG(vb.at(x, y))));
  return double(sum) / (double(va.width) * va.height);
}

}  // namespace

TEST(WatercolorSplashSettings, Table) {
  struct Case {
    int p1, p2, p4, p5;
    bool doClear;
    int smin, smax, P, T0, M;
    bool early;
    float op;
  };
  const Case cases[] = {
      {10, 70, 50, 80, true, 51, 358, 12, 3, 10, true, 0.8f},    // defaults
      {10, 70, 50, 80, false, 51, 238, 12, 3, 10, true, 0.8f},   // over a picture: two thirds
      {10, 70, 100, 80, true, 51, 358, 14, 8, 30, false, 0.8f},  // 15 passes, no early stop
      {10, 70, 75, 80, true, 51, 358, 13, 5, 20, false, 0.8f},
      {10, 70, 70, 80, true, 51, 358, 13, 5, 20, true, 0.8f},
      {10, 70, 19, 80, true, 51, 358, 11, 1, 10, true, 0.8f},
      {10, 70, 0, 0, true, 51, 358, 10, 1, 10, true, 0.1f},      // opacity never below 0.1
      {100, 50, 50, 80, true, 512, 512, 12, 3, 10, true, 0.8f},  // P2 raised to P1; sizes capped
      {0, 0, 50, 80, true, 3, 3, 12, 3, 10, true, 0.8f},         // never a size of 0
      {0, 0, 50, 80, false, 2, 2, 12, 3, 10, true, 0.8f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.p1 << "," << c.p2 << " P4 " << c.p4 << " clear " << c.doClear);
    TSplashSettings s = WatercolorSplashSettings(c.p1, c.p2, 50, c.p4, c.p5, c.doClear);
    EXPECT_EQ(s.Smin, c.smin);
    EXPECT_EQ(s.Smax, c.smax);
    EXPECT_EQ(s.P, c.P);
    EXPECT_EQ(s.T0, c.T0);
    EXPECT_EQ(s.M, c.M);
    EXPECT_EQ(s.EarlyStop, c.early);
    EXPECT_FLOAT_EQ(s.op, c.op);
  }
}

TEST(WatercolorSplashSettings, PassesRunFromTheLargestToTheSmallestSize) {
  // P4 = 100: passes 0..14; sizes above 40 get 10 tries, smaller ones 8.
  const TSplashSettings s = WatercolorSplashSettings(10, 70, 50, 100, 80, true);
  int coarse = 0, previous = 1 << 30;
  for (int pass = 0; pass <= s.P; ++pass) {
    SCOPED_TRACE(pass);
    TSplashPass k = WatercolorSplashPass(s, pass, 100, true);
    EXPECT_LE(k.size, previous);
    previous = k.size;
    coarse += k.Coarse;
    EXPECT_EQ(k.T, k.size > 40 ? 10 : 8);
    EXPECT_GE(k.Tc, 2);
    EXPECT_GE(k.g, 1);
    EXPECT_EQ(k.e, k.size > 50 ? 4 : k.size > 30 ? 3 : 2);
  }
  EXPECT_EQ(WatercolorSplashPass(s, 0, 100, true).size, 358);
  EXPECT_EQ(WatercolorSplashPass(s, s.P, 100, true).size, 51);
  EXPECT_EQ(coarse, 2);  // the grid passes while the size factor is above 0.87

  // Defaults, pass 0: grid step Round(358 / (50 / 15 + 0.8)) = 87, window
  // half-width 253, gain threshold 12816, colour threshold 3.
  TSplashPass k0 = WatercolorSplashPass(WatercolorSplashSettings(10, 70, 50, 50, 80, true), 0, 50, true);
  EXPECT_EQ(k0.g, 87);
  EXPECT_EQ(k0.hw, 253);
  EXPECT_EQ(k0.Tg, 12816);
  EXPECT_EQ(k0.Tc, 3);
  EXPECT_EQ(k0.T, 5);
  // Over a picture the thresholds are lower: colour halved, gain a quarter.
  const TSplashSettings over = WatercolorSplashSettings(10, 70, 50, 50, 80, false);
  TSplashPass last = WatercolorSplashPass(over, over.P, 50, false);
  EXPECT_EQ(last.size, 51);
  EXPECT_EQ(last.Tc, (50 + 3) / 2);
  EXPECT_EQ(last.Tg, 260 / 4);
  // Above P4 = 70 the colour threshold drops by 7, but never below 2.
  EXPECT_EQ(WatercolorSplashPass(WatercolorSplashSettings(10, 70, 50, 80, 80, true), 0, 80, true).Tc, 2);
}

TEST(WatercolorSplashSettings, GridAndAttempts) {
  EXPECT_EQ(WatercolorSplashGridHeight(600, 400), 171);
  EXPECT_EQ(WatercolorSplashGridHeight(100, 50), 50);
  EXPECT_EQ(WatercolorSplashGridHeight(5200, 10), 1);  // Round(0.49) would leave no row
  EXPECT_EQ(WatercolorSplashGridHeight(600, 1), 1);
  EXPECT_EQ(WatercolorSplashFineAttempts(225, 225, 358), 200);
  EXPECT_EQ(WatercolorSplashFineAttempts(4000, 3000, 51), 13841);
  EXPECT_EQ(WatercolorSplashFineAttempts(4000, 3000, 3), 30000);
  EXPECT_EQ(WatercolorSplashFineAttempts(50000, 50000, 512), 28610);  // no 32-bit overflow
  EXPECT_EQ(WatercolorSplashProgress(0, 12), 9);
  EXPECT_EQ(WatercolorSplashProgress(12, 12), 101);
}

TEST(WatercolorSplashSettings, BrushAngleIgnoresFaintPaint) {
  const double a = std::numbers::pi / 6;
  EXPECT_NEAR(SplashBrushAngle(SoftEllipseBrush(90, 25, a, false)), a, 0.02);
  EXPECT_NEAR(SplashBrushAngle(SoftEllipseBrush(90, 25, -a, false)), -a, 0.02);
  // A faint halo across the other axis does not turn the brush.
  std::vector<uint32_t> px(256 * 256, 0);
  Image core = SoftEllipseBrush(90, 25, 0, false);
  ConstPixelView v = core.PeekPixels();
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) {
      uint32_t p = v.at(x, y);
      if ((p >> 24) == 0 && std::abs(x - 128) < 20) p = 20u << 24;  // alpha 20: below the threshold
      px[size_t(y) * 256 + x] = p;
    }
  EXPECT_NEAR(SplashBrushAngle(Image::MakeFromPixels(256, 256, std::move(px))), 0.0, 0.02);
  // Too little paint to tell (three opaque pixels on a diagonal): 0.
  std::vector<uint32_t> few(256 * 256, 0);
  for (int i = 0; i < 3; ++i) few[size_t(100 + i) * 256 + 100 + i] = 0xFF000000u;
  EXPECT_EQ(SplashBrushAngle(Image::MakeFromPixels(256, 256, std::move(few))), 0.0f);
  EXPECT_EQ(SplashBrushAngle(Image()), 0.0f);
}

TEST_F(WatercolorSplashesTest, PaintsAWatercolourLikenessOverWhitePaper) {
  Image photo = LoadPhoto("chelsea").MakeSubset(IRect::MakeXYWH(80, 40, 240, 180));
  host.driver().FEraseBdChecked = true;
  Image out = RunSync(host, 303, photo, {2, 12, 50, 50, 80});  // splashes of 10 .. 61 pixels
  ASSERT_TRUE(out);
  EXPECT_TRUE(AllPremultipliedValid(out));
  EXPECT_LT(CountPixels(out, 0xFFFFFFFFu), 240 * 180 / 100);  // the paper is covered
  EXPECT_GT(MaxChannelDiff(out, photo), 40);                  // with splashes, not a copy
  EXPECT_LT(MeanGreenDiff(out, photo), 30.0);                 // and still the photograph
}

// Areas that already match the photograph are left alone: painting over the
// photograph itself changes nothing.
TEST_F(WatercolorSplashesTest, PaintingOverTheSamePictureChangesNothing) {
  Image photo = LoadPhoto("coffee").MakeSubset(IRect::MakeXYWH(150, 100, 200, 150));
  host.driver().FEraseBdChecked = false;
  host.driver().VIrImage = photo;
  EXPECT_EQ(MaxChannelDiff(RunSync(host, 303, photo, {2, 12, 50, 100, 80}), photo), 0);
}

// The number of passes shows in the progress of a full run: one report per pass.
TEST_F(WatercolorSplashesTest, OneProgressReportPerPass) {
  for (int p4 : {0, 50, 100}) {
    SCOPED_TRACE(p4);
    host.SetImage(TestPattern(90, 70));
    host.driver().FEraseBdChecked = true;
    host.progressLog.clear();
    ASSERT_EQ(host.RunFull(303, {2, 6, 50, p4, 80}, 60000), EffectHost::Outcome::Succeeded);
    const TSplashSettings s = WatercolorSplashSettings(2, 6, 50, p4, 80, true);
    std::vector<int> expected;
    for (int pass = 0; pass <= s.P; ++pass) expected.push_back(std::min(100, WatercolorSplashProgress(pass, s.P)));
    std::vector<int> seen;
    for (int v : host.progressLog)
      if (v > 1 && v <= 100) seen.push_back(v);
    EXPECT_EQ(seen, expected);
    ASSERT_TRUE(host.driver().VIrImage);
    EXPECT_GT(MaxChannelDiff(host.driver().VIrImage, Solid(90, 70, 0xFFFFFFFF)), 30);
  }
}

// Pictures of 9 pixels or less in a direction are not painted: they stay as
// they were (never a transparent result), and the run reports its end.
TEST_F(WatercolorSplashesTest, SmallPicturesStayAsTheyWere) {
  host.driver().FEraseBdChecked = true;
  for (auto [w, h] : {std::pair{9, 200}, {200, 9}, {600, 1}, {1, 1}}) {
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    Image img = TestPattern(w, h);
    EXPECT_EQ(MaxChannelDiff(RunSync(host, 303, img, {10, 70, 50, 50, 80}), img), 0);
    EXPECT_EQ(MaxChannelDiff(RunRoutine(303, img, {10, 70, 50, 50, 80}, true), img), 0);
  }
  host.SetImage(TestPattern(9, 9));
  ASSERT_EQ(host.RunFull(303, {10, 70, 50, 50, 80}, 20000), EffectHost::Outcome::Succeeded);
  EXPECT_EQ(MaxChannelDiff(host.driver().VIrImage, TestPattern(9, 9)), 0);
}

// Extreme sizes and shapes run to the end and paint: sliders at 0 (splashes
// of 3 pixels, at least), a picture 520 times wider than high, 10 x 10.
TEST_F(WatercolorSplashesTest, ExtremesPaint) {
  host.driver().FEraseBdChecked = true;
  struct Case {
    int w, h;
    std::array<int, 5> p;
  };
  const Case cases[] = {
      {80, 60, {0, 0, 50, 50, 80}},
      {80, 60, {0, 0, 0, 0, 0}},
      {5200, 10, {2, 6, 50, 50, 100}},
      {10, 10, {2, 6, 50, 50, 100}},
      {60, 50, {100, 100, 100, 100, 100}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " P1 " << c.p[0]);
    Image img = TestPattern(c.w, c.h);
    Image out = RunSync(host, 303, img, c.p);
    ASSERT_TRUE(out);
    EXPECT_TRUE(AllPremultipliedValid(out));
    EXPECT_LT(CountPixels(out, 0xFFFFFFFFu), c.w * c.h / 2);
  }
}

// Transparent parts of the photograph lend no colour: they stay empty.
TEST_F(WatercolorSplashesTest, TransparentAreasStayEmpty) {
  std::vector<uint32_t> px(160 * 100, 0);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 160; ++x) {
      if (x >= 80) px[size_t(y) * 160 + x] = 0xFFC04020u;
      if (x >= 70 && x < 80) px[size_t(y) * 160 + x] = Premultiply(MakeColor(uint32_t(25 * (x - 69)), 0xC0, 0x40, 0x20));
    }
  Image img = Image::MakeFromPixels(160, 100, std::move(px));
  for (bool preview : {true, false}) {
    SCOPED_TRACE(preview);
    host.driver().FEraseBdChecked = true;
    Image out = preview ? RunRoutine(303, img, {2, 8, 50, 50, 100}, true) : RunSync(host, 303, img, {2, 8, 50, 50, 100});
    EXPECT_TRUE(AllPremultipliedValid(out));
    ConstPixelView v = out.PeekPixels();
    for (int y = 0; y < 100; ++y)
      for (int x = 0; x < 20; ++x) ASSERT_EQ(v.at(x, y), 0u) << x << "," << y;
    EXPECT_GT(v.at(120, 50) >> 24, 200u);
  }
}

// Custom brushes whose paint misses the probe rows are not used; with none
// left the picture stays as it was rather than become a blank page.
TEST_F(WatercolorSplashesTest, NoUsableBrushKeepsThePicture) {
  host.driver().CustomBrushesOn303 = true;
  host.driver().CustomBrushBitmap303 = MakeAtlas({SoftEllipseBrush(30, 30, 0, false, 70, 0)}, 1);
  host.driver().FEraseBdChecked = true;
  Image photo = TestPattern(120, 90);
  EXPECT_EQ(MaxChannelDiff(RunSync(host, 303, photo, {2, 8, 50, 50, 80}), photo), 0);
  EXPECT_EQ(MaxChannelDiff(RunRoutine(303, photo, {2, 8, 50, 50, 80}, true), photo), 0);
}

TEST_F(WatercolorSplashesTest, PreviewEndsAt101) {
  host.SetImage(LoadPhoto("coffee"));
  host.RunPreview(303, {10, 70, 50, 50, 80}, 60000);
  ASSERT_TRUE(host.previewBitmap);
  EXPECT_EQ(host.previewPercent, 101);
  EXPECT_LT(CountPixels(host.previewBitmap, 0xFFFFFFFFu), 225 * 225 / 20);  // painted, not a blank panel
}

TEST_F(WatercolorSplashesTest, CancelEndsTheRunQuickly) {
  host.driver().FEraseBdChecked = true;
  CancelResult r = CancelAfterFirstProgress(host, 303, LoadPhoto("coffee"), {10, 70, 50, 100, 80});
  ASSERT_TRUE(r.sawProgress);
  EXPECT_EQ(r.outcome, EffectHost::Outcome::Aborted);
  EXPECT_LT(r.msFromCancelToEnd, 2000);
}

// A synchronous run (a script, the manual brush) cancelled while it paints
// reaches its caller as a cancellation, not as a finished picture.
TEST_F(WatercolorSplashesTest, CancelReachesASynchronousCaller) {
  host.driver().FEraseBdChecked = true;
  Image photo = LoadPhoto("coffee");
  auto dest = Surface::MakeRaster(photo.width(), photo.height());
  std::atomic<bool> done{false}, aborted{false};
  std::thread worker([&] {
    try {
      host.driver().ProcessEffectOnSurface(photo, *dest, 303, 10, 70, 50, 100, 80);
    } catch (const EAbort&) {
      aborted = true;
    }
    done = true;
  });
  host.loop().RunUntil([&] { return done.load() || (host.progress > 1 && host.progress <= 100); }, 60000);
  host.driver().Cancel = true;
  host.loop().RunUntil([&] { return done.load(); }, 60000);
  worker.join();
  host.driver().Cancel = false;
  EXPECT_TRUE(aborted);
}
