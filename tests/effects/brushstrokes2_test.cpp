#include <gtest/gtest.h>

#include <vector>

#include "effects/painting/brushes/finishing.h"
#include "effects/painting/brushstrokes2.h"
#include "tests/support/harness.h"

using namespace lq;
using namespace lq::test;

namespace {

class Brushstrokes2Test : public ::testing::Test {
 protected:
  HeadlessHost host;
};

double MeanChannelDiff(const Image& a, const Image& b) {
  ConstPixelView va = a.PeekPixels(), vb = b.PeekPixels();
  int64_t sum = 0;
  for (int y = 0; y < va.height; ++y)
    for (int x = 0; x < va.width; ++x) {
      uint32_t p = va.at(x, y), q = vb.at(x, y);
      sum += std::abs(int(GetR(p)) - int(GetR(q))) + std::abs(int(GetG(p)) - int(GetG(q))) +
             std::abs(int(GetB(p)) - int(GetB(q)));
    }
  return double(sum) / (3.0 * va.width * va.height);
}

// Left third transparent, then a soft edge (alpha rising over 20 columns),
// then opaque colour bands.
Image HalfTransparent(int w, int h) {
  std::vector<uint32_t> px(size_t(w) * h, 0);
  for (int y = 0; y < h; ++y)
    for (int x = w / 3; x < w; ++x) {
      uint32_t a = uint32_t(std::min(255, (x - w / 3 + 1) * 255 / 20));
      uint32_t c = (y / 20) % 2 ? MakeColor(a, 0xE0, 0x90, 0x30) : MakeColor(a, 0x30, 0x60, 0xD0);
      px[size_t(y) * w + x] = Premultiply(c);
    }
  return Image::MakeFromPixels(w, h, std::move(px));
}

}  // namespace

TEST(Brushstrokes2Settings, Table) {
  struct Case {
    int p1, p2, p3, p4;
    int Ls, D, Rj;
    float Fa;
    int s;
  };
  const Case cases[] = {
      {50, 30, 25, 60, 23, 3, 195, 1.09765625f, 20},  // defaults
      {100, 30, 25, 60, 18, 3, 195, 1.09765625f, 20},  // largest brush size: longest strokes
      {0, 30, 25, 60, 28, 3, 195, 1.09765625f, 20},
      {50, 0, 0, 50, 23, 1, 255, 1.0f, 0},    // uniform placements nearly all rejected; no saturation change
      {50, 100, 100, 100, 23, 9, 55, 1.390625f, 100},
      {50, 12, 25, 0, 23, 1, 231, 1.09765625f, -100},  // (2 x 12) div 25 = 0
      {50, 13, 25, 49, 23, 2, 229, 1.09765625f, -2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.p1 << "," << c.p2 << "," << c.p3 << "," << c.p4);
    TBrushstrokes2Settings s = Brushstrokes2Settings(c.p1, c.p2, c.p3, c.p4, 70);
    EXPECT_EQ(s.Ls, c.Ls);
    EXPECT_EQ(s.D, c.D);
    EXPECT_EQ(s.Rj, c.Rj);
    EXPECT_FLOAT_EQ(s.Fa, c.Fa);
    EXPECT_EQ(s.s, c.s);
  }
}

TEST(Brushstrokes2Settings, StrokesAndLengths) {
  // From pass 400 on, twelve times as many (small) strokes per pass.
  EXPECT_EQ(Brushstrokes2StrokesInPass(1000, 1000, 3, 0), 62);
  EXPECT_EQ(Brushstrokes2StrokesInPass(1000, 1000, 3, 399), 62);
  EXPECT_EQ(Brushstrokes2StrokesInPass(1000, 1000, 3, 400), 733);
  EXPECT_EQ(Brushstrokes2StrokesInPass(100, 100, 1, 450), 1);  // small pictures: one stroke a pass
  EXPECT_EQ(Brushstrokes2StrokesInPass(50000, 50000, 9, 499), 464876 * 12 + 1);  // 2.25e10 pixel-strokes: no 32-bit overflow

  // A larger brush size (smaller divisor) makes longer strokes; 8 to 150
  // stamps, 10 for a stroke centred outside the picture.
  struct Case {
    int Ls, length, r;
    bool inside;
    int L;
  };
  const Case cases[] = {
      {18, 90, 20, true, 30}, {28, 90, 20, true, 26},  // P1 = 100 against P1 = 0
      {28, 0, 0, true, 8},    {1, 255, 499, true, 150}, {18, 255, 5, false, 10},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Brushstrokes2StrokeLength(c.Ls, c.length, c.r, c.inside), c.L) << c.Ls << " " << c.length << " " << c.r;
}

