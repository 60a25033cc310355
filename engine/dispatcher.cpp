#include "engine/dispatcher.h"

#include <chrono>

#include "engine/abort.h"

namespace lq {

struct EventLoopDispatcher::Item {
  std::function<void()> fn;
  bool blocking = false;
  bool done = false;
  bool aborted = false;
  std::exception_ptr error;
};

EventLoopDispatcher::EventLoopDispatcher() : owner_(std::this_thread::get_id()) {}

EventLoopDispatcher::~EventLoopDispatcher() { Shutdown(); }

bool EventLoopDispatcher::IsUiThread() const { return std::this_thread::get_id() == owner_; }

void EventLoopDispatcher::Invoke(const std::function<void()>& fn) {
  if (IsUiThread()) {
    fn();
    return;
  }
  auto item = std::make_shared<Item>();
  item->fn = fn;
  item->blocking = true;
  std::unique_lock<std::mutex> lk(mu_);
  if (closed_) throw EAbort();
  queue_.push_back(item);
  cv_.notify_all();
  cv_.wait(lk, [&] { return item->done || item->aborted; });
  if (item->aborted) throw EAbort();
  if (item->error) std::rethrow_exception(item->error);
}

void EventLoopDispatcher::Post(std::function<void()> fn) {
  auto item = std::make_shared<Item>();
  item->fn = std::move(fn);
  std::lock_guard<std::mutex> lk(mu_);
  if (closed_) return;
  queue_.push_back(std::move(item));
  cv_.notify_all();
}

bool EventLoopDispatcher::RunOne(std::unique_lock<std::mutex>& lk) {
  if (queue_.empty()) return false;
  auto item = queue_.front();
  queue_.pop_front();
  lk.unlock();
  try {
    item->fn();
  } catch (...) {
    // A posted block has nobody to report to; a blocking one hands the error back.
    item->error = std::current_exception();
  }
  lk.lock();
  item->done = true;
  if (item->blocking) cv_.notify_all();
  return true;
}

int EventLoopDispatcher::ProcessPending() {
  std::unique_lock<std::mutex> lk(mu_);
  size_t n = queue_.size();
  int ran = 0;
  while (n-- > 0 && RunOne(lk)) ++ran;
  return ran;
}

void EventLoopDispatcher::Pump(int ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  ProcessPending();
  std::unique_lock<std::mutex> lk(mu_);
  while (true) {
    if (!RunOne(lk)) {
      if (cv_.wait_until(lk, until, [&] { return !queue_.empty(); })) continue;
      return;
    }
    if (std::chrono::steady_clock::now() >= until) return;
  }
}

bool EventLoopDispatcher::RunUntil(const std::function<bool()>& done, int timeoutMs) {
  auto start = std::chrono::steady_clock::now();
  while (!done()) {
    if (timeoutMs >= 0) {
      auto left = timeoutMs - std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - start).count();
      if (left <= 0) return done();
      Pump(int(std::min<long long>(left, 10)));
    } else {
      Pump(10);
    }
  }
  return true;
}

void EventLoopDispatcher::Shutdown() {
  std::lock_guard<std::mutex> lk(mu_);
  closed_ = true;
  for (auto& item : queue_) item->aborted = true;
  queue_.clear();
  cv_.notify_all();
}

}  // namespace lq
