#include "engine/dispatcher.h"

#include <chrono>

namespace lq {

EventLoopDispatcher::EventLoopDispatcher() : owner_(std::this_thread::get_id()) {}

EventLoopDispatcher::~EventLoopDispatcher() { Shutdown(); }

bool EventLoopDispatcher::IsUiThread() const { return std::this_thread::get_id() == owner_; }

void EventLoopDispatcher::Invoke(const std::function<void()>& fn) {
  if (IsUiThread()) {
    fn();
    return;
  }
  queue_.RunAndWait(fn);
}

void EventLoopDispatcher::Post(std::function<void()> fn) { queue_.Post(std::move(fn)); }

int EventLoopDispatcher::ProcessPending() { return queue_.RunPending(); }

void EventLoopDispatcher::Pump(int ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  queue_.RunPending();
  while (true) {
    if (!queue_.RunOne()) {
      if (queue_.WaitUntil(until)) continue;
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

void EventLoopDispatcher::Shutdown() { queue_.Close(); }

}  // namespace lq
