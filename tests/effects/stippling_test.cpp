#include <gtest/gtest.h>

#include <vector>

#include "tests/support/harness.h"

using namespace lq;
using namespace lq::test;

namespace {

constexpr int kStippling = 201;

class StipplingTest : public ::testing::Test {
 protected:
  HeadlessHost host;
};

Image FromRows(int w, int h, const std::vector<uint32_t>& premul) {
  return Image::MakeFromPixels(w, h, std::vector<uint32_t>(premul));
}

// Fraction of white pixels in an opaque result.
double WhiteShare(const Image& img) {
  ConstPixelView v = img.PeekPixels();
  int64_t white = 0;
  for (int y = 0; y < v.height; ++y)
    for (int x = 0; x < v.width; ++x) white += (v.at(x, y) & 0xFFFFFF) != 0;
  return double(white) / (double(v.width) * v.height);
}

TEST_F(StipplingTest, ZeroThresholdTurnsEveryPixelWhiteUnderItsOwnAlpha) {
  // Opaque, translucent and fully transparent pixels, dark and light.
  Image mixed = FromRows(4, 2, {0xFF000000, 0xFF808080, 0x80402010, 0x00000000,  //
                                0x40404040, 0xFFFFFFFF, 0x00000000, 0xC0100000});
  struct Case {
    const char* name;
    Image src;
  } cases[] = {{"photo", LoadPhoto("chelsea")}, {"mixed alpha", mixed}, {"1x1", Solid(1, 1, 0xFF000000)},
               {"1x7", Solid(1, 7, 0xFF202020)}, {"7x1", Solid(7, 1, 0xFF202020)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(c.src);
    Image out = RunRoutine(kStippling, c.src, {0, 0, 0, 0, 0}, false);
    ASSERT_TRUE(out);
    ConstPixelView s = c.src.PeekPixels(), o = out.PeekPixels();
    for (int y = 0; y < s.height; ++y)
      for (int x = 0; x < s.width; ++x) {
        uint32_t a = GetA(s.at(x, y));
        // Straight white is (A, A, A) premultiplied; alpha is never changed.
        ASSERT_EQ(o.at(x, y), MakeColor(a, a, a, a)) << x << "," << y;
      }
  }
}

TEST_F(StipplingTest, TransparentAreasStayTransparentAtEveryThreshold) {
  std::vector<uint32_t> px;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) {
      uint32_t a = x < 10 ? 0 : (x < 20 ? 100 : 255);
      uint32_t g = (x * 7 + y * 5) % 256;
      px.push_back(Premultiply(MakeColor(a, g, g, g)));
    }
  Image src = FromRows(40, 40, px);
  for (int p1 : {0, 50, 100}) {
    SCOPED_TRACE(p1);
    Image out = RunRoutine(kStippling, src, {p1, 0, 0, 0, 0}, false);
    ASSERT_TRUE(out);
    EXPECT_TRUE(AllPremultipliedValid(out));
    ConstPixelView o = out.PeekPixels();
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 10; ++x) ASSERT_EQ(o.at(x, y), 0u) << x << "," << y;
  }
}

TEST_F(StipplingTest, ErrorTravelsToTheAtkinsonNeighbours) {
  // Grey 90 is below the threshold 100/255: a plain threshold would give all
  // black; the diffused error lights these pixels (worked out by hand).
  Image src = Solid(4, 3, 0xFF5A5A5A);
  Image out = RunRoutine(kStippling, src, {100, 0, 0, 0, 0}, false);
  ASSERT_TRUE(out);
  const int expected[3][4] = {{0, 1, 0, 0}, {0, 1, 0, 1}, {0, 0, 0, 1}};
  ConstPixelView o = out.PeekPixels();
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(o.at(x, y), expected[y][x] ? 0xFFFFFFFFu : 0xFF000000u) << x << "," << y;
}

TEST_F(StipplingTest, DotDensityFollowsGreyLevelAndThreshold) {
  auto share = [](uint32_t grey, int p1) {
    uint32_t c = 0xFF000000u | grey * 0x010101u;
    return WhiteShare(RunRoutine(kStippling, Solid(120, 120, c), {p1, 0, 0, 0, 0}, false));
  };
  EXPECT_EQ(share(0, 50), 0.0);
  EXPECT_EQ(share(255, 50), 1.0);
  double prev = 0;
  for (uint32_t g : {20u, 40u, 70u, 110u, 160u}) {
    SCOPED_TRACE(g);
    double s = share(g, 50);
    EXPECT_GT(s, prev);
    EXPECT_LT(s, 1.0);
    prev = s;
  }
  // A higher threshold darkens the same grey.
  EXPECT_GT(share(60, 20), share(60, 80));
}

TEST_F(StipplingTest, PhotoGivesOnlyBlackAndWhiteAndTheSameResultTwice) {
  Image src = LoadPhoto("coffee");
  Image a = RunRoutine(kStippling, src, {50, 0, 0, 0, 0}, false);
  Image b = RunRoutine(kStippling, src, {50, 0, 0, 0, 0}, true);
  ASSERT_TRUE(a);
  EXPECT_EQ(MaxChannelDiff(a, b), 0);
  ConstPixelView o = a.PeekPixels();
  for (int y = 0; y < o.height; ++y)
    for (int x = 0; x < o.width; ++x) {
      uint32_t c = o.at(x, y);
      ASSERT_TRUE(c == 0xFF000000u || c == 0xFFFFFFFFu) << std::hex << c;
    }
  double s = WhiteShare(a);
  EXPECT_GT(s, 0.2);
  EXPECT_LT(s, 0.9);
}

TEST_F(StipplingTest, TranslucentAreasStippleByTheirOwnColour) {
  // Half-transparent white is white and half-transparent black is black,
  // whatever the premultiplied bytes look like.
  for (auto [straight, white] : {std::pair{0x80FFFFFFu, true}, {0x80000000u, false}, {0x40FFFFFFu, true}}) {
    SCOPED_TRACE(straight);
    Image out = RunRoutine(kStippling, Solid(30, 20, straight), {100, 0, 0, 0, 0}, false);
    uint32_t a = straight >> 24, c = white ? a : 0;
    EXPECT_EQ(MaxChannelDiff(out, Image::MakeFromPixels(30, 20, std::vector<uint32_t>(600, MakeColor(a, c, c, c)))), 0);
  }
}

TEST_F(StipplingTest, CancelStopsTheRunAtItsNextReport) {
  CancelResult r = CancelAfterFirstProgress(host, kStippling, TestPattern(1600, 1200), {50, 0, 0, 0, 0});
  ASSERT_TRUE(r.sawProgress);
  EXPECT_EQ(r.outcome, EffectHost::Outcome::Aborted);
  EXPECT_LT(r.msFromCancelToEnd, 2000.0);

  // Synchronously: the report of row 0 sets Cancel, the one of row 50 ends the run.
  int reports = 0;
  host.onProgress = [&](int v) {
    if (v >= 0 && v <= 100) {
      ++reports;
      host.driver().Cancel = true;
    }
  };
  LastUIUpdateTick = 0;
  EXPECT_THROW(RunSync(host, kStippling, TestPattern(300, 200), {50, 0, 0, 0, 0}), EAbort);
  host.onProgress = nullptr;
  host.driver().Cancel = false;
  EXPECT_EQ(reports, 1);
}

}  // namespace
