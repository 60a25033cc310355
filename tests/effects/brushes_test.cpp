#include "effects/painting/brushes/brushes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "tests/effects/synthetic_brushes.h"
#include "tests/support/harness.h"

using namespace lq;
using namespace lq::test;

namespace {

Image Snapshot(const PixelView& v) {
  return Image::MakeRasterCopy(ImageInfo::Make(v.width, v.height), v.base, v.rowBytes);
}

// The same stamp through the general canvas path: SrcIn tint, rotation about
// the centre, linear + nearest-mip (or cubic) sampling, paint opacity.
void CanvasStamp(Surface& s, const Image& brush, TAlphaColor color, double cx, double cy, double angle, double size,
                 float opacity, SamplingOptions sampling) {
  Paint p;
  p.antiAlias = true;
  p.setAlphaf(opacity);
  p.colorFilter = ColorFilter::MakeBlend(color, BlendMode::SrcIn);
  Canvas* c = s.GetCanvas();
  c->Save();
  c->Translate(cx, cy);
  c->RotateRadians(angle);
  c->DrawImageRect(brush, RectF::MakeWH(256, 256), RectF{-size / 2, -size / 2, size / 2, size / 2}, sampling, &p);
  c->Restore();
}

}  // namespace

// Stamping through the pixel view must look like the canvas recipe, from
// heavy reduction (mip levels) to enlargement, at any angle and opacity.
TEST(StampBrush, MatchesCanvasDrawing) {
  struct Case {
    double size, angle, cx, cy;
    float opacity;
    TAlphaColor color;
  };
  const Case cases[] = {
      {20, 0.0, 40.0, 40.0, 1.0f, 0xFF3366CC},    {20, 0.7, 40.3, 41.6, 1.0f, 0xFFE0A000},
      {60, 1.9, 64.5, 60.2, 1.0f, 0xFF10B060},    {60, -2.4, 70.0, 66.7, 0.35f, 0xFFFFFFFF},
      {200, 0.3, 120.4, 110.9, 1.0f, 0xFF802040}, {200, 3.0, 128.0, 128.0, 0.8f, 0xFF000000},
      {300, 0.9, 128.0, 120.0, 1.0f, 0xC0FF8040}, {7, 2.2, 30.5, 20.5, 1.0f, 0xFF00FFFF},
      {90, 0.5, 10.0, 240.0, 1.0f, 0xFF4080FF},  // partly off the surface
  };
  Image bg = TestPattern(256, 256);
  BrushTip tip(SoftEllipseBrush(110, 40, 0.4));
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << "size " << k.size << " angle " << k.angle);
    auto a = Surface::MakeRaster(256, 256);
    auto b = Surface::MakeRaster(256, 256);
    a->GetCanvas()->DrawImage(bg, 0, 0);
    b->GetCanvas()->DrawImage(bg, 0, 0);
    StampBrush(a->PeekPixels(), tip, k.color, k.cx, k.cy, k.angle, k.size, k.opacity);
    CanvasStamp(*b, tip.image(), k.color, k.cx, k.cy, k.angle, k.size, k.opacity, SamplingOptions::LinearMipNearest());
    Image ia = a->MakeImageSnapshot(), ib = b->MakeImageSnapshot();
    EXPECT_LE(MaxChannelDiff(ia, ib), 4);
    EXPECT_GT(MaxChannelDiff(ia, bg), 20);  // it did paint
    EXPECT_TRUE(AllPremultipliedValid(ia));
  }
}

// Cubic stamps (used by Oil Pastel) agree with the canvas' Mitchell filter
// where neither reduces, and stay close when reducing.
TEST(StampBrush, CubicMatchesCanvasMitchell) {
  BrushTip tip(SoftEllipseBrush(100, 60, 0.2, false));
  for (double size : {256.0, 380.0, 150.0}) {
    SCOPED_TRACE(size);
    auto a = Surface::MakeRaster(400, 400);
    auto b = Surface::MakeRaster(400, 400);
    StampBrush(a->PeekPixels(), tip, 0xFF2050A0, 200, 200, 0.6, size, 1.0f, SamplingOptions::High());
    CanvasStamp(*b, tip.image(), 0xFF2050A0, 200, 200, 0.6, size, 1.0f, SamplingOptions::High());
    EXPECT_LE(MaxChannelDiff(a->MakeImageSnapshot(), b->MakeImageSnapshot()), size >= 256 ? 3 : 12);
  }
}

