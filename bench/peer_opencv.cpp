// OpenCV on the same inputs as bench_gfx.cpp, so the two can be compared from
// one run. Built only with -DLQ_BENCH_PEERS=ON; OpenCV never reaches a product.
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "bench/bench_util.h"
#include "engine/gfx/surface.h"

using namespace lq;

namespace {

// The engine pixels viewed as an 8UC4 matrix without a copy.
cv::Mat WrapConst(ConstPixelView v) {
  return cv::Mat(v.height, v.width, CV_8UC4, const_cast<uint32_t*>(v.base), v.rowBytes);
}

}  // namespace

// Peer of BM_GaussianBlurSigma8_12MP: the same 12 MP photograph, sigma 8, the
// kernel size left to OpenCV (Size(0, 0)), edges replicated like TileMode::Clamp.
static void BM_Peer_OpenCV_GaussianBlurSigma8_12MP(benchmark::State& state) {
  Image src = bench::PhotoOfSize(4000, 3000);
  auto dst = Surface::MakeRaster(4000, 3000);
  cv::Mat in = WrapConst(src.PeekPixels());
  PixelView dv = dst->PeekPixels();
  cv::Mat out(dv.height, dv.width, CV_8UC4, dv.base, dv.rowBytes);
  for (auto _ : state) {
    cv::GaussianBlur(in, out, cv::Size(0, 0), 8.0, 8.0, cv::BORDER_REPLICATE);
    benchmark::DoNotOptimize(out.data);
  }
  LQ_SET_MP_PER_SEC(state, 4000 * 3000);
  state.counters["threads"] = cv::getNumThreads();
}
BENCHMARK(BM_Peer_OpenCV_GaussianBlurSigma8_12MP)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

// The same with OpenCV's default border (reflect-101), in case its replicate
// border takes a slower road.
static void BM_Peer_OpenCV_GaussianBlurSigma8_12MP_DefaultBorder(benchmark::State& state) {
  Image src = bench::PhotoOfSize(4000, 3000);
  auto dst = Surface::MakeRaster(4000, 3000);
  cv::Mat in = WrapConst(src.PeekPixels());
  PixelView dv = dst->PeekPixels();
  cv::Mat out(dv.height, dv.width, CV_8UC4, dv.base, dv.rowBytes);
  for (auto _ : state) {
    cv::GaussianBlur(in, out, cv::Size(0, 0), 8.0, 8.0);
    benchmark::DoNotOptimize(out.data);
  }
  LQ_SET_MP_PER_SEC(state, 4000 * 3000);
}
BENCHMARK(BM_Peer_OpenCV_GaussianBlurSigma8_12MP_DefaultBorder)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
