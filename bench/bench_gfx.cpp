// Raster back end throughput: Mitchell-scaled draws and the Gaussian blur.
#include <benchmark/benchmark.h>

#include "bench/bench_util.h"
#include "engine/gfx/filters.h"
#include "engine/gfx/surface.h"

using namespace lq;

static void BM_MitchellDraw12MP(benchmark::State& state) {
  // A 3000 x 2250 picture enlarged to 4000 x 3000 (12 MP out).
  Image src = bench::PhotoOfSize(3000, 2250);
  auto dst = Surface::MakeRaster(4000, 3000);
  for (auto _ : state) {
    dst->GetCanvas()->DrawImageRect(src, RectF::MakeWH(4000, 3000), SamplingOptions::High());
    benchmark::DoNotOptimize(dst->PeekPixels().base);
  }
  LQ_SET_MP_PER_SEC(state, 4000 * 3000);
}
BENCHMARK(BM_MitchellDraw12MP)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_GaussianBlurSigma8_12MP(benchmark::State& state) {
  Image src = bench::PhotoOfSize(4000, 3000);
  auto dst = Surface::MakeRaster(4000, 3000);
  for (auto _ : state) {
    GaussianBlur(src.PeekPixels(), dst->PeekPixels(), 8, 8, TileMode::Clamp);
    benchmark::DoNotOptimize(dst->PeekPixels().base);
  }
  LQ_SET_MP_PER_SEC(state, 4000 * 3000);
}
BENCHMARK(BM_GaussianBlurSigma8_12MP)->Unit(benchmark::kMillisecond)->UseRealTime();

