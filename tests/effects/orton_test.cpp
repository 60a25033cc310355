#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/support/harness.h"

using namespace lq;
using namespace lq::test;

namespace {

class OrtonFilterTest : public ::testing::Test {
 protected:
  HeadlessHost host;
};

constexpr int kOrton = 400;

Image Pixels(int w, int h, std::vector<uint32_t> premul) { return Image::MakeFromPixels(w, h, std::move(premul)); }

// A photograph with a band of translucent pixels of several alphas.
Image TranslucentPhoto() {
  Image photo = LoadPhoto("chelsea");
  ConstPixelView v = photo.PeekPixels();
  std::vector<uint32_t> px(size_t(v.width) * v.height);
  for (int y = 0; y < v.height; ++y)
    for (int x = 0; x < v.width; ++x) {
      uint32_t p = v.at(x, y);
      uint32_t a = x < 150 ? 255 : uint32_t(30 + (x * 7 + y * 3) % 226);
      px[size_t(y) * v.width + x] = Premultiply((a << 24) | (p & 0xFFFFFF));
    }
  return Pixels(v.width, v.height, std::move(px));
}

}  // namespace

TEST_F(OrtonFilterTest, UniformColourFollowsTheToneScreenStrengthAndVibranceSteps) {
  // On a uniform picture the glow equals the picture, so every step can be
  // worked out by hand for the colour (100, 150, 200).
  struct Case {
    std::array<int, 5> p;
    uint32_t expect;
    const char* why;
  } cases[] = {
      // d = -20, f = 0.8: s = g = (80, 120, 160); exposure 25: g = (90, 135, 180);
      // screen (142, 192, 228); half strength (111, 156, 194); vibrance K = 146.
      {{40, 25, 50, 50, 40}, MakeColor(255, 94, 161, 218), "defaults"},
      // d = 50 lightens the picture only; strength 0 keeps it.
      {{40, 0, 0, 0, 75}, MakeColor(255, 150, 200, 250), "lighten adds a constant"},
      // Screen of the picture with itself, fully mixed in.
      {{40, 0, 100, 0, 50}, MakeColor(255, 161, 212, 244), "screen"},
      // Exposure 100: g x 1.5 = (150, 225, 255).
      {{40, 100, 100, 0, 50}, MakeColor(255, 192, 243, 255), "exposure"},
      // d = -50 darkens picture and glow alike to (50, 75, 100) before the screen.
      {{40, 0, 100, 0, 25}, MakeColor(255, 91, 128, 161), "darken both"},
      // d = -100: f = 0, everything black, and the screen of black with black stays black.
      {{40, 25, 50, 50, 0}, MakeColor(255, 0, 0, 0), "P5 = 0"},
  };
  Image src = Solid(24, 16, MakeColor(255, 100, 150, 200));
  for (const Case& c : cases) {
    Image out = RunRoutine(kOrton, src, c.p, false);
    ASSERT_TRUE(out) << c.why;
    EXPECT_EQ(out.PeekPixels().at(0, 0), c.expect) << c.why;
    EXPECT_EQ(out.PeekPixels().at(13, 9), c.expect) << c.why;
  }
}

TEST_F(OrtonFilterTest, NeutralSettingsKeepThePictureIncludingTranslucentPixels) {
  Image src = TranslucentPhoto();
  for (int p1 : {0, 40}) {
    Image out = RunRoutine(kOrton, src, {p1, 60, 0, 0, 50}, false);
    EXPECT_EQ(MaxChannelDiff(out, src), 0) << "P1=" << p1;
  }
}

