// The UI dispatcher of the studio: workers hand blocks to the GUI thread.
//
// Blocking and queued hand-offs share one FIFO drained on the GUI thread, so
// blocks run in the order they were handed over whichever way they came.
#pragma once

#include <QObject>

#include "engine/dispatcher.h"
#include "engine/hand_off_queue.h"

namespace lq::studio {

class QtUiDispatcher final : public QObject, public UiDispatcher {
  Q_OBJECT

 public:
  // Must be created on the GUI thread; that thread is the UI thread.
  explicit QtUiDispatcher(QObject* parent = nullptr);
  ~QtUiDispatcher() override;

  bool IsUiThread() const override;
  void Invoke(const std::function<void()>& fn) override;
  void Post(std::function<void()> fn) override;
  // Runs queued blocks and Qt events (so the window keeps painting) for `ms`.
  void Pump(int ms) override;

  // Refuses further hand-offs: waiting Invoke callers and later ones receive
  // EAbort, queued blocks are dropped.
  void Shutdown();
  bool IsShutDown() const;

  // Runs the blocks queued so far; returns how many ran.
  int RunPending();

 protected:
  bool event(QEvent* e) override;

 private:
  HandOffQueue queue_;
};

}  // namespace lq::studio
