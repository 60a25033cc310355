#include <gtest/gtest.h>

#include "effects/photolab/photolab.h"
#include "effects/photolab/photolab_common.h"
#include "tests/support/harness.h"

using namespace lq;
using namespace lq::test;

namespace {

class AdjustmentsTest : public ::testing::Test {
 protected:
  HeadlessHost host;
};

constexpr int kAdjustments = 401;

TAlphaColor Grey(int v) { return MakeColor(255, uint32_t(v), uint32_t(v), uint32_t(v)); }

// Runs f with the AVX2 kernels switched off (the SSE2 baseline every x86-64 has).
template <typename F>
auto Baseline(F f) {
  photolab::g_avx2Disabled = true;
  auto r = f();
  photolab::g_avx2Disabled = false;
  return r;
}

// 64 x 8: grey 100 on the left half, grey 200 on the right (luminance = grey).
Image Step() {
  std::vector<uint32_t> px(64 * 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 64; ++x) px[size_t(y) * 64 + x] = Grey(x < 32 ? 100 : 200);
  return Image::MakeFromPixels(64, 8, std::move(px), true);
}

Image TranslucentPhoto() {
  Image photo = LoadPhoto("astronaut");
  ConstPixelView v = photo.PeekPixels();
  std::vector<uint32_t> px(size_t(v.width) * v.height);
  for (int y = 0; y < v.height; ++y)
    for (int x = 0; x < v.width; ++x) {
      uint32_t a = y < 200 ? 255 : uint32_t((x * 5 + y) % 256);
      px[size_t(y) * v.width + x] = Premultiply((a << 24) | (v.at(x, y) & 0xFFFFFF));
    }
  return Image::MakeFromPixels(v.width, v.height, std::move(px));
}

}  // namespace

TEST_F(AdjustmentsTest, NeutralSettingsReproduceTheSource) {
  Image src = TranslucentPhoto();
  Image out = RunRoutine(kAdjustments, src, {50, 50, 50, 0, 50}, false);
  EXPECT_EQ(MaxChannelDiff(out, src), 0);
}

TEST_F(AdjustmentsTest, StructureOverlaysTheLuminanceHighPass) {
  // Across the step the box-blurred luminance b differs from l; the ratio
  // n / l then scales the pixel. Values worked out by hand from
  // t = l/255, d = (l - b)/255 x gain (x 0.5 when positive), overlay, Round.
  struct Case {
    int p4, x, expect;
  } cases[] = {
      // P4 = 100: rho 1, gain 3, radius 15.
      {100, 0, 100},   // far from the edge: b = l
      {100, 20, 72},   // b = 112
      {100, 28, 11},   // b = 138
      {100, 31, 0},    // b = 148: s clamps to 0, the overlay gives black
      {100, 32, 232},  // b = 151
      {100, 36, 223},  // b = 164
      {100, 63, 200},
      // P4 = 15: rho 0.15, gain 1.3, radius 6.
      {15, 20, 100},
      {15, 28, 97},  // b = 123
      {15, 31, 93},  // b = 146
      {15, 32, 202},
      {15, 36, 201},
  };
  Image src = Step();
  for (const Case& c : cases) {
    Image out = RunRoutine(kAdjustments, src, {50, 50, 50, c.p4, 50}, false);
    EXPECT_EQ(out.PeekPixels().at(c.x, 4), Grey(c.expect)) << "P4=" << c.p4 << " x=" << c.x;
  }
}

TEST_F(AdjustmentsTest, PixelWithZeroLuminanceKeepsItsColour) {
  // (0, 0, 8) has luminance 0 beside a white field: its ratio is 1.
  std::vector<uint32_t> px(32 * 4, 0xFFFFFFFFu);
  for (int y = 0; y < 4; ++y) px[size_t(y) * 32 + 16] = MakeColor(255, 0, 0, 8);
  Image src = Image::MakeFromPixels(32, 4, std::move(px), true);
  Image out = RunRoutine(kAdjustments, src, {50, 50, 50, 100, 50}, false);
  EXPECT_EQ(out.PeekPixels().at(16, 2), MakeColor(255, 0, 0, 8));
}

