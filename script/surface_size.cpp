#include "script/surface_size.h"

#include "engine/gfx/image.h"
#include "engine/random.h"

namespace lq {

namespace {

// Margins and widths come from user text: keep the sums far from 64-bit overflow.
constexpr int64_t kHuge = int64_t(1) << 40;

int64_t Clamp(int64_t v) { return v > kHuge ? kHuge : (v < -kHuge ? -kHuge : v); }

// Round saturates, so even absurd values give a size that IsValidSize refuses.
int64_t ResizeSide(int current, float value, bool percent) {
  if (!percent) return Round(double(value));
  const int64_t side = Round(double(current) * double(value) / 100.0);
  return side < 1 ? 1 : side;
}

}  // namespace

TSurfaceSize ResizeTargetSize(const TScriptCommand& cmd, int w, int h) {
  return {ResizeSide(w, cmd.ResizeW, cmd.ResizeWPercent), ResizeSide(h, cmd.ResizeH, cmd.ResizeHPercent)};
}

TSurfaceSize ImageFrameSize(int w, int h, int64_t margin, int borderLeft, int borderTop, int borderRight,
                            int borderBottom) {
  const int64_t m2 = 2 * Clamp(margin);
  return {m2 + w + borderLeft + borderRight, m2 + h + borderTop + borderBottom};
}

TSurfaceSize BrushFrameSize(int w, int h, int64_t borderWidth) {
  const int64_t b2 = 2 * Clamp(borderWidth);
  return {w + b2, h + b2};
}

std::string SurfaceSizeError(int32_t lineNumber, TSurfaceSize size) {
  if (IsValidSize(size.Width, size.Height)) return {};
  return "Line " + std::to_string(lineNumber) + ": Could not create " + std::to_string(size.Width) + "x" +
         std::to_string(size.Height) + " surface";
}

}  // namespace lq
