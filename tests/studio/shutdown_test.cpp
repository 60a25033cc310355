// Closing the window while effects run: every run is stopped and joined
// before the window goes; a routine that ignores cancellation is left to
// finish on state kept alive for it.
#include <QSignalSpy>
#include <QTemporaryDir>

#include "tests/studio/studio_test.h"

namespace lq::studio::test {

class TestShutdown : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::unique_ptr<ScopedEffect> effect_;

 private slots:
  void init() {
    effect_ = std::make_unique<ScopedEffect>(300, &SlowEffect::Proc);
    SlowEffect::Reset(1, 1);
  }
  void cleanup() { effect_.reset(); }

  void closingDuringAFullRunEndsCleanly() {
    auto w = MakeWindow();
    QVERIFY(w->LoadLargeImage(WritePatternPng(dir_.path(), "p.png", 400, 300)));
    SlowEffect::Reset(1000, 10);  // ten seconds unless cancelled
    w->ApplyEffect();
    QVERIFY(WaitUntil([&] { return SlowEffect::lastPercent.load() > 0; }));
    QElapsedTimer t;
    t.start();
    QVERIFY(w->close());
    QVERIFY(t.elapsed() < 4000);
    QVERIFY(w->shutdownClean());
    QCOMPARE(w->driver().ActiveWorkers(), 0);
    QCOMPARE(SlowEffect::finished.load(), 0);
    w.reset();
    QCOMPARE(DriverIfAny(), nullptr);
  }

  void closingDuringAPreviewStormEndsCleanly() {
    auto w = MakeWindow();
    QVERIFY(w->LoadLargeImage(WritePatternPng(dir_.path(), "p.png", 400, 300)));
    SlowEffect::Reset(300, 10);
    w->ApplyEffect();
    // Twenty previews in quick succession, each making the last one stale.
    for (int i = 0; i < 20; ++i) {
      w->StartUpdatePreviewTimer();
      w->UpdatePreviewTimerTick();
      QTest::qWait(5);
    }
    // The full run and the newest preview are inside the routine.
    QVERIFY(WaitUntil([&] { return SlowEffect::started.load() >= 2; }));
    QElapsedTimer t;
    t.start();
    QVERIFY(w->close());
    QVERIFY(t.elapsed() < 4000);
    QVERIFY(w->shutdownClean());
    QCOMPARE(w->driver().ActiveWorkers(), 0);
    w.reset();
  }

  void closingWithTheBusyMessageOpen() {
    auto w = MakeWindow();
    QVERIFY(w->LoadLargeImage(WritePatternPng(dir_.path(), "p.png", 100, 80)));
    SlowEffect::Reset(500, 10);
    w->ApplyEffect();
    w->ApplyEffect();
    QCOMPARE(OpenMessages(w.get()).size(), 1);
    QVERIFY(w->close());
    QVERIFY(w->shutdownClean());
    w.reset();
  }

  // Must stay the last case: the abandoned run keeps its driver to the end.
  void routineThatIgnoresCancelIsLeftBehindSafely() {
    MainWindow::Options o;
    o.shutdownTimeoutMs = 150;
    auto w = MakeWindow(o);
    QVERIFY(w->LoadLargeImage(WritePatternPng(dir_.path(), "p.png", 100, 80)));
    SlowEffect::Reset(40, 20);  // 0.8 s without a single check
    SlowEffect::ignoreCancel = true;
    w->ApplyEffect();
    QVERIFY(WaitUntil([&] { return SlowEffect::started.load() == 1; }));
    QElapsedTimer t;
    t.start();
    QVERIFY(w->close());
    QVERIFY(t.elapsed() < 2000);
    QVERIFY(!w->shutdownClean());
    w.reset();  // the window goes while the routine still runs
    QVERIFY(WaitUntil([&] { return SlowEffect::finished.load() == 1; }, 5000));
    QTest::qWait(200);  // the worker's last steps find the window gone
  }
};

LQ_STUDIO_TEST(TestShutdown)

}  // namespace lq::studio::test

#include "shutdown_test.moc"
