// Custom brushes: a grid atlas (256-pixel cells, 8 per row) built from PNG
// files and ZIP archives of PNG files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/gfx/image.h"

namespace lq {

// Shown (translated) when nothing could be loaded.
inline constexpr const char* kBrushLoadError = "Error loading custom brushes";

// What the loader accepts. Files and archive entries are read only up to
// maxFileBytes, whatever size they claim; larger ones are skipped.
struct BrushLoadLimits {
  size_t maxFileBytes = size_t(64) << 20;
  int maxDimension = 8192;                // width and height of one brush
  int64_t maxPixels = int64_t(16) << 20;  // width x height of one brush
  int maxBrushes = 256;                   // later brushes are ignored
  int maxArchiveEntries = 10000;          // entries looked at per archive
};

struct BrushLoadResult {
  int count = 0;        // brushes in the atlas; 0 = nothing loaded
  Image atlas;          // 2048 x 256 * ceil(count / 8), empty when count is 0
  int skipped = 0;      // files or entries that could not be used
  std::string message;  // kBrushLoadError when count is 0, else empty
};

// Loads every readable PNG (".png" files, and ".png" entries of ".zip"
// archives, extensions in any case) in list order, fits each into its cell
// (scaled to the cell, aspect kept, centred, nearest-neighbour) and returns
// the atlas. Unreadable files, archives that cannot be opened, corrupt or
// oversized entries are skipped; nothing here throws.
BrushLoadResult LoadBrushesToRepository(const std::vector<std::string>& fileNames,
                                        const BrushLoadLimits& limits = BrushLoadLimits());

}  // namespace lq
