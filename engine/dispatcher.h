// Hand-off of work to the user-interface thread.
//
// Invoke (blocking) and Post (non-blocking) feed one FIFO, so blocks run on the
// UI thread in the order they were handed over.
#pragma once

#include <functional>
#include <memory>
#include <thread>

#include "engine/hand_off_queue.h"

namespace lq {

class UiDispatcher {
 public:
  virtual ~UiDispatcher() = default;
  virtual bool IsUiThread() const = 0;
  // Runs fn on the UI thread and waits for it; runs inline when already there.
  // An exception thrown by fn reaches the caller. Raises EAbort without running
  // fn once the dispatcher has been shut down.
  virtual void Invoke(const std::function<void()>& fn) = 0;
  // Queues fn for the UI thread and returns at once. Dropped after shutdown.
  virtual void Post(std::function<void()> fn) = 0;
  // Called on the UI thread: runs queued blocks for up to `ms` milliseconds
  // (at least the ones already queued). Used while the UI thread waits.
  virtual void Pump(int ms) = 0;
};

// A plain event loop owned by the thread that creates it (the CLI's and the
// tests' main thread).
class EventLoopDispatcher : public UiDispatcher {
 public:
  EventLoopDispatcher();
  ~EventLoopDispatcher() override;

  bool IsUiThread() const override;
  void Invoke(const std::function<void()>& fn) override;
  void Post(std::function<void()> fn) override;
  void Pump(int ms) override;

  // Runs queued blocks until done() is true or the timeout (ms, < 0 = none) passes.
  // Returns done().
  bool RunUntil(const std::function<bool()>& done, int timeoutMs = -1);
  // Runs what is queued now; returns the number of blocks run.
  int ProcessPending();
  // Refuses further hand-offs; blocked Invoke callers receive EAbort.
  void Shutdown();

 private:
  std::thread::id owner_;
  HandOffQueue queue_;
};

}  // namespace lq
