#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "effects/overlay/builtin_pictures.h"
#include "effects/overlay/texture_overlay.h"
#include "effects/photolab/photolab_common.h"
#include "engine/random.h"
#include "tests/support/harness.h"

using namespace lq;
using namespace lq::test;

namespace {

class TextureOverlayTest : public ::testing::Test {
 protected:
  HeadlessHost host;
};

TAlphaColor Grey(int v) { return MakeColor(255, uint32_t(v), uint32_t(v), uint32_t(v)); }

// Greys 100, 200 / 150, 150: mean 150.
Image TwoByTwo() { return Image::MakeFromPixels(2, 2, {Grey(100), Grey(200), Grey(150), Grey(150)}, true); }

// The offset the next call will draw from the shared generator, left as it was.
int PeekOffset(int range) {
  uint32_t seed = RandSeed.load();
  int d = Random(range);
  RandSeed = seed;
  return d;
}

int GreyAt(const Image& img, int x, int y) { return int(GetG(img.PeekPixels().at(x, y))); }

// Runs f with the AVX2 kernels switched off (the SSE2 baseline every x86-64 has).
template <typename F>
auto Baseline(F f) {
  photolab::g_avx2Disabled = true;
  auto r = f();
  photolab::g_avx2Disabled = false;
  return r;
}

}  // namespace

TEST_F(TextureOverlayTest, EachPixelMovesByTheTexturesDepartureFromItsMean) {
  // Scale 1: pixel (x, y) takes texture pixel ((x + d) mod 2, (y + d) mod 2)
  // and moves by k x (150 - grey). Width 13: groups and single pixels alike.
  Image src = Solid(13, 6, Grey(128));
  for (int strength : {100, 50}) {
    RandSeed = 12345u + uint32_t(strength);
    const int d = PeekOffset(2);
    Image out = ApplyCustomTexture(src, TwoByTwo(), strength, 1.0f);
    const int tex[2][2] = {{100, 200}, {150, 150}};
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 13; ++x) {
        int t = tex[(y + d) % 2][(x + d) % 2];
        EXPECT_EQ(GreyAt(out, x, y), 128 + (150 - t) * strength / 100) << x << "," << y << " d=" << d;
      }
  }
}

TEST_F(TextureOverlayTest, ScaledTextureIsInterpolatedBilinearly) {
  // Scale 2: periods 4; u = ((x + d) mod 4) / 2 steps through 0, 0.5, 1, 1.5,
  // the half steps averaging neighbours (wrapping around the texture).
  Image src = Solid(12, 8, Grey(128));
  RandSeed = 777u;
  const int d = PeekOffset(2);
  Image out = ApplyCustomTexture(src, TwoByTwo(), 100, 2.0f);
  // Texture value at u (in texture pixels) on texture rows 0 and 1.
  auto along = [](int row, int step) {
    const int tex[2][2] = {{100, 200}, {150, 150}};
    const int* r = tex[row];
    switch (step) {
      case 0:
        return 2.0 * r[0];
      case 1:
        return double(r[0] + r[1]);
      case 2:
        return 2.0 * r[1];
      default:
        return double(r[1] + r[0]);
    }
  };
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 12; ++x) {
      const int sx = (x + d) % 4, sy = (y + d) % 4;
      double t;
      if (sy == 0)
        t = along(0, sx) / 2;
      else if (sy == 2)
        t = along(1, sx) / 2;
      else
        t = (along(0, sx) + along(1, sx)) / 4;  // rows 0 and 1 are neighbours both ways
      const int expect = 128 + (150 - int(std::lround(t)));
      EXPECT_EQ(GreyAt(out, x, y), expect) << x << "," << y << " d=" << d;
    }
}

TEST_F(TextureOverlayTest, NeutralCasesLeaveThePictureUnchanged) {
  Image photo = LoadPhoto("coffee");
  // Strength 0.
  EXPECT_EQ(MaxChannelDiff(ApplyCustomTexture(photo, TestPattern(64, 64), 0, 1.0f), photo), 0);
  // A uniform texture equals its mean everywhere, at any strength and scale.
  for (float scale : {0.5f, 1.0f, 3.7f})
    EXPECT_EQ(MaxChannelDiff(ApplyCustomTexture(photo, Solid(50, 40, Grey(77)), 100, scale), photo), 0) << scale;
  // Nothing to apply: the same image comes back.
  EXPECT_EQ(ApplyCustomTexture(photo, Image(), 100, 1.0f), photo);
  EXPECT_FALSE(ApplyCustomTexture(Image(), TwoByTwo(), 100, 1.0f));
}

