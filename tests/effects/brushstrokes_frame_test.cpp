#include <gtest/gtest.h>

#include <chrono>

#include "effects/painting/brushstrokes_frame.h"
#include "engine/catalogue.h"
#include "resources/repository.h"
#include "tests/support/harness.h"

using namespace lq;
using namespace lq::test;

namespace {

Image Atlas() { return Repository().Picture("TemplateMatchingBrushes"); }

class BrushFrameTest : public ::testing::Test {
 protected:
  // Runs the frame tool on the current images and waits until it has ended.
  bool RunTool(TAlphaColor colour, int64_t width, int64_t brush, bool* replaced) {
    bool done = false;
    *replaced = false;
    if (!AddBrushstrokesFrame(colour, width, brush, [&](bool r) {
          done = true;
          *replaced = r;
        }))
      return false;
    host.loop().RunUntil([&] { return done; }, 120000);
    return done;
  }
  HeadlessHost host;
};

// Share of the pixels of `r` in `img` whose colour differs from `c` by more than 8.
double ShareNotColoured(const Image& img, const IRect& r, TAlphaColor c) {
  ConstPixelView v = img.PeekPixels();
  int64_t n = 0, off = 0;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x, ++n) {
      uint32_t p = v.at(x, y);
      for (int sh = 0; sh < 32; sh += 8)
        if (std::abs(int((p >> sh) & 255u) - int((c >> sh) & 255u)) > 8) {
          ++off;
          break;
        }
    }
  return double(off) / double(n);
}

}  // namespace

TEST(SampledImageDistance, EveryTenthPixelSquared) {
  Image a = Solid(25, 25, 0xFF102030);
  std::vector<uint32_t> px(25 * 25, 0xFF102030u);
  px[size_t(3) * 25 + 5] = 0xFFFFFFFFu;   // not on the sampling grid
  px[size_t(20) * 25 + 10] = 0xFF132430;  // (3, 4, 0) off
  Image b = Image::MakeFromPixels(25, 25, std::move(px));
  EXPECT_EQ(SampledImageDistance(a, b), 25.0);
  EXPECT_EQ(SampledImageDistance(a, a), 0.0);
  EXPECT_EQ(SampledImageDistance(a, Image()), 0.0);
  EXPECT_EQ(SampledImageDistance(a, Solid(25, 24, 0xFF000000)), 0.0);  // sizes differ
  // 200 x 200 samples of 3 x 255^2: beyond 32 bits.
  EXPECT_EQ(SampledImageDistance(Solid(2000, 2000, 0xFFFFFFFF), Solid(2000, 2000, 0xFF000000)),
            200.0 * 200.0 * 3 * 255 * 255);
}

TEST(BrushFrameGeometry, SizesStripsAndStrokes) {
  struct Case {
    int w, h;
    int64_t border, brush;
    int64_t W, H;
    float s0;
    int64_t t, strokes;
  };
  const Case cases[] = {
      {1000, 800, 0, 40, 1000, 800, 40, 48, 6301},  // border 0: the picture's own size
      {1000, 800, 50, 40, 1100, 900, 40, 48, 6301},
      {100, 60, 10, 3, 120, 80, 5, 6, 561},  // brushes below 5 behave as 5
      {100, 60, 10, -7, 120, 80, 5, 6, 561},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " border " << c.border << " brush " << c.brush);
    TBrushFrameGeometry g = BrushFrameGeometry(c.w, c.h, c.border, c.brush);
    EXPECT_EQ(g.Width, c.W);
    EXPECT_EQ(g.Height, c.H);
    EXPECT_FLOAT_EQ(g.StrokeSize, c.s0);
    EXPECT_EQ(g.Thickness, c.t);
    EXPECT_EQ(g.StrokesPerSide, c.strokes);
    EXPECT_EQ(BrushFrameSizeError(c.w, c.h, c.border, c.brush), "");
  }
  EXPECT_EQ(BrushFrameSizeError(1000, 800, int64_t(1) << 31, 40), "Could not create 4294968296x4294968096 surface");
  EXPECT_EQ(BrushFrameSizeError(1000, 800, int64_t(1) << 62, 40),
            "Could not create 2199023256552x2199023256352 surface");
  EXPECT_EQ(BrushFrameSizeError(60000, 40000, 0, 40), "Could not create 60000x40000 surface");
  EXPECT_EQ(BrushFrameSizeError(1000, 800, 10, 1000000000), "Could not create 1000x1200000000 surface");
  EXPECT_EQ(BrushFrameSizeError(1000, 800, -1, 40), "The border width must be 0 or more");
}

