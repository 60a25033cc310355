#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/support/harness.h"

using namespace lq;
using namespace lq::test;

namespace {

constexpr int kComic = 203;

class ComicPrintTest : public ::testing::Test {
 protected:
  HeadlessHost host;
};

// Runs the routine on a destination that already holds a picture.
Image RunOnto(const Image& src, TAlphaColor fill, std::array<int, 5> p) {
  auto dest = Surface::MakeRaster(src.width(), src.height());
  dest->GetCanvas()->Clear(fill);
  auto ctx = std::make_shared<RunContext>();
  ctx->kind = RunKind::Synchronous;
  RunScope scope(ctx);
  FindEffectProc(kComic)(src, *dest, p[0], p[1], p[2], p[3], p[4], false);
  return dest->MakeImageSnapshot();
}

bool Neutral(uint32_t c) { return GetR(c) == GetG(c) && GetG(c) == GetB(c); }

int Darkest(const Image& img) {
  ConstPixelView v = img.PeekPixels();
  int m = 255;
  for (int y = 0; y < v.height; ++y)
    for (int x = 0; x < v.width; ++x) m = std::min({m, int(GetR(v.at(x, y))), int(GetG(v.at(x, y))), int(GetB(v.at(x, y)))});
  return m;
}

// Columns where two results differ anywhere.
std::vector<int> DifferingColumns(const Image& a, const Image& b) {
  ConstPixelView va = a.PeekPixels(), vb = b.PeekPixels();
  std::vector<int> cols;
  for (int x = 0; x < va.width; ++x)
    for (int y = 0; y < va.height; ++y)
      if (va.at(x, y) != vb.at(x, y)) {
        cols.push_back(x);
        break;
      }
  return cols;
}

TEST_F(ComicPrintTest, OnePixelWideOrTallLeavesTheDestinationUntouched) {
  for (auto [w, h] : {std::pair{1, 1}, {1, 50}, {50, 1}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    Image out = RunOnto(TestPattern(w, h), 0xFF123456, {10, 0, 100, 50, 60});
    EXPECT_EQ(MaxChannelDiff(out, Solid(w, h, 0xFF123456)), 0);
  }
  // Two pixels are enough to print.
  EXPECT_GT(MaxChannelDiff(RunOnto(Solid(2, 2, 0xFF000000), 0xFF123456, {10, 0, 100, 50, 0}), Solid(2, 2, 0xFF123456)),
            0);
}

TEST_F(ComicPrintTest, ColourIntensityBelowFivePrintsOnlyTheBlackScreen) {
  struct Case {
    uint32_t src;
    int p4;
    bool white, neutral;
  } cases[] = {
      {0xFFFF0000, 4, true, true},     // pure red has no black: nothing is printed
      {0xFFFF0000, 5, false, false},   // magenta and yellow come back
      {0xFF606060, 0, false, true},    // grey keeps its black dots
      {0xFF606060, 50, false, false},  // ... and gets colour ink besides
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.p4) + " on " + std::to_string(c.src));
    Image out = RunRoutine(kComic, Solid(64, 64, c.src), {10, 0, 100, c.p4, 0}, false);
    EXPECT_EQ(MaxChannelDiff(out, Solid(64, 64, 0xFFFFFFFF)) == 0, c.white);
    ConstPixelView v = out.PeekPixels();
    bool neutral = true;
    for (int y = 0; y < v.height; ++y)
      for (int x = 0; x < v.width; ++x) neutral = neutral && Neutral(v.at(x, y));
    EXPECT_EQ(neutral, c.neutral);
  }
}

TEST_F(ComicPrintTest, BlackGetsOnlyFullBlackInk) {
  Image out = RunRoutine(kComic, Solid(80, 60, 0xFF000000), {10, 0, 100, 100, 0}, false);
  ConstPixelView v = out.PeekPixels();
  for (int y = 0; y < v.height; ++y)
    for (int x = 0; x < v.width; ++x) ASSERT_TRUE(Neutral(v.at(x, y))) << std::hex << v.at(x, y);
  EXPECT_EQ(Darkest(out), 20);  // the black ink itself, at the dot centres
}

TEST_F(ComicPrintTest, MinDotSizeIsLimitedByMaxDotSize) {
  Image src = TestPattern(120, 90);
  EXPECT_EQ(MaxChannelDiff(RunRoutine(kComic, src, {10, 80, 40, 50, 60}, false),
                           RunRoutine(kComic, src, {10, 40, 40, 50, 60}, false)),
            0);
  // On white paper no ink is wanted, so dots appear only through the minimum size.
  Image white = Solid(64, 64, 0xFFFFFFFF);
  EXPECT_EQ(Darkest(RunRoutine(kComic, white, {10, 0, 100, 50, 0}, false)), 255);
  EXPECT_LT(Darkest(RunRoutine(kComic, white, {10, 60, 100, 50, 0}, false)), 60);
  // Radius h x dmin below 0.4 draws nothing: c = 4 gives h = 2, so 19 % is too small.
  EXPECT_EQ(Darkest(RunRoutine(kComic, white, {0, 19, 100, 50, 0}, false)), 255);
  EXPECT_LT(Darkest(RunRoutine(kComic, white, {0, 21, 100, 50, 0}, false)), 255);
}

