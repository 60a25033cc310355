#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "effects/painting/watercolor2.h"
#include "engine/random.h"
#include "tests/support/harness.h"

using namespace lq;
using namespace lq::test;

namespace {

constexpr int kNumber = 301;

Image FromFunction(int w, int h, const std::function<TAlphaColor(int, int)>& straight) {
  std::vector<uint32_t> px(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) px[size_t(y) * w + x] = Premultiply(straight(x, y));
  return Image::MakeFromPixels(w, h, std::move(px));
}

uint32_t At(const Image& img, int x, int y) { return img.PeekPixels().at(x, y); }

int Clamp254(int v) { return v < 0 ? 0 : (v > 254 ? 254 : v); }

class Watercolor2 : public ::testing::Test {
 protected:
  // Without paper unless a test supplies one, so expectations never depend
  // on the embedded picture.
  void SetUp() override {
    host.driver().FEraseBdChecked = true;
    UsePaper(Image());
  }

  // A paper picture for the run, as the host's embedded pictures would supply it.
  void UsePaper(const Image& paper) {
    host.driver().BuiltinImage = [paper](const std::string& name) {
      return name == watercolor2::kPaperTextureName ? paper : Image();
    };
  }

  // A flat picture becomes one wash from the first seed: the first try hits,
  // so the draws are the seed's x and y and then the wash's jitter.
  int JitterOfFirstWash(uint32_t seed, int w, int h) {
    RandSeed = seed;
    Random(w);
    Random(h);
    int j = Random(24) - 8;
    RandSeed = seed;
    return j;
  }

