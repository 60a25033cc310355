#include "ui/main/qt_dispatcher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QThread>

#include "engine/abort.h"

namespace lq::studio {

namespace {
// One event per hand-off wakes the GUI thread; the event carries nothing, the
// block itself waits in the hand-off queue.
const QEvent::Type kDrainEvent = QEvent::Type(QEvent::registerEventType());
}  // namespace

QtUiDispatcher::QtUiDispatcher(QObject* parent)
    : QObject(parent), queue_([this] { QCoreApplication::postEvent(this, new QEvent(kDrainEvent)); }) {}

QtUiDispatcher::~QtUiDispatcher() { Shutdown(); }

bool QtUiDispatcher::IsUiThread() const { return QThread::currentThread() == thread(); }

void QtUiDispatcher::Invoke(const std::function<void()>& fn) {
  if (IsUiThread()) {
    if (IsShutDown()) throw EAbort();
    fn();
    return;
  }
  queue_.RunAndWait(fn);
}

void QtUiDispatcher::Post(std::function<void()> fn) { queue_.Post(std::move(fn)); }

int QtUiDispatcher::RunPending() { return queue_.RunPending(); }

bool QtUiDispatcher::event(QEvent* e) {
  if (e->type() == kDrainEvent) {
    // Blocks may already have run through Pump; then there is nothing to do.
    queue_.RunOne();
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
    queue_.WaitUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(2));
  } while (clock.elapsed() < ms);
}

void QtUiDispatcher::Shutdown() { queue_.Close(); }

bool QtUiDispatcher::IsShutDown() const { return queue_.IsClosed(); }

}  // namespace lq::studio
