// The queue behind a UI dispatcher: blocks handed over by any thread, run in
// order by the one thread that drains it. Blocking and queued hand-offs share
// the FIFO, so order is kept whichever way a block came.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace lq {

class HandOffQueue {
 public:
  // wake is called (under the queue's lock) after every hand-off, for a
  // consumer that must be woken by other means than waiting here.
  explicit HandOffQueue(std::function<void()> wake = {}) : wake_(std::move(wake)) {}

  // Queues fn and waits until the consumer ran it; fn's exception reaches the
  // caller. EAbort when the queue is closed before or while waiting.
  void RunAndWait(const std::function<void()>& fn);
  // Queues fn and returns at once; dropped once the queue is closed.
  void Post(std::function<void()> fn);

  // Consumer side. Runs the oldest block; false when there was none.
  bool RunOne();
  // Runs the blocks queued so far; returns how many ran.
  int RunPending();
  // Waits until a block is queued or `until` passes; true when one is queued.
  bool WaitUntil(std::chrono::steady_clock::time_point until);

  // Refuses further hand-offs: waiting callers receive EAbort, queued blocks are dropped.
  void Close();
  bool IsClosed() const;

 private:
  struct Item {
    std::function<void()> fn;
    bool blocking = false;
    bool done = false;
    bool aborted = false;
    std::exception_ptr error;
  };
  void Enqueue(std::shared_ptr<Item> item);

  std::function<void()> wake_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::shared_ptr<Item>> queue_;
  bool closed_ = false;
};

}  // namespace lq
