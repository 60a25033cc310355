#include <gtest/gtest.h>

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

constexpr int kPencil2 = 101;

// Records every picture the workspace is repainted with, together with a
// private copy of its pixels taken at that moment.
class RecordingHost : public HeadlessHost {
 public:
  ~RecordingHost() override { ShutdownDriver(); }
  void RepaintWorkspace() override {
    HeadlessHost::RepaintWorkspace();
    Image img = driver().VIrImage;
    if (!img) return;
    ConstPixelView v = img.PeekPixels();
    shown.push_back({img, Image::MakeRasterCopy(img.info(), v.base, v.rowBytes)});
  }
  struct Shown {
    Image img, copy;
  };
  std::vector<Shown> shown;
};

class PencilSketch2Test : public ::testing::Test {
 protected:
  Image Run(const Image& src, std::array<int, 5> p, bool preview, Pencil6Trace* trace = nullptr) {
    auto dest = Surface::MakeRaster(src.width(), src.height());
    auto ctx = std::make_shared<RunContext>();
    ctx->kind = preview ? RunKind::Preview : RunKind::Synchronous;
    ctx->effectNumber = kPencil2;
    ctx->generation = host.driver().FPreviewGeneration.load();
    RunScope scope(ctx);
    Pencil6Traced(src, *dest, p[0], p[1], p[2], p[3], p[4], preview, trace);
    host.loop().ProcessPending();
    return dest->MakeImageSnapshot();
  }

  // A photograph scaled up, so a full run lasts long enough to show work in
  // progress and to be cancelled.
  static Image BigPhoto() {
    Image photo = test::LoadPhoto("coffee");
    auto s = Surface::MakeRaster(photo.width() * 2, photo.height() * 2);
    s->GetCanvas()->DrawImageRect(photo, RectF::MakeWH(s->width(), s->height()), SamplingOptions::Linear());
    return s->MakeImageSnapshot();
  }

  RecordingHost host;
};

bool IsGrey(uint32_t c) { return GetR(c) == GetG(c) && GetG(c) == GetB(c); }

TEST_F(PencilSketch2Test, PreviewIterationsIgnoreSizeAndFullRunsScaleWithArea) {
  struct Case {
    int w, h, p3;
    bool preview;
    int iterations;
  } cases[] = {
      {40, 30, 30, true, 30 * 20 + 101},
      {150, 100, 30, true, 30 * 20 + 101},
      {150, 100, 0, true, 101},
      {200, 100, 0, false, 50 + 1 + 1},     // Round(20000 / 40000 * 100) + 1, then 0..maxi
      {200, 100, 30, false, 350 + 1 + 1},   // Round(0.5 * 700) + 1
      {400, 400, 0, false, 400 + 1 + 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " P3=" << c.p3 << " preview=" << c.preview);
    Pencil6Trace trace;
    Run(TestPattern(c.w, c.h), {10, 40, c.p3, 0, 30}, c.preview, &trace);
    EXPECT_TRUE(trace.linePhase);
    EXPECT_EQ(trace.iterations, c.iterations);
    EXPECT_GT(trace.linesDrawn, 0);
  }
}

TEST_F(PencilSketch2Test, WithoutColourTheDrawingIsGreyOnWhitePaper) {
  // Left half white paper already, right half something to draw.
  Image pattern = TestPattern(120, 80);
  auto s = Surface::MakeRaster(240, 80);
  s->GetCanvas()->Clear(0xFFFFFFFF);
  s->GetCanvas()->DrawImage(pattern, 120, 0);
  Image out = Run(s->MakeImageSnapshot(), {10, 40, 30, 0, 30}, false);
  ConstPixelView v = out.PeekPixels();
  int white = 0, dark = 0;
  for (int y = 0; y < v.height; ++y)
    for (int x = 0; x < v.width; ++x) {
      uint32_t c = v.at(x, y);
      ASSERT_EQ(GetA(c), 255u) << x << "," << y;
      ASSERT_TRUE(IsGrey(c)) << x << "," << y;
      white += c == 0xFFFFFFFF;
      dark += GetG(c) < 128;
    }
  EXPECT_GT(white, 120 * 80 / 2);  // most of the white half stays paper
  EXPECT_GT(dark, 100);            // the dark square is drawn
}