TEST_F(AdjustmentsTest, ColourMatrixAppliesBrightnessContrastAndSaturation) {
  struct Case {
    TAlphaColor in;
    std::array<int, 5> p;
    TAlphaColor expect;
    const char* why;
  } cases[] = {
      {Grey(100), {50, 75, 50, 0, 50}, Grey(86), "contrast 1.5 about mid-grey"},
      {Grey(200), {50, 75, 50, 0, 50}, Grey(236), "contrast 1.5 about mid-grey"},
      {Grey(100), {100, 50, 50, 0, 50}, Grey(164), "brightness + 0.25"},
      {MakeColor(255, 200, 100, 50), {50, 50, 0, 0, 50}, Grey(118), "saturation 0: 0.213 R + 0.715 G + 0.072 B"},
      {MakeColor(255, 200, 100, 50), {50, 50, 100, 0, 50}, MakeColor(255, 255, 82, 0), "saturation 2"},
      {MakeColor(255, 200, 100, 50), {70, 60, 80, 0, 50}, MakeColor(255, 255, 107, 11), "all three"},
  };
  for (const Case& c : cases) {
    Image out = RunRoutine(kAdjustments, Solid(16, 16, c.in), c.p, false);
    EXPECT_EQ(out.PeekPixels().at(8, 8), c.expect) << c.why;
  }
}

TEST_F(AdjustmentsTest, BlurFadesTheEdgesWhileSharpeningRepeatsThem) {
  Image src = Solid(100, 100, Grey(120));
  // P5 = 0: sigma 10 with transparent surroundings.
  Image blurred = RunRoutine(kAdjustments, src, {50, 50, 50, 0, 0}, false);
  ConstPixelView blur = blurred.PeekPixels();
  EXPECT_EQ(GetA(blur.at(50, 50)), 255u);
  EXPECT_NEAR(int(GetA(blur.at(0, 50))), 128, 12);
  EXPECT_NEAR(int(GetA(blur.at(0, 0))), 64, 12);
  // P5 = 100: a uniform picture stays uniform up to its edges.
  Image sharp = RunRoutine(kAdjustments, src, {50, 50, 50, 0, 100}, false);
  EXPECT_EQ(MaxChannelDiff(sharp, src), 0);
  // ... and an edge overshoots on both sides.
  Image sharpStep = RunRoutine(kAdjustments, Step(), {50, 50, 50, 0, 100}, false);
  ConstPixelView step = sharpStep.PeekPixels();
  EXPECT_LT(GetR(step.at(31, 4)), 100u);
  EXPECT_GT(GetR(step.at(32, 4)), 200u);
  EXPECT_EQ(step.at(0, 0), Grey(100));
}

TEST_F(AdjustmentsTest, TranslucentPixelsStayValidAndKeepTheirColour) {
  Image out = RunRoutine(kAdjustments, TranslucentPhoto(), {52, 52, 55, 100, 52}, false);
  EXPECT_TRUE(AllPremultipliedValid(out));
  // The structure step scales the colour, not the premultiplied bytes: a
  // translucent step behaves like the opaque one.
  std::vector<uint32_t> px(64 * 8);
  Image step = Step();
  ConstPixelView s = step.PeekPixels();
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 64; ++x) px[size_t(y) * 64 + x] = Premultiply((s.at(x, y) & 0xFFFFFF) | 0x80000000u);
  Image half = RunRoutine(kAdjustments, Image::MakeFromPixels(64, 8, std::move(px)), {50, 50, 50, 100, 50}, false);
  TAlphaColor dark = Unpremultiply(half.PeekPixels().at(28, 4)), bright = Unpremultiply(half.PeekPixels().at(36, 4));
  EXPECT_NEAR(int(GetG(dark)), 11, 2);
  EXPECT_NEAR(int(GetG(bright)), 223, 2);
  EXPECT_EQ(GetA(bright), 128u);
}

