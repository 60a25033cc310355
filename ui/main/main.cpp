// lumaquill: the desktop studio.
#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "ui/main/main_window.h"
#include "ui/main/theme.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Lumaquill");
  lq::studio::theme::InstallUiFont(QApplication::applicationDirPath());
  lq::studio::theme::ApplyApplicationStyle();

  lq::studio::MainWindow* window = nullptr;
  try {
    lq::studio::MainWindow::Options options;
    options.arguments = QApplication::arguments().mid(1);
    if (options.arguments.removeAll("--default-image") > 0) options.defaultImage = true;
    window = new lq::studio::MainWindow(options);
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, "Lumaquill",
                          QString("Lumaquill startup error: ") + QString::fromLocal8Bit(e.what()) +
                              "\n\nThe application will now exit.");
    return 1;
  }
  window->show();
  int rc = QApplication::exec();
  bool clean = window->shutdownClean();
  delete window;
  if (!clean) {
    // Effects that ignored the shutdown still hold engine state; end the
    // process without running the destructors they might still be using.
    std::fflush(nullptr);
    std::quick_exit(rc);
  }
  return rc;
}
