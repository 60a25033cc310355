// lumaquill-preview-latency [EFFECT...]: on a 12-megapixel picture, drags a
// slider of each effect for a second, releases it and reports how long the
// preview took to appear, and the longest the GUI thread was busy meanwhile.
// Run it on the offscreen platform: QT_QPA_PLATFORM=offscreen.
#include <QApplication>
#include <QElapsedTimer>
#include <QSlider>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "engine/catalogue.h"
#include "engine/driver.h"
#include "engine/gfx/surface.h"
#include "ui/main/effect_panel.h"
#include "ui/main/main_window.h"
#include "ui/main/theme.h"

namespace {

bool WaitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

// A photograph enlarged to 4242 x 2828 (12.0 megapixels).
lq::Image TwelveMegapixels(const lq::Image& photo) {
  auto s = lq::Surface::MakeRaster(4242, 2828);
  if (!s) return {};
  lq::Canvas* c = s->GetCanvas();
  c->Clear(0xFF808080);
  if (photo)
    c->DrawImageRect(photo, lq::RectF::MakeWH(photo.width(), photo.height()), lq::RectF::MakeWH(4242, 2828),
                     lq::SamplingOptions::High());
  return s->MakeImageSnapshot();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  lq::studio::theme::ApplyApplicationStyle();
  lq::studio::MainWindow::Options options;
  options.maximise = false;
  lq::studio::MainWindow w(options);
  w.show();
  WaitFor([&] { return w.initialized(); }, 10000);

  std::vector<int> effects;
  for (int i = 1; i < argc; ++i) effects.push_back(std::atoi(argv[i]));
  if (effects.empty())
    for (int n : {100, 101, 102, 200, 201, 202, 203, 400, 401, 402, 403}) effects.push_back(n);

  // The built-in photograph first, so the enlargement has something to show.
  w.LoadLargeImageFromTImage();
  lq::EffectDriver& d = w.driver();
  lq::Image big = TwelveMegapixels(d.VIrImage);
  d.VIrImage = big;
  d.VIrSourceImage = big;
  w.RepaintWorkspace();
  d.PreviewStartX = 2000;
  d.PreviewStartY = 1300;
  w.DrawZoomedPreview();

  // The GUI thread's longest stall, seen by a 5 ms timer.
  QElapsedTimer beat;
  beat.start();
  qint64 last = 0, worst = 0;
  QTimer probe;
  probe.setInterval(5);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    qint64 now = beat.elapsed();
    worst = std::max(worst, now - last);
    last = now;
  });
  probe.start();

  std::printf("picture %dx%d, preview region 225x225\n", big.width(), big.height());
  std::printf("%-22s %12s %12s %14s\n", "effect", "first (ms)", "final (ms)", "GUI stall (ms)");
  for (int n : effects) {
    const lq::EffectInfo* info = lq::FindEffect(n);
    if (!info || !lq::FindEffectProc(n)) continue;
    w.SelectEffect(n);
    WaitFor([&] { return !w.updatePreviewTimer().isActive() && d.ActiveWorkers() == 0; }, 120000);
    QSlider* s = w.effectPanel()->slider(0);
    last = beat.elapsed();
    worst = 0;
    s->setSliderDown(true);
    for (int v = 0; v < 30; ++v) {
      s->setValue((s->value() + 3) % 101);
      WaitFor([] { return false; }, 30);
    }
    const int draws = w.effectPreviewDraws();
    QElapsedTimer t;
    t.start();
    s->setSliderDown(false);
    WaitFor([&] { return w.effectPreviewDraws() > draws; }, 120000);
    qint64 first = t.elapsed();
    WaitFor([&] { return d.ActiveWorkers() == 0 && !w.updatePreviewTimer().isActive(); }, 120000);
    qint64 final = t.elapsed();
    std::printf("%-22s %12lld %12lld %14lld\n", info->listName, (long long)first, (long long)final,
                (long long)worst);
  }
  // A full run of the first effect on the whole picture: how long the GUI
  // thread is ever busy while it works and when the result arrives.
  if (!effects.empty() && lq::FindEffectProc(effects.front())) {
    w.SelectEffect(effects.front());
    WaitFor([&] { return !w.updatePreviewTimer().isActive() && d.ActiveWorkers() == 0; }, 120000);
    const int ended = w.fullRunsEnded();
    last = beat.elapsed();
    worst = 0;
    QElapsedTimer t;
    t.start();
    w.ApplyEffect();
    WaitFor([&] { return w.fullRunsEnded() > ended; }, 600000);
    std::printf("full run of %s: %lld ms, longest GUI stall %lld ms (the history entry is encoded on the GUI "
                "thread)\n",
                lq::FindEffect(effects.front())->listName, (long long)t.elapsed(), (long long)worst);
  }
  w.close();
  return 0;
}
