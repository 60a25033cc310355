// Raster back end throughput: Mitchell-scaled draws and the Gaussian blur,
// next to the memory-bandwidth floor measured in the same run. The CPU column
// counts every thread of the process, which keeps figures comparable when
// the machine is shared.
#include <benchmark/benchmark.h>
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <cstring>

#include "bench/bench_util.h"
#include "engine/gfx/filters.h"
#include "engine/gfx/surface.h"

using namespace lq;

// One streaming read-modify-write pass over 12 MP on every core: no pass that
// reads and writes each pixel once can be faster, so the other figures can be
// read as multiples of this one.
static void BM_BandwidthFloor12MP(benchmark::State& state) {
  auto surf = Surface::MakeRaster(4000, 3000);
  PixelView v = surf->PeekPixels();
  typedef uint32_t V4 __attribute__((vector_size(16)));
  for (auto _ : state) {
    tbb::parallel_for(tbb::blocked_range<int>(0, v.height, 32), [&](const tbb::blocked_range<int>& r) {
      const V4 one = {1, 1, 1, 1};
      for (int y = r.begin(); y < r.end(); ++y) {
        uint32_t* row = v.row(y);
        int x = 0;
        for (; x + 4 <= v.width; x += 4) {
          V4 p;
          std::memcpy(&p, row + x, sizeof p);
          p += one;
          std::memcpy(row + x, &p, sizeof p);
        }
        for (; x < v.width; ++x) row[x] += 1;
      }
    });
    benchmark::DoNotOptimize(v.base);
    benchmark::ClobberMemory();
  }
  LQ_SET_MP_PER_SEC(state, 4000 * 3000);
  // Bytes read plus bytes written.
  state.counters["GB/s"] =
      benchmark::Counter(2.0 * 4000 * 3000 * 4 * 1e-9 * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BandwidthFloor12MP)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

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
BENCHMARK(BM_MitchellDraw12MP)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

static void BM_MitchellShrink12MPToScreen(benchmark::State& state) {
  // A 12 MP photograph fitted into a 1600 x 1200 view, as the display does.
  Image src = bench::PhotoOfSize(4000, 3000);
  auto dst = Surface::MakeRaster(1600, 1200);
  for (auto _ : state) {
    dst->GetCanvas()->DrawImageRect(src, RectF::MakeWH(1600, 1200), SamplingOptions::High());
    benchmark::DoNotOptimize(dst->PeekPixels().base);
  }
  LQ_SET_MP_PER_SEC(state, 4000 * 3000);
}
BENCHMARK(BM_MitchellShrink12MPToScreen)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

static void BM_GaussianBlurSigma8_12MP(benchmark::State& state) {
  Image src = bench::PhotoOfSize(4000, 3000);
  auto dst = Surface::MakeRaster(4000, 3000);
  for (auto _ : state) {
    GaussianBlur(src.PeekPixels(), dst->PeekPixels(), 8, 8, TileMode::Clamp);
    benchmark::DoNotOptimize(dst->PeekPixels().base);
  }
  LQ_SET_MP_PER_SEC(state, 4000 * 3000);
}
BENCHMARK(BM_GaussianBlurSigma8_12MP)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

static void BM_GaussianBlurSigma2_12MP(benchmark::State& state) {
  // Small sigmas take the exact kernel rather than running boxes.
  Image src = bench::PhotoOfSize(4000, 3000);
  auto dst = Surface::MakeRaster(4000, 3000);
  for (auto _ : state) {
    GaussianBlur(src.PeekPixels(), dst->PeekPixels(), 2, 2, TileMode::Clamp);
    benchmark::DoNotOptimize(dst->PeekPixels().base);
  }
  LQ_SET_MP_PER_SEC(state, 4000 * 3000);
}
BENCHMARK(BM_GaussianBlurSigma2_12MP)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
