#include "engine/driver.h"

#include <array>
#include <chrono>
#include <vector>

#include "document/history.h"
#include "engine/catalogue.h"
#include "engine/parallel.h"
#include "engine/random.h"
#include "i18n/translate.h"
#include "resources/repository.h"

namespace lq {

std::atomic<uint32_t> LastUIUpdateTick{0};

// ---------------------------------------------------------------------------
// Routine table

namespace {
std::array<std::atomic<TEffectProc>, 1000> g_procs{};
std::atomic<EffectDriver*> g_driver{nullptr};
thread_local std::shared_ptr<RunContext> tls_ctx;

bool UsesBrushAtlas(int n) { return n == 302 || n == 303 || n == 304 || n == 307; }
}  // namespace

void RegisterEffectProc(int number, TEffectProc proc) {
  if (number >= 0 && number < int(g_procs.size())) g_procs[size_t(number)] = proc;
}

TEffectProc FindEffectProc(int number) {
  if (number < 0 || number >= int(g_procs.size())) return nullptr;
  return g_procs[size_t(number)].load();
}

namespace {
std::vector<void (*)(EffectDriver&)>& DriverSetups() {
  static std::vector<void (*)(EffectDriver&)> setups;
  return setups;
}
}  // namespace

void RegisterDriverSetup(void (*setup)(EffectDriver&)) {
  if (setup) DriverSetups().push_back(setup);
}

EffectDriver& Driver() { return *g_driver.load(); }
EffectDriver* DriverIfAny() { return g_driver.load(); }
void SetDriver(EffectDriver* d) { g_driver.store(d); }

RunContext* CurrentRun() { return tls_ctx.get(); }
std::shared_ptr<RunContext> CurrentRunShared() { return tls_ctx; }

RunScope::RunScope(std::shared_ptr<RunContext> ctx) : prev_(std::move(tls_ctx)) { tls_ctx = std::move(ctx); }
RunScope::~RunScope() { tls_ctx = std::move(prev_); }

// ---------------------------------------------------------------------------
// Services

void RunOnUi(const std::function<void()>& fn) {
  auto ctx = tls_ctx;
  UiDispatcher& ui = Driver().ui();
  if (ui.IsUiThread()) {
    RunScope scope(ctx);
    fn();
    return;
  }
  ui.Invoke([ctx, &fn] {
    RunScope scope(ctx);
    fn();
  });
}

void QueueOnUi(std::function<void()> fn) {
  auto ctx = tls_ctx;
  Driver().ui().Post([ctx, fn = std::move(fn)] {
    RunScope scope(ctx);
    fn();
  });
}

void UpdateProgressBar(int value) {
  EffectDriver& d = Driver();
  if (d.ui().IsUiThread())
    d.UpdateProgressBar(value);
  else
    QueueOnUi([value] { Driver().UpdateProgressBar(value); });
}

bool IsEffectCancelled() {
  RunContext* ctx = tls_ctx.get();
  EffectDriver& d = Driver();
  if (ctx && ctx->kind == RunKind::Preview) return ctx->generation != d.FPreviewGeneration.load();
  return d.Cancel.load();
}

namespace {
bool OnPreviewRun() {
  RunContext* ctx = tls_ctx.get();
  return ctx && ctx->kind == RunKind::Preview;
}
}  // namespace

void CheckCancellation() {
  if (!IsEffectCancelled()) return;
  // A preview never touches the progress display of full runs.
  if (!OnPreviewRun()) UpdateProgressBar(101);
  throw EAbort();
}

void SafeUpdateProgress(int value) {
  EffectDriver& d = Driver();
  if (d.ManualBrushMode.load()) {
    uint32_t now = GetTickCount();
    if (uint32_t(now - LastUIUpdateTick.load()) > 150) {
      LastUIUpdateTick = now;
      RunOnUi([value] { Driver().UpdateProgressBar(value); });
    }
    return;
  }
  CheckCancellation();
  if (OnPreviewRun()) return;
  uint32_t now = GetTickCount();
  if (uint32_t(now - LastUIUpdateTick.load()) <= 50 && value >= 1 && value <= 100) return;
  LastUIUpdateTick = now;
  UpdateProgressBar(value);
}

void SafeUpdatePreview(Surface* dest, int value) {
  EffectDriver& d = Driver();
  if (d.ManualBrushMode.load()) return;
  RunContext* ctx = tls_ctx.get();
  bool preview = ctx && ctx->kind == RunKind::Preview;
  if (preview && ctx->generation != d.FPreviewGeneration.load()) return;  // stale: finish quietly
  if (!preview && d.Cancel.load()) throw EAbort();
  d.ProgressPercent = value;
  uint32_t now = GetTickCount();
  if (uint32_t(now - LastUIUpdateTick.load()) > 50 || value > 100 || value <= 0) {
    LastUIUpdateTick = now;
    // Only previews own the preview panel; a full run's picture never goes there.
    if (dest && preview) {
      Image snap = dest->MakeImageSnapshot();
      int gen = ctx->generation;
      QueueOnUi([snap, value, gen] {
        EffectDriver& dd = Driver();
        if (gen != dd.FPreviewGeneration.load()) return;
        EffectHost& h = dd.host();
        if (h.PreviewPanelHasBitmap()) h.SetPreviewBitmap(snap);
        h.SetPreviewPercent(value, value >= 1 && value <= 100);
      });
    }
  }
}

// ---------------------------------------------------------------------------
// Driver

struct EffectDriver::Run {
  std::shared_ptr<RunContext> ctx;
  int p[5] = {0, 0, 0, 0, 0};
  TEffectProc proc = nullptr;
};

EffectDriver::EffectDriver(EffectHost& host) : host_(host) {
  // The embedded pictures by name; the working atlas starts as the impasto one.
  BuiltinImage = [](const std::string& name) { return Repository().Picture(name); };
  Brushes = Repository().Picture("DefaultBrushes");
  for (auto setup : DriverSetups()) setup(*this);
}

EffectDriver::~EffectDriver() {
  Shutdown(5000);
  if (g_driver.load() == this) g_driver.store(nullptr);
}

void EffectDriver::UpdateProgressBar(int value) {
  if (host_.ScriptRunning()) return;
  // The claim of a full run is released by that run's own end, never here:
  // stale previews and early finish reports must not end a running full run.
  if (value >= 0 && value <= 100)
    host_.ShowProgress(value);
  else
    host_.HideProgress();
}

void EffectDriver::UpdateDisplayImage(const Image& img, int progress) {
  RunContext* ctx = CurrentRun();
  bool show = !ManualBrushMode.load() && img;
  // Synchronous runs (scripts, batches, the manual brush) keep their host's image until they end.
  if (ctx && ctx->kind == RunKind::Synchronous) show = false;
  if (ctx && ctx->kind == RunKind::Full) {
    std::lock_guard<std::mutex> lk(effectLock_);
    if (claimRunId_ != ctx->runId) show = false;
  }
  if (show) {
    VIrImage = img;
    if (ctx) ctx->lastShownId = img.uniqueID();
    host_.RepaintWorkspace();
  }
  if (progress >= 0) UpdateProgressBar(progress);
}

Image EffectDriver::StartImage() {
  RunContext* ctx = CurrentRun();
  if (ctx && ctx->startImage) return ctx->startImage;
  if (StartImageOverride) return StartImageOverride;
  return VIrImage;
}

void EffectDriver::ChooseBrushAtlas(int n, RunContext& ctx) {
  auto builtin = [this](const char* name) { return BuiltinImage ? BuiltinImage(name) : Image(); };
  switch (n) {
    case 302: Brushes = CustomBrushesOn302 ? CustomBrushBitmap302 : builtin("PastelBrushes"); break;
    case 303: Brushes = CustomBrushesOn303 ? CustomBrushBitmap303 : builtin("WatercolorBrushes"); break;
    case 304:
      if (CustomBrushesOn304) {
        GlobalBrushCount = CustomBrushCount304;
        Brushes = CustomBrushBitmap304;
      } else {
        GlobalBrushCount = 40;
        Brushes = builtin("DefaultBrushes");
      }
      break;
    case 307:
      if (!CustomBrushesOn304) Brushes = builtin("DefaultBrushes");
      break;
    default: return;
  }
  // The run keeps its own choice: a later launch may change the working atlas.
  ctx.brushes = Brushes;
  ctx.brushCount = GlobalBrushCount;
}

void EffectDriver::ProcessEffect(int n, int p1, int p2, int p3, int p4, int p5, bool preview) {
  if (shutDown_) return;
  if (!VIrImage) {
    host_.ShowMessage(Translate("No image loaded"));
    return;
  }
  auto run = std::make_shared<Run>();
  run->ctx = std::make_shared<RunContext>();
  RunContext& ctx = *run->ctx;
  ctx.kind = preview ? RunKind::Preview : RunKind::Full;
  ctx.effectNumber = n;
  int ps[5] = {p1, p2, p3, p4, p5};
  for (int i = 0; i < 5; ++i) run->p[i] = ClampParam(ps[i]);
  {
    std::lock_guard<std::mutex> lk(effectLock_);
    ctx.runId = nextRunId_++;
    if (!preview) {
      int running = FCurrentEffectNumber.load();
      if (running != -1) {
        host_.ShowMessage(Translate("Please wait for ") + "\"" + GetEffectName(running) + "\"" +
                          Translate(" to finish processing."));
        return;
      }
      FCurrentEffectNumber = n;
      claimRunId_ = ctx.runId;
    }
  }
  // A full run starts with a fresh cancel request, cleared here at launch so an
  // Escape pressed right after Apply still counts. Previews leave it alone.
  if (!preview) Cancel = false;
  ctx.generation = preview ? FPreviewGeneration.fetch_add(1) + 1 : 0;
  {
    std::lock_guard<std::mutex> lk(effectLock_);
    processingAborted_ = false;
  }
  ReapWorkers();
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::lock_guard<std::mutex> lk(workersMu_);
  workers_.push_back({std::thread([this, run, done] {
                        Worker(run);
                        done->store(true);
                      }),
                      done});
}

void EffectDriver::ReleaseClaim(const Run& run) {
  std::lock_guard<std::mutex> lk(effectLock_);
  if (claimRunId_ == run.ctx->runId) {
    claimRunId_ = 0;
    FCurrentEffectNumber = -1;
  }
}

void EffectDriver::RecordAbort(Run& run, bool repaint) {
  // Only a picture this run put on display is worth a history state; an abort
  // before any work in progress keeps the redo branch intact.
  uint32_t shown = run.ctx->lastShownId;
  if (shown != 0 && FHistory && VIrImage && VIrImage.uniqueID() == shown) FHistory->Save(VIrImage, VIrSourceImage);
  run.ctx->lastShownId = 0;
  ReleaseClaim(run);
  if (repaint) host_.RepaintWorkspace();
}

void EffectDriver::Worker(std::shared_ptr<Run> run) {
  RunScope scope(run->ctx);
  RunContext& ctx = *run->ctx;
  const bool preview = ctx.kind == RunKind::Preview;
  const int n = ctx.effectNumber;
  auto valid = [&] {
    if (preview) return ctx.generation == FPreviewGeneration.load();
    return !Cancel.load();
  };
  EffectHost::Outcome outcome = EffectHost::Outcome::Dropped;
  Image local, result;
  std::unique_ptr<Surface> dest;
  double zoom = 1;
  int dispW = 0, dispH = 0;

  auto body = [&]() {
    RunOnUi([&] {
      local = VIrSourceImage;
      if (!preview) ctx.sourceAtLaunch = local;
    });
    if (!local || !valid()) return;
    if (preview) {
      RunOnUi([&] {
        zoom = FPreviewZoomFactor > 0 ? FPreviewZoomFactor : 1.0f;
        dispW = int(Round(host_.PreviewPanelWidth()));
        dispH = int(Round(host_.PreviewPanelHeight()));
        int w0 = int(Round(dispW / zoom)), h0 = int(Round(dispH / zoom));
        if (local.width() - w0 < PreviewStartX) PreviewStartX = std::max(0, local.width() - w0);
        if (local.height() - h0 < PreviewStartY) PreviewStartY = std::max(0, local.height() - h0);
        if (PreviewStartX < 0) PreviewStartX = 0;
        if (PreviewStartY < 0) PreviewStartY = 0;
      });
      if (ctx.generation != FPreviewGeneration.load()) return;
      int sx = PreviewStartX, sy = PreviewStartY;
      int64_t w = std::min<int64_t>(Round(dispW / zoom), int64_t(local.width()) - sx);
      int64_t h = std::min<int64_t>(Round(dispH / zoom), int64_t(local.height()) - sy);
      if (w < 1) w = std::min(dispW, local.width());
      if (h < 1) h = std::min(dispH, local.height());
      if (sx + w > local.width()) w = local.width() - sx;
      if (sy + h > local.height()) h = local.height() - sy;
      if (w <= 0 || h <= 0) return;
      local = local.MakeSubset(IRect::MakeXYWH(sx, sy, int(w), int(h)));
      if (!local || !valid()) return;
      dest = Surface::MakeRaster(int(w), int(h));
    } else {
      dest = Surface::MakeRaster(local.width(), local.height());
    }
    if (!dest || !valid()) return;
    run->proc = FindEffectProc(n);
    if (!run->proc) return;
    if (UsesBrushAtlas(n)) RunOnUi([&] { ChooseBrushAtlas(n, ctx); });
    {
      std::unique_lock<std::mutex> lk(effectLock_);
      if (processingAborted_) {
        lk.unlock();
        if (!preview) {
          RunOnUi([&] { RecordAbort(*run, true); });
          outcome = EffectHost::Outcome::Aborted;
        }
        return;
      }
    }
    run->proc(local, *dest, run->p[0], run->p[1], run->p[2], run->p[3], run->p[4], preview);
    if (preview) {
      if (!valid()) return;
    } else if (IsEffectCancelled()) {
      RunOnUi([&] { RecordAbort(*run, true); });
      outcome = EffectHost::Outcome::Aborted;
      return;
    }
    result = dest->MakeImageSnapshot();
    dest.reset();
    if (!result || !valid()) return;
    // The texture overlay and the history's encoding of a full-size result
    // are heavy: they run here, on the worker, with the settings read on the
    // UI thread; the UI thread only installs the finished result.
    Image texture;
    int strength = 0;
    float scale = 1;
    RunOnUi([&] {
      if (host_.TextureSwitchOn() && StoredTextureBitmap && TextureStep) {
        texture = StoredTextureBitmap;
        strength = int(Round(StoredTextureStrength));
        scale = StoredTextureScale;
      }
    });
    if (texture) result = TextureStep(result, texture, strength, scale);
    if (!result || !valid()) return;
    std::vector<uint8_t> encoded;
    if (!preview && FHistory) encoded = TImageHistory::EncodeState(result);
    RunOnUi([&] {
      if (preview) {
        if (ctx.generation != FPreviewGeneration.load() || !host_.PreviewPanelHasBitmap()) return;
        auto panel = Surface::MakeRaster(dispW, dispH);
        if (!panel) return;
        Canvas* c = panel->GetCanvas();
        c->Clear(0xFFFFFFFF);
        c->DrawImageRect(result, RectF::MakeWH(result.width(), result.height()), RectF::MakeWH(dispW, dispH),
                         SamplingOptions::High(), nullptr, SrcRectConstraint::Fast);
        host_.SetPreviewBitmap(panel->MakeImageSnapshot());
        outcome = EffectHost::Outcome::Succeeded;
      } else if (!Cancel.load()) {
        // The user may have opened or rotated another picture meanwhile: then
        // this result belongs to nothing on screen and is dropped.
        if (VIrSourceImage == ctx.sourceAtLaunch) {
          VIrImage = result;
          if (FHistory) FHistory->Save(VIrImage, VIrSourceImage, std::move(encoded));
          host_.RepaintWorkspace();
          outcome = EffectHost::Outcome::Succeeded;
        }
        ReleaseClaim(*run);
      } else {
        outcome = EffectHost::Outcome::Aborted;
      }
    });
  };

  try {
    body();
  } catch (const EAbort&) {
    if (!preview) {
      try {
        RunOnUi([&] { RecordAbort(*run, false); });
      } catch (...) {
      }
      outcome = EffectHost::Outcome::Aborted;
    }
  } catch (...) {
    if (!preview) outcome = EffectHost::Outcome::Failed;
  }
  if (!preview) {
    if (outcome == EffectHost::Outcome::Dropped && Cancel.load()) outcome = EffectHost::Outcome::Aborted;
    try {
      RunOnUi([&] {
        ReleaseClaim(*run);
        UpdateProgressBar(101);
        host_.FullRunEnded(n, outcome);
      });
    } catch (...) {
      ReleaseClaim(*run);  // the UI has gone; do not leave the claim behind
    }
  }
}

void EffectDriver::ProcessEffectOnSurface(const Image& source, Surface& dest, int n, int p1, int p2, int p3, int p4,
                                          int p5, const Image& startImage) {
  auto ctx = std::make_shared<RunContext>();
  ctx->kind = RunKind::Synchronous;
  ctx->effectNumber = n;
  ctx->startImage = startImage;
  {
    std::lock_guard<std::mutex> lk(effectLock_);
    ctx->runId = nextRunId_++;
  }
  RunScope scope(ctx);
  TEffectProc proc = FindEffectProc(n);
  if (!proc) return;
  if (UsesBrushAtlas(n)) RunOnUi([&] { ChooseBrushAtlas(n, *ctx); });
  proc(source, dest, ClampParam(p1), ClampParam(p2), ClampParam(p3), ClampParam(p4), ClampParam(p5), false);
}

bool EffectDriver::StartToolWorker(std::function<void()> fn) {
  if (shutDown_) return false;
  ReapWorkers();
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::lock_guard<std::mutex> lk(workersMu_);
  workers_.push_back({std::thread([fn = std::move(fn), done] {
                        fn();
                        done->store(true);
                      }),
                      done});
  return true;
}

void EffectDriver::AbortProcessing() {
  std::lock_guard<std::mutex> lk(effectLock_);
  processingAborted_ = true;
}

void EffectDriver::ReapWorkers() {
  std::lock_guard<std::mutex> lk(workersMu_);
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (it->done->load()) {
      it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

int EffectDriver::ActiveWorkers() {
  std::lock_guard<std::mutex> lk(workersMu_);
  int n = 0;
  for (auto& w : workers_) n += w.done->load() ? 0 : 1;
  return n;
}

bool EffectDriver::WaitForWorkers(int timeoutMs) {
  auto start = std::chrono::steady_clock::now();
  while (ActiveWorkers() > 0) {
    auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    if (timeoutMs >= 0 && elapsed >= timeoutMs) return false;
    ui().Pump(5);
  }
  ReapWorkers();
  return true;
}

bool EffectDriver::Shutdown(int timeoutMs) {
  if (shutDown_) return true;
  shutDown_ = true;
  AbortProcessing();
  Cancel = true;
  InvalidatePreviews();
  bool ok = WaitForWorkers(timeoutMs);
  std::lock_guard<std::mutex> lk(workersMu_);
  for (auto& w : workers_) {
    if (w.done->load())
      w.thread.join();
    else
      w.thread.detach();
  }
  workers_.clear();
  return ok;
}

}  // namespace lq
