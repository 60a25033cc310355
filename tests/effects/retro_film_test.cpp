#include <gtest/gtest.h>

#include "effects/photolab/photolab_common.h"
#include "tests/support/harness.h"

using namespace lq;
using namespace lq::test;

namespace {

class RetroFilmTest : public ::testing::Test {
 protected:
  HeadlessHost host;
};

constexpr int kRetro = 403;

TAlphaColor Rgb(int r, int g, int b) { return MakeColor(255, uint32_t(r), uint32_t(g), uint32_t(b)); }

// Runs f with the AVX2 kernels switched off (the SSE2 baseline every x86-64 has).
template <typename F>
auto Baseline(F f) {
  photolab::g_avx2Disabled = true;
  auto r = f();
  photolab::g_avx2Disabled = false;
  return r;
}

}  // namespace

TEST_F(RetroFilmTest, FilmToneFollowsMatrixSaturationAndContrast) {
  // No grain, no vignette. Worked out by hand in single precision from the
  // film matrix, sat = P1/100 x 1.5 + 0.5, w = P2/100 x 0.1 - 0.04 and
  // con = P3/100 x 0.8 + 0.8. Columns 1 and 5 of a 7-wide picture: the
  // routine takes pixels in groups of four and the rest one by one.
  struct Case {
    TAlphaColor in;
    std::array<int, 5> p;
    TAlphaColor expect;
    const char* why;
  } cases[] = {
      {Rgb(255, 255, 255), {0, 0, 0, 0, 0}, Rgb(228, 228, 217), "white at all zeros: R' and G' clamp to 1"},
      {Rgb(255, 255, 255), {0, 100, 0, 0, 0}, Rgb(228, 228, 211), "more warmth, warmer white"},
      {Rgb(0, 0, 0), {0, 0, 0, 0, 0}, Rgb(26, 26, 33), "black lifted, bluish"},
      {Rgb(0, 0, 0), {0, 0, 100, 0, 0}, Rgb(0, 0, 0), "contrast 1.6 keeps black"},
      {Rgb(128, 128, 128), {30, 35, 60, 0, 0}, Rgb(160, 136, 117), "mid-grey turns red-orange"},
      {Rgb(200, 100, 50), {30, 35, 60, 0, 0}, Rgb(255, 95, 29), "colour at defaults"},
      {Rgb(200, 100, 50), {100, 35, 60, 0, 0}, Rgb(255, 50, 0), "saturation 2"},
  };
  for (const Case& c : cases) {
    Image out = RunRoutine(kRetro, Solid(7, 3, c.in), c.p, false);
    EXPECT_EQ(out.PeekPixels().at(1, 1), c.expect) << c.why;
    EXPECT_EQ(out.PeekPixels().at(5, 1), c.expect) << c.why << " (single pixel)";
  }
}

TEST_F(RetroFilmTest, GrainIsThePositionHashScaledByP4) {
  // P4 = 100: amp = Round(40.8) = 41; n = trunc(A x 41 / 256) for the hash A
  // (column 20 is past the last group of four)
  // of (x, y), added to all three channels. Black at all-zero tones is
  // (26, 26, 33) before grain.
  Image out = RunRoutine(kRetro, Solid(21, 12, Rgb(0, 0, 0)), {0, 0, 0, 100, 0}, false);
  struct Case {
    int x, y, n;
  } cases[] = {{0, 0, -41}, {1, 0, 33}, {0, 1, -14}, {5, 3, 33}, {17, 9, -23}, {20, 0, -29}};
  for (const Case& c : cases) {
    auto cl = [](int v) { return v < 0 ? 0 : v; };
    EXPECT_EQ(out.PeekPixels().at(c.x, c.y), Rgb(cl(26 + c.n), cl(26 + c.n), cl(33 + c.n))) << c.x << "," << c.y;
  }
  // The same input gives the same output, preview or not.
  EXPECT_EQ(MaxChannelDiff(out, RunRoutine(kRetro, Solid(21, 12, Rgb(0, 0, 0)), {0, 0, 0, 100, 0}, true)), 0);
}

