#include <gtest/gtest.h>

#include <thread>

#include "effects/photolab/photolab.h"
#include "effects/photolab/photolab_common.h"
#include "resources/repository.h"
#include "tests/support/harness.h"

using namespace lq;
using namespace lq::test;

namespace {

class VintageSepiaTest : public ::testing::Test {
 protected:
  HeadlessHost host;
};

constexpr int kSepia = 402;

TAlphaColor Rgb(int r, int g, int b) { return MakeColor(255, uint32_t(r), uint32_t(g), uint32_t(b)); }

// Runs f with the AVX2 kernels switched off (the SSE2 baseline every x86-64 has).
template <typename F>
auto Baseline(F f) {
  photolab::g_avx2Disabled = true;
  auto r = f();
  photolab::g_avx2Disabled = false;
  return r;
}

Image WithTexture(const Image& src, std::array<int, 5> p, const Image& texture, bool preview = false) {
  auto dest = Surface::MakeRaster(src.width(), src.height());
  VintageSepiaWithTexture(src, *dest, p[0], p[1], p[2], p[3], p[4], preview, texture);
  return dest->MakeImageSnapshot();
}

}  // namespace

TEST_F(VintageSepiaTest, ColourReductionAndToningFollowTheWorkedValues) {
  // No blur, grain or vignette: only steps a-d. Worked out by hand from
  // o = lum, R1 = o + (R - o) x ck / 256, the sepia rows and the mix by st.
  struct Case {
    TAlphaColor in;
    std::array<int, 5> p;
    TAlphaColor expect;
    const char* why;
  } cases[] = {
      {Rgb(128, 128, 128), {0, 70, 0, 0, 0}, Rgb(162, 142, 108), "mid-grey at default strength"},
      {Rgb(128, 128, 128), {0, 100, 0, 0, 0}, Rgb(178, 149, 99), "st = 256: the sepia tone itself"},
      {Rgb(200, 100, 50), {0, 100, 0, 0, 0}, Rgb(172, 144, 96), "ck = 0: tone from luminance 124"},
      {Rgb(200, 100, 50), {100, 0, 0, 0, 0}, Rgb(200, 100, 50), "full colour, no toning"},
      {Rgb(200, 100, 50), {50, 0, 0, 0, 0}, Rgb(162, 112, 87), "half the colour kept"},
      {Rgb(255, 255, 255), {0, 100, 0, 0, 0}, Rgb(255, 255, 198), "Sr and Sg capped at 255"},
  };
  for (const Case& c : cases) {
    Image out = RunRoutine(kSepia, Solid(20, 10, c.in), c.p, false);
    EXPECT_EQ(out.PeekPixels().at(7, 3), c.expect) << c.why;
  }
}

TEST_F(VintageSepiaTest, OnlyColourKeptLeavesThePhotoUnchanged) {
  Image src = LoadPhoto("chelsea");
  EXPECT_EQ(MaxChannelDiff(RunRoutine(kSepia, src, {100, 0, 0, 0, 0}, false), src), 0);
}

TEST_F(VintageSepiaTest, GrainComesFromThePositionHash) {
  // Grey 128 kept as it is (P1 = 100, P2 = 0); P4 = 50 gives amp = 15 and
  // n = trunc(A x 15 / 256) with A from the hash of (x, y), worked out by hand.
  // Width 21: the last pixels of a row are done one by one.
  Image src = Solid(21, 12, Rgb(128, 128, 128));
  Image out = WithTexture(src, {100, 0, 0, 50, 0}, Image());
  struct Case {
    int x, y, n;
  } cases[] = {{0, 0, -15}, {1, 0, 12}, {0, 1, -5}, {5, 3, 12}, {17, 9, -8}, {20, 0, -10}};
  for (const Case& c : cases) {
    int v = 128 + c.n;
    EXPECT_EQ(out.PeekPixels().at(c.x, c.y), Rgb(v, v, v)) << c.x << "," << c.y;
  }
  // The pattern depends only on position and P4: runs agree, previews too.
  EXPECT_EQ(MaxChannelDiff(out, WithTexture(src, {100, 0, 0, 50, 0}, Image(), true)), 0);
}