TEST_F(TextureOverlayTest, TinyAndInvalidScalesStillGiveAtLeastOnePixelPeriods) {
  // 4 x 4 texture at scale 0.1: Round(0.4) = 0, raised to 1. Every pixel then
  // reads texture pixel (0, 0): grey 40 against a mean of 100 + 40 x 15 / 16.
  std::vector<uint32_t> px(16, Grey(100));
  px[0] = Grey(40);
  Image tex = Image::MakeFromPixels(4, 4, std::move(px), true);
  // mean = (40 + 15 x 100) div 16 = 96; delta = 96 - 40 = 56.
  Image src = Solid(9, 5, Grey(100));
  for (float scale : {0.1f, 0.0f, -3.0f, 1e-9f, std::numeric_limits<float>::quiet_NaN()}) {
    Image out = ApplyCustomTexture(src, tex, 100, scale);
    ASSERT_TRUE(out) << scale;
    EXPECT_EQ(MaxChannelDiff(out, Solid(9, 5, Grey(156))), 0) << scale;
  }
  // Huge scales are capped instead of overflowing the periods.
  EXPECT_TRUE(ApplyCustomTexture(src, tex, 100, std::numeric_limits<float>::infinity()));
}

TEST_F(TextureOverlayTest, TransparencyIsRespected) {
  // Fully transparent pixels stay as they are; translucent ones move by
  // their colour and remain valid premultiplied pixels.
  std::vector<uint32_t> px = {0, Premultiply(MakeColor(128, 128, 128, 128)), Premultiply(MakeColor(40, 250, 250, 250)),
                              Grey(250)};
  Image src = Image::MakeFromPixels(4, 1, std::move(px));
  Image flat = Image::MakeFromPixels(1, 1, {Grey(0)}, true);  // mean 0: no change
  EXPECT_EQ(MaxChannelDiff(ApplyCustomTexture(src, flat, 100, 1.0f), src), 0);
  // 2 x 1 texture 0 / 200: mean 100. Its height of 1 leaves the offset 0, so
  // even columns move by +100 and odd ones by -100.
  Image tex = Image::MakeFromPixels(2, 1, {Grey(0), Grey(200)}, true);
  Image out = ApplyCustomTexture(src, tex, 100, 1.0f);
  ConstPixelView v = out.PeekPixels();
  EXPECT_EQ(v.at(0, 0), 0u);
  EXPECT_TRUE(AllPremultipliedValid(out));
  EXPECT_EQ(v.at(1, 0), Premultiply(MakeColor(128, 28, 28, 28)));
  EXPECT_EQ(v.at(2, 0), Premultiply(MakeColor(40, 255, 255, 255)));
  EXPECT_EQ(v.at(3, 0), Grey(150));
}

TEST_F(TextureOverlayTest, EachApplicationShiftsTheTextureAnew) {
  Image tex = TestPattern(1024, 1024);
  Image src = Solid(64, 64, Grey(128));
  RandSeed = 4242u;
  Image a = ApplyCustomTexture(src, tex, 50, 1.0f);
  Image b = ApplyCustomTexture(src, tex, 50, 1.0f);
  EXPECT_GT(MaxChannelDiff(a, b), 0);
  // The same seed gives the same phase.
  RandSeed = 4242u;
  EXPECT_EQ(MaxChannelDiff(ApplyCustomTexture(src, tex, 50, 1.0f), a), 0);
}

TEST_F(TextureOverlayTest, LargeTextureMeanDoesNotOverflow) {
  // 9 million white pixels: the grey sum exceeds 32 bits; the mean is 255.
  TextureGreyMap map = BuildTextureGreyMap(Solid(3000, 3000, Grey(255)));
  EXPECT_EQ(map.mean, 255);
  EXPECT_EQ(BuildTextureGreyMap(Image()).mean, 128);
}

