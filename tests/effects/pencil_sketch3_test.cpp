#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "effects/sketch/pencil_sketches.h"
#include "engine/random.h"
#include "tests/support/harness.h"

namespace lq {
namespace {

using test::AllPremultipliedValid;
using test::MaxChannelDiff;
using test::Solid;
using test::TestPattern;

constexpr int kPencil3 = 102;
const std::array<int, 5> kDefaults{20, 80, 30, 25, 0};

class PencilSketch3Test : public ::testing::Test {
 protected:
  Image Run(const Image& src, std::array<int, 5> p, bool preview, DynamicPencilTrace* trace = nullptr) {
    auto dest = Surface::MakeRaster(src.width(), src.height());
    auto ctx = std::make_shared<RunContext>();
    ctx->kind = preview ? RunKind::Preview : RunKind::Synchronous;
    ctx->effectNumber = kPencil3;
    ctx->generation = host.driver().FPreviewGeneration.load();
    RunScope scope(ctx);
    DynamicPencilTraced(src, *dest, p[0], p[1], p[2], p[3], p[4], preview, trace);
    host.loop().ProcessPending();
    return dest->MakeImageSnapshot();
  }

  HeadlessHost host;
};

bool IsGrey(uint32_t c) { return GetR(c) == GetG(c) && GetG(c) == GetB(c); }

// White except for one black pixel in the middle.
Image WhiteWithOneDarkPixel(int w, int h) {
  std::vector<uint32_t> px(size_t(w) * h, 0xFFFFFFFF);
  px[size_t(h / 2) * w + w / 2] = 0xFF000000;
  return Image::MakeFromPixels(w, h, std::move(px), true);
}

TEST_F(PencilSketch3Test, FinishesOnPicturesWithoutPlacesToStartOrRoomToMove) {
  struct Case {
    const char* name;
    Image src;
    uint32_t expected;  // every output pixel
  } cases[] = {
      {"all white", Solid(300, 200, 0xFFFFFFFF), 0xFFFFFFFF},
      {"fully transparent", Solid(300, 200, 0x00000000), 0x00000000},
      {"2 x 2 black", Solid(2, 2, 0xFF000000), 0xFFFFFFFF},
      {"1 x 1 black", Solid(1, 1, 0xFF000000), 0xFFFFFFFF},
      {"1 x 40 black", Solid(1, 40, 0xFF000000), 0xFFFFFFFF},
  };
  for (const Case& c : cases) {
    for (bool preview : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.name << (preview ? " preview" : " full"));
      DynamicPencilTrace trace;
      auto start = std::chrono::steady_clock::now();
      Image out = Run(c.src, {100, 80, 30, 25, 100}, preview, &trace);
      double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      EXPECT_LT(s, 10.0);
      EXPECT_FALSE(trace.strokePhase);
      EXPECT_GE(trace.strokes, 2);  // the loop still runs for progress and cancel
      EXPECT_EQ(MaxChannelDiff(out, Solid(c.src.width(), c.src.height(), c.expected)), 0);
    }
  }
}

TEST_F(PencilSketch3Test, StartPointSearchGivesUpOnNearlyWhitePictures) {
  DynamicPencilTrace trace;
  auto start = std::chrono::steady_clock::now();
  Run(WhiteWithOneDarkPixel(200, 200), kDefaults, false, &trace);
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(s, 20.0);
  EXPECT_TRUE(trace.strokePhase);
  // Almost every stroke gives up; the few that find the dark pixel draw.
  EXPECT_GT(trace.strokesSkipped, trace.strokes * 9 / 10);
  EXPECT_LT(trace.strokesSkipped, trace.strokes);
}

TEST_F(PencilSketch3Test, StrokeCountShrinksWithSmallPicturesButNeverToZero) {
  struct Case {
    int w, h, p1;
    int loopRuns;  // strokes + 1: the loop runs 0..maxi
  } cases[] = {
      {200, 200, 20, 6100 + 1},       // (51 * 100 + 1000) * 1 * 1
      {100, 100, 20, 1525 + 1},       // a quarter
      {100, 100, 0, 250 + 1},
      {4, 4, 0, 1 + 1},               // 1000 * 0.02 * 0.02 rounds to 0: at least one stroke
      {1, 1, 0, 1 + 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " P1=" << c.p1);
    DynamicPencilTrace trace;
    Run(TestPattern(c.w, c.h), {c.p1, 80, 30, 0, 0}, true, &trace);
    EXPECT_EQ(trace.strokes, c.loopRuns);
  }
}

TEST_F(PencilSketch3Test, TranslucentSourcesGiveValidPremultipliedPixels) {
  // Dark colour whose alpha runs from 0 to 255 across the picture, with and
  // without the colour step.
  const int w = 256, h = 64;
  std::vector<uint32_t> px(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) px[size_t(y) * w + x] = Premultiply(MakeColor(uint32_t(x), 30, 60, 140));
  Image src = Image::MakeFromPixels(w, h, std::move(px));
  for (int p5 : {0, 100}) {
    SCOPED_TRACE(p5);
    Image out = Run(src, {20, 80, 30, 25, p5}, false);
    ASSERT_TRUE(AllPremultipliedValid(out));
    ConstPixelView v = out.PeekPixels();
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) ASSERT_EQ(GetA(v.at(x, y)), uint32_t(x)) << x << "," << y;
    EXPECT_EQ(v.at(0, h / 2), 0u);
  }
}

