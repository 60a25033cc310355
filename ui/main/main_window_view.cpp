// Workspace commands: split view, crop, rotation, swap, undo and redo.
#include "ui/main/image_ops.h"
#include "ui/main/main_window.h"
#include "ui/main/tool_bar.h"
#include "ui/main/workspace_view.h"

namespace lq::studio {

void MainWindow::SetSplitView(bool on) {
  workspace_->SetSplitView(on && driver_->VIrImage);
  toolBar_->SetSplitState(workspace_->splitView());
}

void MainWindow::ToggleSplitView() {
  if (!driver_->VIrImage) return;
  SetSplitView(!workspace_->splitView());
}

void MainWindow::ZoomTo100() {
  if (!driver_->VIrImage) return;
  workspace_->FullSizeAndCenter();
}

void MainWindow::FitToWorkspace() {
  if (driver_->VIrImage) workspace_->CalculateBestFitAndCenter();
}

void MainWindow::StartCrop() {
  if (BlockedByFullRun() || !driver_->VIrImage) return;
  toolBar_->SetSplitState(false);
  workspace_->BeginCrop();
}

bool MainWindow::ApplyCropRect(const QRect& r) {
  EffectDriver& d = *driver_;
  if (BlockedByFullRun() || !d.VIrImage || !d.VIrSourceImage || r.isEmpty()) return false;
  IRect ir = IRect::MakeXYWH(r.x(), r.y(), r.width(), r.height());
  IRect bounds = IRect::MakeWH(d.VIrSourceImage.width(), d.VIrSourceImage.height());
  if (!ir.intersect(bounds)) return false;
  Image source = d.VIrSourceImage.MakeSubset(ir);
  Image result = d.VIrImage.MakeSubset(ir);
  if (!source || !result) return false;
  d.VIrSourceImage = source;
  d.VIrImage = result;
  SyncWorkspace();
  workspace_->CenterImageInPaintBox();
  d.FHistory->Save(d.VIrImage, d.VIrSourceImage);
  return true;
}

bool MainWindow::RotateImage(bool clockwise) {
  EffectDriver& d = *driver_;
  // Refused during a full run: its result belongs to the picture it started on.
  if (BlockedByFullRun() || !d.VIrImage || !d.VIrSourceImage) return false;
  Image result = RotateImage90(d.VIrImage, clockwise);
  Image source = d.VIrSourceImage == d.VIrImage ? result : RotateImage90(d.VIrSourceImage, clockwise);
  if (!result || !source) return false;
  d.VIrImage = result;
  d.VIrSourceImage = source;
  SyncWorkspace();
  workspace_->CenterImageInPaintBox();
  d.FHistory->Save(d.VIrImage, d.VIrSourceImage);
  return true;
}

bool MainWindow::SwapImages() {
  EffectDriver& d = *driver_;
  if (BlockedByFullRun() || !d.VIrImage || !d.VIrSourceImage) return false;
  std::swap(d.VIrImage, d.VIrSourceImage);
  SyncWorkspace();
  return true;
}

void MainWindow::Undo() {
  if (BlockedByFullRun()) return;
  Image display, source;
  if (!history_->Undo(display, source)) return;
  driver_->VIrImage = display;
  driver_->VIrSourceImage = source;
  SyncWorkspace();
  workspace_->CenterImageInPaintBox();
}

void MainWindow::Redo() {
  if (BlockedByFullRun()) return;
  Image display, source;
  if (!history_->Redo(display, source)) return;
  driver_->VIrImage = display;
  driver_->VIrSourceImage = source;
  SyncWorkspace();
  workspace_->CenterImageInPaintBox();
}

}  // namespace lq::studio