// A hard-edged opaque brush shows the anti-aliased rim of the rotated
// rectangle: close to the canvas' coverage, never a hard jagged edge.
TEST(StampBrush, OpaqueBrushEdgesAreAntiAliased) {
  std::vector<uint32_t> px(256 * 256, 0xFF000000u);
  BrushTip tip(Image::MakeFromPixels(256, 256, std::move(px)));
  auto a = Surface::MakeRaster(200, 200);
  auto b = Surface::MakeRaster(200, 200);
  StampBrush(a->PeekPixels(), tip, 0xFFFFFFFF, 100.3, 99.6, 0.5, 120);
  CanvasStamp(*b, tip.image(), 0xFFFFFFFF, 100.3, 99.6, 0.5, 120, 1.0f, SamplingOptions::LinearMipNearest());
  Image ia = a->MakeImageSnapshot(), ib = b->MakeImageSnapshot();
  ConstPixelView va = ia.PeekPixels(), vb = ib.PeekPixels();
  int64_t sumA = 0, sumB = 0;
  int partial = 0;
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 200; ++x) {
      int aa = int(va.at(x, y) >> 24), ab = int(vb.at(x, y) >> 24);
      sumA += aa;
      sumB += ab;
      EXPECT_LE(std::abs(aa - ab), 48) << x << "," << y;
      partial += aa > 0 && aa < 255;
    }
  EXPECT_NEAR(double(sumA) / 255, 120.0 * 120.0, 120.0 * 120.0 * 0.01);  // the rectangle's area
  EXPECT_NEAR(double(sumA), double(sumB), double(sumB) * 0.01);
  EXPECT_GT(partial, 200);  // a rim of partial coverage all round
}

// Sampling a prepared stamp gives exactly what drawing it on a cleared
// surface and reading it back gives, on any grid.
TEST(StampBrush, SamplingEqualsDrawingOnClearedSurface) {
  BrushTip tip(SoftEllipseBrush(90, 30, 1.1));
  for (int step : {1, 3, 5}) {
    BrushStamp st(tip, 0xFF7F3FAF, 83.3, 71.8, 2.6, 97, 97, 0.7f);
    auto s = Surface::MakeRaster(180, 160);
    st.Draw(s->PeekPixels());
    PixelView v = s->PeekPixels();
    std::vector<uint32_t> seen(size_t(180) * 160, 0);
    int visited = 0;
    st.ForEachPixel(IRect::MakeWH(180, 160), 2, 1, step, [&](int x, int y, uint32_t p) {
      EXPECT_EQ((x - 2) % step, 0);
      EXPECT_EQ((y - 1) % step, 0);
      seen[size_t(y) * 180 + x] = p;
      ++visited;
    });
    EXPECT_GT(visited, 50);
    for (int y = 1; y < 160; y += step)
      for (int x = 2; x < 180; x += step) ASSERT_EQ(seen[size_t(y) * 180 + x], v.at(x, y)) << x << "," << y;
    EXPECT_EQ(st.PixelAt(83, 71), v.at(83, 71));
  }
}

