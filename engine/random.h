// The process-wide pseudo-random generator and the rounding rules of the engine.
//
// The generator is a linear congruential step on one 32-bit word shared by
// every thread; the step is an atomic read-modify-write so concurrent effects
// never corrupt it (the order in which threads receive numbers is undefined).
#pragma once

#include <atomic>
#include <cstdint>

namespace lq {

// The generator state. Read and written atomically.
extern std::atomic<uint32_t> RandSeed;

// One step, returns the new state.
uint32_t RandomStep();

// 0 .. N-1 for N >= 1; 0 for N = 0 (the state still advances).
inline int32_t Random(int32_t n) {
  uint64_t s = RandomStep();
  return static_cast<int32_t>((s * static_cast<uint32_t>(n)) >> 32);
}

// A double in [0, 1).
inline double Random() { return static_cast<double>(RandomStep()) * (1.0 / 4294967296.0); }

// Reseeds from the monotonic clock mixed with one draw of the old sequence.
void Randomize();

// Nearest integer, halves to the even neighbour.
int64_t Round(double x);
// Integer part, toward zero.
inline int64_t Trunc(double x) { return static_cast<int64_t>(x); }

// Milliseconds and a high-resolution counter from the monotonic clock.
uint32_t GetTickCount();
uint64_t PerformanceCounter();

}  // namespace lq
