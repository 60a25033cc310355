#include "effects/painting/impasto.h"

#include <gtest/gtest.h>

#include "tests/effects/synthetic_brushes.h"
#include "tests/support/harness.h"

using namespace lq;
using namespace lq::test;

namespace {

class ImpastoTest : public ::testing::Test {
 protected:
  ImpastoTest() { InstallSyntheticAtlases(host.driver()); }
  HeadlessHost host;
};

bool RowPainted(const Image& img, int y) {
  ConstPixelView v = img.PeekPixels();
  for (int x = 0; x < v.width; ++x)
    if (v.at(x, y) != 0xFFFFFFFFu) return true;
  return false;
}

}  // namespace

TEST(ImpastoSettings, Table) {
  struct Case {
    int w, h, p1, p2, q;
    int smin, smax, passes, skip, refine, scale, workW, workH, gradW, gradH;
  };
  const Case cases[] = {
      {800, 600, 10, 50, 0, 51, 256, 8, 65, 2, 1, 800, 600, 256, 192},
      {800, 600, 10, 50, 50, 51, 256, 16, 42, 7, 1, 800, 600, 256, 192},  // Round(22.5) = 22
      {2000, 1000, 10, 50, 50, 51, 256, 16, 42, 7, 2, 1000, 500, 256, 128},
      {3000, 3000, 10, 50, 100, 51, 256, 18, 20, 12, 1, 3000, 3000, 256, 256},  // no reduction at Q >= 98
      {1600, 1200, 10, 50, 50, 51, 256, 16, 42, 7, 1, 1600, 1200, 256, 192},    // exactly 1,920,000: not above
      {800, 600, 0, 50, 50, 3, 256, 16, 42, 7, 1, 800, 600, 256, 192},
      {800, 600, 100, 50, 50, 512, 512, 16, 42, 7, 1, 800, 600, 256, 192},  // P2 < P1: one size throughout
      {100, 30, 10, 50, 50, 51, 256, 16, 42, 7, 1, 100, 30, 100, 30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " P1 " << c.p1 << " Q " << c.q);
    TImpastoSettings s = ImpastoSettings(c.w, c.h, c.p1, c.p2, 50, c.q, 100);
    EXPECT_EQ(s.Smin, c.smin);
    EXPECT_EQ(s.Smax, c.smax);
    EXPECT_EQ(s.PassCount, c.passes);
    EXPECT_EQ(s.SkipLimit, c.skip);
    EXPECT_EQ(s.RefineBase, c.refine);
    EXPECT_EQ(s.ScaleFactor, c.scale);
    EXPECT_EQ(s.WorkW, c.workW);
    EXPECT_EQ(s.WorkH, c.workH);
    EXPECT_EQ(s.GradW, c.gradW);
    EXPECT_EQ(s.GradH, c.gradH);
  }
  EXPECT_FLOAT_EQ(ImpastoSettings(800, 600, 10, 50, 50, 50, 0).GlobalOpacity, 0.05f);
  // Late passes paint at least one dab per band, even at density 0.
  EXPECT_EQ(ImpastoLateBudget(100, 20, 40, 0), 1);
  EXPECT_EQ(ImpastoLateBudget(1000, 500, 10, 50), 10010);  // 5000 cells x (2 + 0.002)
  EXPECT_EQ(ImpastoLateBudget(100000, 100000, 1, 100), 100000);
}

TEST_F(ImpastoTest, PaintsEveryBandOfAPhotograph) {
  Image photo = LoadPhoto("astronaut").MakeSubset(IRect::MakeXYWH(100, 50, 240, 300));
  host.driver().FEraseBdChecked = true;
  Image out = RunSync(host, 304, photo, {4, 20, 50, 30, 100});
  ASSERT_TRUE(out);
  EXPECT_TRUE(AllPremultipliedValid(out));
  // Band borders and the last band's rows get paint like the rest.
  for (int y = 0; y < out.height(); y += 7) EXPECT_TRUE(RowPainted(out, y)) << y;
  ConstPixelView v = out.PeekPixels(), p = photo.PeekPixels();
  int64_t sum = 0;
  for (int y = 0; y < v.height; ++y)
    for (int x = 0; x < v.width; ++x) {
      ASSERT_EQ(v.at(x, y) >> 24, 255u);
      sum += std::abs(int(GetG(v.at(x, y))) - int(GetG(p.at(x, y))));
    }
  EXPECT_LT(double(sum) / (240 * 300), 35.0);
  EXPECT_GT(MaxChannelDiff(out, photo), 30);
}

