// Image files: JPEG and PNG round trips in memory at 1 and 12 MP beside the
// memory-bandwidth floor, and our JPEG decoding against libjpeg-turbo's djpeg
// on the same file (install it with `scripts/install-deps.sh bench`).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "document/codec.h"
#include "document/imagefile.h"

extern char** environ;

using namespace lq;

namespace {

// The bench photograph with a little sensor-like grain: codecs on perfectly
// smooth pictures look faster than they are on real ones.
Image GrainyPhoto(double mp) {
  Image base = bench::PhotoOfSize(mp);
  ConstPixelView s = base.PeekPixels();
  std::vector<uint32_t> px(size_t(s.width) * size_t(s.height));
  uint32_t seed = 2463534242u;
  for (int y = 0; y < s.height; ++y) {
    const uint32_t* row = s.row(y);
    for (int x = 0; x < s.width; ++x) {
      seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
      const int n = int(seed & 15) - 8;
      const uint32_t c = row[x];
      px[size_t(y) * size_t(s.width) + size_t(x)] =
          MakeColor(255, ClampByte(int(GetR(c)) + n), ClampByte(int(GetG(c)) + n), ClampByte(int(GetB(c)) + n));
    }
  }
  return Image::MakeFromPixels(s.width, s.height, std::move(px), true);
}

void RoundTrip(benchmark::State& state, bool png, double mp) {
  const Image src = GrainyPhoto(mp);
  const std::vector<uint8_t> bytes = png ? EncodePng(src) : EncodeJpeg(src, kSaveQuality);
  for (auto _ : state) {
    Image img = DecodeImage(bytes);
    std::vector<uint8_t> out = png ? EncodePng(img) : EncodeJpeg(img, kSaveQuality);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["file_MB"] = double(bytes.size()) / 1e6;
  LQ_SET_MP_PER_SEC(state, int64_t(src.width()) * src.height());
}

void BM_Files_JpegRoundTrip_1MP(benchmark::State& state) { RoundTrip(state, false, 1.0); }
void BM_Files_JpegRoundTrip_12MP(benchmark::State& state) { RoundTrip(state, false, 12.0); }
void BM_Files_PngRoundTrip_1MP(benchmark::State& state) { RoundTrip(state, true, 1.0); }
void BM_Files_PngRoundTrip_12MP(benchmark::State& state) { RoundTrip(state, true, 12.0); }

// One streaming read-modify-write pass over a 12 MP buffer: no per-pixel
// work can be cheaper than this on this machine.
void BM_Floor_Files12MP(benchmark::State& state) {
  const Image src = bench::PhotoOfSize(12.0);
  const size_t n = size_t(src.width()) * size_t(src.height());
  std::vector<uint32_t> buf(n, 0xFF808080u);
  for (auto _ : state) {
    uint32_t* p = buf.data();
    for (size_t i = 0; i < n; ++i) p[i] ^= 0x00FFFFFFu;
    benchmark::ClobberMemory();
  }
  LQ_SET_MP_PER_SEC(state, int64_t(n));
}

const std::string& Jpeg12MPFile() {
  static const std::string path = [] {
    const std::string p = "/tmp/lq_bench_12mp.jpg";
    const std::vector<uint8_t> bytes = EncodeJpeg(GrainyPhoto(12.0), kSaveQuality);
    WriteFileAtomically(p, bytes.data(), bytes.size());
    return p;
  }();
  return path;
}

struct Timing {
  double wall = -1;  // seconds; negative when djpeg could not run
  double cpu = 0;    // user + system seconds of the process
};

double Seconds(const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; }

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// One `djpeg -outfile /dev/null FILE`, wall clock and the child's CPU time.
Timing RunDjpeg(const std::string& file) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::string a0 = "djpeg", a1 = "-outfile", a2 = "/dev/null", a3 = file;
  char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), nullptr};
  const auto t0 = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, "djpeg", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return {};
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  const auto t1 = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  return {std::chrono::duration<double>(t1 - t0).count(), Seconds(usage.ru_utime) + Seconds(usage.ru_stime)};
}

// Our load of the 12 MP file (read + decode) and djpeg's, alternated within
// each iteration so both see the same machine. Reported time is ours; the CPU
// ratio is the steadier figure when other work shares the cores.
void BM_Files_JpegDecode12MP_vs_djpeg(benchmark::State& state) {
  const std::string& file = Jpeg12MPFile();
  double ours = 0, theirs = 0, oursCpu = 0, theirsCpu = 0;
  int64_t pixels = 0;
  for (auto _ : state) {
    const double c0 = ThreadCpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    Image img = ReadImageFile(file);
    const auto t1 = std::chrono::steady_clock::now();
    oursCpu += ThreadCpuSeconds() - c0;
    if (!img) {
      state.SkipWithError("could not decode the bench JPEG");
      return;
    }
    pixels = int64_t(img.width()) * img.height();
    const Timing d = RunDjpeg(file);
    if (d.wall < 0) {
      state.SkipWithError("djpeg not available: run scripts/install-deps.sh bench");
      return;
    }
    const double o = std::chrono::duration<double>(t1 - t0).count();
    ours += o;
    theirs += d.wall;
    theirsCpu += d.cpu;
    state.SetIterationTime(o);
  }
  const double n = double(state.iterations());
  state.counters["ours_ms"] = 1e3 * ours / n;
  state.counters["djpeg_ms"] = 1e3 * theirs / n;
  state.counters["ratio"] = ours / theirs;
  state.counters["cpu_ratio"] = oursCpu / theirsCpu;
  LQ_SET_MP_PER_SEC(state, pixels);
}

}  // namespace

BENCHMARK(BM_Floor_Files12MP)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Files_JpegRoundTrip_1MP)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Files_JpegRoundTrip_12MP)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Files_PngRoundTrip_1MP)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Files_PngRoundTrip_12MP)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_Files_JpegDecode12MP_vs_djpeg)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
