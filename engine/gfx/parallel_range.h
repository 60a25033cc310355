// Splitting a range of rows across cores.
//
// Normally oneTBB does the work. Under ThreadSanitizer the split uses plain
// std::threads instead: the distribution's TBB is not instrumented, so the
// sanitizer cannot see its internal synchronisation and would report races
// inside the scheduler, hiding the ones in our own code.
#pragma once

#include <algorithm>
#include <exception>
#include <thread>
#include <vector>

#ifndef LQ_TSAN
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#endif

namespace lq {

// Calls body(lo, hi) on sub-ranges of [begin, end) of about `grain` items or
// more, in parallel. The first exception thrown by a sub-range reaches the caller.
template <typename F>
void ParallelRange(int begin, int end, int grain, F&& body) {
  if (end <= begin) return;
  grain = std::max(1, grain);
#ifdef LQ_TSAN
  int n = std::max(1, std::min<int>(int(std::thread::hardware_concurrency()), (end - begin + grain - 1) / grain));
  if (n == 1) {
    body(begin, end);
    return;
  }
  std::vector<std::thread> threads;
  std::vector<std::exception_ptr> errors(static_cast<size_t>(n));
  int chunk = (end - begin + n - 1) / n;
  for (int t = 0; t < n; ++t) {
    int lo = begin + t * chunk, hi = std::min(end, lo + chunk);
    if (lo >= hi) break;
    threads.emplace_back([&, t, lo, hi] {
      try {
        body(lo, hi);
      } catch (...) {
        errors[size_t(t)] = std::current_exception();
      }
    });
  }
  for (auto& th : threads) th.join();
  for (auto& e : errors)
    if (e) std::rethrow_exception(e);
#else
  tbb::parallel_for(tbb::blocked_range<int>(begin, end, size_t(grain)),
                    [&](const tbb::blocked_range<int>& r) { body(r.begin(), r.end()); });
#endif
}

}  // namespace lq
