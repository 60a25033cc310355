// Every registered effect at default parameters: a full run at 1 and 12
// megapixels through the driver's synchronous entry point, and a preview of the
// 225 x 225 panel region. Select with --benchmark_filter, e.g. 'Effect/100'.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench/bench_util.h"
#include "engine/catalogue.h"
#include "engine/headless_host.h"

using namespace lq;

namespace {

HeadlessHost& Host() {
  static HeadlessHost* host = new HeadlessHost();  // lives for the whole run
  return *host;
}

void RunEffect(benchmark::State& state, int number, double mp) {
  const EffectInfo* e = FindEffect(number);
  Image src = bench::PhotoOfSize(mp);
  HeadlessHost& host = Host();
  host.driver().VIrImage = src;
  host.driver().VIrSourceImage = src;
  for (auto _ : state) {
    auto dest = Surface::MakeRaster(src.width(), src.height());
    host.driver().ProcessEffectOnSurface(src, *dest, number, e->defaults[0], e->defaults[1], e->defaults[2],
                                         e->defaults[3], e->defaults[4]);
    host.loop().ProcessPending();
  }
  LQ_SET_MP_PER_SEC(state, int64_t(src.width()) * src.height());
}

void RunPreview(benchmark::State& state, int number) {
  const EffectInfo* e = FindEffect(number);
  Image src = bench::PhotoOfSize(1.0).MakeSubset(IRect::MakeXYWH(200, 200, 225, 225));
  HeadlessHost& host = Host();
  TEffectProc proc = FindEffectProc(number);
  for (auto _ : state) {
    auto dest = Surface::MakeRaster(src.width(), src.height());
    auto ctx = std::make_shared<RunContext>();
    ctx->kind = RunKind::Preview;
    ctx->effectNumber = number;
    ctx->generation = host.driver().FPreviewGeneration.load();
    RunScope scope(ctx);
    if (number == 302 || number == 303 || number == 304 || number == 307)
      host.driver().ChooseBrushAtlas(number, *ctx);
    proc(src, *dest, e->defaults[0], e->defaults[1], e->defaults[2], e->defaults[3], e->defaults[4], true);
    host.loop().ProcessPending();
  }
}

}  // namespace

// Called from main, after every effect has registered its routine.
void RegisterEffectBenchmarks() {
  [] {
  for (const EffectInfo& e : Catalogue()) {
    if (!FindEffectProc(e.number)) continue;
    std::string base = "Effect/" + std::to_string(e.number) + "/";
    benchmark::RegisterBenchmark((base + "full_1MP").c_str(), RunEffect, e.number, 1.0)
        ->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);
    benchmark::RegisterBenchmark((base + "full_12MP").c_str(), RunEffect, e.number, 12.0)
        ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
    benchmark::RegisterBenchmark((base + "preview_225").c_str(), RunPreview, e.number)
        ->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);
  }
  }();
}
