#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

#include "effects/sketch/band_draw.h"
#include "engine/random.h"
#include "tests/support/harness.h"

using namespace lq;
using namespace lq::test;

namespace {

constexpr int kFeltTip = 202;

class FeltTipPenTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EffectDriver& d = host.driver();
    d.FEraseBdChecked = false;
    d.VIrImage = Image();
    d.VIrSourceImage = Image();
    d.StartImageOverride = Image();
    d.Cancel = false;
  }
  HeadlessHost host;
};

// Number of generator steps between two states (the step is a full-period
// LCG, so walking forward finds it).
int64_t StepsBetween(uint32_t from, uint32_t to) {
  int64_t n = 0;
  for (uint32_t s = from; s != to; s = s * 134775813u + 1u) {
    if (++n > 50'000'000) return -1;
  }
  return n;
}

int64_t DrawsOfRun(const Image& src, std::array<int, 5> p, bool preview) {
  RandSeed = 12345;
  RunRoutine(kFeltTip, src, p, preview);
  return StepsBetween(12345, RandSeed.load());
}

TEST_F(FeltTipPenTest, DensitySetsTheGridSpacing) {
  // On black every candidate starts a stroke in a random direction and draws
  // six numbers (start test, direction, length, width, two jitters); a flat
  // picture has no edges, so no contour numbers follow.
  const int W = 40, H = 27;
  Image black = Solid(W, H, 0xFF000000);
  struct Case {
    int p1, spacing;
  } cases[] = {{100, 1}, {65, 5}, {30, 10}, {0, 13}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.p1);
    int64_t cells = int64_t((W + c.spacing - 1) / c.spacing) * ((H + c.spacing - 1) / c.spacing);
    EXPECT_EQ(DrawsOfRun(black, {c.p1, 70, 30, 5, 40}, true), 6 * cells);
  }
}

TEST_F(FeltTipPenTest, PaleAreasStartNoStroke) {
  // Luminance 251 and above never starts a stroke, and draws no number.
  for (uint32_t c : {0xFFFFFFFFu, 0xFFFBFBFBu}) {
    SCOPED_TRACE(c);
    Image src = Solid(30, 30, c);
    EXPECT_EQ(DrawsOfRun(src, {100, 100, 30, 40, 40}, true), 0);
    Image out = RunRoutine(kFeltTip, src, {100, 100, 30, 40, 40}, true);
    EXPECT_EQ(MaxChannelDiff(out, Solid(30, 30, 0xFFFFFFFF)), 0);
  }
}

TEST_F(FeltTipPenTest, ContourPassOnlyAboveTheThreshold) {
  // The marker pass draws the same numbers whatever P5 is; the contour pass
  // adds its own only when P5 > 2.
  Image src = TestPattern(120, 90);
  int64_t base = DrawsOfRun(src, {65, 70, 30, 5, 0}, true);
  EXPECT_GT(base, 0);
  EXPECT_EQ(DrawsOfRun(src, {65, 70, 30, 5, 1}, true), base);
  EXPECT_EQ(DrawsOfRun(src, {65, 70, 30, 5, 2}, true), base);
  EXPECT_GT(DrawsOfRun(src, {65, 70, 30, 5, 3}, true), base);
}

TEST_F(FeltTipPenTest, StrokeColourIsBoostedAndLightened) {
  // Sparse, short, opaque strokes on white paper: where one stroke covers a
  // pixel fully, the pixel shows the stroke colour itself.
  struct Case {
    uint32_t src, stroke;
  } cases[] = {
      {0xFFC86432, 0xFFFF7832},  // (200,100,50): red +40, blue -20, then +20 each (red stops at 255)
      {0xFF646E78, 0xFF78828C},  // nearly grey: no boost, only +20
      {0xFF3C8C3C, 0xFF3CC83C},  // (60,140,60): green +40, red and blue -20, then +20 each
      {0xFF64966E, 0xFF69C882},  // (100,150,110): span 50 -> f = 30: green +30, red -15, then +20 each
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.src);
    RandSeed = 7;
    Image out = RunRoutine(kFeltTip, Solid(90, 90, c.src), {0, 100, 0, 40, 0}, true);
    std::map<uint32_t, int> counts;
    ConstPixelView v = out.PeekPixels();
    for (int y = 0; y < v.height; ++y)
      for (int x = 0; x < v.width; ++x)
        if (v.at(x, y) != 0xFFFFFFFFu) ++counts[v.at(x, y)];
    ASSERT_FALSE(counts.empty());
    auto best = std::max_element(counts.begin(), counts.end(),
                                 [](const auto& a, const auto& b) { return a.second < b.second; });
    EXPECT_EQ(best->first, c.stroke) << std::hex << best->first;
  }
}