TEST_F(AdjustmentsTest, ColourAndSharpnessMatchTheRasterBackEndsFilters) {
  // The effect runs its colour matrix and 3 x 3 sharpening in its own pass;
  // they must give the bytes of the back end's colour-matrix filter and
  // matrix convolution (and its decal blur), translucent pixels included.
  Image src = TranslucentPhoto();
  auto viaFilters = [&](const Image& img, std::array<int, 5> p) {
    ImageFilter::Ptr f =
        ImageFilter::MakeColorFilter(ColorFilter::MakeMatrix(AdjustmentsColorMatrix(p[0], p[1], p[2])));
    if (p[4] < 50) {
      float s = float(50 - p[4]) / 5.0f;
      f = ImageFilter::MakeBlur(s, s, TileMode::Decal, f);
    } else if (p[4] > 50) {
      float a = float(p[4] - 50) / 30.0f;
      f = ImageFilter::MakeMatrixConvolution({0, -a, 0, -a, 4 * a + 1, -a, 0, -a, 0}, 1, 0, {1, 1}, TileMode::Clamp,
                                             true, f);
    }
    auto surface = Surface::MakeRaster(img.width(), img.height());
    Paint paint;
    paint.imageFilter = f;
    surface->GetCanvas()->DrawImage(img, 0, 0, SamplingOptions(), &paint);
    return surface->MakeImageSnapshot();
  };
  for (auto p : {std::array<int, 5>{52, 52, 55, 0, 52}, std::array<int, 5>{70, 30, 80, 0, 100},
                 std::array<int, 5>{35, 75, 0, 0, 60}, std::array<int, 5>{52, 60, 55, 0, 42}}) {
    Image ours = RunRoutine(kAdjustments, src, p, false);
    EXPECT_EQ(MaxChannelDiff(ours, viaFilters(src, p)), 0) << p[0] << " " << p[1] << " " << p[2] << " " << p[4];
  }
  // With the structure step: its result through the same filters.
  Image structured = RunRoutine(kAdjustments, src, {50, 50, 50, 15, 50}, false);
  EXPECT_EQ(MaxChannelDiff(RunRoutine(kAdjustments, src, {52, 52, 55, 15, 52}, false),
                           viaFilters(structured, {52, 52, 55, 15, 52})),
            0);
}

TEST_F(AdjustmentsTest, PreviewsReportNoProgress) {
  host.SetImage(LoadPhoto("coffee"));
  host.RunPreview(kAdjustments, {52, 52, 55, 15, 52});
  EXPECT_EQ(host.previewDraws, 1);
  EXPECT_TRUE(host.progressLog.empty());
}

TEST_F(AdjustmentsTest, CancelAfterFirstProgressEndsTheRun) {
  CancelResult r = CancelAfterFirstProgress(host, kAdjustments, TestPattern(2000, 1500), {52, 52, 55, 15, 52});
  EXPECT_TRUE(r.sawProgress);
  EXPECT_EQ(r.outcome, EffectHost::Outcome::Aborted);
  EXPECT_LT(r.msFromCancelToEnd, 2000);
}

TEST_F(AdjustmentsTest, BaselineAndWideKernelsGiveTheSameBytes) {
  Image src = TranslucentPhoto();
  for (auto p : {std::array<int, 5>{52, 52, 55, 15, 52}, std::array<int, 5>{80, 20, 100, 0, 100}}) {
    Image wide = RunRoutine(kAdjustments, src, p, false);
    Image narrow = Baseline([&] { return RunRoutine(kAdjustments, src, p, false); });
    EXPECT_EQ(MaxChannelDiff(wide, narrow), 0) << p[0];
  }
}
