// lumaquill: the desktop studio.
#include <QApplication>
#include <QLocale>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "diag/log.h"
#include "i18n/translate.h"
#include "ui/main/main_window.h"
#include "ui/main/theme.h"

namespace {

// The interface language from the system locale ("fr_FR" -> "fr"); English
// when the locale names none of the program's languages. Chosen before any
// window exists, so every caption is built in it.
void UseSystemLanguage() {
  QString code = QLocale::system().name().left(2).toLower();
  std::string found = "en";
  for (const lq::LanguageInfo& l : lq::Languages())
    if (code == QString(l.code)) found = l.code;
  lq::Log(">>> SwitchLanguage(" + found + ") begin. Current=" + lq::GetCurrentLanguage());
  lq::ApplyLanguage(found);
  lq::Log("<<< SwitchLanguage done");
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Lumaquill");
  UseSystemLanguage();
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
