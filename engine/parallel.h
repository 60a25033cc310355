// Row bands across cores that keep the run context, so cancellation checks and
// hand-offs inside the bands behave as on the run's own thread.
#pragma once

#include "engine/driver.h"
#include "engine/gfx/parallel_range.h"

namespace lq {

std::shared_ptr<RunContext> CurrentRunShared();

// Calls body(lo, hi) for sub-ranges of [begin, end); EAbort and other
// exceptions from a band reach the caller.
template <typename F>
void ParallelFor(int begin, int end, int grain, F&& body) {
  if (end <= begin) return;
  auto ctx = CurrentRunShared();
  ParallelRange(begin, end, grain, [&](int lo, int hi) {
    RunScope scope(ctx);
    body(lo, hi);
  });
}

}  // namespace lq