// Pixels outside the stamp's bounds are never touched; degenerate stamps draw nothing.
TEST(StampBrush, TouchesOnlyItsBoundsAndIgnoresDegenerateInput) {
  BrushTip tip(SoftEllipseBrush(120, 120, 0, false));
  Image bg = TestPattern(120, 100);
  auto s = Surface::MakeRaster(120, 100);
  s->GetCanvas()->DrawImage(bg, 0, 0);
  BrushStamp st(tip, 0xFF00FF00, 50.5, 40.5, 0.8, 30, 30);
  IRect r = st.Draw(s->PeekPixels());
  EXPECT_FALSE(r.isEmpty());
  ConstPixelView a = bg.PeekPixels();
  PixelView b = s->PeekPixels();
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 120; ++x)
      if (x < r.left || x >= r.right || y < r.top || y >= r.bottom) {
        ASSERT_EQ(a.at(x, y), b.at(x, y));
      }

  Image before = s->MakeImageSnapshot();
  BrushTip absent;
  const double nan = std::nan("");
  StampBrush(b, absent, 0xFF000000, 50, 50, 0, 40);
  StampBrush(b, tip, 0xFF000000, 50, 50, 0, 0);
  StampBrush(b, tip, 0xFF000000, 50, 50, 0, -10);
  StampBrush(b, tip, 0xFF000000, nan, 50, 0, 40);
  StampBrush(b, tip, 0xFF000000, 50, 50, nan, 40);
  StampBrush(b, tip, 0x00000000, 50, 50, 0, 40);  // transparent colour
  StampBrush(b, tip, 0xFF000000, 50, 50, 0, 40, 0.0f);
  StampBrush(b, tip, 0xFF000000, 5000, 50, 0, 40);  // far off the surface
  StampBrush(b, tip, 0xFF000000, 50, 50, 0, 1e12);
  EXPECT_EQ(MaxChannelDiff(before, s->MakeImageSnapshot()), 0);
  StampBrush(b, tip, 0xFF000000, 50, 50, 0, 0.2);  // smaller than a pixel: no crash
}

TEST(ComputeBrushAngle, MeasuresTheLongAxis) {
  EXPECT_FLOAT_EQ(ComputeBrushAngle(SoftEllipseBrush(60, 60, 0, false)), 0.0f);  // round
  EXPECT_FLOAT_EQ(ComputeBrushAngle(Solid(256, 256, 0)), 0.0f);                  // no paint
  EXPECT_FLOAT_EQ(ComputeBrushAngle(Image()), 0.0f);
  for (double a : {0.0, 0.4, 1.2, -0.9, 1.5}) {
    float got = ComputeBrushAngle(SoftEllipseBrush(100, 25, a, false));
    double diff = std::remainder(got - a, std::numbers::pi);  // an axis, not a direction
    EXPECT_NEAR(diff, 0.0, 0.02) << a;
  }
}

// Atlas cells: 302/303 keep only cells whose centre column crosses paint at
// the probe rows; 304 takes its first N cells as they are.
TEST(BrushCells, ProbeRowsDecideWhichCellsAreUsable) {
  std::vector<Image> cells = {
      SoftEllipseBrush(80, 30),                   // 0: usable
      Image(),                                    // 1: empty
      SoftEllipseBrush(30, 30, 0, false, 70, 0),  // 2: off the centre column: misses every probe
      SoftEllipseBrush(10, 8, 0, false, 0, 32),   // 3: only near row 160: usable
  };
  Image atlas = MakeAtlas(cells, 1);
  BrushTable usable = ExtractBrushCells(atlas);
  ASSERT_EQ(usable.size(), 2u);
  EXPECT_EQ(MaxChannelDiff(usable[0].image(), cells[0]), 0);
  EXPECT_EQ(MaxChannelDiff(usable[1].image(), cells[3]), 0);

  BrushTable fixed;
  std::vector<float> angles;
  ExtractFixedBrushCells(atlas, 6, fixed, angles);
  ASSERT_EQ(fixed.size(), 6u);
  ASSERT_EQ(angles.size(), 6u);
  EXPECT_TRUE(fixed[2].hasPaint());  // the off-centre brush is used here
  EXPECT_FALSE(fixed[1].hasPaint());
  EXPECT_NEAR(angles[0], 0.0f, 1e-3);
  // More cells than the sheet holds: the ones below it are absent and cost nothing.
  ExtractFixedBrushCells(atlas, 2000000000, fixed, angles);
  EXPECT_EQ(fixed.size(), 8u);
  EXPECT_EQ(angles.size(), 8u);
  // A partial cell keeps its part inside the sheet.
  ExtractFixedBrushCells(atlas.MakeSubset(IRect::MakeWH(300, 200)), 3, fixed, angles);
  ASSERT_EQ(fixed.size(), 2u);
  EXPECT_TRUE(fixed[0].hasPaint());
  EXPECT_EQ(fixed[0].width(), 256);

  EXPECT_TRUE(ExtractBrushCells(Image()).empty());
  // A narrower-than-grid atlas stops at the first cell that does not fit.
  EXPECT_EQ(ExtractBrushCells(atlas.MakeSubset(IRect::MakeWH(600, 256))).size(), 1u);
}

