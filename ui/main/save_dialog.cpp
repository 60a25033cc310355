#include "ui/main/save_dialog.h"

#include <QDir>
#include <QFile>

#include "document/imagefile.h"
#include "ui/main/ui_text.h"

namespace lq::studio {

QStringList QtFilters(const char* filter) {
  QStringList parts = QString(filter).split('|');
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QStringList pats = parts[i + 1].split(';');
    for (QString& p : pats)
      if (p == "*.*") p = "*";
    // A name that already shows its patterns ("All Files (*.*)") keeps only its words.
    QString name = parts[i].section('(', 0, 0).trimmed();
    out << name + " (" + pats.join(' ') + ")";
  }
  return out;
}

QFileDialog* MakeSaveDialog(QWidget* parent, const QString& sourceFileName) {
  SaveSuggestion s = SuggestSaveName(QFile::encodeName(sourceFileName).toStdString());
  auto* dlg = new QFileDialog(parent, Tr("Save image file"));
  dlg->setObjectName("saveDialog");
  dlg->setAttribute(Qt::WA_DeleteOnClose);
  dlg->setAcceptMode(QFileDialog::AcceptSave);
  dlg->setFileMode(QFileDialog::AnyFile);
  QStringList filters = QtFilters(kSaveFilter);
  dlg->setNameFilters(filters);
  dlg->setDefaultSuffix("jpg");
  QString folder = QFile::decodeName(s.folder.c_str());
  if (folder.isEmpty()) folder = QDir::homePath();
  dlg->setDirectory(folder);
  // The filter first: choosing one rewrites the extension of the name shown.
  int index = std::clamp(s.filterIndex, 1, int(filters.size()));
  dlg->selectNameFilter(filters[index - 1]);
  dlg->selectFile(QFile::decodeName(s.fileName.c_str()));
  return dlg;
}

}  // namespace lq::studio
