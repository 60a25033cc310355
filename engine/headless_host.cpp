#include "engine/headless_host.h"

namespace lq {

HeadlessHost::HeadlessHost() : driver_(std::make_unique<EffectDriver>(*this)) {
  driver_->FHistory = &history_;
  SetDriver(driver_.get());
}

void HeadlessHost::ShutdownDriver() {
  driver_->Shutdown(10000);
  loop_.Shutdown();
}

HeadlessHost::~HeadlessHost() {
  ShutdownDriver();
  if (DriverIfAny() == driver_.get()) SetDriver(nullptr);
  driver_.reset();
}

void HeadlessHost::SetImage(const Image& img) {
  driver_->VIrImage = img;
  driver_->VIrSourceImage = img;
  if (driver_->FHistory) driver_->FHistory->Save(img, img);
}

EffectHost::Outcome HeadlessHost::RunFull(int effect, const std::array<int, 5>& p, int timeoutMs) {
  int before = fullRunsEnded;
  driver_->ProcessEffect(effect, p[0], p[1], p[2], p[3], p[4], false);
  if (driver_->FCurrentEffectNumber.load() == -1 && fullRunsEnded == before && driver_->ActiveWorkers() == 0)
    return Outcome::Dropped;  // refused at launch
  loop_.RunUntil([&] { return fullRunsEnded != before; }, timeoutMs);
  return lastOutcome;
}

void HeadlessHost::RunPreview(int effect, const std::array<int, 5>& p, int timeoutMs) {
  driver_->ProcessEffect(effect, p[0], p[1], p[2], p[3], p[4], true);
  driver_->WaitForWorkers(timeoutMs);
  loop_.ProcessPending();
}

void HeadlessHost::ShowMessage(const std::string& text) {
  messages.push_back(text);
  if (onMessage) onMessage(text);
}

void HeadlessHost::ShowProgress(int percent) {
  if (progress == percent) return;
  progress = percent;
  progressLog.push_back(percent);
  if (onProgress) onProgress(percent);
}

void HeadlessHost::HideProgress() {
  if (progress == -1) return;
  progress = -1;
  progressLog.push_back(-1);
  if (onProgress) onProgress(-1);
}

void HeadlessHost::SetPreviewBitmap(const Image& img) {
  previewBitmap = img;
  ++previewDraws;
}

void HeadlessHost::SetPreviewPercent(int value, bool) { previewPercent = value; }

void HeadlessHost::FullRunEnded(int, Outcome outcome) {
  lastOutcome = outcome;
  ++fullRunsEnded;
}

}  // namespace lq
