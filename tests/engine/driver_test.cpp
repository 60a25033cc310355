#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "engine/catalogue.h"
#include "engine/headless_host.h"

using namespace lq;
using namespace std::chrono_literals;

namespace {

Image Solid(int w, int h, TAlphaColor c) {
  return Image::MakeFromPixels(w, h, std::vector<uint32_t>(size_t(w) * size_t(h), c), true);
}

void Fill(Surface& d, TAlphaColor c) { d.GetCanvas()->Clear(c); }

std::atomic<int> g_lastW{0}, g_lastH{0};
std::atomic<int> g_p[5];
std::atomic<bool> g_wipShown{false};

// Records the crop it received and fills with a colour from P1.
void ProbeProc(const Image& src, Surface& d, int p1, int p2, int p3, int p4, int p5, bool) {
  g_lastW = src.width();
  g_lastH = src.height();
  int ps[5] = {p1, p2, p3, p4, p5};
  for (int i = 0; i < 5; ++i) g_p[i] = ps[i];
  Fill(d, 0xFF000000u | uint32_t(p1));
}

// Works for P2 x 10 ms without any check, then fills.
void SlowUncheckedProc(const Image&, Surface& d, int p1, int p2, int, int, int, bool) {
  std::this_thread::sleep_for(std::chrono::milliseconds(p2 * 10));
  Fill(d, 0xFF000000u | uint32_t(p1));
}

// Reports progress until cancelled or P2 x 10 ms have passed.
void SlowCheckedProc(const Image&, Surface& d, int p1, int p2, int, int, int, bool) {
  for (int i = 0; i < p2; ++i) {
    SafeUpdateProgress(i);
    std::this_thread::sleep_for(10ms);
  }
  Fill(d, 0xFF000000u | uint32_t(p1));
  SafeUpdateProgress(101);
}

// Shows a work-in-progress image, then waits to be cancelled.
void WipProc(const Image& src, Surface& d, int, int, int, int, int, bool) {
  Fill(d, 0xFF112233);
  Image snap = d.MakeImageSnapshot();
  RunOnUi([&] { Driver().UpdateDisplayImage(snap, 10); });
  g_wipShown = true;
  for (int i = 0; i < 500; ++i) {
    CheckCancellation();
    std::this_thread::sleep_for(5ms);
  }
  (void)src;
}

// Says it has finished early, then keeps working for a while.
void EarlyFinishProc(const Image&, Surface& d, int, int, int, int, int, bool) {
  UpdateProgressBar(101);
  std::this_thread::sleep_for(150ms);
  Fill(d, 0xFF445566);
}

void ThrowingProc(const Image&, Surface&, int, int, int, int, int, bool) { throw std::runtime_error("boom"); }

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterEffectProc(950, ProbeProc);
    RegisterEffectProc(951, SlowUncheckedProc);
    RegisterEffectProc(952, SlowCheckedProc);
    RegisterEffectProc(953, WipProc);
    RegisterEffectProc(954, EarlyFinishProc);
    RegisterEffectProc(955, ThrowingProc);
    host = std::make_unique<HeadlessHost>();
  }
  void TearDown() override { host.reset(); }
  EffectDriver& d() { return host->driver(); }
  std::unique_ptr<HeadlessHost> host;
};

}  // namespace

TEST_F(DriverTest, NoImageLoaded) {
  d().ProcessEffect(950, 1, 0, 0, 0, 0, false);
  ASSERT_EQ(host->messages.size(), 1u);
  EXPECT_EQ(host->messages[0], "No image loaded");
  EXPECT_FALSE(d().IsEffectRunning());
}

TEST_F(DriverTest, PreviewGeometry) {
  struct Case {
    int w, h;
    float zoom;
    int startX, startY;
    int cropW, cropH, expStartX, expStartY;
  } cases[] = {
      {600, 400, 2.0f, 100, 100, 112, 112, 100, 100},  // 225 / 2 rounds half to even
      {600, 400, 1.0f, 500, 0, 225, 225, 375, 0},      // start moved into the image
      {100, 80, 1.0f, 0, 0, 100, 80, 0, 0},            // smaller than the panel
  };
  for (const Case& c : cases) {
    host->SetImage(Solid(c.w, c.h, 0xFF808080));
    d().FPreviewZoomFactor = c.zoom;
    d().PreviewStartX = c.startX;
    d().PreviewStartY = c.startY;
    host->RunPreview(950, {7, 0, 0, 0, 0});
    EXPECT_EQ(g_lastW.load(), c.cropW);
    EXPECT_EQ(g_lastH.load(), c.cropH);
    EXPECT_EQ(d().PreviewStartX.load(), c.expStartX);
    EXPECT_EQ(d().PreviewStartY.load(), c.expStartY);
    ASSERT_TRUE(host->previewBitmap);
    EXPECT_EQ(host->previewBitmap.width(), 225);  // always drawn to the panel size
    EXPECT_EQ(host->previewBitmap.height(), 225);
    EXPECT_EQ(host->previewBitmap.PeekPixels().at(112, 112), 0xFF000007u);
  }
}