TEST_F(Brushstrokes2Test, PaintsAnOilLikenessWithEraseBackground) {
  Image photo = LoadPhoto("astronaut").MakeSubset(IRect::MakeXYWH(120, 60, 200, 160));
  host.driver().FEraseBdChecked = true;
  Image out = RunSync(host, 305, photo, {50, 30, 25, 50, 70});
  ASSERT_TRUE(out);
  ConstPixelView v = out.PeekPixels();
  for (int y = 0; y < v.height; ++y)
    for (int x = 0; x < v.width; ++x) ASSERT_EQ(v.at(x, y) >> 24, 255u);
  EXPECT_LT(MeanChannelDiff(out, photo), 20.0);  // the photograph,
  EXPECT_GT(MeanChannelDiff(out, photo), 2.0);   // painted
  EXPECT_GT(MaxChannelDiff(out, photo), 60);
}

// With erase background off every stroke, from the first one, is evaluated
// and undone when it does not bring the canvas closer to the photograph.
// Over the photograph itself none does, so what remains is the photograph
// with the light sharpening of a painted-over picture (and, at P4 = 50, no
// saturation change).
TEST_F(Brushstrokes2Test, PaintingOverTheSamePictureUndoesEveryStroke) {
  Image photo = LoadPhoto("chelsea").MakeSubset(IRect::MakeXYWH(100, 60, 160, 120));
  host.driver().FEraseBdChecked = false;
  host.driver().VIrImage = photo;
  Image out = RunSync(host, 305, photo, {50, 30, 25, 50, 70});
  auto expected = Surface::MakeRaster(160, 120);
  SharpenSurface(photo, *expected, 10);
  EXPECT_EQ(MaxChannelDiff(out, expected->MakeImageSnapshot()), 0);
}

// The saturation slider: 0 takes the colour out, 50 leaves it, 100 adds.
TEST_F(Brushstrokes2Test, SaturationFollowsP4) {
  Image photo = LoadPhoto("coffee").MakeSubset(IRect::MakeXYWH(150, 100, 160, 120));
  host.driver().FEraseBdChecked = false;
  host.driver().VIrImage = photo;
  auto spread = [](const Image& img) {
    ConstPixelView v = img.PeekPixels();
    int64_t sum = 0;
    for (int y = 0; y < v.height; ++y)
      for (int x = 0; x < v.width; ++x) {
        uint32_t p = v.at(x, y);
        sum += std::max({GetR(p), GetG(p), GetB(p)}) - std::min({GetR(p), GetG(p), GetB(p)});
      }
    return double(sum) / (v.width * v.height);
  };
  const double grey = spread(RunSync(host, 305, photo, {50, 30, 25, 0, 70}));
  const double same = spread(RunSync(host, 305, photo, {50, 30, 25, 50, 70}));
  const double vivid = spread(RunSync(host, 305, photo, {50, 30, 25, 100, 70}));
  EXPECT_LT(grey, 2.0);
  EXPECT_GT(vivid, same * 1.3);
  EXPECT_NEAR(same, spread(photo), spread(photo) * 0.1);
}

