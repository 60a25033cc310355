#include <gtest/gtest.h>

#include <map>

#include "effects/painting/smooth_painting.h"
#include "engine/random.h"
#include "tests/effects/painting_support.h"
#include "tests/support/harness.h"

using namespace lq;
using namespace lq::test;

namespace {

class SmoothPaintingTest : public ::testing::Test {
 protected:
  HeadlessHost host;
};

// An opaque picture on the right, nothing on the left.
Image HalfTransparent(int w, int h, int opaqueFrom) {
  std::vector<uint32_t> px(size_t(w) * size_t(h), 0);
  for (int y = 0; y < h; ++y)
    for (int x = opaqueFrom; x < w; ++x) px[size_t(y) * w + x] = MakeColor(255, 40 + x % 50 * 4, 120, 200 - y);
  return Image::MakeFromPixels(w, h, std::move(px));
}

}  // namespace

TEST(SmoothPaintingSettings, StrokeSizeGridStepAndPasses) {
  struct Case {
    int p1, p2, c, half, step, outer;
  };
  const Case cases[] = {
      {35, 0, 18, 9, 1, 1},    // defaults: 17, made even
      {0, 39, 8, 4, 1, 1},     // small sizes all give 8
      {15, 0, 8, 4, 1, 1},
      {16, 40, 8, 4, 1, 2},    // 16 div 2 = 8
      {23, 59, 12, 6, 1, 2},   // 11, made even
      {40, 60, 20, 10, 2, 3},  // the grid thins out from 20 pixels on
      {100, 100, 50, 25, 5, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "P1 " << c.p1 << " P2 " << c.p2);
    TSmoothPaintingSettings s = SmoothPaintingSettings(c.p1, c.p2);
    EXPECT_EQ(s.StrokeSize, c.c);
    EXPECT_EQ(s.HalfSize, c.half);
    EXPECT_EQ(s.GridStep, c.step);
    EXPECT_EQ(s.OuterPasses, c.outer);
  }
}

// Every pixel of an opaque photograph is painted over: the result is an
// opaque likeness with much of the fine detail smoothed away.
TEST_F(SmoothPaintingTest, PaintsAnOpaqueSmoothLikeness) {
  Image photo = LoadPhoto("coffee").MakeSubset(IRect::MakeXYWH(150, 100, 200, 150));
  for (int p1 : {35, 0, 100}) {
    SCOPED_TRACE(p1);
    Image out = RunSync(host, 306, photo, {p1, 0, 0, 0, 0});
    ASSERT_TRUE(out);
    ConstPixelView v = out.PeekPixels();
    for (int y = 0; y < v.height; ++y)
      for (int x = 0; x < v.width; ++x) ASSERT_EQ(GetA(v.at(x, y)), 255u) << x << "," << y;
    EXPECT_LT(MeanGreenDiff(out, photo), 15.0);
    EXPECT_GT(MaxChannelDiff(out, photo), 30);
    EXPECT_LT(Busyness(out), Busyness(photo) * 8 / 10);
  }
}

// Pixels with alpha 9 or less never start a stroke, and the white silhouette
// is transparent there: a wide empty margin stays empty.
TEST_F(SmoothPaintingTest, TransparentAreasStayTransparent) {
  Image img = HalfTransparent(160, 100, 60);
  Image out = RunSync(host, 306, img, {35, 0, 0, 0, 0});  // strokes reach 9 pixels from their start
  ConstPixelView v = out.PeekPixels();
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 60 - 10; ++x) ASSERT_EQ(v.at(x, y), 0u) << x << "," << y;
  for (int y = 0; y < 100; ++y)
    for (int x = 80; x < 160; ++x) ASSERT_EQ(GetA(v.at(x, y)), 255u) << x << "," << y;
  EXPECT_TRUE(AllPremultipliedValid(out));
}

