// The Qt dispatcher: one order for blocking and queued hand-offs, errors
// handed back, and a clean refusal after shutdown.
#include <thread>
#include <vector>

#include "engine/abort.h"
#include "tests/studio/studio_test.h"
#include "ui/main/qt_dispatcher.h"

namespace lq::studio::test {

class TestQtDispatcher : public QObject {
  Q_OBJECT

 private slots:
  void blockingAndQueuedKeepOneOrder() {
    QtUiDispatcher ui;
    std::vector<int> seen;  // touched only on the GUI thread
    std::atomic<bool> done{false};
    bool onGuiThread = true;
    std::thread worker([&] {
      for (int i = 0; i < 200; ++i) {
        if (i % 3 == 0) {
          ui.Invoke([&, i] {
            onGuiThread = onGuiThread && ui.IsUiThread();
            seen.push_back(i);
          });
        } else {
          ui.Post([&, i] {
            onGuiThread = onGuiThread && ui.IsUiThread();
            seen.push_back(i);
          });
        }
      }
      ui.Invoke([&] { done = true; });
    });
    QVERIFY(WaitUntil([&] { return done.load(); }));
    worker.join();
    QVERIFY(onGuiThread);
    QCOMPARE(int(seen.size()), 200);
    for (int i = 0; i < 200; ++i) QCOMPARE(seen[size_t(i)], i);
  }

  void invokeHandsBackTheBlocksError() {
    QtUiDispatcher ui;
    std::atomic<int> result{0};
    std::thread worker([&] {
      try {
        ui.Invoke([] { throw std::runtime_error("boom"); });
      } catch (const std::runtime_error& e) {
        result = std::string(e.what()) == "boom" ? 1 : 2;
      }
    });
    QVERIFY(WaitUntil([&] { return result.load() != 0; }));
    worker.join();
    QCOMPARE(result.load(), 1);
  }

  void shutdownReleasesWaitersWithEAbort() {
    QtUiDispatcher ui;
    std::atomic<int> aborted{0}, ran{0};
    // The worker waits in Invoke while the GUI thread does not run events.
    std::thread worker([&] {
      try {
        ui.Invoke([&] { ++ran; });
      } catch (const EAbort&) {
        ++aborted;
      }
    });
    QThread::msleep(50);
    ui.Shutdown();
    worker.join();
    QCOMPARE(aborted.load(), 1);
    QCOMPARE(ran.load(), 0);
    // Later hand-offs: blocking ones are refused, queued ones dropped.
    std::thread late([&] {
      try {
        ui.Invoke([&] { ++ran; });
      } catch (const EAbort&) {
        ++aborted;
      }
      ui.Post([&] { ++ran; });
    });
    late.join();
    QCoreApplication::processEvents();
    QCOMPARE(aborted.load(), 2);
    QCOMPARE(ran.load(), 0);
  }

  void pumpRunsQueuedBlocksWhileWaiting() {
    QtUiDispatcher ui;
    std::atomic<int> ran{0};
    std::thread worker([&] {
      for (int i = 0; i < 5; ++i) ui.Invoke([&] { ++ran; });
    });
    // No event loop here: Pump alone must carry the worker through.
    QElapsedTimer t;
    t.start();
    while (ran < 5 && t.elapsed() < 5000) ui.Pump(5);
    worker.join();
    QCOMPARE(ran.load(), 5);
  }
};

LQ_STUDIO_TEST(TestQtDispatcher)

}  // namespace lq::studio::test

#include "dispatcher_test.moc"
