#include <gtest/gtest.h>

#include "effects/overlay/builtin_pictures.h"
#include "effects/overlay/frame.h"
#include "tests/support/harness.h"

using namespace lq;
using namespace lq::test;

namespace {

class FrameTest : public ::testing::Test {
 protected:
  HeadlessHost host;
};

constexpr TAlphaColor kWood = 0xFF6B4A2Au, kCorner = 0xFF0000FFu, kMargin = 0xFFF0E0D0u;

// 300 x 300: an opaque border 50 pixels wide, a marked 10 x 10 top-left
// corner, a transparent window.
Image BorderFrame() {
  std::vector<uint32_t> px(300 * 300, 0);
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 300; ++x)
      if (x < 50 || x >= 250 || y < 50 || y >= 250) px[size_t(y) * 300 + x] = (x < 10 && y < 10) ? kCorner : kWood;
  return Image::MakeFromPixels(300, 300, std::move(px));
}

// A 400 x 300 picture whose pixel (x, y) encodes its position.
Image Picture() {
  std::vector<uint32_t> px(400 * 300);
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 400; ++x) px[size_t(y) * 400 + x] = MakeColor(255, uint32_t(x % 256), uint32_t(y % 256), 99);
  return Image::MakeFromPixels(400, 300, std::move(px), true);
}

}  // namespace

TEST_F(FrameTest, LayoutOfAFiftyPixelBorderAroundA400x300Picture) {
  Image frame = BorderFrame();
  EXPECT_EQ(FindFrameHole(frame), (IRect{50, 50, 250, 250}));
  struct Case {
    int margin;
    int finalW, finalH;
    RectF white;
  } cases[] = {
      {20, 540, 440, {49, 49, 491, 391}},
      {0, 500, 400, {49, 49, 451, 351}},   // still one pixel under the frame's inner edge
      {-7, 500, 400, {49, 49, 451, 351}},  // a negative margin counts as none
  };
  for (const Case& c : cases) {
    TFrameLayout l = ComputeFrameLayout(400, 300, frame, c.margin);
    ASSERT_TRUE(l.valid);
    EXPECT_EQ(l.BorderL, 50);
    EXPECT_EQ(l.BorderT, 50);
    EXPECT_EQ(l.BorderR, 50);
    EXPECT_EQ(l.BorderB, 50);
    EXPECT_EQ(l.FinalW, c.finalW) << c.margin;
    EXPECT_EQ(l.FinalH, c.finalH) << c.margin;
    EXPECT_EQ(l.WhiteBorderRect.left, c.white.left);
    EXPECT_EQ(l.WhiteBorderRect.top, c.white.top);
    EXPECT_EQ(l.WhiteBorderRect.right, c.white.right) << c.margin;
    EXPECT_EQ(l.WhiteBorderRect.bottom, c.white.bottom) << c.margin;
    EXPECT_EQ(l.DestRect.right, c.finalW);
    EXPECT_EQ(l.DestRect.bottom, c.finalH);
  }
}

TEST_F(FrameTest, ComposedPictureSitsOnTheMarginInsideTheStretchedFrame) {
  Image pic = Picture();
  Image out = ApplyImageFrame(pic, BorderFrame(), 20, kMargin);
  ASSERT_EQ(out.width(), 540);
  ASSERT_EQ(out.height(), 440);
  ConstPixelView v = out.PeekPixels();
  // The picture at (70, 70), unscaled.
  EXPECT_EQ(v.at(70, 70), pic.PeekPixels().at(0, 0));
  EXPECT_EQ(v.at(469, 369), pic.PeekPixels().at(399, 299));
  EXPECT_EQ(v.at(300, 200), pic.PeekPixels().at(230, 130));
  // The margin shows between the picture and the frame.
  for (auto [x, y] : {std::pair{50, 50}, {69, 200}, {470, 100}, {489, 389}, {300, 60}}) EXPECT_EQ(v.at(x, y), kMargin);
  // The frame: corners keep their size, edges are stretched along the sides.
  EXPECT_EQ(v.at(5, 5), kCorner);
  EXPECT_EQ(v.at(15, 5), kWood);
  EXPECT_EQ(v.at(49, 220), kWood);
  EXPECT_EQ(v.at(490, 220), kWood);
  EXPECT_EQ(v.at(270, 439), kWood);
  EXPECT_EQ(v.at(539, 0), kWood);
}

