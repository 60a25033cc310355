#include <gtest/gtest.h>

#include "tests/support/harness.h"

using namespace lq;
using namespace lq::test;

namespace {
class BlackAndWhite : public ::testing::Test {
 protected:
  HeadlessHost host;
};

bool OnlyInk(const Image& img, const Image& src) {
  ConstPixelView v = img.PeekPixels(), s = src.PeekPixels();
  for (int y = 0; y < v.height; ++y)
    for (int x = 0; x < v.width; ++x) {
      uint32_t p = v.at(x, y);
      bool transparentSrc = GetA(s.at(x, y)) < 10;
      if (transparentSrc ? p != 0 : (p != 0xFF000000u && p != 0xFFFFFFFFu)) return false;
    }
  return true;
}
}  // namespace

TEST_F(BlackAndWhite, UniformGreyFollowsTheThresholdAndContourRules) {
  // On a uniform grey g (P4 = 0) a pixel is white when g > (5g + 92 - LD) div 6,
  // then inked black when 6g < E = (LL - 15) x 5. Worked out by hand:
  struct Case {
    int g, p1, p2;
    uint32_t expect;
  } cases[] = {
      {128, 50, 50, 0xFFFFFFFF},   // LD 128: t = 100; E = 565 <= 768
      {128, 50, 100, 0xFF000000},  // E = 1200 > 768: contour ink
      {20, 50, 50, 0xFF000000},    // t = 10, white, but 120 < 565
      {20, 50, 0, 0xFFFFFFFF},     // E = -75: no contour ink
      {60, 100, 0, 0xFFFFFFFF},    // LD 255: t = 22
      {10, 0, 0, 0xFF000000},      // LD 0: t = 23
  };
  for (const Case& c : cases) {
    Image src = Solid(16, 12, MakeColor(255, c.g, c.g, c.g));
    Image out = RunSync(host, 200, src, {c.p1, c.p2, 0, 0, 0});
    EXPECT_EQ(out.PeekPixels().at(8, 6), c.expect) << "g=" << c.g << " P1=" << c.p1 << " P2=" << c.p2;
  }
}

TEST_F(BlackAndWhite, OutputIsPureInkFollowingTransparency) {
  Image photo = LoadPhoto("chelsea");
  std::vector<uint32_t> px(size_t(photo.width()) * photo.height());
  ConstPixelView pv = photo.PeekPixels();
  for (int y = 0; y < photo.height(); ++y)
    for (int x = 0; x < photo.width(); ++x)
      px[size_t(y) * photo.width() + x] = (x < 40) ? 0x05020202u : pv.at(x, y);  // a nearly transparent strip
  Image src = Image::MakeFromPixels(photo.width(), photo.height(), std::move(px));
  for (int p3 : {0, 20}) {
    Image out = RunSync(host, 200, src, {50, 50, p3, 0, 0});
    EXPECT_TRUE(OnlyInk(out, src)) << "P3=" << p3;
  }
}

TEST_F(BlackAndWhite, PreviewMatchesFullRunWithoutSimplification) {
  Image src = LoadPhoto("coffee").MakeSubset(IRect::MakeXYWH(150, 100, 120, 90));
  Image full = RunRoutine(200, src, {50, 50, 0, 0, 0}, false);
  Image prev = RunRoutine(200, src, {50, 50, 0, 0, 0}, true);
  EXPECT_EQ(MaxChannelDiff(full, prev), 0);
  // With simplification only the full run applies the majority filter.
  Image fullS = RunRoutine(200, src, {50, 50, 30, 0, 0}, false);
  Image prevS = RunRoutine(200, src, {50, 50, 30, 0, 0}, true);
  EXPECT_GT(MaxChannelDiff(fullS, prevS), 0);
}

TEST_F(BlackAndWhite, ThinImagesAndCancellation) {
  for (auto [w, h] : {std::pair{1, 30}, std::pair{30, 1}, std::pair{1, 1}}) {
    Image out = RunSync(host, 200, TestPattern(w, h), {50, 50, 40, 0, 0});
    ASSERT_TRUE(out);
    EXPECT_TRUE(OnlyInk(out, TestPattern(w, h))) << w << "x" << h;
  }
  CancelResult r = CancelAfterFirstProgress(host, 200, LoadPhoto("astronaut"), {50, 50, 50, 0, 0});
  EXPECT_TRUE(r.sawProgress);
  EXPECT_EQ(r.outcome, EffectHost::Outcome::Aborted);
  EXPECT_LT(r.msFromCancelToEnd, 2000);
}
