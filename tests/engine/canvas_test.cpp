#include <gtest/gtest.h>

#include <cmath>

#include "engine/gfx/filters.h"
#include "engine/gfx/surface.h"

using namespace lq;

namespace {

double Mitchell(double x) {
  const double B = 1.0 / 3, C = 1.0 / 3;
  x = std::fabs(x);
  if (x < 1) return ((12 - 9 * B - 6 * C) * x * x * x + (-18 + 12 * B + 6 * C) * x * x + (6 - 2 * B)) / 6;
  if (x < 2) return ((-B - 6 * C) * x * x * x + (6 * B + 30 * C) * x * x + (-12 * B - 48 * C) * x + (8 * B + 24 * C)) / 6;
  return 0;
}

Image Grey(int w, int h, const std::vector<int>& v) {
  std::vector<uint32_t> px;
  for (int g : v) px.push_back(MakeColor(255, g, g, g));
  return Image::MakeFromPixels(w, h, std::move(px), true);
}

}  // namespace

TEST(Canvas, MitchellUpscaleMatchesAnalyticWeights) {
  const int sw = 4, sh = 3, scale = 5;
  std::vector<int> vals = {0, 255, 40, 200, 90, 10, 255, 0, 128, 64, 0, 255};
  Image src = Grey(sw, sh, vals);
  auto surf = Surface::MakeRaster(sw * scale, sh * scale);
  surf->GetCanvas()->DrawImageRect(src, RectF::MakeWH(sw * scale, sh * scale), SamplingOptions::High());
  PixelView v = surf->PeekPixels();
  int worst = 0;
  for (int y = 0; y < sh * scale; ++y)
    for (int x = 0; x < sw * scale; ++x) {
      double u = (x + 0.5) / scale - 0.5, t = (y + 0.5) / scale - 0.5;
      double acc = 0;
      for (int j = int(std::floor(t)) - 1; j <= int(std::floor(t)) + 2; ++j)
        for (int i = int(std::floor(u)) - 1; i <= int(std::floor(u)) + 2; ++i) {
          int ci = std::clamp(i, 0, sw - 1), cj = std::clamp(j, 0, sh - 1);
          acc += Mitchell(u - i) * Mitchell(t - j) * vals[size_t(cj * sw + ci)];
        }
      int expect = std::clamp(int(std::lround(acc)), 0, 255);
      int got = int(GetG(v.at(x, y)));
      worst = std::max(worst, std::abs(got - expect));
    }
  EXPECT_LE(worst, 1);
}

TEST(Canvas, OneToOneDrawIsExactAndClearFills) {
  auto surf = Surface::MakeRaster(4, 4);
  Canvas* c = surf->GetCanvas();
  c->Clear(0xFF00FF00);
  EXPECT_EQ(surf->PeekPixels().at(3, 3), 0xFF00FF00u);
  Image img = Grey(2, 2, {1, 2, 3, 4});
  c->DrawImage(img, 1, 1);
  EXPECT_EQ(surf->PeekPixels().at(1, 1), 0xFF010101u);
  EXPECT_EQ(surf->PeekPixels().at(2, 2), 0xFF040404u);
  EXPECT_EQ(surf->PeekPixels().at(0, 0), 0xFF00FF00u);
}

TEST(Canvas, BlendModesOnImages) {
  // DstIn keeps the destination where the source is opaque; Clear empties it.
  auto surf = Surface::MakeRaster(2, 1);
  Canvas* c = surf->GetCanvas();
  c->Clear(0xFFFF0000);
  std::vector<uint32_t> px = {0xFF000000, 0x00000000};
  Image mask = Image::MakeFromPixels(2, 1, std::move(px));
  Paint p;
  p.blendMode = BlendMode::DstIn;
  c->DrawImage(mask, 0, 0, SamplingOptions::Low(), &p);
  EXPECT_EQ(surf->PeekPixels().at(0, 0), 0xFFFF0000u);
  EXPECT_EQ(surf->PeekPixels().at(1, 0), 0u);

  // Multiply of white leaves the destination; Color takes hue from the source.
  c->Clear(0xFF804020);
  Image white = Grey(2, 1, {255, 255});
  p.blendMode = BlendMode::Multiply;
  c->DrawImage(white, 0, 0, SamplingOptions::Low(), &p);
  EXPECT_EQ(surf->PeekPixels().at(0, 0), 0xFF804020u);
}