TEST(ExtractBrushMask, CopiesAlphaOrFallsBackToARoundMask) {
  std::vector<uint8_t> alpha;
  int w = 0, h = 0;
  ExtractBrushMask(Image(), alpha, w, h);
  ASSERT_EQ(w, 32);
  ASSERT_EQ(h, 32);
  EXPECT_EQ(alpha[16 * 32 + 16], 255);
  EXPECT_EQ(alpha[0], 0);
  EXPECT_EQ(alpha[16 * 32 + 24], 128);  // d = 8: Round(0.5 * 255) = 128 (half to even)

  Image img = Image::MakeFromPixels(3, 2, {0x10000000u, 0xFF000000u, 0, 0x80404040u, 0, 0x01010101u});
  ExtractBrushMask(img, alpha, w, h);
  EXPECT_EQ(w, 3);
  EXPECT_EQ(h, 2);
  EXPECT_EQ(alpha, (std::vector<uint8_t>{0x10, 0xFF, 0, 0x80, 0, 0x01}));
}

TEST(BlendOverPremul, Table) {
  struct Case {
    TAlphaColor s, d, want;
  };
  const Case cases[] = {
      {0xFF102030, 0xFFFFFFFF, 0xFF102030},  // opaque source replaces
      {0x00000000, 0xFF405060, 0xFF405060},  // transparent source keeps
      {0x80400000, 0xFFFFFFFF, 0xFFBF7F7F},  // half over white: t = 255*127 -> 127
      {0x80000080, 0x00000000, 0x80000080},  // over nothing
      {0x01010101, 0xFFFFFFFF, 0xFFFFFFFF},  // faint source over white stays in range
      {0xFE000000, 0xFFFFFFFF, 0xFF010101}, {0x40102030, 0x80804020, 0xA0705048},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BlendOverPremul(c.s, c.d), c.want) << std::hex << c.s << " over " << c.d;
    EXPECT_TRUE(IsValidPremul(BlendOverPremul(c.s, c.d)));
  }
}

TEST(BrushColorDistance, WeighsAlphaTwice) {
  EXPECT_EQ(BrushColorDistance(0xFF102030, 0xFF102030), 0);
  EXPECT_EQ(BrushColorDistance(0xFF000000, 0x00000000), 510);
  EXPECT_EQ(BrushColorDistance(0xFFFFFFFF, 0x00000000), 1275);
  EXPECT_EQ(BrushColorDistance(0x80102030, 0x90142a20), 32 + 4 + 10 + 16);
}

