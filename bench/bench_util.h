// Shared inputs of the benchmarks: photographs resampled to a target size.
#pragma once

#include <string>

#include "engine/gfx/image.h"

namespace lq::bench {

// A photograph-like test image of about `megapixels` (4:3), made once per size:
// the bundled photo resampled with the Mitchell filter when available, a
// synthetic gradient with texture otherwise.
Image PhotoOfSize(double megapixels);
Image PhotoOfSize(int width, int height);

// Adds throughput counters (megapixels per second) to a benchmark state.
#define LQ_SET_MP_PER_SEC(state, pixels)                                              \
  (state).counters["MP/s"] = benchmark::Counter(double(pixels) * 1e-6 * double((state).iterations()), \
                                                benchmark::Counter::kIsRate)

}  // namespace lq::bench
