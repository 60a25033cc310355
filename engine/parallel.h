// Row bands across cores that keep the run context, so cancellation checks and
// hand-offs inside the bands behave as on the run's own thread.
#pragma once

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include "engine/driver.h"

namespace lq {

std::shared_ptr<RunContext> CurrentRunShared();

// Calls body(lo, hi) for sub-ranges of [begin, end); EAbort and other
// exceptions from a band reach the caller.
template <typename F>
void ParallelFor(int begin, int end, int grain, F&& body) {
  if (end <= begin) return;
  auto ctx = CurrentRunShared();
  tbb::parallel_for(tbb::blocked_range<int>(begin, end, grain > 0 ? grain : 1),
                    [&](const tbb::blocked_range<int>& r) {
                      RunScope scope(ctx);
                      body(r.begin(), r.end());
                    });
}

}  // namespace lq