  HeadlessHost host;
};

TEST_F(Watercolor2, SeedingProgressStaysWithinItsRangeOnHugePictures) {
  struct {
    int64_t painted, pixels;
    int expected;
  } cases[] = {
      {0, 100, 0},
      {50, 100, 42},
      {100, 100, 84},                        // finishing reports 85 itself
      {30'000'000, 32'000'000, 79},          // count x 85 passes 2^31 here
      {3'000'000'000, 3'000'000'000, 84},
      {0, 0, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(watercolor2::SeedProgress(c.painted, c.pixels), c.expected) << c.painted << " of " << c.pixels;
}

// A flat picture is one wash of its colour plus jitter; brightness then shifts
// it by Round(2.55 x P3) - 127.
TEST_F(Watercolor2, FlatPictureBecomesOneShiftedWash) {
  const TAlphaColor colour = 0xFF6496C8;  // 100, 150, 200
  struct {
    int P3, shift;
    bool preview;
  } cases[] = {
      {50, 1, false},  // 127.5 rounds to the even 128
      {60, 26, false},
      {49, -2, false},
      {0, -127, false},
      {100, 128, false},
      {60, 26, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "P3=" << c.P3 << " preview=" << c.preview);
    const int j = JitterOfFirstWash(4242, 40, 30);
    Image out = RunRoutine(kNumber, Solid(40, 30, colour), {90, 20, c.P3, 0, 50}, c.preview);
    ASSERT_TRUE(out);
    const TAlphaColor expected =
        MakeColor(255, ClampByte(Clamp254(100 + j) + c.shift), ClampByte(Clamp254(150 + j) + c.shift),
                  ClampByte(Clamp254(200 + j) + c.shift));
    EXPECT_EQ(MaxChannelDiff(out, Solid(40, 30, expected)), 0) << std::hex << At(out, 0, 0) << " != " << expected;
  }
}

// 8.7 million pixels of red 250 sum to more than 2^31.
TEST_F(Watercolor2, WashLargerThanThirtyTwoBitSumsKeepsItsColour) {
#ifdef __SANITIZE_THREAD__
  GTEST_SKIP() << "arithmetic only; too slow under ThreadSanitizer to be worth its minutes";
#endif
  const int w = 3000, h = 2900;
  const int j = JitterOfFirstWash(31337, w, h);
  Image out = RunRoutine(kNumber, Solid(w, h, 0xFFFAFAF9), {90, 20, 50, 0, 50}, false);
  ASSERT_TRUE(out);
  const int v = Clamp254(250 + j) + 1, b = Clamp254(249 + j) + 1;
  EXPECT_EQ(At(out, 1234, 2345), MakeColor(255, v, v, b));
  EXPECT_EQ(MaxChannelDiff(out, Solid(w, h, MakeColor(255, v, v, b))), 0);
}

TEST_F(Watercolor2, SaturationScalesAroundTheGrey) {
  Image src = Solid(40, 30, 0xFF6496C8);
  auto spread = [](uint32_t c) {
    int r = int(GetR(c)), g = int(GetG(c)), b = int(GetB(c));
    return std::max({r, g, b}) - std::min({r, g, b});
  };
  auto run = [&](int P5) {
    RandSeed = 99;
    return At(RunRoutine(kNumber, src, {90, 20, 40, 0, P5}, false), 20, 15);
  };
  const uint32_t neutral = run(50), grey = run(0), doubled = run(100);
  EXPECT_EQ(spread(grey), 0) << std::hex << grey;
  const double L = 0.299 * GetR(neutral) + 0.587 * GetG(neutral) + 0.114 * GetB(neutral);
  EXPECT_NEAR(GetR(grey), L, 0.5001);
  EXPECT_NEAR(spread(doubled), 2 * spread(neutral), 1);
}

// Nothing near-white is ever seeded, so with the background erased every pixel
// is the picture plus the paper offset, clamped to 254, then brightened.
TEST_F(Watercolor2, NearWhitePictureIsFilledFromPictureAndPaper) {
  // Paper covering only the top-left 8 x 6 corner: left half red 3, right
  // half red 37, so its mean is 20 and the uncovered table (128) lies below it.
  Image paper = FromFunction(8, 6, [](int x, int) { return x < 4 ? 0xFF030000u : 0xFF250000u; });
  auto offsetAt = [](int x, int y) {
    int table = 128;
    if (x % 1023 < 8 && y % 767 < 6) table = x % 1023 < 4 ? 3 : 37;
    return (20 - table) * 75 / 255;  // 5, -5, and -31 (truncated toward zero)
  };
  struct {
    const char* name;
    bool withPaper;
    TAlphaColor picture;
    int P3, shift;
  } cases[] = {
      {"grey without paper", false, 0xFFFBFBFB, 50, 1},
      {"grey on paper", true, 0xFFFBFBFB, 50, 1},
      {"white clamps to 254 first", false, 0xFFFFFFFF, 49, -2},
      {"white on paper", true, 0xFFFFFFFF, 50, 1},
  };
  // Long enough in each direction to see the pattern repeat.
  const std::array<IRect, 2> sizes = {IRect::MakeWH(1040, 8), IRect::MakeWH(8, 780)};
  for (const auto& c : cases)
    for (const IRect& size : sizes) {
      SCOPED_TRACE(testing::Message() << c.name << " " << size.width() << "x" << size.height());
      UsePaper(c.withPaper ? paper : Image());
      Image out = RunRoutine(kNumber, Solid(size.width(), size.height(), c.picture), {90, 20, c.P3, 50, 50}, false);
      ASSERT_TRUE(out);
      int mismatches = 0;
      for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
          const int v = ClampByte(Clamp254(int(GetR(c.picture)) + (c.withPaper ? offsetAt(x, y) : 0)) + c.shift);
          if (At(out, x, y) != MakeColor(255, v, v, v)) ++mismatches;
        }
      EXPECT_EQ(mismatches, 0) << std::hex << At(out, 0, 0) << " " << At(out, 7, 7);
    }
}

// With the background kept, unpainted areas show the displayed picture
// untouched by brightness, edges and saturation; erased, they are filled.
TEST_F(Watercolor2, EraseBackgroundDecidesWhatUnpaintedAreasShow) {
  const int w = 60, h = 40;
  Image src = FromFunction(w, h, [](int x, int) { return x < 30 ? 0xFFFCFCFCu : 0xFF285AA0u; });
  const TAlphaColor shown = 0xFF2060A0;
  host.driver().VIrImage = Solid(w, h, shown);
  for (bool erase : {false, true}) {
    SCOPED_TRACE(erase ? "erased" : "kept");
    host.driver().FEraseBdChecked = erase;
    Image out = RunRoutine(kNumber, src, {90, 20, 100, 100, 0}, false);
    ASSERT_TRUE(out);
    int leftWrong = 0, rightWrong = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint32_t p = At(out, x, y);
        const bool grey = GetR(p) == GetG(p) && GetG(p) == GetB(p);
        if (x < 30) {
          // Kept: the displayed picture exactly, even beside the edge line.
          // Erased: 252 brightened by 128 (the boundary column carries the edge line).
          if (erase ? (x < 29 && p != 0xFFFFFFFFu) : p != shown) ++leftWrong;
        } else if (!grey || p == shown) {
          ++rightWrong;  // every blue pixel is painted and then turned grey
        }
      }
    EXPECT_EQ(leftWrong, 0);
    EXPECT_EQ(rightWrong, 0);
  }
}

// Edge lines appear only where the picture changes, capped at 130 for P4 = 100.
TEST_F(Watercolor2, EdgeLinesFollowColourChangesAndAreCapped) {
  const int w = 50, h = 30;
  Image src = FromFunction(w, h, [](int x, int) { return x < 25 ? 0xFF141414u : 0xFFF0F0F0u; });
  auto run = [&](int P4) {
    RandSeed = 2024;
    return RunRoutine(kNumber, src, {90, 20, 60, P4, 50}, false);
  };
  Image none = run(0), capped = run(100);
  int outside = 0, brightLine = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int d = int(GetR(none.PeekPixels().at(x, y))) - int(GetR(capped.PeekPixels().at(x, y)));
      const bool onLine = (x == 24 || x == 25) && y >= 1 && y <= h - 2;
      if (!onLine && d != 0) ++outside;
      if (onLine && x == 25 && d == 130) ++brightLine;
    }
  EXPECT_EQ(outside, 0);
  EXPECT_EQ(brightLine, h - 2);
  // Without edge lines each half is one flat wash.
  EXPECT_EQ(MaxChannelDiff(none.MakeSubset(IRect::MakeXYWH(0, 0, 25, h)), Solid(25, h, At(none, 0, 0))), 0);
  EXPECT_EQ(MaxChannelDiff(none.MakeSubset(IRect::MakeXYWH(25, 0, 25, h)), Solid(25, h, At(none, 49, 0))), 0);
}

