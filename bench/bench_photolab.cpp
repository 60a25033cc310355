// Photo-lab effects and the texture overlay at 12 MP beside the floor: one
// streaming read-modify-write pass over the same buffer on every core. The
// effects themselves at default parameters are also in Effect/40x.
#include <benchmark/benchmark.h>
#include <tbb/task_arena.h>

#include <array>

#include "bench/bench_util.h"
#include "effects/overlay/frame.h"
#include "effects/overlay/texture_overlay.h"
#include "effects/photolab/photolab.h"
#include "engine/catalogue.h"
#include "engine/headless_host.h"
#include "engine/parallel.h"

using namespace lq;

namespace {

constexpr int kW = 4000, kH = 3000;

HeadlessHost& Host() {
  static HeadlessHost* host = new HeadlessHost();  // lives for the whole run
  return *host;
}

// The cheapest useful pass over a 12 MP picture: read every pixel, change it,
// write it back, split in row bands like the effects.
void BM_Floor_Photolab12MP(benchmark::State& state) {
  Image src = bench::PhotoOfSize(kW, kH);
  auto surface = Surface::MakeRaster(kW, kH);
  surface->WritePixels(src.info(), src.PeekPixels().base, src.PeekPixels().rowBytes, 0, 0);
  PixelView v = surface->PeekPixels();
  for (auto _ : state) {
    ParallelFor(0, kH, 64, [&](int lo, int hi) {
      for (int y = lo; y < hi; ++y) {
        uint32_t* row = v.row(y);
        for (int x = 0; x < kW; ++x) row[x] ^= 0x00FFFFFFu;
      }
    });
    benchmark::DoNotOptimize(v.base);
  }
  LQ_SET_MP_PER_SEC(state, int64_t(kW) * kH);
}
BENCHMARK(BM_Floor_Photolab12MP)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);

// One effect routine on the 12 MP picture (defaults unless given).
void RunPhotolab(benchmark::State& state, int number, std::array<int, 5> p = {-1}) {
  Host();
  Image src = bench::PhotoOfSize(kW, kH);
  const EffectInfo* e = FindEffect(number);
  if (p[0] < 0) p = e->defaults;
  TEffectProc proc = FindEffectProc(number);
  auto dest = Surface::MakeRaster(kW, kH);
  auto ctx = std::make_shared<RunContext>();
  ctx->kind = RunKind::Synchronous;
  ctx->effectNumber = number;
  RunScope scope(ctx);
  for (auto _ : state) {
    proc(src, *dest, p[0], p[1], p[2], p[3], p[4], false);
    benchmark::DoNotOptimize(dest->PeekPixels().base);
  }
  LQ_SET_MP_PER_SEC(state, int64_t(kW) * kH);
}
BENCHMARK_CAPTURE(RunPhotolab, OrtonFilter12MP, 400)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1);
BENCHMARK_CAPTURE(RunPhotolab, Adjustments12MP, 401)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1);
BENCHMARK_CAPTURE(RunPhotolab, VintageSepia12MP, 402)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1);
// The per-pixel work alone, without the blurs.
BENCHMARK_CAPTURE(RunPhotolab, OrtonFilterNoBlur12MP, 400, {0, 25, 50, 50, 40})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5);
BENCHMARK_CAPTURE(RunPhotolab, AdjustmentsNoBlur12MP, 401, {52, 52, 55, 15, 50})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5);
BENCHMARK_CAPTURE(RunPhotolab, VintageSepiaNoBlur12MP, 402, {0, 70, 50, 50, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5);
BENCHMARK_CAPTURE(RunPhotolab, RetroFilm12MP, 403)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);

// The same on one core: the per-pixel cost without scheduling or a busy
// machine's noise (CPU time of the one thread is the figure to read).
void RunPhotolabOneCore(benchmark::State& state, int number, std::array<int, 5> p = {-1}) {
  tbb::task_arena one(1);
  one.execute([&] { RunPhotolab(state, number, p); });
}
void BM_Floor_Photolab12MP_OneCore(benchmark::State& state) {
  tbb::task_arena one(1);
  one.execute([&] { BM_Floor_Photolab12MP(state); });
}
BENCHMARK(BM_Floor_Photolab12MP_OneCore)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK_CAPTURE(RunPhotolabOneCore, OrtonFilter12MP, 400)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK_CAPTURE(RunPhotolabOneCore, Adjustments12MP, 401)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK_CAPTURE(RunPhotolabOneCore, VintageSepia12MP, 402)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK_CAPTURE(RunPhotolabOneCore, RetroFilm12MP, 403)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK_CAPTURE(RunPhotolabOneCore, OrtonFilterNoBlur12MP, 400, {0, 25, 50, 50, 40})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.5);
BENCHMARK_CAPTURE(RunPhotolabOneCore, AdjustmentsNoBlur12MP, 401, {52, 52, 55, 15, 50})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.5);
BENCHMARK_CAPTURE(RunPhotolabOneCore, VintageSepiaNoBlur12MP, 402, {0, 70, 50, 50, 0})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.5);

// Vintage sepia with a film texture of the embedded one's size.
void BM_VintageSepiaTextured12MP(benchmark::State& state) {
  Host();
  Image src = bench::PhotoOfSize(kW, kH);
  Image texture = bench::PhotoOfSize(2904, 2064);
  auto dest = Surface::MakeRaster(kW, kH);
  for (auto _ : state) {
    VintageSepiaWithTexture(src, *dest, 0, 70, 50, 50, 25, true, texture);
    benchmark::DoNotOptimize(dest->PeekPixels().base);
  }
  LQ_SET_MP_PER_SEC(state, int64_t(kW) * kH);
}
BENCHMARK(BM_VintageSepiaTextured12MP)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1);

// The overlay as the driver applies it: a 1024 x 1024 texture, strength 50, scale 1.
void BM_ApplyCustomTexture12MP(benchmark::State& state) {
  Image src = bench::PhotoOfSize(kW, kH);
  Image texture = bench::PhotoOfSize(1024, 1024);
  for (auto _ : state) {
    Image out = ApplyCustomTexture(src, texture, 50, 1.0f);
    benchmark::DoNotOptimize(out.PeekPixels().base);
  }
  LQ_SET_MP_PER_SEC(state, int64_t(kW) * kH);
}
BENCHMARK(BM_ApplyCustomTexture12MP)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);
void BM_ApplyCustomTexture12MP_OneCore(benchmark::State& state) {
  tbb::task_arena one(1);
  one.execute([&] { BM_ApplyCustomTexture12MP(state); });
}
BENCHMARK(BM_ApplyCustomTexture12MP_OneCore)->Unit(benchmark::kMillisecond)->MinTime(0.5);

// A 12 MP picture in a 2244 x 2424 frame with a 20-pixel margin.
void BM_ApplyImageFrame12MP(benchmark::State& state) {
  Image src = bench::PhotoOfSize(kW, kH);
  std::vector<uint32_t> px(size_t(2244) * 2424, 0xFF6B4A2Au);
  for (int y = 300; y < 2124; ++y)
    for (int x = 280; x < 1964; ++x) px[size_t(y) * 2244 + x] = 0;
  Image frame = Image::MakeFromPixels(2244, 2424, std::move(px));
  for (auto _ : state) {
    Image out = ApplyImageFrame(src, frame, 20, 0xFFFFFFFFu);
    benchmark::DoNotOptimize(out.PeekPixels().base);
  }
}
BENCHMARK(BM_ApplyImageFrame12MP)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);

}  // namespace
