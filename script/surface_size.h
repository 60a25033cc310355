// Sizes of the images a script step makes, worked out in 64 bits so the
// executor can refuse a size the engine cannot allocate before allocating it.
#pragma once

#include <cstdint>
#include <string>

#include "script/script_types.h"

namespace lq {

struct TSurfaceSize {
  int64_t Width = 0;
  int64_t Height = 0;
  bool operator==(const TSurfaceSize&) const = default;
};

// RESIZE on a current image of w x h: a percentage is rounded (half to even)
// and at least 1; a pixel count is rounded with no lower limit.
TSurfaceSize ResizeTargetSize(const TScriptCommand& cmd, int w, int h);

// An image frame around a w x h picture: the margin on every side plus the
// frame's borders (left, top, right, bottom, in frame pixels).
TSurfaceSize ImageFrameSize(int w, int h, int64_t margin, int borderLeft, int borderTop, int borderRight,
                            int borderBottom);

// A painted brushstroke border of the given width on every side.
TSurfaceSize BrushFrameSize(int w, int h, int64_t borderWidth);

// Empty when the engine can make a surface of that size; otherwise
// "Line %d: Could not create %dx%d surface".
std::string SurfaceSizeError(int32_t lineNumber, TSurfaceSize size);

}  // namespace lq