TEST_F(VintageSepiaTest, FilmTextureAddsItsDepartureFromTheMean) {
  // 2 x 2 texture of luminances 40, 80 / 120, 160: mean 100. With P4 = 50 the
  // texture adds (lum - 100) x 50 / 100 = -30, -10 / 10, 30, tiled per pixel.
  Image tex =
      Image::MakeFromPixels(2, 2, {Rgb(40, 40, 40), Rgb(80, 80, 80), Rgb(120, 120, 120), Rgb(160, 160, 160)}, true);
  Image src = Solid(21, 12, Rgb(128, 128, 128));
  Image out = WithTexture(src, {100, 0, 0, 50, 0}, tex);
  struct Case {
    int x, y, n;
  } cases[] = {{0, 0, -15 - 30}, {1, 0, 12 - 10},  {0, 1, -5 + 10},
               {5, 3, 12 + 30},  {17, 9, -8 + 30}, {20, 0, -10 - 30}};
  for (const Case& c : cases) {
    int v = 128 + c.n;
    EXPECT_EQ(out.PeekPixels().at(c.x, c.y), Rgb(v, v, v)) << c.x << "," << c.y;
  }
  // Without grain the texture is not used at all.
  EXPECT_EQ(MaxChannelDiff(WithTexture(src, {100, 0, 0, 0, 0}, tex), src), 0);
}

TEST_F(VintageSepiaTest, WithoutAFilmTextureTheGrainIsTheHashAlone) {
  // The registered routine takes the embedded film texture; when the program
  // has none, the grain is exactly the hash noise.
  Image src = LoadPhoto("coffee");
  host.driver().BuiltinImage = [](const std::string&) { return Image(); };
  Image routine = RunRoutine(kSepia, src, {0, 70, 50, 50, 25}, false);
  EXPECT_EQ(MaxChannelDiff(routine, WithTexture(src, {0, 70, 50, 50, 25}, Image())), 0);
  // A texture the program carries is used.
  Image tex = Image::MakeFromPixels(2, 1, {Rgb(0, 0, 0), Rgb(255, 255, 255)}, true);
  host.driver().BuiltinImage = [tex](const std::string& name) { return name == "OldFilmTexture" ? tex : Image(); };
  Image textured = RunRoutine(kSepia, src, {0, 70, 50, 50, 25}, false);
  EXPECT_EQ(MaxChannelDiff(textured, WithTexture(src, {0, 70, 50, 50, 25}, tex)), 0);
  EXPECT_GT(MaxChannelDiff(textured, routine), 0);
}

TEST_F(VintageSepiaTest, TheProgramsFilmTextureIsUsed) {
  Image film = Repository().Picture("OldFilmTexture");
  ASSERT_EQ(film.width(), 2904);
  ASSERT_EQ(film.height(), 2064);
  Image src = LoadPhoto("chelsea");
  Image out = RunRoutine(kSepia, src, {0, 70, 50, 50, 25}, false);
  EXPECT_EQ(MaxChannelDiff(out, WithTexture(src, {0, 70, 50, 50, 25}, film)), 0);
  EXPECT_GT(MaxChannelDiff(out, WithTexture(src, {0, 70, 50, 50, 25}, Image())), 0);
}

TEST_F(VintageSepiaTest, LargeTextureMeanDoesNotOverflow) {
  // 9 million white pixels: their luminance sum exceeds 32 bits. The mean is
  // 255, so a white texture adds nothing to the hash grain.
  Image white = Solid(3000, 3000, Rgb(255, 255, 255));
  Image src = Solid(16, 16, Rgb(128, 128, 128));
  EXPECT_EQ(
      MaxChannelDiff(WithTexture(src, {100, 0, 0, 100, 0}, white), WithTexture(src, {100, 0, 0, 100, 0}, Image())), 0);
}

TEST_F(VintageSepiaTest, ConcurrentRunsShareTheTextureReadOnly) {
  Image tex = TestPattern(300, 200);
  Image src = LoadPhoto("chelsea");
  Image expect = WithTexture(src, {0, 70, 50, 50, 25}, tex);
  Image results[3];
  std::vector<std::thread> threads;
  for (Image& r : results)
    threads.emplace_back([&] {
      auto ctx = std::make_shared<RunContext>();
      ctx->kind = RunKind::Synchronous;
      RunScope scope(ctx);
      r = WithTexture(src, {0, 70, 50, 50, 25}, tex);
    });
  for (auto& t : threads) t.join();
  for (const Image& r : results) EXPECT_EQ(MaxChannelDiff(r, expect), 0);
}