TEST_F(FeltTipPenTest, BlockedStrokeKeepsTwoPixelsEachWay) {
  // In a 1 x 1 picture every step leaves the picture, so both reaches are 0;
  // the stroke still gets 2 pixels each way and, wide, covers the pixel.
  RandSeed = 99;
  Image out = RunRoutine(kFeltTip, Solid(1, 1, 0xFF000000), {100, 100, 30, 100, 40}, true);
  ASSERT_TRUE(out);
  EXPECT_EQ(out.PeekPixels().at(0, 0), 0xFF141414u);  // black + 20, opaque, on white
}

TEST_F(FeltTipPenTest, TinyAndThinPicturesFinish) {
  for (auto [w, h] : {std::pair{1, 1}, {2, 2}, {3, 3}, {1, 40}, {40, 1}, {2, 60}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    Image src = TestPattern(w, h);
    for (bool preview : {false, true}) {
      Image out = RunRoutine(kFeltTip, src, {100, 70, 30, 5, 100}, preview);
      ASSERT_TRUE(out);
      EXPECT_TRUE(AllPremultipliedValid(out));
    }
  }
}

// A source with a transparent left third and a half-transparent middle third.
Image WithHoles(const Image& photo) {
  auto s = Surface::MakeRaster(photo.width(), photo.height());
  s->GetCanvas()->DrawImage(photo, 0, 0);
  PixelView v = s->PeekPixels();
  for (int y = 0; y < v.height; ++y)
    for (int x = 0; x < v.width / 3 * 2; ++x)
      v.at(x, y) = x < v.width / 3 ? 0 : Premultiply((v.at(x, y) & 0xFFFFFFu) | 0x80000000u);
  return s->MakeImageSnapshot();
}

TEST_F(FeltTipPenTest, StartCanvasFollowsEraseBackgroundAndTheShownPicture) {
  // A white source draws no strokes, so the result is the start canvas.
  const int W = 24, H = 16;
  Image white = Solid(W, H, 0xFFFFFFFF);
  Image blue = Solid(W, H, 0xFF2040C0), green = Solid(W, H, 0xFF30A030);
  Image translucent = Solid(W, H, 0x80FFFFFF);
  struct Case {
    const char* name;
    bool erase, preview;
    Image shown, source, override_;
    uint32_t expected;
  } cases[] = {
      {"erase, opaque source", true, false, blue, white, {}, 0xFFFFFFFF},
      {"erase, translucent source", true, false, blue, translucent, {}, 0x00000000},
      {"no erase: the shown picture", false, false, blue, white, {}, 0xFF2040C0},
      {"no erase: the region override", false, false, blue, white, green, 0xFF30A030},
      {"no erase, nothing shown", false, false, {}, white, {}, 0x00000000},
      {"preview: always paper", false, true, blue, white, {}, 0xFFFFFFFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EffectDriver& d = host.driver();
    d.FEraseBdChecked = c.erase;
    d.VIrImage = c.shown;
    d.VIrSourceImage = c.source;
    d.StartImageOverride = c.override_;
    Image out = RunRoutine(kFeltTip, white, {65, 70, 30, 5, 40}, c.preview);
    EXPECT_EQ(MaxChannelDiff(out, Solid(W, H, c.expected)), 0);
  }
}

TEST_F(FeltTipPenTest, TransparentPartsStayTransparentOnEveryStartCanvas) {
  Image src = WithHoles(LoadPhoto("chelsea"));
  ConstPixelView s = src.PeekPixels();
  for (bool erase : {true, false}) {
    for (bool preview : {true, false}) {
      SCOPED_TRACE(std::string(erase ? "erase" : "start image") + (preview ? ", preview" : ", full"));
      EffectDriver& d = host.driver();
      d.FEraseBdChecked = erase;
      d.VIrImage = LoadPhoto("chelsea");
      d.VIrSourceImage = d.VIrImage;
      Image out = RunRoutine(kFeltTip, src, {65, 70, 30, 5, 40}, preview);
      ASSERT_TRUE(out);
      EXPECT_TRUE(AllPremultipliedValid(out));
      ConstPixelView o = out.PeekPixels();
      for (int y = 0; y < o.height; ++y)
        for (int x = 0; x < o.width; ++x) ASSERT_LE(GetA(o.at(x, y)), GetA(s.at(x, y)) + 1) << x << "," << y;
      EXPECT_EQ(o.at(5, 5), 0u);
    }
  }
}

TEST_F(FeltTipPenTest, DarkAndLightAreasOfThePhotoStayDarkAndLight) {
  RandSeed = 2024;
  Image src = LoadPhoto("coffee");
  Image out = RunRoutine(kFeltTip, src, {65, 70, 30, 5, 40}, true);
  ASSERT_TRUE(out);
  // Mean luminance of 50 x 50 blocks, source against result.
  auto blocks = [](const Image& img) {
    ConstPixelView v = img.PeekPixels();
    std::vector<double> m;
    for (int by = 0; by + 50 <= v.height; by += 50)
      for (int bx = 0; bx + 50 <= v.width; bx += 50) {
        double sum = 0;
        for (int y = by; y < by + 50; ++y)
          for (int x = bx; x < bx + 50; ++x) sum += LuminanceD(GetR(v.at(x, y)), GetG(v.at(x, y)), GetB(v.at(x, y)));
        m.push_back(sum / 2500);
      }
    return m;
  };
  std::vector<double> a = blocks(src), b = blocks(out);
  double ma = 0, mb = 0;
  for (size_t i = 0; i < a.size(); ++i) ma += a[i], mb += b[i];
  ma /= double(a.size());
  mb /= double(b.size());
  double sab = 0, saa = 0, sbb = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    sab += (a[i] - ma) * (b[i] - mb);
    saa += (a[i] - ma) * (a[i] - ma);
    sbb += (b[i] - mb) * (b[i] - mb);
  }
  EXPECT_GT(sab / std::sqrt(saa * sbb), 0.8);
  // Paper shows between the strokes: lighter overall than the photo.
  EXPECT_GT(mb, ma);
}

TEST_F(FeltTipPenTest, BandedDrawingMatchesOnePass) {
  // Translucent multiply strokes, where the order of overlapping draws
  // matters, on a surface tall enough for several bands.
  struct Stroke {
    sketch::BandExtent extent;
    double x, y, theta, len, width;
    uint32_t color;
  };
  std::vector<Stroke> strokes;
  RandSeed = 5;
  for (int i = 0; i < 3000; ++i) {
    Stroke k{{}, Random() * 300, Random() * 700, Random() * 6.3, 5 + Random() * 40, 1 + Random() * 8,
             MakeColor(uint32_t(60 + Random(190)), uint32_t(Random(256)), uint32_t(Random(256)),
                       uint32_t(Random(256)))};
    double reach = k.len + k.width + 2;
    k.extent = {float(k.y - reach), float(k.y + reach)};
    strokes.push_back(k);
  }
  auto draw = [](Canvas& c, const Stroke& k) {
    Paint p(k.color);
    p.antiAlias = true;
    p.blendMode = BlendMode::Multiply;
    c.Save();
    c.Translate(k.x, k.y);
    c.RotateRadians(k.theta);
    c.DrawRect(RectF{-k.len / 2, -k.width / 2, k.len / 2, k.width / 2}, p);
    c.Restore();
  };
  auto banded = Surface::MakeRaster(300, 700), single = Surface::MakeRaster(300, 700);
  banded->GetCanvas()->Clear(0xFFFFFFFF);
  single->GetCanvas()->Clear(0xFFFFFFFF);
  sketch::DrawInBands(*banded, strokes, draw);
  for (const Stroke& k : strokes) draw(*single->GetCanvas(), k);
  EXPECT_LE(MaxChannelDiff(banded->MakeImageSnapshot(), single->MakeImageSnapshot()), 1);
}

TEST_F(FeltTipPenTest, CancelStopsTheFullRun) {
  CancelResult r = CancelAfterFirstProgress(host, kFeltTip, TestPattern(1600, 1200), {65, 70, 30, 5, 40});
  ASSERT_TRUE(r.sawProgress);
  EXPECT_EQ(r.outcome, EffectHost::Outcome::Aborted);
  EXPECT_LT(r.msFromCancelToEnd, 2000.0);
}

TEST_F(FeltTipPenTest, CancelDuringTheGradientDrawsNothing) {
  // A synchronous run: the first report (in the gradient) sets Cancel; the
  // run stops before any stroke, by EAbort or by leaving its loops.
  int reports = 0;
  host.onProgress = [&](int v) {
    if (v >= 0 && v <= 100) {
      ++reports;
      host.driver().Cancel = true;
    }
  };
  LastUIUpdateTick = 0;
  Image out;
  try {
    out = RunSync(host, kFeltTip, TestPattern(800, 600), {65, 70, 30, 5, 40});
  } catch (const EAbort&) {
  }
  host.onProgress = nullptr;
  EXPECT_EQ(reports, 1);
  if (out) {
    EXPECT_EQ(MaxChannelDiff(out, Solid(800, 600, 0)), 0);
  }
}

}  // namespace
