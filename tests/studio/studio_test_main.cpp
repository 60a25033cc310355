// The studio test program: runs the test class named as its first argument,
// or every class.
#include <QApplication>
#include <QDir>
#include <QPainter>

#include <cstdio>
#include <map>
#include <string>
#include <thread>

#include "document/imagefile.h"
#include "engine/gfx/surface.h"
#include "tests/studio/studio_test.h"
#include "ui/main/theme.h"
#include "ui/main/workspace_view.h"

namespace lq::studio::test {

namespace {
std::map<std::string, TestRunner>& Registry() {
  static std::map<std::string, TestRunner> r;
  return r;
}
}  // namespace

bool RegisterTestClass(const char* name, TestRunner run) {
  Registry()[name] = std::move(run);
  return true;
}

bool WaitUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

std::unique_ptr<MainWindow> MakeWindow(MainWindow::Options options) {
  options.maximise = false;
  auto w = std::make_unique<MainWindow>(options);
  w->resize(1280, 860);
  w->show();
  // The start-up steps run 10 ms after the window shows.
  WaitUntil([&] { return w->initialized(); });
  return w;
}

QStringList OpenMessages(QWidget* window) {
  QStringList out;
  for (QMessageBox* b : window->findChildren<QMessageBox*>())
    if (b->isVisible()) out << b->text();
  return out;
}

void CloseMessages(QWidget* window) {
  for (QMessageBox* b : window->findChildren<QMessageBox*>()) b->close();
  QCoreApplication::processEvents();
}

std::atomic<int> SlowEffect::steps{10}, SlowEffect::stepMs{10};
std::atomic<int> SlowEffect::started{0}, SlowEffect::finished{0};
std::atomic<bool> SlowEffect::ranOnGuiThread{false};
std::atomic<bool> SlowEffect::ignoreCancel{false};
std::atomic<int> SlowEffect::lastPercent{0};

void SlowEffect::Reset(int s, int ms) {
  steps = s;
  stepMs = ms;
  started = 0;
  finished = 0;
  ranOnGuiThread = false;
  ignoreCancel = false;
  lastPercent = 0;
}

void SlowEffect::Proc(const Image& src, Surface& dst, int, int, int, int, int, bool preview) {
  ++started;
  if (QThread::currentThread() == QCoreApplication::instance()->thread()) ranOnGuiThread = true;
  const int n = steps;
  for (int i = 1; i <= n; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(stepMs.load()));
    if (ignoreCancel) continue;
    if (preview) {
      CheckCancellation();
    } else {
      lastPercent = i * 100 / (n + 1);
      SafeUpdateProgress(lastPercent);
    }
  }
  Canvas* c = dst.GetCanvas();
  c->DrawImage(src, 0, 0);
  c->DrawColor(0x80FF0000);
  if (!preview && !ignoreCancel) SafeUpdateProgress(101);
  ++finished;
}

Image Pattern(int w, int h) {
  std::vector<uint32_t> px(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      px[size_t(y) * size_t(w) + size_t(x)] = 0xFF000000u | uint32_t((x * 255 / std::max(1, w - 1)) << 16) |
                                              uint32_t((y * 255 / std::max(1, h - 1)) << 8) | uint32_t((x ^ y) & 0xFF);
  return Image::MakeFromPixels(w, h, std::move(px), true);
}

QString WritePatternPng(const QString& dir, const QString& name, int w, int h) {
  QString path = QDir(dir).filePath(name);
  WriteImageFile(Pattern(w, h), QFile::encodeName(path).toStdString());
  return path;
}

}  // namespace lq::studio::test

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  lq::studio::theme::InstallUiFont(QString());
  lq::studio::theme::ApplyApplicationStyle();
  auto& reg = lq::studio::test::Registry();
  if (argc > 1 && reg.count(argv[1])) {
    // The class name is ours; the rest are Qt Test's options.
    std::vector<char*> args = {argv[0]};
    for (int i = 2; i < argc; ++i) args.push_back(argv[i]);
    return reg[argv[1]](int(args.size()), args.data());
  }
  if (argc > 1 && argv[1][0] != '-') {
    std::fprintf(stderr, "unknown test class %s\n", argv[1]);
    return 2;
  }
  int failures = 0;
  for (auto& [name, run] : reg) failures += run(argc, argv) != 0;
  return failures;
}
