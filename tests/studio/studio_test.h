// Shared pieces of the studio tests: the test registry, a window fixture,
// and effects made for tests (slow, observable, cancellable).
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTest>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

#include "engine/driver.h"
#include "ui/main/main_window.h"

namespace lq::studio::test {

// Registers a QObject test class; the test program runs it when named on the
// command line (one CTest test per class).
using TestRunner = std::function<int(int, char**)>;
bool RegisterTestClass(const char* name, TestRunner run);

#define LQ_STUDIO_TEST(Class)                                                                      \
  static const bool lq_registered_##Class = ::lq::studio::test::RegisterTestClass(                \
      #Class, [](int argc, char** argv) {                                                          \
        Class t;                                                                                   \
        return QTest::qExec(&t, argc, argv);                                                       \
      });

// Runs the event loop until `done` or `ms` pass; returns done().
bool WaitUntil(const std::function<bool()>& done, int ms = 20000);

// A shown window, not maximised, with the start-up steps run.
std::unique_ptr<MainWindow> MakeWindow(MainWindow::Options options = {});

// Message boxes the window has open, newest last; CloseMessages dismisses them.
QStringList OpenMessages(QWidget* window);
void CloseMessages(QWidget* window);

// Temporarily replaces an effect's routine, restoring the old one after.
class ScopedEffect {
 public:
  ScopedEffect(int number, TEffectProc proc) : number_(number), old_(FindEffectProc(number)) {
    RegisterEffectProc(number, proc);
  }
  ~ScopedEffect() { RegisterEffectProc(number_, old_); }

 private:
  int number_;
  TEffectProc old_;
};

// A test effect: `steps` steps of `stepMs`, reporting progress and honouring
// cancellation, then the source tinted red. It records the threads it ran on
// and how many runs it started and finished.
struct SlowEffect {
  static std::atomic<int> steps, stepMs;
  static std::atomic<int> started, finished;
  static std::atomic<bool> ranOnGuiThread;
  // When set, the routine ignores cancellation (a misbehaving effect).
  static std::atomic<bool> ignoreCancel;
  static std::atomic<int> lastPercent;
  static void Reset(int steps, int stepMs);
  static void Proc(const Image& src, Surface& dst, int, int, int, int, int, bool preview);
};

// Opaque test pictures.
Image Pattern(int w, int h);
// Writes an opaque pattern PNG into `dir` and returns its path.
QString WritePatternPng(const QString& dir, const QString& name, int w, int h);

}  // namespace lq::studio::test
