#include <gtest/gtest.h>

#include "tests/support/harness.h"

using namespace lq;
using namespace lq::test;

namespace {
class PencilSketch1 : public ::testing::Test {
 protected:
  HeadlessHost host;
};

bool AllGrey(const Image& img) {
  ConstPixelView v = img.PeekPixels();
  for (int y = 0; y < v.height; ++y)
    for (int x = 0; x < v.width; ++x) {
      uint32_t p = v.at(x, y);
      // Grey before resampling; the turn back may blend neighbours by a level.
      if (std::abs(int(GetR(p)) - int(GetG(p))) > 1 || std::abs(int(GetG(p)) - int(GetB(p))) > 1) return false;
    }
  return true;
}
}  // namespace

TEST_F(PencilSketch1, DeterministicAndDrawsTheWholePicture) {
  Image src = LoadPhoto("chelsea");
  ASSERT_TRUE(src);
  Image a = RunSync(host, 100, src, {20, 50, 65, 5, 80});
  Image b = RunSync(host, 100, src, {20, 50, 65, 5, 80});
  EXPECT_EQ(MaxChannelDiff(a, b), 0);
  // The interior is opaque and not blank.
  uint32_t mid = a.PeekPixels().at(src.width() / 2, src.height() / 2);
  EXPECT_EQ(GetA(mid), 255u);
  EXPECT_NE(MaxChannelDiff(a, Solid(src.width(), src.height(), 0)), 0);
}

TEST_F(PencilSketch1, ColorIntensityZeroGivesGrey) {
  Image src = LoadPhoto("coffee").MakeSubset(IRect::MakeXYWH(100, 80, 200, 150));
  EXPECT_TRUE(AllGrey(RunSync(host, 100, src, {20, 50, 65, 5, 0})));
  EXPECT_FALSE(AllGrey(RunSync(host, 100, src, {20, 50, 65, 5, 100})));
}

TEST_F(PencilSketch1, TransparentPixelsStayTransparent) {
  // Left half transparent, right half opaque.
  std::vector<uint32_t> px(80 * 60, 0);
  for (int y = 0; y < 60; ++y)
    for (int x = 40; x < 80; ++x) px[size_t(y) * 80 + x] = 0xFF6080A0;
  Image src = Image::MakeFromPixels(80, 60, std::move(px));
  Image out = RunSync(host, 100, src, {20, 50, 65, 5, 80});
  ConstPixelView v = out.PeekPixels();
  for (int y = 5; y < 55; ++y)
    for (int x = 0; x < 30; ++x) ASSERT_EQ(v.at(x, y), 0u) << x << "," << y;
  EXPECT_EQ(GetA(v.at(60, 30)), 255u);
  EXPECT_TRUE(AllPremultipliedValid(out));
}

TEST_F(PencilSketch1, EmptySourceLeavesDestUntouched) {
  auto dest = Surface::MakeRaster(4, 4);
  dest->GetCanvas()->Clear(0xFF123456);
  host.driver().ProcessEffectOnSurface(Image(), *dest, 100, 20, 50, 65, 5, 80);
  EXPECT_EQ(dest->PeekPixels().at(1, 1), 0xFF123456u);
  EXPECT_TRUE(host.progressLog.empty());
}