// Pictures far smaller than a stroke still end as their own colours, even
// where no stroke footprint could be measured.
TEST_F(SmoothPaintingTest, TinyPicturesKeepTheirColours) {
  for (auto [w, h] : {std::pair{1, 1}, {2, 3}, {600, 1}, {1, 40}}) {
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    Image img = Solid(w, h, 0xFF3070C0);
    Image out = RunSync(host, 306, img, {35, 0, 0, 0, 0});
    ASSERT_TRUE(out);
    EXPECT_TRUE(AllPremultipliedValid(out));
    EXPECT_LE(MaxChannelDiff(out, img), 16);
  }
}

// Without the template atlas nothing can be painted: the picture stays as
// it was instead of a blank result.
TEST_F(SmoothPaintingTest, MissingAtlasKeepsThePicture) {
  host.driver().BuiltinImage = [](const std::string&) { return Image(); };
  Image photo = TestPattern(80, 60);
  EXPECT_EQ(MaxChannelDiff(RunSync(host, 306, photo, {35, 0, 0, 0, 0}), photo), 0);
  EXPECT_EQ(MaxChannelDiff(RunRoutine(306, photo, {35, 0, 0, 0, 0}, true), photo), 0);
}

TEST(FillLighterAreas, PiecesWithinReachTakeTheMeanUnderThem) {
  HeadlessHost host;
  const int w = 90, h = 30;
  std::vector<uint32_t> matched(size_t(w) * h), dest(size_t(w) * h, 0xFFFFFFFFu);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) matched[size_t(y) * w + x] = MakeColor(255, uint32_t(2 * x), 60, uint32_t(3 * y));
  // Not lighter by more than 15 levels: left alone.
  const uint32_t close = MakeColor(255, 2 * 40 + 15, 60 + 15, 5 * 3 + 15);
  dest[size_t(5) * w + 40] = close;
  // Under a transparent part of the picture nothing is repaired.
  for (int y = 0; y < h; ++y) matched[size_t(y) * w + 70] = matched[size_t(y) * w + 79] = 0;
  // Faint pixels (alpha 10) are repaired, but their colour does not count.
  for (int y = 0; y < h; ++y)
    for (int x = 80; x < 90; ++x) matched[size_t(y) * w + x] = 0x0A0A0A0Au;
  Image m = Image::MakeFromPixels(w, h, std::vector<uint32_t>(matched));
  PixelView dv{dest.data(), size_t(w) * 4, w, h};
  int calls = 0;
  FillLighterAreas(m.PeekPixels(), dv, [&] { ++calls; });
  EXPECT_EQ(calls, 1);

  EXPECT_EQ(dest[size_t(5) * w + 40], close);
  for (int y = 0; y < h; ++y) {
    EXPECT_EQ(dest[size_t(y) * w + 70], 0xFFFFFFFFu);
    EXPECT_EQ(dest[size_t(y) * w + 79], 0xFFFFFFFFu);
    for (int x = 80; x < 90; ++x) EXPECT_EQ(dest[size_t(y) * w + x], 0xFFFFFFFFu);
  }
  // Every other pixel belongs to a flat piece: all of it lies within 25
  // pixels of its first pixel in row order (its seed), and its colour is the
  // mean colour of the picture under it.
  struct Piece {
    int x0 = -1, y0 = -1;
    int64_t n = 0, r = 0, b = 0;
    int reach2 = 0;
  };
  std::map<uint32_t, Piece> pieces;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < 70; ++x) {
      if (x == 40 && y == 5) continue;
      uint32_t c = dest[size_t(y) * w + x];
      ASSERT_NE(c, 0xFFFFFFFFu) << x << "," << y;
      Piece& p = pieces[c];
      if (p.n == 0) p.x0 = x, p.y0 = y;
      ++p.n;
      p.r += 2 * x;
      p.b += 3 * y;
      p.reach2 = std::max(p.reach2, (x - p.x0) * (x - p.x0) + (y - p.y0) * (y - p.y0));
    }
  EXPECT_GE(pieces.size(), 3u);  // 70 pixels wide cannot be one piece
  for (const auto& [c, p] : pieces) {
    SCOPED_TRACE(testing::Message() << "piece seeded at " << p.x0 << "," << p.y0);
    EXPECT_LE(p.reach2, 625);
    EXPECT_EQ(GetR(c), uint32_t(p.r / p.n));
    EXPECT_EQ(GetG(c), 60u);
    EXPECT_EQ(GetB(c), uint32_t(p.b / p.n));
    EXPECT_EQ(GetA(c), 255u);
  }
}