TEST_F(FrameTest, OneLayoutFramesSeveralPictures) {
  // Result and source of the same size share the layout made once.
  Image frame = BorderFrame();
  Image a = Picture(), b = Solid(400, 300, 0xFF102030u);
  TFrameLayout l = ComputeFrameLayout(a.width(), a.height(), frame, 20);
  Image fa = ComposeFrame(a, frame, l, kMargin), fb = ComposeFrame(b, frame, l, kMargin);
  EXPECT_EQ(MaxChannelDiff(fa, ApplyImageFrame(a, frame, 20, kMargin)), 0);
  EXPECT_EQ(fb.width(), fa.width());
  EXPECT_EQ(fb.PeekPixels().at(200, 200), 0xFF102030u);
  EXPECT_EQ(fb.PeekPixels().at(5, 5), fa.PeekPixels().at(5, 5));
}

TEST_F(FrameTest, FrameWithoutOpaqueCentreLinesHasZeroBorders) {
  // Only alpha 250 on the border: nothing counts as opaque, the window is the
  // whole frame, which is stretched over the picture and its margin.
  std::vector<uint32_t> px(100 * 80, 0);
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 100; ++x)
      if (x < 10 || x >= 90 || y < 10 || y >= 70) px[size_t(y) * 100 + x] = Premultiply(0xFA808080u);
  Image frame = Image::MakeFromPixels(100, 80, std::move(px));
  TFrameLayout l = ComputeFrameLayout(400, 300, frame, 20);
  ASSERT_TRUE(l.valid);
  EXPECT_EQ(l.HoleRect, (IRect{0, 0, 100, 80}));
  EXPECT_EQ(l.BorderL + l.BorderT + l.BorderR + l.BorderB, 0);
  Image pic = Picture();
  Image out = ComposeFrame(pic, frame, l, kMargin);
  ASSERT_EQ(out.width(), 440);
  ASSERT_EQ(out.height(), 340);
  EXPECT_EQ(out.PeekPixels().at(220, 170), pic.PeekPixels().at(200, 150));
  // The stretched frame's translucent border lies over the margin.
  TAlphaColor corner = out.PeekPixels().at(2, 2);
  EXPECT_NE(corner, kMargin);
  EXPECT_EQ(GetA(corner), 255u);
}

TEST_F(FrameTest, FrameWithAnOpaqueCentreLeavesThePictureUnchanged) {
  // No window: the search from the centre meets the border at once.
  Image solidFrame = Solid(120, 90, kWood);
  TFrameLayout l = ComputeFrameLayout(400, 300, solidFrame, 20);
  EXPECT_FALSE(l.valid);
  EXPECT_TRUE(FindFrameHole(solidFrame).isEmpty());
  Image pic = Picture();
  EXPECT_EQ(ApplyImageFrame(pic, solidFrame, 20, kMargin), pic);
  EXPECT_EQ(ComposeFrame(pic, solidFrame, l, kMargin), pic);
}

TEST_F(FrameTest, MissingPictureOrFrameChangesNothing) {
  Image pic = Picture();
  EXPECT_EQ(ApplyImageFrame(pic, Image(), 20, kMargin), pic);
  EXPECT_FALSE(ApplyImageFrame(Image(), BorderFrame(), 20, kMargin));
  EXPECT_FALSE(ComputeFrameLayout(400, 300, Image(), 20).valid);
  // A margin too large for any picture is refused, not wrapped around.
  EXPECT_FALSE(ComputeFrameLayout(400, 300, BorderFrame(), 2000000000).valid);
}

TEST_F(FrameTest, BuiltinFramesHaveAWindowAtTheirCentre) {
  const std::pair<int, int> sizes[] = {{2225, 2196}, {2244, 2424}, {1122, 1212}, {816, 1456},
                                       {2260, 3000}, {1100, 1100}, {2024, 2416}};
  ASSERT_EQ(BuiltinFrameNames().size(), 7u);
  Image pic = Picture();
  for (int k = 0; k < 7; ++k) {
    Image frame = BuiltinFrame(std::to_string(k + 1));
    ASSERT_TRUE(frame) << k + 1;
    EXPECT_EQ(frame.width(), sizes[k].first) << k + 1;
    EXPECT_EQ(frame.height(), sizes[k].second) << k + 1;
    TFrameLayout l = ComputeFrameLayout(pic.width(), pic.height(), frame, 20);
    ASSERT_TRUE(l.valid) << k + 1;
    EXPECT_GT(l.BorderL, 0) << k + 1;
    EXPECT_GT(l.BorderT, 0) << k + 1;
    // The picture shows through the window at its place.
    Image out = ComposeFrame(pic, frame, l, kMargin);
    EXPECT_EQ(out.PeekPixels().at(l.BorderL + 20 + 200, l.BorderT + 20 + 150), pic.PeekPixels().at(200, 150)) << k + 1;
  }
}
