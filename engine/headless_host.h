// A window-less host of the effect driver: an event loop on the creating
// thread, a history, and plain records of what a window would show. The CLI
// and the tests run the engine through it.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "document/history.h"
#include "engine/driver.h"

namespace lq {

class HeadlessHost : public EffectHost {
 public:
  // Creates the driver and installs it as the process's driver.
  HeadlessHost();
  ~HeadlessHost() override;
  // Cancels every run and waits for the workers. A class that overrides the
  // host's virtual functions calls this in its own destructor, so no worker
  // calls into it while it is being destroyed. Idempotent.
  void ShutdownDriver();

  EventLoopDispatcher& loop() { return loop_; }
  EffectDriver& driver() { return *driver_; }
  TImageHistory& history() { return history_; }

  // Makes img the current source and result and records it, as opening a file does.
  void SetImage(const Image& img);
  // Batch-style hosts need no undo history; without it results are not encoded for it.
  void SetHistoryEnabled(bool on) { driver_->FHistory = on ? &history_ : nullptr; }

  // Launches a full run and runs the event loop until it has ended.
  Outcome RunFull(int effect, const std::array<int, 5>& p, int timeoutMs = -1);
  // Launches a preview and runs the event loop until every worker has ended.
  void RunPreview(int effect, const std::array<int, 5>& p, int timeoutMs = -1);

  // --- EffectHost ---
  UiDispatcher& Ui() override { return loop_; }
  void ShowMessage(const std::string& text) override;
  void ShowProgress(int percent) override;
  void HideProgress() override;
  void RepaintWorkspace() override { ++repaints; }
  double PreviewPanelWidth() override { return panelWidth; }
  double PreviewPanelHeight() override { return panelHeight; }
  bool PreviewPanelHasBitmap() override { return true; }
  void SetPreviewBitmap(const Image& img) override;
  void SetPreviewPercent(int value, bool visible) override;
  bool TextureSwitchOn() override { return textureSwitchOn; }
  bool ScriptRunning() override { return scriptRunning; }
  void FullRunEnded(int effectNumber, Outcome outcome) override;

  // What a window would have shown.
  std::vector<std::string> messages;
  int progress = -1;  // -1: hidden
  std::vector<int> progressLog;
  Image previewBitmap;
  int previewDraws = 0;
  int previewPercent = 0;
  int repaints = 0;
  int fullRunsEnded = 0;
  Outcome lastOutcome = Outcome::Dropped;

  double panelWidth = 225, panelHeight = 225;
  bool textureSwitchOn = false;
  bool scriptRunning = false;
  std::function<void(int)> onProgress;  // percent, or -1 when hidden
  std::function<void(const std::string&)> onMessage;

 private:
  EventLoopDispatcher loop_;
  TImageHistory history_;
  std::unique_ptr<EffectDriver> driver_;
};

}  // namespace lq