TEST(DespeckleBrightPixels, MoreThanFiveDarkerNeighboursReplaceABrightPixel) {
  HeadlessHost host;
  const uint32_t D = MakeColor(255, 100, 100, 100), B = MakeColor(255, 250, 250, 250), T = 0;
  struct Case {
    const char* what;
    std::array<uint32_t, 8> around;
    uint32_t expected;
  };
  const uint32_t L = MakeColor(255, 221, 221, 221);  // within 30 levels of the centre
  const Case cases[] = {
      {"six darker", {D, D, D, D, D, D, L, L}, MakeColor(255, 130, 130, 130)},
      {"five darker", {D, D, D, D, D, L, L, L}, B},
      {"six darker, two transparent", {D, D, D, D, D, D, T, T}, MakeColor(255, 100, 100, 100)},
      {"all transparent", {T, T, T, T, T, T, T, T}, B},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint32_t> px = {c.around[0], c.around[1], c.around[2], c.around[3], B,
                                c.around[4], c.around[5], c.around[6], c.around[7]};
    DespeckleBrightPixels(PixelView{px.data(), 12, 3, 3});
    EXPECT_EQ(px[4], c.expected);
  }
  // In place: a replacement counts for the pixels after it. (2, 1) has five
  // darker neighbours only once (1, 1) has been replaced before it.
  //   D D D D B
  //   D B B B B
  //   D D D B B
  std::vector<uint32_t> px = {D, D, D, D, B, D, B, B, B, B, D, D, D, B, B};
  DespeckleBrightPixels(PixelView{px.data(), 20, 5, 3});
  EXPECT_EQ(px[6], MakeColor(255, 118, 118, 118));  // (7 x 100 + 250) / 8
  EXPECT_EQ(GetR(px[7]), (5 * 100 + 118 + 2 * 250) / 8u);
  EXPECT_EQ(px[8], B);
}

TEST_F(SmoothPaintingTest, CancelEndsTheRunQuickly) {
  CancelResult r = CancelAfterFirstProgress(host, 306, LoadPhoto("coffee"), {35, 100, 0, 0, 0});
  ASSERT_TRUE(r.sawProgress);
  EXPECT_EQ(r.outcome, EffectHost::Outcome::Aborted);
  EXPECT_LT(r.msFromCancelToEnd, 2000);
}

// Pictures of a preview go through the driver's generation check: once a
// newer preview has started, nothing of the old one reaches the panel.
TEST_F(SmoothPaintingTest, StalePreviewsNeverShow) {
  EXPECT_EQ(PreviewDrawsAfterGoingStale(host, 306, LoadPhoto("coffee"), {35, 100, 0, 0, 0}), 0);
}

// Matching runs in parallel bands with private jitter streams: one seed must
// still give one picture, border footprints and every orientation included.
TEST_F(SmoothPaintingTest, OneSeedOnePicture) {
  Image photo = LoadPhoto("coffee").MakeSubset(IRect::MakeXYWH(100, 60, 260, 190));
  for (int p1 : {35, 100}) {
    SCOPED_TRACE(p1);
    std::vector<Image> outs;
    for (int run = 0; run < 2; ++run) {
      RandSeed.store(0x5EED1234u);
      outs.push_back(RunSync(host, 306, photo, {p1, 40, 0, 0, 0}));
      ASSERT_TRUE(outs.back());
    }
    EXPECT_EQ(MaxChannelDiff(outs[0], outs[1]), 0);
  }
}