TEST_F(VintageSepiaTest, VignetteDarkensTowardsTheCorners) {
  // 200 x 100 at P3 = 100: inner radius 40 % of the corner distance 111.8,
  // corner factor 0.15. Factors worked out by hand in single precision.
  Image src = Solid(200, 100, Rgb(200, 200, 200));
  Image out = RunRoutine(kSepia, src, {100, 0, 100, 0, 0}, false);
  struct Case {
    int x, y, v;
  } cases[] = {{100, 50, 200}, {144, 50, 200}, {0, 0, 30}, {10, 50, 123}, {199, 99, 37}, {0, 99, 32}, {50, 20, 193}};
  for (const Case& c : cases) EXPECT_EQ(out.PeekPixels().at(c.x, c.y), Rgb(c.v, c.v, c.v)) << c.x << "," << c.y;
}

TEST_F(VintageSepiaTest, TransparencyIsRespected) {
  // Alpha 0..4 untouched; translucent pixels are toned by their colour and
  // premultiplied again.
  std::vector<uint32_t> px = {MakeColor(4, 3, 2, 1), MakeColor(0, 0, 0, 0), Premultiply(MakeColor(128, 128, 128, 128)),
                              Rgb(128, 128, 128)};
  Image src = Image::MakeFromPixels(4, 1, std::move(px));
  Image out = RunRoutine(kSepia, src, {0, 70, 100, 100, 0}, false);
  ConstPixelView v = out.PeekPixels();
  EXPECT_EQ(v.at(0, 0), MakeColor(4, 3, 2, 1));
  EXPECT_EQ(v.at(1, 0), 0u);
  EXPECT_TRUE(AllPremultipliedValid(out));
  EXPECT_TRUE(AllPremultipliedValid(RunRoutine(kSepia, src, {0, 70, 100, 100, 100}, false)));
  // Premultiplied 64 at alpha 128 is colour 127: toned (161, 140, 107), then x 128 div 255.
  Image plain = RunRoutine(kSepia, src, {0, 70, 0, 0, 0}, false);
  EXPECT_EQ(plain.PeekPixels().at(2, 0), MakeColor(128, 80, 70, 53));
}

TEST_F(VintageSepiaTest, BlurSigmaDoesNotScaleWithTheImage) {
  // P5 = 100: sigma 3.75 pixels. A one-pixel line spreads a few pixels, not more.
  std::vector<uint32_t> px(41 * 5, Rgb(0, 0, 0));
  for (int y = 0; y < 5; ++y) px[size_t(y) * 41 + 20] = Rgb(255, 255, 255);
  Image src = Image::MakeFromPixels(41, 5, std::move(px), true);
  Image out = RunRoutine(kSepia, src, {100, 0, 0, 0, 100}, false);
  ConstPixelView v = out.PeekPixels();
  EXPECT_GT(GetR(v.at(23, 2)), 0u);
  EXPECT_LT(GetR(v.at(20, 2)), 255u);
  EXPECT_EQ(GetR(v.at(35, 2)), 0u);
}

TEST_F(VintageSepiaTest, CancelAfterFirstProgressEndsTheRun) {
  CancelResult r = CancelAfterFirstProgress(host, kSepia, TestPattern(2400, 1800), {0, 70, 50, 50, 25});
  EXPECT_TRUE(r.sawProgress);
  EXPECT_EQ(r.outcome, EffectHost::Outcome::Aborted);
  EXPECT_LT(r.msFromCancelToEnd, 2000);
}

TEST_F(VintageSepiaTest, BaselineAndWideKernelsGiveTheSameBytes) {
  Image photo = LoadPhoto("astronaut");
  ConstPixelView v = photo.PeekPixels();
  std::vector<uint32_t> px;
  for (int y = 0; y < v.height; ++y)
    for (int x = 0; x < v.width - 5; ++x)
      px.push_back((x * 13 + y * 7) % 89 == 0 ? Premultiply((v.at(x, y) & 0xFFFFFF) | 0x60000000u) : v.at(x, y));
  Image src = Image::MakeFromPixels(v.width - 5, v.height, std::move(px));
  Image tex = TestPattern(37, 23);
  for (auto p : {std::array<int, 5>{0, 70, 50, 50, 0}, std::array<int, 5>{100, 100, 100, 100, 0},
                 std::array<int, 5>{40, 30, 0, 10, 25}}) {
    Image wide = WithTexture(src, p, tex);
    Image narrow = Baseline([&] { return WithTexture(src, p, tex); });
    EXPECT_EQ(MaxChannelDiff(wide, narrow), 0) << p[0];
  }
}