TEST_F(PencilSketch2Test, FullColourIntensityTakesTheHueOfThePhotograph) {
  Image red = Solid(100, 80, 0xFFC02020);
  Image out = Run(red, {10, 40, 30, 100, 30}, false);
  ConstPixelView v = out.PeekPixels();
  int64_t r = 0, g = 0, b = 0;
  for (int y = 0; y < v.height; ++y)
    for (int x = 0; x < v.width; ++x) {
      r += GetR(v.at(x, y));
      g += GetG(v.at(x, y));
      b += GetB(v.at(x, y));
    }
  const int64_t n = int64_t(v.width) * v.height;
  // Red hue, the drawing's lightness: clearly redder than grey, green and
  // blue alike.
  EXPECT_GT((r - g) / n, 40);
  EXPECT_NEAR(double(g) / n, double(b) / n, 2.0);
  EXPECT_TRUE(AllPremultipliedValid(out));
}

TEST_F(PencilSketch2Test, TransparencyIsDecidedByTheFirstPixels) {
  // Top rows opaque (more than 2001 pixels), bottom rows fully transparent.
  const int w = 100, h = 60;
  std::vector<uint32_t> px(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) px[size_t(y) * w + x] = y < 30 ? MakeColor(255, 90, 90, 90) : 0;
  Image opaqueFirst = Image::MakeFromPixels(w, h, std::vector<uint32_t>(px));
  // The same picture upside down: the first pixels are transparent.
  std::vector<uint32_t> flipped(px.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) flipped[size_t(y) * w + x] = px[size_t(h - 1 - y) * w + x];
  Image transparentFirst = Image::MakeFromPixels(w, h, std::move(flipped));

  Image a = Run(opaqueFirst, {10, 40, 30, 0, 30}, false);
  Image b = Run(transparentFirst, {10, 40, 30, 0, 30}, false);
  ConstPixelView va = a.PeekPixels(), vb = b.PeekPixels();
  for (int y = 30; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      // Treated as opaque: the clear part is plain white paper.
      ASSERT_EQ(va.at(x, y), 0xFFFFFFFFu) << x << "," << y;
      // Treated as transparent: the clear part stays clear.
      ASSERT_EQ(vb.at(x, h - 1 - y), 0u) << x << "," << y;
    }
  for (const Image& img : {a, b}) {
    EXPECT_TRUE(AllPremultipliedValid(img));
    int drawn = 0;
    ConstPixelView v = img.PeekPixels();
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) drawn += GetA(v.at(x, y)) == 255 && GetG(v.at(x, y)) < 200;
    EXPECT_GT(drawn, 200);
  }
}