// A flat grey square dab: its left and bottom edges get lighter, its right
// and top edges darker; alpha and everything outside lo..hi stay.
TEST(ApplyImpastoRelief, LightensLeftAndDownDarkensRightAndUp) {
  const int S = 101, C = 50, a = 40;
  ScratchSurface s(S, S);
  PixelView v = s.view();
  for (int y = C - 15; y <= C + 15; ++y)
    for (int x = C - 15; x <= C + 15; ++x) v.at(x, y) = 0xFF808080u;
  Image before = Snapshot(v);
  ApplyImpastoRelief(v, C, a, 30, C - 20, C + 20);
  auto grey = [&](int x, int y) { return int(GetG(v.at(x, y))); };
  EXPECT_GT(grey(C - 15, C), 128);  // left edge
  EXPECT_GT(grey(C, C + 15), 128);  // bottom edge
  EXPECT_LT(grey(C + 15, C), 128);  // right edge
  EXPECT_LT(grey(C, C - 15), 128);  // top edge
  EXPECT_EQ(grey(C, C), 128);       // flat interior
  ConstPixelView b = before.PeekPixels();
  for (int y = 0; y < S; ++y)
    for (int x = 0; x < S; ++x) {
      ASSERT_EQ(v.at(x, y) >> 24, b.at(x, y) >> 24);
      ASSERT_TRUE(IsValidPremul(v.at(x, y)));
    }

  // Naming the painted part gives the same shading.
  ScratchSurface s2(S, S);
  PixelView v2 = s2.view();
  for (int y = C - 15; y <= C + 15; ++y)
    for (int x = C - 15; x <= C + 15; ++x) v2.at(x, y) = 0xFF808080u;
  ApplyImpastoRelief(v2, C, a, 30, C - 20, C + 20, IRect{C - 15, C - 15, C + 16, C + 16});
  EXPECT_EQ(MaxChannelDiff(Snapshot(v2), Snapshot(v)), 0);

  // Outside lo..hi nothing changes.
  for (int y = C - 15; y <= C + 15; ++y)
    for (int x = C - 15; x <= C + 15; ++x) v.at(x, y) = 0xFF808080u;
  ApplyImpastoRelief(v, C, a, 30, C - 10, C + 10);
  EXPECT_EQ(grey(C - 15, C), 128);
  EXPECT_EQ(grey(C + 15, C), 128);
  // A range reaching the border is kept one pixel inside it.
  ApplyImpastoRelief(v, C, a, 30, -5, S + 5);
}

class StartCanvasTest : public ::testing::Test {
 protected:
  HeadlessHost host;
  Image Run(const Image& source, bool erase) {
    host.driver().FEraseBdChecked = erase;
    auto dest = Surface::MakeRaster(source.width(), source.height());
    auto ctx = std::make_shared<RunContext>();
    ctx->kind = RunKind::Synchronous;
    RunScope scope(ctx);
    lastDoClear = PrepareStartCanvas(*dest, source);
    return dest->MakeImageSnapshot();
  }
  bool lastDoClear = false;
};

TEST_F(StartCanvasTest, EraseBackgroundIsWhiteForOpaqueAndTransparentOtherwise) {
  Image opaque = TestPattern(30, 20);
  Image white = Run(opaque, true);
  EXPECT_TRUE(lastDoClear);
  EXPECT_EQ(MaxChannelDiff(white, Solid(30, 20, 0xFFFFFFFF)), 0);

  std::vector<uint32_t> px(30 * 20, 0xFF336699u);
  px[599] = 0xFE336699u;  // one barely translucent pixel, last one scanned
  Image translucent = Image::MakeFromPixels(30, 20, std::move(px));
  EXPECT_EQ(MaxChannelDiff(Run(translucent, true), Solid(30, 20, 0)), 0);
}

TEST_F(StartCanvasTest, WithoutEraseTheStartImageIsDrawnUnscaled) {
  Image shown = TestPattern(40, 30);
  host.SetImage(shown);
  Image src = Solid(30, 20, 0xFF000000);
  Image out = Run(src, false);
  EXPECT_FALSE(lastDoClear);
  EXPECT_EQ(MaxChannelDiff(out, shown.MakeSubset(IRect::MakeWH(30, 20))), 0);

  Image region = Solid(10, 10, 0xFF00FF00);
  host.driver().StartImageOverride = region;
  out = Run(src, false);
  host.driver().StartImageOverride = Image();
  ConstPixelView v = out.PeekPixels();
  EXPECT_EQ(v.at(5, 5), 0xFF00FF00u);
  EXPECT_EQ(v.at(20, 15), 0u);  // beyond the start image: transparent
}
