// The driver's view of the studio window. It forwards to the window while the
// window exists; after the window is gone (effects that outlived the shutdown
// wait) it answers on its own and shows nothing.
#pragma once

#include <QString>

#include "engine/driver.h"
#include "ui/main/main_window.h"
#include "ui/main/preview_view.h"

namespace lq::studio {

class StudioHost final : public EffectHost {
 public:
  explicit StudioHost(UiDispatcher& ui) : ui_(ui) {}

  MainWindow* window = nullptr;

  UiDispatcher& Ui() override { return ui_; }
  void ShowMessage(const std::string& text) override {
    if (window) window->ShowMessage(QString::fromStdString(text));
  }
  void ShowProgress(int percent) override {
    if (window) window->ShowProgress(percent);
  }
  void HideProgress() override {
    if (window) window->HideProgress();
  }
  void RepaintWorkspace() override {
    if (window) window->RepaintWorkspace();
  }
  double PreviewPanelWidth() override { return PreviewView::kSize; }
  double PreviewPanelHeight() override { return PreviewView::kSize; }
  bool PreviewPanelHasBitmap() override { return window && window->PreviewHasBitmap(); }
  void SetPreviewBitmap(const Image& img) override {
    if (window) window->SetPreviewBitmap(img);
  }
  void SetPreviewPercent(int value, bool visible) override {
    if (window) window->SetPreviewPercent(value, visible);
  }
  bool TextureSwitchOn() override { return window && window->TextureSwitchOn(); }
  bool ScriptRunning() override { return false; }
  void FullRunEnded(int effectNumber, Outcome outcome) override {
    if (window) window->FullRunEnded(effectNumber, int(outcome));
  }

 private:
  UiDispatcher& ui_;
};

}  // namespace lq::studio
