// The effect panel's behaviour: choosing an effect, the parameters, when a
// preview is computed, panning and zooming the preview, applying the effect.
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>

#include "document/presets.h"
#include "engine/gfx/surface.h"
#include "resources/brush_loader.h"
#include "ui/main/effect_panel.h"
#include "ui/main/image_qt.h"
#include "ui/main/main_window.h"
#include "ui/main/preview_view.h"
#include "ui/main/save_dialog.h"
#include "ui/main/tools_panel.h"
#include "ui/main/ui_text.h"
#include "ui/main/view_math.h"

namespace lq::studio {

float MainWindow::previewZoom() const { return driver_->FPreviewZoomFactor; }

void MainWindow::SelectEffect(int number) {
  TParameters* p = ParamsFor(params_, number);
  if (!p || !FindEffect(number)) return;
  selectedEffect_ = number;
  effectPanel_->ShowEffect(number, *p);
  toolsPanel_->SetSelectedEffect(number);
  StartUpdatePreviewTimer();
}

void MainWindow::ResetParameters() {
  InitializeParameters(params_);
  if (TParameters* p = ParamsFor(params_, selectedEffect_)) effectPanel_->ShowEffect(selectedEffect_, *p);
}

void MainWindow::StartUpdatePreviewTimer() {
  // A running timer keeps its rhythm: the first beat comes at most 500 ms later.
  if (!updatePreviewTimer_.isActive()) updatePreviewTimer_.start();
}

void MainWindow::UpdatePreviewTimerTick() {
  if (!driver_->VIrSourceImage) {
    updatePreviewTimer_.stop();
    return;
  }
  if (effectPanel_->AnySliderDown()) return;
  updatePreviewTimer_.stop();
  auto v = effectPanel_->SliderValues();
  if (TParameters* p = ParamsFor(params_, selectedEffect_))
    for (int i = 0; i < 5; ++i) p->SetValue(i + 1, v[size_t(i)]);
  ++previewLaunches_;
  emit previewLaunched();
  driver_->ProcessEffect(selectedEffect_, v[0], v[1], v[2], v[3], v[4], true);
}

void MainWindow::PreviewDebounceTick() {
  previewDebounceTimer_.stop();
  if (!driver_->VIrImage) return;
  // Running previews show the old region: make them stale. A full run is
  // not the preview's business and keeps going.
  driver_->InvalidatePreviews();
  StartUpdatePreviewTimer();
}

void MainWindow::CleanUpTick() {
  if (!driver_->IsEffectRunning() && !driver_->ManualBrushMode.load()) driver_->UpdateProgressBar(101);
  if (presetCountdown_ > 0 && --presetCountdown_ == 0) {
    effectPanel_->presetLoadIcon()->StartFade();
    effectPanel_->presetSaveIcon()->StartFade();
  }
}

void MainWindow::ApplyEffect() {
  auto v = effectPanel_->SliderValues();
  driver_->ProcessEffect(selectedEffect_, v[0], v[1], v[2], v[3], v[4], false);
}

void MainWindow::CancelRun() { driver_->Cancel = true; }

void MainWindow::SetPreviewBitmap(const Image& img) {
  ++effectPreviewDraws_;
  effectPanel_->preview()->SetBitmap(ToQImage(img));
}

void MainWindow::SetPreviewPercent(int value, bool visible) {
  PreviewView* pv = effectPanel_->preview();
  pv->SetRingPercent(driver_->ProgressPercent.load());
  pv->SetPercent(value, visible);
}

void MainWindow::DrawZoomedPreview() {
  const Image& img = driver_->VIrImage;
  if (!img) return;
  int sx = driver_->PreviewStartX, sy = driver_->PreviewStartY;
  const double panel = PreviewView::kSize;
  QRectF region =
      ClampPreviewRegion(sx, sy, driver_->FPreviewZoomFactor, QSizeF(panel, panel), QSize(img.width(), img.height()));
  driver_->PreviewStartX = sx;
  driver_->PreviewStartY = sy;
  auto surface = Surface::MakeRaster(PreviewView::kSize, PreviewView::kSize);
  if (!surface) return;
  Canvas* c = surface->GetCanvas();
  c->Clear(0xFFFFFFFF);
  c->DrawImageRect(img, RectF{region.left(), region.top(), region.right(), region.bottom()},
                   RectF::MakeWH(panel, panel), SamplingOptions::High(), nullptr, SrcRectConstraint::Fast);
  effectPanel_->preview()->SetBitmap(ToQImage(surface->MakeImageSnapshot()));
}

void MainWindow::SetPreviewZoom(float zoom) {
  if (!driver_->VIrImage) return;
  driver_->FPreviewZoomFactor = std::clamp(zoom, kMinPreviewZoom, kMaxPreviewZoom);
  driver_->InvalidatePreviews();
  DrawZoomedPreview();
  previewDebounceTimer_.start();
  effectPanel_->preview()->zoomStrip()->SetZoomText(ZoomText(driver_->FPreviewZoomFactor));
}

void MainWindow::PreviewWheel(int delta) { SetPreviewZoom(PreviewWheelZoom(driver_->FPreviewZoomFactor, delta)); }

void MainWindow::PreviewPressed(QPointF pos) {
  // The preview being computed is for the region about to move; a full run
  // is left alone.
  driver_->InvalidatePreviews();
  updatePreviewTimer_.stop();
  previewLastPos_ = pos;
}

void MainWindow::PreviewDragged(QPointF pos) {
  const Image& img = driver_->VIrImage;
  if (!img) return;
  const float zoom = driver_->FPreviewZoomFactor;
  const double panel = PreviewView::kSize;
  driver_->PreviewStartX = PannedPreviewStart(driver_->PreviewStartX, pos.x() - previewLastPos_.x(), zoom, panel,
                                              img.width());
  driver_->PreviewStartY = PannedPreviewStart(driver_->PreviewStartY, pos.y() - previewLastPos_.y(), zoom, panel,
                                              img.height());
  previewLastPos_ = pos;
  DrawZoomedPreview();
  if (lastPanTime_.elapsed() >= 201) {
    lastPanTime_.restart();
    driver_->InvalidatePreviews();
    previewDebounceTimer_.start();
  }
}

void MainWindow::PreviewReleased() {
  if (!previewDebounceTimer_.isActive()) StartUpdatePreviewTimer();
}

void MainWindow::LoadCustomBrushes() {
  auto* dlg = new QFileDialog(this, Tr("Select brush files"));
  dlg->setObjectName("brushDialog");
  dlg->setAttribute(Qt::WA_DeleteOnClose);
  dlg->setFileMode(QFileDialog::ExistingFiles);
  dlg->setNameFilters(QtFilters("PNG and ZIP Files|*.png;*.zip|PNG Images|*.png|ZIP Archives|*.zip|All Files|*.*"));
  connect(dlg, &QFileDialog::filesSelected, this, [this](const QStringList& files) { UseCustomBrushes(files); });
  dlg->open();
}

bool MainWindow::UseCustomBrushes(const QStringList& files) {
  std::vector<std::string> names;
  for (const QString& f : files) names.push_back(QFile::encodeName(f).toStdString());
  BrushLoadResult r = LoadBrushesToRepository(names);
  EffectDriver& d = *driver_;
  if (r.count <= 0 || !r.atlas) {
    // Nothing usable: the working atlas and the flags stay as they were.
    ShowMessage(Tr(kBrushLoadError));
    return false;
  }
  d.Brushes = r.atlas;
  d.GlobalBrushCount = r.count;
  switch (selectedEffect_) {
    case 302:
      d.CustomBrushesOn302 = true;
      d.CustomBrushBitmap302 = r.atlas;
      break;
    case 303:
      d.CustomBrushesOn303 = true;
      d.CustomBrushBitmap303 = r.atlas;
      break;
    case 304:
      d.CustomBrushesOn304 = true;
      d.CustomBrushBitmap304 = r.atlas;
      d.CustomBrushCount304 = r.count;
      break;
    default: break;
  }
  StartUpdatePreviewTimer();
  return true;
}

void MainWindow::LoadParameterFile() {
  effectPanel_->presetLoadIcon()->hide();
  effectPanel_->presetSaveIcon()->hide();
  auto* dlg = new QFileDialog(this, Tr("Load Parameters"));
  dlg->setObjectName("loadParametersDialog");
  dlg->setAttribute(Qt::WA_DeleteOnClose);
  dlg->setFileMode(QFileDialog::ExistingFile);
  dlg->setNameFilters(QtFilters(kPresetFilter));
  dlg->setDefaultSuffix("lqk");
  connect(dlg, &QFileDialog::fileSelected, this, [this](const QString& f) { LoadParameters(f); });
  dlg->open();
}

void MainWindow::SaveParameterFile() {
  effectPanel_->presetLoadIcon()->hide();
  effectPanel_->presetSaveIcon()->hide();
  auto* dlg = new QFileDialog(this, Tr("Save Parameters"));
  dlg->setObjectName("saveParametersDialog");
  dlg->setAttribute(Qt::WA_DeleteOnClose);
  dlg->setAcceptMode(QFileDialog::AcceptSave);
  dlg->setNameFilters(QtFilters(kPresetFilter));
  dlg->setDefaultSuffix("lqk");
  connect(dlg, &QFileDialog::fileSelected, this, [this](const QString& f) { SaveParameters(f); });
  dlg->open();
}

bool MainWindow::LoadParameters(const QString& fileName) {
  std::string error;
  PresetLoad r = lq::LoadParameters(QFile::encodeName(fileName).toStdString(), params_, &error);
  if (r == PresetLoad::Failed) {
    ShowMessage(Tr("Error loading parameters: ") + QString::fromStdString(error));
    return false;
  }
  if (r == PresetLoad::Missing) return false;
  // The sliders follow the selected effect's values; its labels stay until
  // an effect is picked again.
  if (TParameters* p = ParamsFor(params_, selectedEffect_))
    for (int i = 0; i < 5; ++i) effectPanel_->slider(i)->setValue(p->Value(i + 1));
  return true;
}

bool MainWindow::SaveParameters(const QString& fileName) {
  std::string error;
  if (!lq::SaveParameters(QFile::encodeName(fileName).toStdString(), params_, &error)) {
    ShowMessage(Tr("Error saving parameters: ") + QString::fromStdString(error));
    return false;
  }
  ShowMessage(Tr("Parameters saved successfully!"));
  return true;
}

void MainWindow::ResetCustomBrushes() {
  switch (selectedEffect_) {
    case 302: driver_->CustomBrushesOn302 = false; break;
    case 303: driver_->CustomBrushesOn303 = false; break;
    case 304: driver_->CustomBrushesOn304 = false; break;
    default: return;
  }
  StartUpdatePreviewTimer();
}

}  // namespace lq::studio