TEST_F(DriverTest, OnlyTheNewestOfTwoPreviewsIsDrawn) {
  host->SetImage(Solid(300, 300, 0xFF808080));
  d().ProcessEffect(951, 1, 6, 0, 0, 0, true);
  std::this_thread::sleep_for(10ms);
  d().ProcessEffect(951, 2, 6, 0, 0, 0, true);
  d().WaitForWorkers(5000);
  host->loop().ProcessPending();
  EXPECT_EQ(host->previewDraws, 1);
  EXPECT_EQ(host->previewBitmap.PeekPixels().at(0, 0), 0xFF000002u);
}

TEST_F(DriverTest, FullRunDuringPreviewBothFinish) {
  host->SetImage(Solid(300, 300, 0xFF808080));
  d().ProcessEffect(951, 3, 10, 0, 0, 0, true);
  auto outcome = host->RunFull(950, {9, 0, 0, 0, 0}, 5000);
  d().WaitForWorkers(5000);
  host->loop().ProcessPending();
  EXPECT_EQ(outcome, EffectHost::Outcome::Succeeded);
  EXPECT_EQ(d().VIrImage.PeekPixels().at(5, 5), 0xFF000009u);
  EXPECT_EQ(host->previewDraws, 1);
  EXPECT_EQ(host->history().Count(), 2);
}

TEST_F(DriverTest, SecondApplyGetsBusyMessageNamingTheEffect) {
  TEffectProc saved = FindEffectProc(300);
  RegisterEffectProc(300, SlowCheckedProc);
  host->SetImage(Solid(50, 50, 0xFF808080));
  d().ProcessEffect(300, 1, 20, 0, 0, 0, false);
  d().ProcessEffect(300, 1, 20, 0, 0, 0, false);
  ASSERT_EQ(host->messages.size(), 1u);
  EXPECT_EQ(host->messages[0], "Please wait for \"Watercolor\" to finish processing.");
  d().WaitForWorkers(5000);
  RegisterEffectProc(300, saved);
}

TEST_F(DriverTest, CancelKeepsWorkInProgressAsHistoryState) {
  host->SetImage(Solid(40, 40, 0xFF808080));
  int before = host->history().Count();
  g_wipShown = false;
  d().ProcessEffect(953, 0, 0, 0, 0, 0, false);
  host->loop().RunUntil([] { return g_wipShown.load(); }, 5000);
  host->loop().ProcessPending();
  d().Cancel = true;
  host->loop().RunUntil([&] { return host->fullRunsEnded == 1; }, 5000);
  EXPECT_EQ(host->lastOutcome, EffectHost::Outcome::Aborted);
  EXPECT_EQ(d().VIrImage.PeekPixels().at(0, 0), 0xFF112233u);
  EXPECT_EQ(host->history().Count(), before + 1);
  EXPECT_FALSE(d().IsEffectRunning());
  EXPECT_EQ(host->progress, -1);
}

TEST_F(DriverTest, CancelBeforeAnyWorkKeepsRedoBranch) {
  host->SetImage(Solid(40, 40, 0xFF808080));
  host->RunFull(950, {1, 0, 0, 0, 0});
  Image a, s;
  ASSERT_TRUE(host->history().Undo(a, s));
  d().ProcessEffect(952, 1, 100, 0, 0, 0, false);
  d().Cancel = true;
  host->loop().RunUntil([&] { return host->fullRunsEnded == 2; }, 5000);
  EXPECT_EQ(host->lastOutcome, EffectHost::Outcome::Aborted);
  EXPECT_EQ(host->history().Count(), 2);
  EXPECT_TRUE(host->history().Redo(a, s));  // the redo branch survived
}

TEST_F(DriverTest, EarlyFinishReportDoesNotReleaseTheClaim) {
  host->SetImage(Solid(40, 40, 0xFF808080));
  d().ProcessEffect(954, 0, 0, 0, 0, 0, false);
  host->loop().RunUntil([] { return false; }, 60);  // the 101 has been processed
  EXPECT_TRUE(d().IsEffectRunning());
  d().ProcessEffect(950, 1, 0, 0, 0, 0, false);
  EXPECT_EQ(host->messages.size(), 1u);  // busy
  host->loop().RunUntil([&] { return host->fullRunsEnded == 1; }, 5000);
  EXPECT_EQ(host->lastOutcome, EffectHost::Outcome::Succeeded);
  EXPECT_FALSE(d().IsEffectRunning());
}

