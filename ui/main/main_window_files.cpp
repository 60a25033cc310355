// Pictures in and out of the window: open dialog, command line, drag and
// drop, the built-in photograph, save dialog, clipboard.
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>

#include <exception>

#include "document/imagefile.h"
#include "engine/gfx/surface.h"
#include "ui/main/effect_panel.h"
#include "ui/main/image_qt.h"
#include "ui/main/main_window.h"
#include "ui/main/preview_view.h"
#include "ui/main/save_dialog.h"
#include "ui/main/ui_text.h"
#include "ui/main/workspace_view.h"

namespace lq::studio {

namespace {

std::string LocalPath(const QString& fileName) { return QFile::encodeName(fileName).toStdString(); }

// The photograph the program carries ("Default Image").
Image BuiltinPhoto(EffectDriver& d) { return d.BuiltinImage ? d.BuiltinImage("DefaultImage") : Image(); }

}  // namespace

bool MainWindow::BlockedByFullRun() const { return driver_->IsEffectRunning(); }

void MainWindow::LoadImageFile() {
  if (BlockedByFullRun()) return;
  auto* dlg = new QFileDialog(this, Tr("Select image file"));
  dlg->setAttribute(Qt::WA_DeleteOnClose);
  dlg->setObjectName("openDialog");
  dlg->setFileMode(QFileDialog::ExistingFile);
  dlg->setAcceptMode(QFileDialog::AcceptOpen);
  dlg->setNameFilters(QtFilters(kOpenFilter));
  connect(dlg, &QFileDialog::fileSelected, this, [this](const QString& file) {
    try {
      LoadLargeImage(file);
    } catch (const std::exception& e) {
      ShowMessage(Tr("Error loading image: ") + QString::fromLocal8Bit(e.what()));
    }
  });
  dlg->open();
}

void MainWindow::RecordAndShow() {
  SyncWorkspace();
  driver_->FHistory->Save(driver_->VIrImage, driver_->VIrSourceImage);
  StartUpdatePreviewTimer();
}

bool MainWindow::LoadLargeImage(const QString& fileName) {
  if (BlockedByFullRun()) return false;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  std::string message;
  Image img = ReadImageFile(LocalPath(fileName), &message);
  if (!img) {
    QApplication::restoreOverrideCursor();
    // Nothing changes: the name, the preview zoom and the split view stay as
    // they were with the picture still shown.
    ShowMessage(Tr("Failed to load image: ") + fileName);
    return false;
  }
  driver_->FPreviewZoomFactor = 1;
  sourceFileName_ = fileName;
  SetSplitView(false);
  driver_->VIrSourceImage = img;
  driver_->VIrImage = img;
  workspace_->SetImages(img, img);
  workspace_->FullSizeAndCenter();
  driver_->PreviewStartX = img.width() / 2 - 100;
  driver_->PreviewStartY = img.height() / 2 - 100;
  DrawZoomedPreview();
  effectPanel_->preview()->zoomStrip()->SetZoomText(ZoomText(1));
  RecordAndShow();
  QApplication::restoreOverrideCursor();
  return true;
}

bool MainWindow::LoadLargeImageFromTImage() {
  if (BlockedByFullRun()) return false;
  Image img = BuiltinPhoto(*driver_);
  if (!img) {
    ShowMessage("Failed to create Skia image from DefaultImage.Bitmap");
    return false;
  }
  sourceFileName_.clear();
  SetSplitView(false);
  driver_->FPreviewZoomFactor = 1;
  driver_->VIrSourceImage = img;
  driver_->VIrImage = img;
  workspace_->SetImages(img, img);
  workspace_->FullSizeAndCenter();
  driver_->PreviewStartX = img.width() / 2 - 110;
  driver_->PreviewStartY = img.height() / 2 - 110;
  DrawZoomedPreview();
  effectPanel_->preview()->zoomStrip()->SetZoomText(ZoomText(1));
  RecordAndShow();
  workspace_->CalculateBestFitAndCenter();
  workspace_->SetDividerToMiddle();
  return true;
}

void MainWindow::SaveImageFile() {
  if (!driver_->VIrImage) return;
  QFileDialog* dlg = MakeSaveDialog(this, sourceFileName_);
  connect(dlg, &QFileDialog::fileSelected, this, [this](const QString& file) { SaveImageTo(file); });
  dlg->open();
}

bool MainWindow::SaveImageTo(const QString& fileName) {
  if (!driver_->VIrImage) return false;
  std::string error;
  if (!WriteImageFile(driver_->VIrImage, LocalPath(fileName), &error)) {
    ShowMessage(Tr("Error saving image: ") + QString::fromStdString(error));
    return false;
  }
  return true;
}

void MainWindow::CopyToClipboard() {
  if (!driver_->VIrImage) return;
  QClipboard* cb = QGuiApplication::clipboard();
  if (!cb) return;
  // A copy of its own: the clipboard may keep it after the picture changes.
  cb->setImage(ToQImage(driver_->VIrImage).copy());
}

bool MainWindow::PasteFromClipboard() {
  if (BlockedByFullRun()) return false;
  QClipboard* cb = QGuiApplication::clipboard();
  const QMimeData* mime = cb ? cb->mimeData() : nullptr;
  if (!mime || !mime->hasImage()) return false;
  QImage q = qvariant_cast<QImage>(mime->imageData());
  Image source = FromQImage(q);
  Image result = FromQImage(q);
  if (!source || !result) return false;
  sourceFileName_.clear();
  driver_->VIrSourceImage = source;
  driver_->VIrImage = result;
  workspace_->SetImages(result, source);
  workspace_->FullSizeAndCenter();
  bool split = workspace_->splitView();
  SetSplitView(split);
  RecordAndShow();
  return true;
}

bool MainWindow::AcceptedDropExtension(const QString& fileName) {
  static const QStringList kAccepted = {".jpg", ".jpeg", ".png", ".bmp", ".gif", ".tiff", ".tif", ".webp"};
  QString lower = fileName.toLower();
  for (const QString& ext : kAccepted)
    if (lower.endsWith(ext)) return true;
  return false;
}

bool MainWindow::AcceptsDrop(const QMimeData* mime) const {
  if (!mime || !mime->hasUrls() || BlockedByFullRun()) return false;
  for (const QUrl& u : mime->urls())
    if (u.isLocalFile() && AcceptedDropExtension(u.toLocalFile())) return true;
  return false;
}

bool MainWindow::DropFiles(const QList<QUrl>& urls) {
  if (BlockedByFullRun()) return false;
  for (const QUrl& u : urls) {
    if (!u.isLocalFile()) continue;
    QString f = u.toLocalFile();
    if (AcceptedDropExtension(f) && QFileInfo(f).isFile()) return LoadLargeImage(f);
  }
  return false;
}

}  // namespace lq::studio
