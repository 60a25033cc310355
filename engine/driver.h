// The effect driver: runs effect routines for previews and full runs on worker
// threads, or synchronously for scripts and tools, and supplies the services
// routines call while they work (progress, previews, cancellation).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/abort.h"
#include "engine/dispatcher.h"
#include "engine/gfx/surface.h"

namespace lq {

class TImageHistory;

// Every effect routine has this signature. Dest is a surface of Source's size;
// the routine leaves its result drawn on it.
using TEffectProc = void (*)(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                             bool Preview);

// The routine table: effects register themselves at start-up.
void RegisterEffectProc(int number, TEffectProc proc);
TEffectProc FindEffectProc(int number);

class EffectDriver;
// Code outside the engine (the texture overlay, the embedded pictures) fills
// the driver's hooks through a setup registered at start-up; every driver runs
// the registered setups when it is made.
void RegisterDriverSetup(void (*setup)(EffectDriver& driver));

enum class RunKind { None, Preview, Full, Synchronous };

// What one run carries besides its pixels. A worker's context is also current
// inside the blocks it hands to the UI thread (RunOnUi / QueueOnUi).
struct RunContext {
  RunKind kind = RunKind::None;
  int effectNumber = -1;
  int generation = 0;  // previews: FPreviewGeneration after this launch
  uint64_t runId = 0;
  // Brush atlas chosen at launch for 302/303/304/307 and how many cells 304 takes.
  Image brushes;
  int brushCount = 40;
  // Start image of this run when it must not come from the shared state
  // (parallel batch workers each paint over their own picture).
  Image startImage;
  // Source the full run started from, and the last work-in-progress image it
  // put on display (0: none).
  Image sourceAtLaunch;
  uint32_t lastShownId = 0;
};

// The context of the calling thread (or of the worker a UI block came from).
RunContext* CurrentRun();
// Installs ctx as the calling thread's context for the lifetime of the guard.
class RunScope {
 public:
  explicit RunScope(std::shared_ptr<RunContext> ctx);
  ~RunScope();
  RunScope(const RunScope&) = delete;
  RunScope& operator=(const RunScope&) = delete;

 private:
  std::shared_ptr<RunContext> prev_;
};

// What the driver needs of the window that hosts it. Every call is made on the
// UI thread.
class EffectHost {
 public:
  virtual ~EffectHost() = default;
  virtual UiDispatcher& Ui() = 0;
  virtual void ShowMessage(const std::string& /*text*/) {}
  // Progress display of full runs: a percent, or hidden.
  virtual void ShowProgress(int /*percent*/) {}
  virtual void HideProgress() {}
  virtual void RepaintWorkspace() {}
  // The preview panel: its size in display units and whether it holds a bitmap.
  virtual double PreviewPanelWidth() { return 225; }
  virtual double PreviewPanelHeight() { return 225; }
  virtual bool PreviewPanelHasBitmap() { return true; }
  virtual void SetPreviewBitmap(const Image& /*img*/) {}
  virtual void SetPreviewPercent(int /*value*/, bool /*visible*/) {}
  virtual bool TextureSwitchOn() { return false; }
  virtual bool ScriptRunning() { return false; }
  // End of every full run, after its success, abort or failure block.
  enum class Outcome { Succeeded, Aborted, Failed, Dropped };
  virtual void FullRunEnded(int /*effectNumber*/, Outcome /*outcome*/) {}
};

// Process-wide service state shared by routines of every run.
extern std::atomic<uint32_t> LastUIUpdateTick;

class EffectDriver {
 public:
  explicit EffectDriver(EffectHost& host);
  ~EffectDriver();
  EffectDriver(const EffectDriver&) = delete;
  EffectDriver& operator=(const EffectDriver&) = delete;

  EffectHost& host() { return host_; }
  UiDispatcher& ui() { return host_.Ui(); }

  // --- State of the hosting window (UI thread unless atomic) ---
  Image VIrImage;        // current result shown in the workspace
  Image VIrSourceImage;  // current source; every run starts from it
  TImageHistory* FHistory = nullptr;
  std::atomic<int> FCurrentEffectNumber{-1};
  std::atomic<int> FPreviewGeneration{0};
  std::atomic<bool> Cancel{false};
  std::atomic<int> ProgressPercent{0};
  std::atomic<int> PreviewStartX{0}, PreviewStartY{0};
  float FPreviewZoomFactor = 1.0f;
  // "Erase background" starts on, as the window's switch does: painting effects
  // then paint on a fresh page instead of over the picture itself.
  std::atomic<bool> FEraseBdChecked{true};
  // Set while the manual-brush panel is open: progress is throttled harder
  // and work in progress is not shown.
  std::atomic<bool> ManualBrushMode{false};
  Image StartImageOverride;  // start image of a manual-brush region run

