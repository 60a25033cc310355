// lumaquill-screenshots OUT_DIR: opens the studio on the built-in photograph
// and writes PNGs of the window: the photograph, with its preview, after an
// applied effect and in split view. Meant for a virtual display (xvfb-run).
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <functional>

#include <cstdio>

#include "engine/driver.h"
#include "ui/main/effect_panel.h"
#include "ui/main/main_window.h"
#include "ui/main/theme.h"
#include "ui/main/title_bar.h"
#include "ui/main/tools_panel.h"
#include "ui/main/workspace_view.h"

namespace {

// Runs the event loop until `done` or the time limit; false on timeout.
bool WaitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

void Settle(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool Shot(QWidget* w, const QDir& dir, const char* name) {
  QString path = dir.filePath(name);
  bool ok = w->grab().save(path, "PNG");
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString("out/screenshots"));
  if (!out.mkpath(".")) {
    std::fprintf(stderr, "cannot create %s\n", qPrintable(out.path()));
    return 1;
  }
  lq::studio::theme::InstallUiFont(QApplication::applicationDirPath());
  lq::studio::theme::ApplyApplicationStyle();

  lq::studio::MainWindow::Options options;
  auto* w = new lq::studio::MainWindow(options);
  w->show();
  WaitFor([&] { return w->initialized(); }, 10000);
  Settle(300);
  bool ok = Shot(w, out, "01-empty.png");

  // The preview shows the effect chosen at start-up when its routine exists.
  int effect = lq::FindEffectProc(w->selectedEffect()) ? w->selectedEffect() : 100;
  if (effect != w->selectedEffect()) {
    w->toolsPanel()->ExpandOnly(effect / 100);
    w->SelectEffect(effect);
  }
  int draws = w->effectPreviewDraws();
  if (!w->LoadLargeImageFromTImage()) {
    std::fprintf(stderr, "the built-in photograph could not be loaded\n");
    delete w;
    return 1;
  }
  // Well before the preview timer's first beat: the panel shows the raw region.
  Settle(100);
  ok &= Shot(w, out, "02-photograph.png");

  if (!WaitFor([&] { return w->effectPreviewDraws() > draws && w->driver().ActiveWorkers() == 0; }, 60000))
    std::fprintf(stderr, "preview wait timed out: draws %d -> %d, workers %d, launches %d\n", draws,
                 w->effectPreviewDraws(), w->driver().ActiveWorkers(), w->previewLaunches());
  Settle(200);
  ok &= Shot(w, out, "03-preview.png");

  int ended = w->fullRunsEnded();
  w->ApplyEffect();
  // The progress pill, when the run lasts long enough to catch it.
  lq::studio::ProgressPill* pill = w->titleBar()->pill();
  WaitFor([&] { return w->fullRunsEnded() > ended || (pill->isVisible() && pill->labelShown()); }, 300000);
  if (w->fullRunsEnded() == ended) Settle(250);  // the pill grows in 0.2 s
  if (w->driver().IsEffectRunning())
    ok &= Shot(w, out, "04-applying.png");
  else
    std::printf("the run ended before its progress could be shown; no 04-applying.png\n");
  WaitFor([&] { return w->fullRunsEnded() > ended; }, 300000);
  Settle(300);
  ok &= Shot(w, out, "05-applied.png");

  w->ToggleSplitView();
  Settle(300);
  ok &= Shot(w, out, "06-split-view.png");
  w->ToggleSplitView();

  w->StartCrop();
  Settle(200);
  ok &= Shot(w, out, "07-crop.png");
  w->workspace()->CancelCrop();

  // The menu is a window of its own: take the whole screen.
  w->ShowMainMenu();
  Settle(300);
  QString menuPath = out.filePath("08-menu.png");
  bool menuOk = w->screen()->grabWindow(0).save(menuPath, "PNG");
  std::printf("%s %s\n", menuOk ? "wrote" : "FAILED", qPrintable(menuPath));
  ok &= menuOk;
  w->mainMenu()->hide();
  Settle(100);

  w->close();
  delete w;
  return ok ? 0 : 1;
}