TEST_F(DriverTest, StalePreviewDoesNotTouchFullRunProgress) {
  host->SetImage(Solid(200, 200, 0xFF808080));
  d().ProcessEffect(952, 1, 30, 0, 0, 0, false);
  host->loop().RunUntil([&] { return host->progress >= 0; }, 5000);
  // A preview that goes stale aborts through CheckCancellation.
  d().ProcessEffect(952, 1, 30, 0, 0, 0, true);
  d().InvalidatePreviews();
  host->loop().RunUntil([] { return false; }, 80);
  EXPECT_TRUE(d().IsEffectRunning());
  EXPECT_GE(host->progress, 0);  // still shown
  host->loop().RunUntil([&] { return host->fullRunsEnded == 1; }, 5000);
  EXPECT_EQ(host->lastOutcome, EffectHost::Outcome::Succeeded);
}

TEST_F(DriverTest, ResultIsDroppedWhenTheSourceChanged) {
  host->SetImage(Solid(40, 40, 0xFF808080));
  d().ProcessEffect(951, 1, 10, 0, 0, 0, false);
  host->loop().RunUntil([] { return false; }, 30);  // the run has taken its source
  Image other = Solid(10, 10, 0xFF00FF00);
  d().VIrImage = other;
  d().VIrSourceImage = other;
  host->loop().RunUntil([&] { return host->fullRunsEnded == 1; }, 5000);
  EXPECT_EQ(host->lastOutcome, EffectHost::Outcome::Dropped);
  EXPECT_EQ(d().VIrImage, other);
  EXPECT_FALSE(d().IsEffectRunning());
}

TEST_F(DriverTest, FailureReleasesClaimAndParamsAreClamped) {
  host->SetImage(Solid(40, 40, 0xFF808080));
  EXPECT_EQ(host->RunFull(955, {0, 0, 0, 0, 0}, 5000), EffectHost::Outcome::Failed);
  EXPECT_FALSE(d().IsEffectRunning());
  EXPECT_EQ(host->RunFull(950, {150, -5, 100, 0, 1000}, 5000), EffectHost::Outcome::Succeeded);
  EXPECT_EQ(g_p[0].load(), 100);
  EXPECT_EQ(g_p[1].load(), 0);
  EXPECT_EQ(g_p[4].load(), 100);
}

TEST_F(DriverTest, SynchronousRuns) {
  host->SetImage(Solid(20, 20, 0xFF808080));
  auto dest = Surface::MakeRaster(20, 20);
  Fill(*dest, 0xFFABCDEF);
  // Unknown numbers and the brushstroke frame have no routine here.
  d().ProcessEffectOnSurface(d().VIrSourceImage, *dest, 900, 50, 50, 50, 50, 50);
  d().ProcessEffectOnSurface(d().VIrSourceImage, *dest, 12345, 50, 50, 50, 50, 50);
  EXPECT_EQ(dest->PeekPixels().at(3, 3), 0xFFABCDEFu);
  // Work in progress of a synchronous run is not shown; cancellation reaches the caller.
  Image shown = d().VIrImage;
  d().Cancel = false;
  std::thread t([&] {
    try {
      d().ProcessEffectOnSurface(shown, *dest, 953, 0, 0, 0, 0, 0);
    } catch (const EAbort&) {
      g_wipShown = false;
    }
  });
  host->loop().RunUntil([] { return g_wipShown.load(); }, 5000);
  d().Cancel = true;
  host->loop().RunUntil([] { return !g_wipShown.load(); }, 5000);
  t.join();
  EXPECT_EQ(d().VIrImage, shown);
}

TEST_F(DriverTest, PreviewLaunchLeavesAPendingCancelAlone) {
  host->SetImage(Solid(60, 60, 0xFF808080));
  d().ProcessEffect(952, 1, 100, 0, 0, 0, false);
  host->loop().RunUntil([&] { return host->progress >= 0; }, 5000);
  d().Cancel = true;                                 // Escape
  d().ProcessEffect(950, 1, 0, 0, 0, 0, true);       // the preview timer fires meanwhile
  host->loop().RunUntil([&] { return host->fullRunsEnded == 1; }, 5000);
  EXPECT_EQ(host->lastOutcome, EffectHost::Outcome::Aborted);
  d().WaitForWorkers(5000);
}

TEST_F(DriverTest, SynchronousRunsClampParameters) {
  host->SetImage(Solid(8, 8, 0xFF808080));
  auto dest = Surface::MakeRaster(8, 8);
  d().ProcessEffectOnSurface(d().VIrSourceImage, *dest, 950, -40, 250, 7, 100, 101);
  EXPECT_EQ(g_p[0].load(), 0);
  EXPECT_EQ(g_p[1].load(), 100);
  EXPECT_EQ(g_p[2].load(), 7);
  EXPECT_EQ(g_p[4].load(), 100);
}
