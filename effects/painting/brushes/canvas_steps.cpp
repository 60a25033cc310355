// The start canvas of painting effects and the relief shading of dabs.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "effects/painting/brushes/brushes.h"
#include "engine/driver.h"

namespace lq {

namespace {
// Clears dest and copies img's top-left part onto it, unscaled.
void ClearAndCopy(const Image& img, Surface& dest) {
  PixelView d = dest.PeekPixels();
  ConstPixelView s = img ? img.PeekPixels() : ConstPixelView();
  int w = s ? std::min(s.width, d.width) : 0, h = s ? std::min(s.height, d.height) : 0;
  for (int y = 0; y < d.height; ++y) {
    uint32_t* row = d.row(y);
    if (y < h) {
      std::memcpy(row, s.row(y), size_t(w) * 4);
      std::memset(row + w, 0, size_t(d.width - w) * 4);
    } else {
      std::memset(row, 0, size_t(d.width) * 4);
    }
  }
}
}  // namespace

bool PrepareStartCanvas(Surface& dest, const Image& source) {
  // The switch and the start image belong to the UI thread; read them there,
  // then do the pixel work here.
  bool doClear = false;
  Image start;
  RunOnUi([&] {
    EffectDriver& d = Driver();
    doClear = d.FEraseBdChecked.load();
    if (!doClear) start = d.StartImage();
  });
  if (doClear) {
    bool translucent = source && HasAnyTranslucentPixel(source.PeekPixels());
    dest.GetCanvas()->Clear(translucent ? 0x00000000u : 0xFFFFFFFFu);
  } else if (start) {
    ClearAndCopy(start, dest);
  }
  return doClear;
}

void CopySourceToDest(const Image& source, Surface& dest) { ClearAndCopy(source, dest); }

void RequireDestOfSourceSize(const Image& source, Surface& dest) {
  if (!source || dest.width() != source.width() || dest.height() != source.height())
    throw std::invalid_argument("The destination does not match the picture's size");
}

void FinishUnpainted(const Image& source, Surface& dest, bool preview) {
  CopySourceToDest(source, dest);
  if (preview) {
    LastUIUpdateTick = 0;
    SafeUpdatePreview(&dest, 101);
  } else {
    UpdateProgressBar(101);
  }
}

Image RunBrushAtlas(int* brushCount) {
  if (RunContext* ctx = CurrentRun()) {
    if (brushCount) *brushCount = ctx->brushCount;
    return ctx->brushes;
  }
  // Called outside any run (a tool drawing directly): the last choice is all there is.
  Image atlas;
  int count = 0;
  RunOnUi([&] {
    atlas = Driver().Brushes;
    count = Driver().GlobalBrushCount;
  });
  if (brushCount) *brushCount = count;
  return atlas;
}

void ApplyImpastoRelief(const PixelView& scratch, int C, int a, int K, int lo, int hi, const IRect& painted) {
  if (!scratch || a <= 0) return;
  // Neighbours one pixel away are read, so the border rows and columns stay out.
  lo = std::max(lo, 1);
  hi = std::min(hi, std::min(scratch.width, scratch.height) - 2);
  int half = a / 2;
  int d = std::max(1, half + a / 4);
  // Only the diamond |i - C| + |j - C| < d can change.
  int i0 = std::max({lo, C - d + 1, painted.top}), i1 = std::min({hi, C + d - 1, painted.bottom - 1});
  for (int i = i0; i <= i1; ++i) {
    int reach = d - 1 - std::abs(i - C);
    int j0 = std::max({lo, C - reach, painted.left}), j1 = std::min({hi, C + reach, painted.right - 1});
    uint32_t* row = scratch.row(i);
    const uint32_t* up = scratch.row(i - 1);
    const uint32_t* down = scratch.row(i + 1);
    for (int j = j0; j <= j1; ++j) {
      uint32_t px = row[j];
      int l = int(px >> 24);
      if (l <= 5) continue;
      int gx = std::clamp(int(row[j + 1] >> 24) - int(row[j - 1] >> 24), -40, 40);
      int gy = std::clamp(int(down[j] >> 24) - int(up[j] >> 24), -40, 40);
      int v = std::abs(j - C) + std::abs(i - C);
      int wA = l * l / 255;
      int fall = 255 - v * 255 / d;
      int A = (gx - gy) * K / 10;
      A = A * wA / 255;
      A = A * (fall * fall / 255) / 255;
      A = std::clamp(A, -50, 50);
      if (A == 0) continue;
      uint32_t out = px & 0xFF000000u;
      if (A < 0) {
        int f = 255 - (-A) / 2;
        for (int sh = 0; sh < 24; sh += 8) out |= uint32_t((int((px >> sh) & 255) * f) >> 8) << sh;
      } else {
        for (int sh = 0; sh < 24; sh += 8) {
          int ch = int((px >> sh) & 255);
          out |= uint32_t(std::clamp(ch + A * (l - ch) / 512, 0, 255)) << sh;
        }
      }
      row[j] = out;
    }
  }
}

bool WorkInProgressDisplay::Ready() {
  RunContext* ctx = CurrentRun();
  if (ctx && ctx->kind != RunKind::Full) return false;  // nobody would see it
  if (pending_->load() || IsEffectCancelled()) return false;
  uint32_t now = GetTickCount();
  if (lastShown_ != 0 && uint32_t(now - lastShown_) < minInterval_) return false;
  readyAt_ = now;
  return true;
}

void WorkInProgressDisplay::Show(const Image& img, int progress, bool final) {
  uint32_t now = GetTickCount();
  if (readyAt_ != 0) minInterval_ = std::max<uint32_t>(200, 10 * uint32_t(now - readyAt_));
  lastShown_ = now;
  readyAt_ = 0;
  if (Driver().ui().IsUiThread()) {
    Driver().UpdateDisplayImage(img, progress);
    return;
  }
  if (!final && (IsEffectCancelled() || pending_->exchange(true))) return;
  auto pending = pending_;
  QueueOnUi([img, progress, pending, final] {
    if (!final) pending->store(false);
    if (!final && Driver().Cancel.load()) return;
    Driver().UpdateDisplayImage(img, progress);
  });
}

}  // namespace lq