// Pixels with alpha 9 or less never start a dab, so a wide empty margin stays empty.
TEST_F(ImpastoTest, TransparentAreasStayEmpty) {
  std::vector<uint32_t> px(200 * 120, 0);
  for (int y = 0; y < 120; ++y)
    for (int x = 100; x < 200; ++x) px[size_t(y) * 200 + x] = x < 150 ? 0xFFC04020u : 0xFF2040C0u;
  for (int y = 0; y < 120; ++y) px[size_t(y) * 200 + 60] = 0x09090909u;  // faint, below the limit
  Image img = Image::MakeFromPixels(200, 120, std::move(px));
  host.driver().FEraseBdChecked = true;
  Image out = RunSync(host, 304, img, {4, 8, 50, 30, 100});  // dabs of 20 .. 41 pixels
  ConstPixelView v = out.PeekPixels();
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 100 - 32; ++x) ASSERT_EQ(v.at(x, y), 0u) << x << "," << y;
  EXPECT_NE(v.at(125, 60) >> 24, 0u);
}

// With erase background off, positions where the picture already matches the
// photograph are skipped: painting over the photograph itself changes nothing.
TEST_F(ImpastoTest, PaintingOverTheSamePictureChangesNothing) {
  Image photo = LoadPhoto("coffee").MakeSubset(IRect::MakeXYWH(150, 100, 200, 150));
  host.driver().FEraseBdChecked = false;
  host.driver().VIrImage = photo;
  EXPECT_EQ(MaxChannelDiff(RunSync(host, 304, photo, {4, 20, 50, 50, 100}), photo), 0);
}

TEST_F(ImpastoTest, SmallPicturesStayAsTheyWere) {
  for (auto [w, h] : {std::pair{49, 120}, {120, 49}, {10, 10}}) {
    Image img = TestPattern(w, h);
    EXPECT_EQ(MaxChannelDiff(RunSync(host, 304, img, {10, 50, 50, 50, 100}), img), 0);
    EXPECT_EQ(MaxChannelDiff(RunRoutine(304, img, {10, 50, 50, 50, 100}, true), img), 0);
  }
  // 50 x 50 is large enough to paint.
  host.driver().FEraseBdChecked = true;
  Image img = TestPattern(50, 50);
  EXPECT_GT(MaxChannelDiff(RunSync(host, 304, img, {2, 8, 50, 50, 100}), Solid(50, 50, 0xFFFFFFFF)), 30);
}

// 304 takes its cells as they are: a custom brush that misses the probe rows
// of 302/303 still paints here.
TEST_F(ImpastoTest, UsesCustomBrushesWithoutTheProbeTest) {
  host.driver().CustomBrushesOn304 = true;
  host.driver().CustomBrushBitmap304 = MakeAtlas({SoftEllipseBrush(30, 30, 0, false, 70, 0)}, 1);
  host.driver().CustomBrushCount304 = 1;
  host.driver().FEraseBdChecked = true;
  Image photo = TestPattern(120, 90);
  Image out = RunSync(host, 304, photo, {4, 10, 50, 30, 100});
  int painted = 0;
  for (int y = 0; y < 90; ++y) painted += RowPainted(out, y);
  EXPECT_GT(painted, 60);
}

// A run paints with the atlas chosen when it was launched, even when another
// launch (a preview of another brush effect) has since changed the driver's
// working atlas and count.
TEST_F(ImpastoTest, RunKeepsTheAtlasChosenAtLaunch) {
  Image photo = TestPattern(120, 90);
  auto dest = Surface::MakeRaster(120, 90);
  auto ctx = std::make_shared<RunContext>();
  ctx->kind = RunKind::Synchronous;
  ctx->effectNumber = 304;
  RunScope scope(ctx);
  host.driver().ChooseBrushAtlas(304, *ctx);
  host.driver().Brushes = host.driver().BuiltinImage("PastelBrushes");
  host.driver().GlobalBrushCount = 0;
  FindEffectProc(304)(photo, *dest, 4, 10, 50, 30, 100, false);
  EXPECT_GT(MaxChannelDiff(dest->MakeImageSnapshot(), Solid(120, 90, 0)), 30);
}

// Failures are not swallowed: they reach the caller (the driver's failure
// path for interactive runs) instead of a blank canvas committed as a result.
TEST_F(ImpastoTest, FailuresReachTheCaller) {
  auto wrong = Surface::MakeRaster(30, 30);
  Image before = wrong->MakeImageSnapshot();
  EXPECT_THROW(host.driver().ProcessEffectOnSurface(TestPattern(120, 90), *wrong, 304, 10, 50, 50, 50, 100),
               std::invalid_argument);
  EXPECT_EQ(MaxChannelDiff(wrong->MakeImageSnapshot(), before), 0);
}

TEST_F(ImpastoTest, CancelEndsTheRunQuickly) {
  CancelResult r = CancelAfterFirstProgress(host, 304, LoadPhoto("coffee"), {10, 50, 50, 50, 100});
  ASSERT_TRUE(r.sawProgress);
  EXPECT_EQ(r.outcome, EffectHost::Outcome::Aborted);
  EXPECT_LT(r.msFromCancelToEnd, 2000);
}