// White with a grey block: its left and right sides are straight vertical edges.
Image Block(int w, int h, int x0, int x1, int y0, int y1, uint32_t inside) {
  std::vector<uint32_t> px(size_t(w) * h, 0xFFFFFFFFu);
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) px[size_t(y) * w + x] = inside;
  return Image::MakeFromPixels(w, h, std::move(px), true);
}

TEST_F(ComicPrintTest, ContourWidthFollowsTheContourSetting) {
  // The block's left edge at x = 40; ink shows as the difference to a run
  // without contours. The edge line is one or two pixels wide; up to 25 it
  // gets the 3 x 3 stamp, above that a disc that grows with the setting.
  Image src = Block(100, 100, 40, 100, 0, 100, 0xFF000000);
  Image plain = RunRoutine(kComic, src, {10, 0, 100, 50, 0}, false);
  struct Case {
    int p5, minCols, maxCols;
  } cases[] = {{25, 1, 4}, {60, 5, 8}, {100, 9, 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.p5);
    std::vector<int> cols = DifferingColumns(plain, RunRoutine(kComic, src, {10, 0, 100, 50, c.p5}, false));
    ASSERT_FALSE(cols.empty());
    EXPECT_GE(int(cols.size()), c.minCols);
    EXPECT_LE(int(cols.size()), c.maxCols);
    EXPECT_LE(std::abs(cols.front() - 40), 8);
  }
}

TEST_F(ComicPrintTest, ShortContoursAreDropped) {
  // Cells of 40 pixels ask for contours of at least 24 pixels: the outline of
  // a 3 x 3 speck is shorter, the outline of a 20 x 20 square is not.
  Image speck = Block(80, 80, 38, 41, 38, 41, 0xFF000000);
  Image square = Block(80, 80, 30, 50, 30, 50, 0xFF000000);
  auto inked = [](const Image& src) {
    return MaxChannelDiff(RunRoutine(kComic, src, {100, 0, 100, 50, 0}, false),
                          RunRoutine(kComic, src, {100, 0, 100, 50, 60}, false)) > 0;
  };
  EXPECT_FALSE(inked(speck));
  EXPECT_TRUE(inked(square));
}

TEST_F(ComicPrintTest, AlphaIsKeptExactly) {
  Image photo = LoadPhoto("coffee");
  auto s = Surface::MakeRaster(photo.width(), photo.height());
  s->GetCanvas()->DrawImage(photo, 0, 0);
  PixelView pv = s->PeekPixels();
  for (int y = 0; y < pv.height; ++y)
    for (int x = 0; x < pv.width; ++x) {
      uint32_t a = x < 100 ? 0 : (x < 200 ? 128 : (x < 300 ? 30 : 255));
      pv.at(x, y) = Premultiply((pv.at(x, y) & 0xFFFFFFu) | (a << 24));
    }
  Image src = s->MakeImageSnapshot();
  Image out = RunRoutine(kComic, src, {10, 0, 100, 50, 60}, false);
  ASSERT_TRUE(out);
  EXPECT_TRUE(AllPremultipliedValid(out));
  ConstPixelView o = out.PeekPixels(), sv = src.PeekPixels();
  for (int y = 0; y < o.height; ++y)
    for (int x = 0; x < o.width; ++x) {
      ASSERT_EQ(GetA(o.at(x, y)), GetA(sv.at(x, y))) << x << "," << y;
      if (GetA(sv.at(x, y)) == 0) {
        ASSERT_EQ(o.at(x, y), 0u);
      }
    }
}

TEST_F(ComicPrintTest, SameInputSameOutput) {
  // Large enough for the dots to be drawn in several bands at once.
  Image src = TestPattern(800, 600);
  Image a = RunRoutine(kComic, src, {10, 0, 100, 50, 60}, false);
  Image b = RunRoutine(kComic, src, {10, 0, 100, 50, 60}, false);
  ASSERT_TRUE(a);
  EXPECT_EQ(MaxChannelDiff(a, b), 0);
}

TEST_F(ComicPrintTest, FullRunShowsEachPrintedScreen) {
  host.SetImage(LoadPhoto("chelsea"));
  int before = host.repaints;
  ASSERT_EQ(host.RunFull(kComic, {10, 0, 100, 50, 60}), EffectHost::Outcome::Succeeded);
  // Four screens in progress, then the result.
  EXPECT_GE(host.repaints - before, 5);
  EXPECT_EQ(host.progress, -1);
}

TEST_F(ComicPrintTest, CancelStopsTheRunAtItsNextCheck) {
  CancelResult r = CancelAfterFirstProgress(host, kComic, TestPattern(1600, 1200), {10, 0, 100, 50, 60});
  ASSERT_TRUE(r.sawProgress);
  EXPECT_EQ(r.outcome, EffectHost::Outcome::Aborted);
  EXPECT_LT(r.msFromCancelToEnd, 2000.0);

  // Synchronously: the first report of the first screen sets Cancel and the
  // check that follows it ends the run.
  int reports = 0;
  host.onProgress = [&](int v) {
    if (v >= 0 && v <= 100) {
      ++reports;
      host.driver().Cancel = true;
    }
  };
  LastUIUpdateTick = 0;
  EXPECT_THROW(RunSync(host, kComic, TestPattern(400, 300), {10, 0, 100, 50, 60}), EAbort);
  host.onProgress = nullptr;
  host.driver().Cancel = false;
  EXPECT_EQ(reports, 1);
}

}  // namespace