  // Texture overlay settings (applied to results when the texture switch is on).
  Image StoredTextureBitmap;
  float StoredTextureStrength = 50.0f;
  float StoredTextureScale = 1.0f;

  // The working brush atlas (last choice) and the custom brushes of 302, 303, 304.
  Image Brushes;
  bool CustomBrushesOn302 = false, CustomBrushesOn303 = false, CustomBrushesOn304 = false;
  Image CustomBrushBitmap302, CustomBrushBitmap303, CustomBrushBitmap304;
  int CustomBrushCount304 = 0;
  int GlobalBrushCount = 40;

  // Hooks filled by the parts of the program that provide them.
  std::function<Image(const std::string& name)> BuiltinImage;  // embedded pictures by name
  std::function<Image(const Image& img, const Image& texture, int strength, float scale)> TextureStep;

  // --- Entry points ---
  // UI thread. Starts a preview or a full run and returns at once.
  void ProcessEffect(int effectNumber, int p1, int p2, int p3, int p4, int p5, bool preview);
  // Any thread. Runs the routine synchronously on Dest; EAbort and other
  // failures reach the caller. `startImage` replaces the shared start image for
  // routines that paint over the current picture.
  void ProcessEffectOnSurface(const Image& source, Surface& dest, int effectNumber, int p1, int p2, int p3, int p4,
                              int p5, const Image& startImage = Image());
  // Makes every run that has not yet called its routine skip it.
  void AbortProcessing();
  // Starts fn on a worker thread the driver owns like the workers of its
  // runs, so that Shutdown cancels and waits for it too. For tools that work
  // outside the routine table (the brushstroke frame). fn must not throw.
  // False once the driver has been shut down.
  bool StartToolWorker(std::function<void()> fn);

  // UI thread: progress display of full runs (see the services below).
  void UpdateProgressBar(int value);
  // UI thread: shows a work-in-progress image of a full run.
  void UpdateDisplayImage(const Image& img, int progress);

  bool IsEffectRunning() const { return FCurrentEffectNumber.load() != -1; }
  // Makes running previews stale without touching Cancel.
  void InvalidatePreviews() { FPreviewGeneration.fetch_add(1); }
  // Start image for routines that paint over the current picture.
  Image StartImage();
  // UI thread. Picks the brush atlas for 302/303/304/307 into ctx.
  void ChooseBrushAtlas(int effectNumber, RunContext& ctx);

  // Number of worker threads still alive.
  int ActiveWorkers();
  // UI thread: waits (running UI blocks meanwhile) until every worker ended.
  bool WaitForWorkers(int timeoutMs);
  // UI thread: cancels every run and joins the workers. False when some did not
  // end within the timeout (they are then left detached).
  bool Shutdown(int timeoutMs = 5000);

 private:
  struct Run;
  void Worker(std::shared_ptr<Run> run);
  void RecordAbort(Run& run, bool repaint);
  void ReleaseClaim(const Run& run);
  void ReapWorkers();

  EffectHost& host_;
  std::mutex effectLock_;  // the claim of a full run and ProcessingAborted
  bool processingAborted_ = false;
  uint64_t nextRunId_ = 1;
  uint64_t claimRunId_ = 0;  // run that holds the full-run claim

  struct WorkerThread {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::mutex workersMu_;
  std::list<WorkerThread> workers_;
  bool shutDown_ = false;
};

// The driver of this process (set by whoever hosts it).
EffectDriver& Driver();
EffectDriver* DriverIfAny();
void SetDriver(EffectDriver* d);

// --- Services for effect routines ---
void SafeUpdateProgress(int value);
void SafeUpdatePreview(Surface* dest, int value);
void CheckCancellation();
bool IsEffectCancelled();
// Blocking and non-blocking hand-off to the UI thread that keep the run context.
void RunOnUi(const std::function<void()>& fn);
void QueueOnUi(std::function<void()> fn);
// Calls UpdateProgressBar from any thread (queued when off the UI thread).
void UpdateProgressBar(int value);

}  // namespace lq
