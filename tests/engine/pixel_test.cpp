#include <gtest/gtest.h>

#include <cstring>

#include "engine/gfx/surface.h"
#include "engine/pixel.h"
#include "engine/random.h"

using namespace lq;

TEST(Pixel, WordLayoutAndChannels) {
  TAlphaColor c = 0xFF3B82F6;
  uint8_t bytes[4];
  std::memcpy(bytes, &c, 4);
  EXPECT_EQ(bytes[0], 0xF6);
  EXPECT_EQ(bytes[1], 0x82);
  EXPECT_EQ(bytes[2], 0x3B);
  EXPECT_EQ(bytes[3], 0xFF);
  auto rec = reinterpret_cast<const TAlphaColorRec*>(&c);
  EXPECT_EQ(rec->R, 0x3B);
  EXPECT_EQ(rec->G, 0x82);
  EXPECT_EQ(rec->B, 0xF6);
  EXPECT_EQ(GetR(c), 0x3Bu);
  EXPECT_EQ(GetG(c), 0x82u);
  EXPECT_EQ(GetB(c), 0xF6u);
  EXPECT_EQ(MakeColor(0xFF, 0x3B, 0x82, 0xF6), c);
}

TEST(Pixel, ClampAndRounding) {
  EXPECT_EQ(ClampByte(-1), 0);
  EXPECT_EQ(ClampByte(256), 255);
  EXPECT_EQ(ClampByte(128), 128);
  struct {
    double x;
    int64_t r;
  } cases[] = {{0.5, 0}, {1.5, 2}, {2.5, 2}, {3.5, 4}, {-1.5, -2}, {-2.5, -2}, {0.49999, 0}, {-0.6, -1}};
  for (auto c : cases) EXPECT_EQ(Round(c.x), c.r) << c.x;
  EXPECT_EQ(Trunc(-1.7), -1);
  EXPECT_EQ(Trunc(1.7), 1);
}

TEST(Random, SequenceFromSeedZero) {
  RandSeed = 0;
  EXPECT_EQ(Random(100), 0);
  EXPECT_EQ(Random(100), 3);
  EXPECT_EQ(Random(100), 86);
}

TEST(Random, DegenerateRangesStillAdvance) {
  RandSeed = 12345;
  uint32_t before = RandSeed;
  EXPECT_EQ(Random(1), 0);
  EXPECT_NE(uint32_t(RandSeed), before);
  before = RandSeed;
  EXPECT_EQ(Random(0), 0);
  EXPECT_NE(uint32_t(RandSeed), before);
  double d = Random();
  EXPECT_GE(d, 0.0);
  EXPECT_LT(d, 1.0);
}

TEST(Random, RandomizeChangesState) {
  RandSeed = 7;
  Randomize();
  uint32_t a = RandSeed;
  Randomize();
  EXPECT_NE(a, uint32_t(RandSeed));
}

TEST(Image, OnePixelRoundTrip) {
  uint32_t px = 0x80402010;  // valid premultiplied
  ImageInfo info = ImageInfo::Make(1, 1);
  auto surf = Surface::MakeRasterDirect(info, &px, 4);
  ASSERT_TRUE(surf);
  Image img = surf->MakeImageSnapshot();
  uint32_t out = 0;
  ASSERT_TRUE(img.ReadPixels(info, &out, 4, 0, 0));
  EXPECT_EQ(out, px);
}

TEST(Image, EmptyOrHugeSurfacesAreNotCreated) {
  EXPECT_EQ(Surface::MakeRaster(0, 0), nullptr);
  EXPECT_EQ(Surface::MakeRaster(0, 10), nullptr);
  EXPECT_EQ(Surface::MakeRaster(70000, 70000), nullptr);  // beyond 2^31 pixels
}

TEST(Image, SubsetSharesPixelsAndUnpremulRead) {
  std::vector<uint32_t> px = {0xFF000000, 0x80800000, 0x00000000, 0xFFFFFFFF};
  Image img = Image::MakeFromPixels(2, 2, std::move(px));
  Image sub = img.MakeSubset(IRect::MakeXYWH(1, 0, 1, 2));
  ASSERT_TRUE(sub);
  EXPECT_EQ(sub.width(), 1);
  uint32_t out[2];
  ASSERT_TRUE(sub.ReadPixels(ImageInfo::Make(1, 2, AlphaType::Unpremul), out, 4, 0, 0));
  EXPECT_EQ(out[0], 0x80FF0000u);  // 0x80 red premultiplied = full red straight
  EXPECT_EQ(out[1], 0xFFFFFFFFu);
  EXPECT_NE(sub.uniqueID(), img.uniqueID());
  EXPECT_FALSE(img.MakeSubset(IRect::MakeXYWH(5, 5, 2, 2)));
}