TEST_F(PencilSketch3Test, TranslucentWhiteOverWhitePaperIsStillWhite) {
  // Premultiplied white at half alpha covers white paper with white: there is
  // nothing darker to draw, and the result is that same translucent white.
  Image src = Solid(120, 90, 0x80FFFFFF);
  DynamicPencilTrace trace;
  Image out = Run(src, kDefaults, false, &trace);
  EXPECT_FALSE(trace.strokePhase);
  EXPECT_EQ(MaxChannelDiff(out, src), 0);
}

TEST_F(PencilSketch3Test, ColourTintsOnlyTheDarkerStrokes) {
  // The same seed gives the same grey drawing; the colour step then leaves
  // paper of 201 and lighter grey and tints the rest.
  Image photo = test::LoadPhoto("coffee");
  ASSERT_TRUE(photo);
  Image src = photo.MakeSubset(IRect::MakeXYWH(150, 100, 240, 180));
  RandSeed = 777;
  Image grey = Run(src, {20, 80, 30, 25, 0}, false);
  RandSeed = 777;
  Image tinted = Run(src, {20, 80, 30, 25, 100}, false);
  ConstPixelView g = grey.PeekPixels(), t = tinted.PeekPixels();
  int light = 0, coloured = 0;
  for (int y = 0; y < g.height; ++y)
    for (int x = 0; x < g.width; ++x) {
      uint32_t a = g.at(x, y), b = t.at(x, y);
      ASSERT_TRUE(IsGrey(a));
      if (GetG(a) >= 201) {
        ++light;
        ASSERT_EQ(a, b) << x << "," << y;
      } else {
        coloured += !IsGrey(b);
      }
    }
  EXPECT_GT(light, 0);
  EXPECT_GT(coloured, g.width * g.height / 4);
}

TEST_F(PencilSketch3Test, CallerSurfacesOfAnotherSizeGetTheOverlap) {
  Image src = TestPattern(60, 40);
  for (auto [w, h] : {std::pair{90, 70}, {30, 20}}) {
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    auto dest = Surface::MakeRaster(w, h);
    dest->GetCanvas()->Clear(0xFFFF0000);
    auto ctx = std::make_shared<RunContext>();
    ctx->kind = RunKind::Synchronous;
    RunScope scope(ctx);
    DynamicPencil(src, *dest, 20, 80, 30, 25, 0, false);
    PixelView v = dest->PeekPixels();
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        uint32_t c = v.at(x, y);
        if (x < 60 && y < 40)
          ASSERT_TRUE(GetA(c) == 255 && IsGrey(c)) << x << "," << y;
        else
          ASSERT_EQ(c, 0xFFFF0000u) << x << "," << y;  // left as it was
      }
  }
}

TEST_F(PencilSketch3Test, PreviewShowsTheDrawingInThePanel) {
  Image src = TestPattern(225, 225);
  host.SetImage(src);
  host.RunPreview(kPencil3, kDefaults, 60000);
  ASSERT_TRUE(host.previewBitmap);
  EXPECT_GT(host.previewDraws, 1);  // drawings in progress, then the result
  EXPECT_EQ(host.progress, -1);     // a preview never touches the progress display
}

TEST_F(PencilSketch3Test, CancelStopsTheFullRunAtItsNextCheck) {
  Image src = test::LoadPhoto("chelsea");
  auto r = test::CancelAfterFirstProgress(host, kPencil3, src, kDefaults, 60000);
  ASSERT_TRUE(r.sawProgress);
  EXPECT_EQ(r.outcome, EffectHost::Outcome::Aborted);
  EXPECT_LT(r.msFromCancelToEnd, 3000);
  EXPECT_EQ(host.progress, -1);
}

}  // namespace
}  // namespace lq
