// Brush stamping throughput: stamps per second of a 256-pixel brush drawn at
// 20, 60 and 200 pixels with random positions and angles, through the brush
// machinery and, for comparison, through the general canvas recipe.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "effects/painting/brushes/brushes.h"
#include "engine/gfx/surface.h"

using namespace lq;

namespace {

Image BenchBrush() {
  std::vector<uint32_t> px(256 * 256, 0);
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) {
      double u = (x + 0.5 - 128) / 110, v = (y + 0.5 - 128) / 45, r = std::sqrt(u * u + v * v);
      if (r < 1) px[size_t(y) * 256 + x] = uint32_t(std::lround(std::min(1.0, (1 - r) * 4) * 255)) << 24;
    }
  return Image::MakeFromPixels(256, 256, std::move(px));
}

struct Placement {
  double x, y, angle;
  TAlphaColor color;
};

std::vector<Placement> Placements(int w, int h) {
  std::vector<Placement> out;
  BandRandom rnd(12345);
  for (int i = 0; i < 4096; ++i)
    out.push_back({rnd.Unit() * w, rnd.Unit() * h, rnd.Unit() * 6.283, 0xFF000000u | uint32_t(rnd(0xFFFFFF))});
  return out;
}

void BM_StampBrush(benchmark::State& state) {
  const double size = double(state.range(0));
  BrushTip tip(BenchBrush());
  auto dst = Surface::MakeRaster(1024, 1024);
  auto places = Placements(1024, 1024);
  size_t i = 0;
  for (auto _ : state) {
    const Placement& p = places[i++ & 4095];
    StampBrush(dst->PeekPixels(), tip, p.color, p.x, p.y, p.angle, size);
  }
  benchmark::DoNotOptimize(dst->PeekPixels().base);
  state.counters["stamps/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StampBrush)->Arg(20)->Arg(60)->Arg(200)->UseRealTime();

// Scoring a candidate dab: sampling the stamp on every 3rd pixel, no drawing.
void BM_StampSampledStep3(benchmark::State& state) {
  const double size = double(state.range(0));
  BrushTip tip(BenchBrush());
  auto places = Placements(1024, 1024);
  size_t i = 0;
  uint64_t sum = 0;
  for (auto _ : state) {
    const Placement& p = places[i++ & 4095];
    BrushStamp st(tip, p.color, p.x, p.y, p.angle, size, size);
    st.ForEachPixel(IRect::MakeWH(1024, 1024), 0, 0, 3, [&](int, int, uint32_t s) { sum += s >> 24; });
  }
  benchmark::DoNotOptimize(sum);
  state.counters["stamps/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StampSampledStep3)->Arg(20)->Arg(60)->Arg(200)->UseRealTime();

// The same stamps through Canvas::DrawImageRect with a SrcIn colour filter.
void BM_StampCanvasRecipe(benchmark::State& state) {
  const double size = double(state.range(0));
  Image brush = BenchBrush();
  auto dst = Surface::MakeRaster(1024, 1024);
  auto places = Placements(1024, 1024);
  Canvas* c = dst->GetCanvas();
  Paint paint;
  paint.antiAlias = true;
  size_t i = 0;
  for (auto _ : state) {
    const Placement& p = places[i++ & 4095];
    paint.colorFilter = ColorFilter::MakeBlend(p.color, BlendMode::SrcIn);
    c->Save();
    c->Translate(p.x, p.y);
    c->RotateRadians(p.angle);
    c->DrawImageRect(brush, RectF::MakeWH(256, 256), RectF{-size / 2, -size / 2, size / 2, size / 2},
                     SamplingOptions::LinearMipNearest(), &paint);
    c->Restore();
  }
  benchmark::DoNotOptimize(dst->PeekPixels().base);
  state.counters["stamps/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StampCanvasRecipe)->Arg(20)->Arg(60)->Arg(200)->UseRealTime();

}  // namespace
