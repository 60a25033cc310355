#include "ui/main/theme.h"

#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>

namespace lq::studio::theme {

namespace {
QString& Family() {
  static QString family;
  return family;
}
}  // namespace

QString InstallUiFont(const QString& programDir) {
  QString path = QDir(programDir).filePath("Inter-Regular.ttf");
  int id = QFile::exists(path) ? QFontDatabase::addApplicationFont(path) : -1;
  QStringList families = id >= 0 ? QFontDatabase::applicationFontFamilies(id) : QStringList();
  Family() = families.isEmpty() ? QFontDatabase::systemFont(QFontDatabase::GeneralFont).family() : families.first();
  return Family();
}

QFont UiFont(int pixels, int weight) {
  QFont f;
  if (!Family().isEmpty()) f.setFamily(Family());
  f.setPixelSize(pixels);
  f.setWeight(QFont::Weight(weight));
  return f;
}

}  // namespace lq::studio::theme

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

namespace lq::studio::theme {

void ApplyApplicationStyle() {
  if (QStyle* s = QStyleFactory::create("Fusion")) QApplication::setStyle(s);
  QPalette pal;
  pal.setColor(QPalette::Window, Argb(0xFF1F2937));
  pal.setColor(QPalette::WindowText, Argb(kText));
  pal.setColor(QPalette::Base, Argb(kPanel));
  pal.setColor(QPalette::AlternateBase, Argb(0xFF1F2937));
  pal.setColor(QPalette::Text, Argb(kText));
  pal.setColor(QPalette::Button, Argb(kRow));
  pal.setColor(QPalette::ButtonText, Argb(kText));
  pal.setColor(QPalette::Highlight, Argb(kAccent));
  pal.setColor(QPalette::HighlightedText, Qt::white);
  pal.setColor(QPalette::ToolTipBase, Argb(kPanel));
  pal.setColor(QPalette::ToolTipText, Argb(kText));
  pal.setColor(QPalette::PlaceholderText, Argb(kTextDim));
  pal.setColor(QPalette::Disabled, QPalette::Text, Argb(kTextDim));
  pal.setColor(QPalette::Disabled, QPalette::ButtonText, Argb(kTextDim));
  QApplication::setPalette(pal);
  QApplication::setFont(UiFont(14));
}

}  // namespace lq::studio::theme