TEST_F(TextureOverlayTest, BuiltinTexturesAndTheStoredChoiceAtStart) {
  const std::vector<std::string> names = {"Canvas", "Paper", "Impasto", "watercolor", "cardboard", "fabric"};
  ASSERT_EQ(BuiltinTextureNames(), names);
  for (const std::string& n : names) {
    Image t = BuiltinTexture(n);
    EXPECT_EQ(t.width(), 1024) << n;
    EXPECT_EQ(t.height(), 1024) << n;
    // Each one has a grain to give: not uniform.
    TextureGreyMap m = BuildTextureGreyMap(t);
    int lo = 255, hi = 0;
    for (uint8_t g : m.grey) lo = std::min(lo, int(g)), hi = std::max(hi, int(g));
    EXPECT_GT(hi - lo, 20) << n;
  }
  EXPECT_EQ(BuiltinTexture("PAPER"), BuiltinTexture("Paper"));
  EXPECT_FALSE(BuiltinTexture("Marble"));
  // The overlay starts with the second built-in texture, at 50 % and scale 1.
  EXPECT_EQ(host.driver().StoredTextureBitmap, BuiltinTexture("Paper"));
  EXPECT_EQ(host.driver().StoredTextureStrength, 50.0f);
  EXPECT_EQ(host.driver().StoredTextureScale, 1.0f);
  ASSERT_TRUE(host.driver().TextureStep);
}

TEST_F(TextureOverlayTest, DriverAppliesTheStoredTextureWhenTheSwitchIsOn) {
  // The same full run with and without the switch differs by exactly the
  // overlay with the stored settings, drawn from the same generator state.
  Image src = LoadPhoto("chelsea");
  Image tex = TestPattern(256, 256);
  host.SetImage(src);
  ASSERT_EQ(host.RunFull(403, {30, 35, 60, 20, 25}), EffectHost::Outcome::Succeeded);
  Image plain = host.driver().VIrImage;

  host.driver().StoredTextureBitmap = tex;
  host.driver().StoredTextureStrength = 80.0f;
  host.driver().StoredTextureScale = 0.5f;
  host.textureSwitchOn = true;
  host.SetImage(src);
  RandSeed = 99u;
  ASSERT_EQ(host.RunFull(403, {30, 35, 60, 20, 25}), EffectHost::Outcome::Succeeded);
  Image textured = host.driver().VIrImage;
  RandSeed = 99u;
  EXPECT_EQ(MaxChannelDiff(textured, ApplyCustomTexture(plain, tex, 80, 0.5f)), 0);
  EXPECT_GT(MaxChannelDiff(textured, plain), 0);

  // Previews get it too.
  host.RunPreview(403, {30, 35, 60, 20, 25});
  Image withTexture = host.previewBitmap;
  host.textureSwitchOn = false;
  host.RunPreview(403, {30, 35, 60, 20, 25});
  EXPECT_GT(MaxChannelDiff(withTexture, host.previewBitmap), 0);
}

TEST_F(TextureOverlayTest, BaselineAndWideKernelsGiveTheSameBytes) {
  Image photo = LoadPhoto("chelsea");
  ConstPixelView v = photo.PeekPixels();
  std::vector<uint32_t> px;
  for (int y = 0; y < v.height; ++y)
    for (int x = 0; x < v.width; ++x)
      px.push_back((x * 5 + y * 3) % 41 == 0 ? Premultiply((v.at(x, y) & 0xFFFFFF) | 0x90000000u) : v.at(x, y));
  Image src = Image::MakeFromPixels(v.width, v.height, std::move(px));
  Image tex = TestPattern(53, 29);
  for (float scale : {1.0f, 0.37f, 2.5f}) {
    RandSeed = 31u;
    Image wide = ApplyCustomTexture(src, tex, 70, scale);
    RandSeed = 31u;
    Image narrow = Baseline([&] { return ApplyCustomTexture(src, tex, 70, scale); });
    EXPECT_EQ(MaxChannelDiff(wide, narrow), 0) << scale;
  }
}