// With no border the result keeps the picture's size; the strips still lie
// over the picture's edges and paint them, the middle stays as it was.
TEST_F(BrushFrameTest, BorderWidthZeroPaintsOverThePictureEdges) {
  Image photo = LoadPhoto("coffee");
  std::string err;
  Image out = MakeBrushstrokesFrameImage(photo, Atlas(), 0xFFFFFFFF, 0, 40, &err);
  ASSERT_TRUE(out) << err;
  EXPECT_EQ(err, "");
  ASSERT_EQ(out.width(), photo.width());
  ASSERT_EQ(out.height(), photo.height());
  EXPECT_EQ(MaxChannelDiff(out.MakeSubset(IRect::MakeXYWH(40, 40, 520, 320)),
                           photo.MakeSubset(IRect::MakeXYWH(40, 40, 520, 320))),
            0);
  EXPECT_GT(MaxChannelDiff(out.MakeSubset(IRect::MakeXYWH(0, 0, 600, 12)),
                           photo.MakeSubset(IRect::MakeXYWH(0, 0, 600, 12))),
            40);
  EXPECT_TRUE(AllPremultipliedValid(out));
}

// The border takes the colour; strokes coloured from the picture reach out
// over it along every side, denser near the picture, and the source image
// gets the plain border.
TEST_F(BrushFrameTest, StrokesRunFromThePictureOverTheBorder) {
  Image photo = LoadPhoto("chelsea");  // 451 x 300
  const int B = 40;
  const TAlphaColor red = 0xFFC00000;
  TBrushFrameResult r = RenderBrushstrokesFrame(photo, photo, Atlas(), red, B, 40);
  ASSERT_EQ(r.Error, "");
  ASSERT_EQ(r.Display.width(), 451 + 2 * B);
  ASSERT_EQ(r.Display.height(), 300 + 2 * B);
  EXPECT_EQ(r.Display.PeekPixels().at(5, 5), red);  // corners lie outside every strip
  EXPECT_EQ(r.Source.PeekPixels().at(5, 5), red);
  // The middle of the picture is untouched.
  EXPECT_EQ(MaxChannelDiff(r.Display.MakeSubset(IRect::MakeXYWH(B + 40, B + 40, 371, 220)),
                           photo.MakeSubset(IRect::MakeXYWH(40, 40, 371, 220))),
            0);
  // Just outside each side some strokes in the picture's colours reach over
  // the border; the source's border is plain.
  const IRect outside[4] = {IRect::MakeXYWH(B + 20, B - 12, 411, 10), IRect::MakeXYWH(B + 20, B + 302, 411, 10),
                            IRect::MakeXYWH(B - 12, B + 20, 10, 260), IRect::MakeXYWH(B + 453, B + 20, 10, 260)};
  for (const IRect& o : outside) {
    SCOPED_TRACE(testing::Message() << o.left << "," << o.top);
    double painted = ShareNotColoured(r.Display, o, red);
    EXPECT_GT(painted, 0.01);
    EXPECT_LT(painted, 0.98);
    EXPECT_EQ(ShareNotColoured(r.Source, o, red), 0.0);
  }
  // Far from the picture the border is plain.
  EXPECT_EQ(ShareNotColoured(r.Display, IRect::MakeXYWH(B + 20, 0, 411, 6), red), 0.0);
  EXPECT_TRUE(AllPremultipliedValid(r.Display));
}

// A picture with transparency keeps a transparent surround whatever the colour.
TEST_F(BrushFrameTest, TransparentPicturesGetATransparentBorder) {
  std::vector<uint32_t> px(size_t(200) * 150, 0xFF4080C0u);
  px[size_t(75) * 200 + 100] = 0x80204060u;
  Image img = Image::MakeFromPixels(200, 150, std::move(px));
  Image out = MakeBrushstrokesFrameImage(img, Atlas(), 0xFFC00000, 30, 40);
  ASSERT_TRUE(out);
  EXPECT_EQ(out.PeekPixels().at(3, 3), 0u);
  EXPECT_EQ(out.PeekPixels().at(259, 209), 0u);
  EXPECT_EQ(out.PeekPixels().at(130, 105), 0x80204060u);
  EXPECT_TRUE(AllPremultipliedValid(out));
}

TEST_F(BrushFrameTest, ImpossibleSizesAreRefusedWithAMessage) {
  Image photo = TestPattern(120, 80);
  std::string err;
  EXPECT_FALSE(MakeBrushstrokesFrameImage(photo, Atlas(), 0xFFFFFFFF, int64_t(1) << 31, 40, &err));
  EXPECT_EQ(err, "Could not create 4294967416x4294967376 surface");
  EXPECT_FALSE(MakeBrushstrokesFrameImage(photo, Atlas(), 0xFFFFFFFF, -5, 40, &err));
  EXPECT_EQ(err, "The border width must be 0 or more");
  EXPECT_FALSE(MakeBrushstrokesFrameImage(photo, Image(), 0xFFFFFFFF, 5, 40, &err));
  EXPECT_EQ(err, "The brush atlas is missing");
}