TEST_F(OrtonFilterTest, ZeroRadiusGlowIsThePictureItself) {
  // Two pixels: with radius 0 each is screened with itself; any blur mixes them.
  Image src = Pixels(2, 1, {MakeColor(255, 100, 150, 200), MakeColor(255, 0, 0, 0)});
  Image out = RunRoutine(kOrton, src, {0, 0, 100, 0, 50}, false);
  EXPECT_EQ(out.PeekPixels().at(0, 0), MakeColor(255, 161, 212, 244));
  EXPECT_EQ(out.PeekPixels().at(1, 0), MakeColor(255, 0, 0, 0));
  Image blurred = RunRoutine(kOrton, src, {5, 0, 100, 0, 50}, false);
  EXPECT_NE(blurred.PeekPixels().at(1, 0), MakeColor(255, 0, 0, 0));
}

TEST_F(OrtonFilterTest, NearlyTransparentPixelsAreNeverTouched) {
  // Alpha 5 keeps the source exactly; alpha 6 is processed.
  Image src = Pixels(3, 1, {MakeColor(5, 2, 3, 4), MakeColor(6, 3, 3, 3), MakeColor(0, 0, 0, 0)});
  Image out = RunRoutine(kOrton, src, {10, 100, 100, 100, 100}, false);
  ConstPixelView v = out.PeekPixels();
  EXPECT_EQ(v.at(0, 0), MakeColor(5, 2, 3, 4));
  EXPECT_EQ(v.at(2, 0), 0u);
  EXPECT_NE(v.at(1, 0), MakeColor(6, 3, 3, 3));
  EXPECT_TRUE(IsValidPremul(v.at(1, 0)));
}

TEST_F(OrtonFilterTest, TranslucentPixelsAreToneMappedByTheirColour) {
  // A half-transparent uniform picture takes the colour the opaque picture of
  // the same colour takes (within the precision of 8-bit premultiplied
  // storage) and stays valid.
  Image src = Solid(24, 16, MakeColor(128, 100, 150, 200));
  const TAlphaColor colour = Unpremultiply(src.PeekPixels().at(0, 0)) | 0xFF000000u;
  for (auto p : {std::array<int, 5>{40, 25, 50, 50, 40}, std::array<int, 5>{40, 100, 100, 100, 100}}) {
    Image opaque = RunRoutine(kOrton, Solid(24, 16, colour), p, false);
    Image out = RunRoutine(kOrton, src, p, false);
    ASSERT_TRUE(AllPremultipliedValid(out));
    TAlphaColor got = Unpremultiply(out.PeekPixels().at(5, 5)), want = opaque.PeekPixels().at(5, 5);
    EXPECT_EQ(GetA(got), 128u);
    EXPECT_NEAR(int(GetR(got)), int(GetR(want)), 1);
    EXPECT_NEAR(int(GetG(got)), int(GetG(want)), 1);
    EXPECT_NEAR(int(GetB(got)), int(GetB(want)), 1);
  }
  Image photo = RunRoutine(kOrton, TranslucentPhoto(), {40, 100, 100, 100, 100}, false);
  EXPECT_TRUE(AllPremultipliedValid(photo));
}

TEST_F(OrtonFilterTest, PreviewAndFullRunAgree) {
  Image src = LoadPhoto("coffee");
  EXPECT_EQ(MaxChannelDiff(RunRoutine(kOrton, src, {40, 25, 50, 50, 40}, true),
                           RunRoutine(kOrton, src, {40, 25, 50, 50, 40}, false)),
            0);
}

TEST_F(OrtonFilterTest, CancelledFullRunEndsPromptly) {
  // The filter reports no progress; a cancel during the run ends it as aborted.
  host.SetImage(TestPattern(1600, 1200));
  int ended = host.fullRunsEnded;
  host.driver().ProcessEffect(kOrton, 100, 25, 50, 50, 40, false);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  auto t0 = std::chrono::steady_clock::now();
  host.driver().Cancel = true;
  ASSERT_TRUE(host.loop().RunUntil([&] { return host.fullRunsEnded != ended; }, 20000));
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  host.driver().Cancel = false;
  EXPECT_EQ(host.lastOutcome, EffectHost::Outcome::Aborted);
  EXPECT_LT(ms, 2000);
}