TEST_F(PencilSketch2Test, NoLineIsKeptUnlessItBringsTheDrawingCloser) {
  // White paper already matches a white or an empty picture: nothing to draw.
  struct Case {
    const char* name;
    Image src;
    uint32_t expected;
  } cases[] = {
      {"white", Solid(60, 40, 0xFFFFFFFF), 0xFFFFFFFF},
      {"clear", Solid(60, 40, 0x00000000), 0x00000000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pencil6Trace trace;
    Image out = Run(c.src, {10, 40, 0, 0, 30}, true, &trace);
    EXPECT_EQ(trace.iterations, 101);
    EXPECT_EQ(trace.linesDrawn, 0);
    EXPECT_EQ(MaxChannelDiff(out, Solid(60, 40, c.expected)), 0);
  }
}

TEST_F(PencilSketch2Test, MinimumStrokeAboveTheMaximumActsAsTheMaximum) {
  // Same seed, same picture: P1 = 100 with P2 = 10 draws exactly what
  // P1 = 15 (= P2 + 5) draws, and a shorter minimum draws something else.
  Image src = TestPattern(90, 70);
  auto run = [&](int p1) {
    RandSeed = 4242;
    return Run(src, {p1, 10, 10, 0, 30}, true);
  };
  Image capped = run(100), at = run(15), shorter = run(0);
  EXPECT_EQ(MaxChannelDiff(capped, at), 0);
  EXPECT_GT(MaxChannelDiff(capped, shorter), 0);
}

TEST_F(PencilSketch2Test, PicturesTooSmallForLinesComeOutAsPaper) {
  for (auto [w, h] : {std::pair{1, 1}, {2, 2}, {2, 50}, {50, 2}}) {
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    for (bool preview : {false, true}) {
      Pencil6Trace trace;
      Image out = Run(Solid(w, h, 0xFF202020), {10, 40, 30, 0, 30}, preview, &trace);
      EXPECT_FALSE(trace.linePhase);
      EXPECT_EQ(trace.iterations, 0);
      EXPECT_EQ(MaxChannelDiff(out, Solid(w, h, 0xFFFFFFFF)), 0);
    }
  }
  Pencil6Trace trace;
  Run(Solid(3, 3, 0xFF202020), {10, 40, 30, 0, 30}, true, &trace);
  EXPECT_TRUE(trace.linePhase);
  EXPECT_GT(trace.linesDrawn, 0);
}

TEST_F(PencilSketch2Test, CallerSurfacesOfAnotherSizeGetTheDrawingClipped) {
  Image src = TestPattern(60, 40);
  for (auto [w, h] : {std::pair{90, 70}, {30, 20}}) {
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    auto dest = Surface::MakeRaster(w, h);
    dest->GetCanvas()->Clear(0xFFFF0000);
    auto ctx = std::make_shared<RunContext>();
    ctx->kind = RunKind::Synchronous;
    RunScope scope(ctx);
    Pencil6(src, *dest, 10, 40, 10, 0, 30, false);
    host.loop().ProcessPending();
    PixelView v = dest->PeekPixels();
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        uint32_t c = v.at(x, y);
        if (x < 60 && y < 40)
          ASSERT_TRUE(GetA(c) == 255 && IsGrey(c)) << x << "," << y;
        else
          ASSERT_EQ(c, 0u) << x << "," << y;  // cleared, as the destination is
      }
  }
}

TEST_F(PencilSketch2Test, WorkInProgressImagesStayAsTheyWereShown) {
  Image src = BigPhoto();
  host.SetImage(src);
  host.shown.clear();
  ASSERT_EQ(host.RunFull(kPencil2, {10, 40, 30, 0, 30}, 120000), EffectHost::Outcome::Succeeded);
  // At least one picture in progress and the result.
  ASSERT_GE(host.shown.size(), 2u);
  for (const auto& s : host.shown) {
    ASSERT_EQ(s.img.width(), src.width());
    EXPECT_EQ(MaxChannelDiff(s.img, s.copy), 0) << "a shown picture changed afterwards";
  }
  // The first one is a drawing in progress, not the final result.
  EXPECT_GT(MaxChannelDiff(host.shown.front().img, host.driver().VIrImage), 0);
  EXPECT_EQ(host.progress, -1);
}

TEST_F(PencilSketch2Test, CancelStopsTheFullRunAtItsNextCheck) {
  Image src = BigPhoto();
  auto r = test::CancelAfterFirstProgress(host, kPencil2, src, {10, 40, 30, 0, 30}, 120000);
  ASSERT_TRUE(r.sawProgress);
  EXPECT_EQ(r.outcome, EffectHost::Outcome::Aborted);
  EXPECT_LT(r.msFromCancelToEnd, 3000);
  // The half-finished drawing stays in the workspace.
  Image shown = host.driver().VIrImage;
  ASSERT_TRUE(shown);
  EXPECT_GT(MaxChannelDiff(shown, src), 0);
  ConstPixelView v = shown.PeekPixels();
  EXPECT_TRUE(IsGrey(v.at(v.width / 2, v.height / 2)));
}

}  // namespace
}  // namespace lq