// The frame is not an effect of the routine table: running 900 as an effect
// does nothing.
TEST_F(BrushFrameTest, NotAnEffectRoutine) {
  EXPECT_EQ(FindEffectProc(kBrushstrokesFrame), nullptr);
  Image photo = TestPattern(60, 40);
  auto dest = Surface::MakeRaster(60, 40);
  host.driver().ProcessEffectOnSurface(photo, *dest, kBrushstrokesFrame, 10, 10, 10, 10, 10);
  EXPECT_EQ(MaxChannelDiff(dest->MakeImageSnapshot(), Solid(60, 40, 0)), 0);
}

// The tool frames the current pictures, records them, and leaves nothing
// claimed behind; undo brings the unframed pictures back.
TEST_F(BrushFrameTest, ToolReplacesTheImagesAndUndoRestoresThem) {
  Image photo = LoadPhoto("chelsea");
  host.SetImage(photo);
  bool replaced = false;
  ASSERT_TRUE(RunTool(0xFFFFFFFF, 25, 40, &replaced));
  EXPECT_TRUE(replaced);
  EffectDriver& d = host.driver();
  EXPECT_EQ(d.VIrImage.width(), 451 + 50);
  EXPECT_EQ(d.VIrSourceImage.height(), 300 + 50);
  EXPECT_EQ(d.FCurrentEffectNumber.load(), -1);
  EXPECT_EQ(host.progress, -1);
  ASSERT_FALSE(host.progressLog.empty());
  EXPECT_EQ(host.progressLog.front(), 0);
  EXPECT_GT(host.repaints, 0);
  Image display, source;
  ASSERT_TRUE(host.history().Undo(display, source));
  EXPECT_EQ(display.width(), 451);
  EXPECT_EQ(source.height(), 300);
}

TEST_F(BrushFrameTest, ToolWaitsForARunningEffect) {
  host.SetImage(TestPattern(100, 80));
  host.driver().FCurrentEffectNumber = 304;
  bool replaced = false;
  EXPECT_FALSE(RunTool(0xFFFFFFFF, 25, 40, &replaced));
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0], "Please wait for \"Impasto brushstrokes\" to finish processing.");
  EXPECT_EQ(host.driver().FCurrentEffectNumber.load(), 304);
  host.driver().FCurrentEffectNumber = -1;

  host.driver().VIrImage = Image();
  EXPECT_FALSE(RunTool(0xFFFFFFFF, 25, 40, &replaced));
  EXPECT_EQ(host.messages.back(), "No image loaded");
}

// Failures and cancellation end the tool with the pictures unchanged, the
// claim released and the progress display finished.
TEST_F(BrushFrameTest, EveryWayOutReleasesTheClaim) {
  Image photo = LoadPhoto("coffee");
  struct Case {
    const char* what;
    int64_t width;
    bool cancel, noAtlas;
    const char* message;
  };
  const Case cases[] = {
      {"cancelled", 30, true, false, nullptr},
      {"too large", int64_t(1) << 31, false, false, "Could not create 4294967896x4294967696 surface"},
      {"no atlas", 30, false, true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    host.SetImage(photo);
    host.messages.clear();
    host.driver().BuiltinImage = [&c](const std::string& name) { return c.noAtlas ? Image() : Repository().Picture(name); };
    bool sawProgress = false;
    host.onProgress = [&](int v) {
      if (c.cancel && v >= 0 && v <= 100 && !sawProgress) host.driver().Cancel = true;
      sawProgress = true;
    };
    bool replaced = true;
    ASSERT_TRUE(RunTool(0xFFFFFFFF, c.width, 40, &replaced));
    EXPECT_FALSE(replaced);
    EXPECT_EQ(host.driver().VIrImage, photo);
    EXPECT_EQ(host.driver().FCurrentEffectNumber.load(), -1);
    EXPECT_EQ(host.progress, -1);
    if (c.message) {
      ASSERT_EQ(host.messages.size(), 1u);
      EXPECT_EQ(host.messages[0], c.message);
    } else {
      EXPECT_TRUE(host.messages.empty());
    }
    host.onProgress = nullptr;
    host.driver().Cancel = false;
  }
}

TEST_F(BrushFrameTest, CancelEndsTheToolQuickly) {
  host.SetImage(LoadPhoto("astronaut"));
  std::chrono::steady_clock::time_point cancelAt;
  bool cancelled = false;
  host.onProgress = [&](int v) {
    if (!cancelled && v >= 10 && v <= 100) {
      host.driver().Cancel = true;
      cancelAt = std::chrono::steady_clock::now();
      cancelled = true;
    }
  };
  bool replaced = true;
  ASSERT_TRUE(RunTool(0xFFFFFFFF, 30, 40, &replaced));
  ASSERT_TRUE(cancelled);
  EXPECT_FALSE(replaced);
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - cancelAt).count();
  EXPECT_LT(ms, 2000);
}
