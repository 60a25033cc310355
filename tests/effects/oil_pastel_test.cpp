#include "effects/painting/oil_pastel.h"

#include <gtest/gtest.h>

#include "tests/effects/synthetic_brushes.h"
#include "tests/support/harness.h"

using namespace lq;
using namespace lq::test;

namespace {

class OilPastelTest : public ::testing::Test {
 protected:
  OilPastelTest() { InstallSyntheticAtlases(host.driver()); }
  HeadlessHost host;
};

int WhitePixels(const Image& img) {
  ConstPixelView v = img.PeekPixels();
  int n = 0;
  for (int y = 0; y < v.height; ++y)
    for (int x = 0; x < v.width; ++x) n += v.at(x, y) == 0xFFFFFFFFu;
  return n;
}

}  // namespace

TEST(OilPastelSizes, Table) {
  struct Case {
    int p1, p2;
    bool doClear;
    int smin, smax;
  };
  const Case cases[] = {
      {10, 70, true, 43, 283},  {10, 70, false, 43, 188},     // defaults; smaller marks over a picture
      {50, 3, true, 3, 15},     {3, 3, true, 3, 15},          // P1 >= P2: P1 becomes P2 - 5, at least 0
      {80, 60, true, 223, 243}, {100, 100, false, 268, 268},  // Smin never above Smax
  };
  for (const Case& c : cases) {
    TPastelSizes s = OilPastelSizes(c.p1, c.p2, c.doClear);
    EXPECT_EQ(s.Smin, c.smin) << c.p1 << "," << c.p2;
    EXPECT_EQ(s.Smax, c.smax) << c.p1 << "," << c.p2;
  }
  EXPECT_EQ(OilPastelExtraPasses(10), 18);
  EXPECT_EQ(OilPastelExtraPasses(3), 50);
  EXPECT_EQ(OilPastelExtraPasses(30), 1);
  EXPECT_EQ(OilPastelExtraPasses(49), 0);
  EXPECT_EQ(OilPastelExtraPasses(50), 0);
}

TEST_F(OilPastelTest, PaintsAPastelLikenessOverWhitePaper) {
  Image photo = LoadPhoto("chelsea").MakeSubset(IRect::MakeXYWH(100, 50, 220, 160));
  host.driver().FEraseBdChecked = true;
  Image out = RunSync(host, 302, photo, {10, 30, 10, 10, 100});
  ASSERT_TRUE(out);
  EXPECT_TRUE(AllPremultipliedValid(out));
  EXPECT_LT(WhitePixels(out), 220 * 160 / 10);  // the paper is covered
  EXPECT_GT(MaxChannelDiff(out, photo), 40);    // with marks, not a copy
  ConstPixelView v = out.PeekPixels();
  int64_t sum = 0;
  ConstPixelView p = photo.PeekPixels();
  for (int y = 0; y < v.height; ++y)
    for (int x = 0; x < v.width; ++x) sum += std::abs(int(GetG(v.at(x, y))) - int(GetG(p.at(x, y))));
  EXPECT_LT(double(sum) / (220 * 160), 40.0);  // and still the photograph
}

// Pictures of 99 pixels or less in either direction are not painted: they
// stay as they were, in full runs and previews alike (a preview zoomed in far
// enough shows such a small region).
TEST_F(OilPastelTest, SmallPicturesStayAsTheyWere) {
  for (auto [w, h] : {std::pair{99, 200}, {200, 99}, {40, 40}}) {
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    Image img = TestPattern(w, h);
    EXPECT_EQ(MaxChannelDiff(RunSync(host, 302, img, {10, 70, 30, 30, 100}), img), 0);
    EXPECT_EQ(MaxChannelDiff(RunRoutine(302, img, {10, 70, 30, 30, 100}, true), img), 0);
  }
  Image photo = LoadPhoto("coffee");
  host.SetImage(photo);
  host.driver().FPreviewZoomFactor = 3.0f;  // a 75 x 75 region
  host.RunPreview(302, {10, 70, 30, 30, 100});
  ASSERT_TRUE(host.previewBitmap);
  EXPECT_EQ(host.previewPercent, 101);
  EXPECT_LT(WhitePixels(host.previewBitmap), 225 * 225 / 2);  // the photograph, not a blank panel
}

// 302 keeps only brushes whose centre column crosses paint at the probe rows;
// with none left the picture stays as it was rather than become a blank page.
TEST_F(OilPastelTest, CustomBrushesMissingTheProbeRowsAreNotUsed) {
  host.driver().CustomBrushesOn302 = true;
  host.driver().CustomBrushBitmap302 = MakeAtlas({SoftEllipseBrush(30, 30, 0, false, 70, 0)}, 1);
  host.driver().FEraseBdChecked = true;
  Image photo = TestPattern(160, 120);
  EXPECT_EQ(MaxChannelDiff(RunSync(host, 302, photo, {10, 30, 5, 10, 100}), photo), 0);

  host.driver().CustomBrushBitmap302 =
      MakeAtlas({SoftEllipseBrush(30, 30, 0, false, 70, 0), SoftEllipseBrush(90, 30)}, 1);
  Image out = RunSync(host, 302, photo, {10, 30, 5, 10, 100});
  EXPECT_GT(MaxChannelDiff(out, Solid(160, 120, 0xFFFFFFFF)), 50);  // painted with the usable one
}

// A run paints with the atlas chosen when it was launched, even when another
// launch has since changed the driver's working atlas.
TEST_F(OilPastelTest, RunKeepsTheAtlasChosenAtLaunch) {
  Image photo = TestPattern(160, 120);
  auto dest = Surface::MakeRaster(160, 120);
  auto ctx = std::make_shared<RunContext>();
  ctx->kind = RunKind::Synchronous;
  ctx->effectNumber = 302;
  RunScope scope(ctx);
  host.driver().ChooseBrushAtlas(302, *ctx);
  host.driver().Brushes = Image();  // a later launch chose something else
  FindEffectProc(302)(photo, *dest, 10, 30, 5, 10, 100, false);
  EXPECT_GT(MaxChannelDiff(dest->MakeImageSnapshot(), photo), 20);
}

TEST_F(OilPastelTest, CancelEndsTheRunQuickly) {
  CancelResult r = CancelAfterFirstProgress(host, 302, LoadPhoto("coffee"), {10, 70, 30, 30, 100});
  ASSERT_TRUE(r.sawProgress);
  EXPECT_EQ(r.outcome, EffectHost::Outcome::Aborted);
  EXPECT_LT(r.msFromCancelToEnd, 2000);
}
