#include "engine/random.h"

#include <cmath>
#include <cstdint>
#include <ctime>

namespace lq {

std::atomic<uint32_t> RandSeed{0};

uint32_t RandomStep() {
  uint32_t old = RandSeed.load(std::memory_order_relaxed);
  uint32_t next;
  do {
    next = old * 134775813u + 1u;
  } while (!RandSeed.compare_exchange_weak(old, next, std::memory_order_relaxed));
  return next;
}

void Randomize() {
  uint64_t v = PerformanceCounter();
  if (v == 0) v = GetTickCount();
  uint64_t r = static_cast<uint32_t>(Random(2147483647));
  uint64_t w = (r << 32) ^ v;
  RandSeed.store(static_cast<uint32_t>(w) ^ static_cast<uint32_t>(w >> 32));
}

int64_t Round(double x) {
  // nearbyint rounds half to even under the default rounding mode. Out-of-range
  // and NaN inputs saturate instead of invoking undefined conversion.
  double r = std::nearbyint(x);
  if (r != r) return 0;
  if (r >= 9.2e18) return INT64_MAX;
  if (r <= -9.2e18) return INT64_MIN;
  return static_cast<int64_t>(r);
}

uint32_t GetTickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + ts.tv_nsec / 1000000);
}

uint64_t PerformanceCounter() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

}  // namespace lq
