#include "ui/main/qt_dispatcher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QThread>

#include "engine/abort.h"

namespace lq::studio {

namespace {
// One event per hand-off wakes the GUI thread; the event carries nothing, the
// block itself waits in our own queue.
const QEvent::Type kDrainEvent = QEvent::Type(QEvent::registerEventType());
}  // namespace

struct QtUiDispatcher::Item {
  std::function<void()> fn;
  bool blocking = false;
  bool done = false;
  bool aborted = false;
  std::exception_ptr error;
};

QtUiDispatcher::QtUiDispatcher(QObject* parent) : QObject(parent) {}

QtUiDispatcher::~QtUiDispatcher() { Shutdown(); }

bool QtUiDispatcher::IsUiThread() const { return QThread::currentThread() == thread(); }

void QtUiDispatcher::Enqueue(std::shared_ptr<Item> item) {
  queue_.push_back(std::move(item));
  cv_.notify_all();  // wakes a GUI thread waiting in Pump
  QCoreApplication::postEvent(this, new QEvent(kDrainEvent));
}

void QtUiDispatcher::Invoke(const std::function<void()>& fn) {
  if (IsUiThread()) {
    if (IsShutDown()) throw EAbort();
    fn();
    return;
  }
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

void QtUiDispatcher::Post(std::function<void()> fn) {
  auto item = std::make_shared<Item>();
  item->fn = std::move(fn);
  std::lock_guard<std::mutex> lk(mu_);
  if (closed_) return;
  Enqueue(std::move(item));
}

bool QtUiDispatcher::RunOne() {
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

int QtUiDispatcher::RunPending() {
  size_t n;
  {
    std::lock_guard<std::mutex> lk(mu_);
    n = queue_.size();
  }
  int ran = 0;
  while (n-- > 0 && RunOne()) ++ran;
  return ran;
}

bool QtUiDispatcher::event(QEvent* e) {
  if (e->type() == kDrainEvent) {
    // Blocks may already have run through Pump; then there is nothing to do.
    RunOne();
    return true;
  }
  return QObject::event(e);
}

void QtUiDispatcher::Pump(int ms) {
  QElapsedTimer clock;
  clock.start();
  do {
    RunPending();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (clock.elapsed() >= ms) break;
    std::unique_lock<std::mutex> lk(mu_);
    if (queue_.empty()) cv_.wait_for(lk, std::chrono::milliseconds(2));
  } while (clock.elapsed() < ms);
}

void QtUiDispatcher::Shutdown() {
  std::lock_guard<std::mutex> lk(mu_);
  closed_ = true;
  for (auto& item : queue_) item->aborted = true;
  queue_.clear();
  cv_.notify_all();
}

bool QtUiDispatcher::IsShutDown() const {
  std::lock_guard<std::mutex> lk(mu_);
  return closed_;
}

}  // namespace lq::studio
