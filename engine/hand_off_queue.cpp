#include "engine/hand_off_queue.h"

#include "engine/abort.h"

namespace lq {

void HandOffQueue::Enqueue(std::shared_ptr<Item> item) {
  queue_.push_back(std::move(item));
  cv_.notify_all();  // wakes a consumer waiting in WaitUntil
  if (wake_) wake_();
}

void HandOffQueue::RunAndWait(const std::function<void()>& fn) {
  auto item = std::make_shared<Item>();
  item->fn = fn;
  item->blocking = true;
  std::unique_lock<std::mutex> lk(mu_);
  if (closed_) throw EAbort();
  Enqueue(item);
  cv_.wait(lk, [&] { return item->done || item->aborted; });
  if (item->aborted) throw EAbort();
  if (item->error) std::rethrow_exception(item->error);
}

void HandOffQueue::Post(std::function<void()> fn) {
  auto item = std::make_shared<Item>();
  item->fn = std::move(fn);
  std::lock_guard<std::mutex> lk(mu_);
  if (closed_) return;
  Enqueue(std::move(item));
}

bool HandOffQueue::RunOne() {
  std::shared_ptr<Item> item;
  {
    std::lock_guard<std::mutex> lk(mu_);
    if (queue_.empty()) return false;
    item = queue_.front();
    queue_.pop_front();
  }
  try {
    item->fn();
  } catch (...) {
    // A queued block has nobody to report to; a blocking one hands it back.
    item->error = std::current_exception();
  }
  std::lock_guard<std::mutex> lk(mu_);
  item->done = true;
  if (item->blocking) cv_.notify_all();
  return true;
}

int HandOffQueue::RunPending() {
  size_t n;
  {
    std::lock_guard<std::mutex> lk(mu_);
    n = queue_.size();
  }
  int ran = 0;
  while (n-- > 0 && RunOne()) ++ran;
  return ran;
}

bool HandOffQueue::WaitUntil(std::chrono::steady_clock::time_point until) {
  std::unique_lock<std::mutex> lk(mu_);
  return cv_.wait_until(lk, until, [&] { return !queue_.empty(); });
}

void HandOffQueue::Close() {
  std::lock_guard<std::mutex> lk(mu_);
  closed_ = true;
  for (auto& item : queue_) item->aborted = true;
  queue_.clear();
  cv_.notify_all();
}

bool HandOffQueue::IsClosed() const {
  std::lock_guard<std::mutex> lk(mu_);
  return closed_;
}

}  // namespace lq