TEST_F(RetroFilmTest, VignetteKeepsTheCentreAndDarkensTheCorners) {
  // 200 x 100 at P5 = 100. White at all-zero tones is (228, 228, 217); the
  // corner keeps 15 %, the inner 40 % of the corner distance keeps all.
  Image out = RunRoutine(kRetro, Solid(200, 100, Rgb(255, 255, 255)), {0, 0, 0, 0, 100}, false);
  ConstPixelView v = out.PeekPixels();
  EXPECT_EQ(v.at(100, 50), Rgb(228, 228, 217));
  EXPECT_EQ(v.at(144, 50), Rgb(228, 228, 217));
  EXPECT_EQ(v.at(0, 0), Rgb(34, 34, 33));       // Round(228 x 0.15), Round(217 x 0.15)
  EXPECT_EQ(v.at(10, 50), Rgb(140, 140, 133));  // factor 0.6127485
  EXPECT_EQ(v.at(199, 99), Rgb(42, 42, 40));    // factor 0.1836377
  // Odd width: the last column is done on its own (centre 100.5, factor 0.1724263).
  Image odd = RunRoutine(kRetro, Solid(201, 100, Rgb(255, 255, 255)), {0, 0, 0, 0, 100}, false);
  EXPECT_EQ(odd.PeekPixels().at(200, 0), Rgb(39, 39, 37));
}

TEST_F(RetroFilmTest, TransparencyIsRespected) {
  std::vector<uint32_t> px;
  for (int i = 0; i < 12; ++i) {
    int a = (i * 23) % 256;
    px.push_back(Premultiply(MakeColor(uint32_t(a), 200, 100, 50)));
  }
  px[3] = MakeColor(4, 4, 1, 0);
  Image src = Image::MakeFromPixels(12, 1, std::vector<uint32_t>(px));
  Image out = RunRoutine(kRetro, src, {100, 100, 100, 100, 100}, false);
  ConstPixelView v = out.PeekPixels();
  EXPECT_EQ(v.at(0, 0), 0u);
  EXPECT_EQ(v.at(3, 0), MakeColor(4, 4, 1, 0));
  EXPECT_TRUE(AllPremultipliedValid(out));
  for (int x = 0; x < 12; ++x) EXPECT_EQ(GetA(v.at(x, 0)), GetA(px[size_t(x)])) << x;
}

TEST_F(RetroFilmTest, PhotoRunsAreDeterministicAndStayOpaque) {
  Image src = LoadPhoto("astronaut");
  Image a = RunRoutine(kRetro, src, {30, 35, 60, 20, 25}, false);
  Image b = RunRoutine(kRetro, src, {30, 35, 60, 20, 25}, true);
  EXPECT_EQ(MaxChannelDiff(a, b), 0);
  EXPECT_GT(MaxChannelDiff(a, src), 20);
  ConstPixelView v = a.PeekPixels();
  for (int y = 0; y < v.height; y += 37)
    for (int x = 0; x < v.width; x += 13) ASSERT_EQ(GetA(v.at(x, y)), 255u);
}

TEST_F(RetroFilmTest, CancelAfterFirstProgressEndsTheRun) {
  CancelResult r = CancelAfterFirstProgress(host, kRetro, TestPattern(2400, 1800), {30, 35, 60, 20, 25});
  EXPECT_TRUE(r.sawProgress);
  EXPECT_EQ(r.outcome, EffectHost::Outcome::Aborted);
  EXPECT_LT(r.msFromCancelToEnd, 2000);
}

TEST_F(RetroFilmTest, BaselineAndWideKernelsGiveTheSameBytes) {
  // Odd width and scattered translucent pixels: groups, single pixels and
  // the per-pixel path all meet.
  Image photo = LoadPhoto("coffee");
  ConstPixelView v = photo.PeekPixels();
  std::vector<uint32_t> px;
  for (int y = 0; y < v.height; ++y)
    for (int x = 0; x < v.width - 3; ++x)
      px.push_back((x * 31 + y * 17) % 97 == 0 ? Premultiply((v.at(x, y) & 0xFFFFFF) | 0x80000000u) : v.at(x, y));
  Image src = Image::MakeFromPixels(v.width - 3, v.height, std::move(px));
  for (auto p : {std::array<int, 5>{30, 35, 60, 20, 25}, std::array<int, 5>{100, 100, 100, 100, 100},
                 std::array<int, 5>{0, 0, 0, 0, 0}}) {
    Image wide = RunRoutine(kRetro, src, p, false);
    Image narrow = Baseline([&] { return RunRoutine(kRetro, src, p, false); });
    EXPECT_EQ(MaxChannelDiff(wide, narrow), 0) << p[0];
  }
}