TEST_F(Watercolor2, TranslucentPicturesStayPremultiplied) {
  // Bright straight colours over an alpha ramp: written unpremultiplied, most
  // of these would carry colour above their alpha.
  Image src = FromFunction(64, 48, [](int x, int y) {
    uint32_t a = uint32_t(x * 255 / 63);
    return MakeColor(a, 255, 200 + (y % 3) * 20, uint32_t(40 + x));
  });
  Image translucentShown = Solid(64, 48, 0x80FFFFFF);
  struct {
    const char* name;
    bool erase, preview;
  } cases[] = {{"erased", true, false}, {"kept", false, false}, {"preview", false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    host.driver().FEraseBdChecked = c.erase;
    host.driver().VIrImage = translucentShown;
    for (std::array<int, 5> p : {std::array<int, 5>{90, 20, 100, 100, 100}, std::array<int, 5>{90, 60, 60, 20, 55}}) {
      Image out = RunRoutine(kNumber, src, p, c.preview);
      ASSERT_TRUE(out);
      EXPECT_TRUE(AllPremultipliedValid(out));
      if (c.erase || c.preview) {
        // Erased: too-transparent pixels stay clear, the rest keep their alpha.
        int wrongAlpha = 0;
        for (int y = 0; y < 48; ++y)
          for (int x = 0; x < 64; ++x) {
            const uint32_t a = GetA(At(src, x, y));
            if (GetA(At(out, x, y)) != (a >= 128 ? a : 0)) ++wrongAlpha;
          }
        EXPECT_EQ(wrongAlpha, 0);
      }
    }
  }
}

TEST_F(Watercolor2, PicturesTooSmallToPaintAreCopied) {
  struct {
    int w, h;
  } sizes[] = {{1, 1}, {3, 3}, {3, 50}, {50, 3}};
  for (const auto& s : sizes) {
    SCOPED_TRACE(testing::Message() << s.w << "x" << s.h);
    Image src = FromFunction(s.w, s.h, [](int x, int y) { return MakeColor(200, 30 * x % 256, 40 * y % 256, 90); });
    for (bool preview : {false, true}) EXPECT_EQ(MaxChannelDiff(RunRoutine(kNumber, src, {90, 20, 60, 20, 55}, preview), src), 0);
  }
  // 4 x 4 is painted.
  Image four = Solid(4, 4, 0xFF6496C8);
  EXPECT_NE(MaxChannelDiff(RunRoutine(kNumber, four, {90, 20, 60, 20, 55}, false), four), 0);

  // A full run commits the copy and ends the progress display.
  Image tiny = Solid(3, 20, 0xFF6496C8);
  host.SetImage(tiny);
  ASSERT_EQ(host.RunFull(kNumber, {90, 20, 60, 20, 55}, 10000), EffectHost::Outcome::Succeeded);
  EXPECT_EQ(MaxChannelDiff(host.driver().VIrImage, tiny), 0);
  EXPECT_EQ(host.progress, -1);
}

TEST_F(Watercolor2, FullRunReportsProgressAndCommitsAPainting) {
  Image src = LoadPhoto("chelsea");
  ASSERT_TRUE(src);
  host.SetImage(src);
  host.progressLog.clear();
  int repaintsBefore = host.repaints;
  ASSERT_EQ(host.RunFull(kNumber, {90, 20, 60, 20, 55}, 60000), EffectHost::Outcome::Succeeded);
  ASSERT_FALSE(host.progressLog.empty());
  for (int v : host.progressLog) EXPECT_TRUE(v == -1 || (v >= 0 && v <= 90)) << v;
  EXPECT_EQ(host.progressLog.back(), -1);
  EXPECT_GT(host.repaints - repaintsBefore, 1);  // work in progress, then the result
  Image out = host.driver().VIrImage;
  ASSERT_TRUE(out);
  EXPECT_NE(out, src);
  EXPECT_TRUE(AllPremultipliedValid(out));
  EXPECT_GT(MaxChannelDiff(out, src), 20);
}

TEST_F(Watercolor2, CancelEndsTheRunPromptly) {
  // Twice the photograph's size, so the run is still seeding when cancelled.
  Image photo = LoadPhoto("coffee");
  ASSERT_TRUE(photo);
  auto big = Surface::MakeRaster(photo.width() * 2, photo.height() * 2);
  big->GetCanvas()->DrawImageRect(photo, RectF::MakeWH(big->width(), big->height()), SamplingOptions::Linear());
  CancelResult r = CancelAfterFirstProgress(host, kNumber, big->MakeImageSnapshot(), {90, 20, 60, 20, 55});
  ASSERT_TRUE(r.sawProgress);
  EXPECT_EQ(r.outcome, EffectHost::Outcome::Aborted);
  EXPECT_LT(r.msFromCancelToEnd, 2000);
}

}  // namespace