TEST(Canvas, UnboundedModeStaysInsideShape) {
  auto surf = Surface::MakeRaster(10, 10);
  Canvas* c = surf->GetCanvas();
  c->Clear(0xFFFFFFFF);
  Paint p(0xFF0000FF);
  p.blendMode = BlendMode::SrcIn;
  c->DrawRect({2, 2, 5, 5}, p);
  EXPECT_EQ(surf->PeekPixels().at(3, 3), 0xFF0000FFu);
  EXPECT_EQ(surf->PeekPixels().at(8, 8), 0xFFFFFFFFu);  // untouched outside
  // Clear inside a circle only.
  Paint clr;
  clr.blendMode = BlendMode::Clear;
  clr.antiAlias = true;
  c->DrawCircle(7, 7, 1.5, clr);
  EXPECT_EQ(surf->PeekPixels().at(7, 7), 0u);
  EXPECT_EQ(surf->PeekPixels().at(0, 9), 0xFFFFFFFFu);
}

TEST(Canvas, ColorFilterSrcInTintsByAlpha) {
  std::vector<uint32_t> px = {0x80000000, 0xFF000000};
  Image brush = Image::MakeFromPixels(2, 1, std::move(px));
  auto surf = Surface::MakeRaster(2, 1);
  Paint p;
  p.colorFilter = ColorFilter::MakeBlend(0xFFFF0000, BlendMode::SrcIn);
  surf->GetCanvas()->DrawImage(brush, 0, 0, SamplingOptions::Low(), &p);
  EXPECT_EQ(surf->PeekPixels().at(0, 0), 0x80800000u);
  EXPECT_EQ(surf->PeekPixels().at(1, 0), 0xFFFF0000u);
}

TEST(Canvas, RotatedDrawKeepsCentreAndClipRect) {
  auto surf = Surface::MakeRaster(20, 20);
  Canvas* c = surf->GetCanvas();
  Image img = Grey(10, 10, std::vector<int>(100, 200));
  c->Save();
  c->Translate(10, 10);
  c->Rotate(30);
  c->DrawImage(img, -5, -5, SamplingOptions::High());
  c->Restore();
  EXPECT_EQ(surf->PeekPixels().at(10, 10), 0xFFC8C8C8u);
  EXPECT_EQ(surf->PeekPixels().at(0, 0), 0u);
  c->Clear(0);
  c->Save();
  c->ClipRect({0, 0, 5, 20});
  c->DrawPaint(Paint(0xFFFFFFFF));
  c->Restore();
  EXPECT_EQ(surf->PeekPixels().at(4, 10), 0xFFFFFFFFu);
  EXPECT_EQ(surf->PeekPixels().at(5, 10), 0u);
}

TEST(Filters, BlurKeepsFlatImagesAndSpreadsImpulse) {
  auto store = AllocPixels(64, 64, true);
  PixelView v = store->view();
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) v.at(x, y) = 0xFF808080;
  GaussianBlur(v, v, 8, 8, TileMode::Clamp);
  EXPECT_EQ(v.at(0, 0), 0xFF808080u);
  EXPECT_EQ(v.at(32, 32), 0xFF808080u);
  // Decal: edges fade because transparent pixels are mixed in.
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) v.at(x, y) = 0xFF808080;
  GaussianBlur(v, v, 4, 4, TileMode::Decal);
  EXPECT_LT(GetA(v.at(0, 0)), 128u);
  EXPECT_EQ(GetA(v.at(32, 32)), 255u);
  EXPECT_TRUE(IsValidPremul(v.at(0, 0)));
}
