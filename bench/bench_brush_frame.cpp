// The brushstroke frame around a 1 and a 12 megapixel picture at the frame
// tool's settings (border 40, brush 40), computed as the script command does.
#include <benchmark/benchmark.h>

#include "bench/bench_util.h"
#include "effects/painting/brushstrokes_frame.h"
#include "resources/repository.h"

using namespace lq;

namespace {

void BrushFrame(benchmark::State& state, double mp) {
  Image src = bench::PhotoOfSize(mp);
  Image atlas = Repository().Picture("TemplateMatchingBrushes");
  for (auto _ : state) {
    std::string err;
    Image out = MakeBrushstrokesFrameImage(src, atlas, 0xFFFFFFFF, 40, 40, &err);
    if (!out) state.SkipWithError(err.c_str());
    benchmark::DoNotOptimize(out);
  }
  LQ_SET_MP_PER_SEC(state, int64_t(src.width()) * src.height());
}

BENCHMARK_CAPTURE(BrushFrame, full_1MP, 1.0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);
BENCHMARK_CAPTURE(BrushFrame, full_12MP, 12.0)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