// Transparent parts of the photograph stay transparent and soft edges keep
// their alpha, with colour never above alpha: in previews, which start from
// a transparent canvas, and in full runs, whose underpainting is opaque.
TEST_F(Brushstrokes2Test, KeepsThePhotographsAlphaValidlyPremultiplied) {
  Image img = HalfTransparent(150, 100);
  for (bool preview : {true, false}) {
    SCOPED_TRACE(preview);
    host.driver().FEraseBdChecked = true;
    Image out = preview ? RunRoutine(305, img, {50, 30, 25, 60, 70}, true) : RunSync(host, 305, img, {50, 30, 25, 60, 70});
    ASSERT_TRUE(out);
    EXPECT_TRUE(AllPremultipliedValid(out));
    ConstPixelView v = out.PeekPixels(), s = img.PeekPixels();
    for (int y = 0; y < 100; ++y)
      for (int x = 0; x < 150; ++x) ASSERT_EQ(v.at(x, y) >> 24, s.at(x, y) >> 24) << x << "," << y;
    EXPECT_GT(MaxChannelDiff(out, img), 20);  // and painted where it is opaque
  }
}

// Pictures of 9 pixels or less in a direction are not painted: they stay as
// they were, never a transparent result.
TEST_F(Brushstrokes2Test, SmallPicturesStayAsTheyWere) {
  host.driver().FEraseBdChecked = true;
  for (auto [w, h] : {std::pair{9, 200}, {200, 9}, {600, 1}}) {
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    Image img = TestPattern(w, h);
    EXPECT_EQ(MaxChannelDiff(RunSync(host, 305, img, {50, 30, 25, 60, 70}), img), 0);
    EXPECT_EQ(MaxChannelDiff(RunRoutine(305, img, {50, 30, 25, 60, 70}, true), img), 0);
  }
  host.SetImage(TestPattern(9, 9));
  ASSERT_EQ(host.RunFull(305, {50, 30, 25, 60, 70}, 20000), EffectHost::Outcome::Succeeded);
  EXPECT_EQ(MaxChannelDiff(host.driver().VIrImage, TestPattern(9, 9)), 0);
}

// The slider extremes and the smallest paintable picture run to the end and
// paint an opaque picture; without the brush pictures the round mask paints.
TEST_F(Brushstrokes2Test, ExtremesPaint) {
  host.driver().FEraseBdChecked = true;
  struct Case {
    int w, h;
    std::array<int, 5> p;
    bool brushes;
  };
  const Case cases[] = {
      {120, 90, {0, 0, 0, 0, 0}, true},   {120, 90, {100, 100, 100, 100, 100}, true},
      {10, 10, {50, 30, 25, 60, 70}, true}, {400, 10, {50, 30, 25, 60, 70}, true},
      {120, 90, {50, 30, 25, 60, 70}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " P1 " << c.p[0] << " brushes " << c.brushes);
    if (!c.brushes) host.driver().BuiltinImage = [](const std::string&) { return Image(); };
    Image img = TestPattern(c.w, c.h);
    Image out = RunSync(host, 305, img, c.p);
    ASSERT_TRUE(out);
    EXPECT_TRUE(AllPremultipliedValid(out));
    EXPECT_LT(MeanChannelDiff(out, Solid(c.w, c.h, 0xFFFFFFFF)), 250.0);
    EXPECT_LT(MeanChannelDiff(out, img), 60.0);
  }
}

TEST_F(Brushstrokes2Test, PreviewEndsAt101) {
  host.SetImage(LoadPhoto("chelsea"));
  host.RunPreview(305, {50, 30, 25, 60, 70}, 60000);
  ASSERT_TRUE(host.previewBitmap);
  EXPECT_EQ(host.previewPercent, 101);
}

TEST_F(Brushstrokes2Test, CancelEndsTheRunQuickly) {
  host.driver().FEraseBdChecked = true;
  CancelResult r = CancelAfterFirstProgress(host, 305, LoadPhoto("coffee"), {50, 30, 25, 60, 70});
  ASSERT_TRUE(r.sawProgress);
  EXPECT_EQ(r.outcome, EffectHost::Outcome::Aborted);
  EXPECT_LT(r.msFromCancelToEnd, 2000);
}
