// A labelled grid of thumbnails.
#pragma once

#include <string>
#include <vector>

#include "engine/gfx/image.h"

namespace lq::cli {

struct SheetItem {
  Image image;
  std::string label;
};

// Thumbnails fit into cells of `cellWidth` pixels, `columns` per row, each
// with its label underneath, on a light background.
Image MakeContactSheet(const std::vector<SheetItem>& items, int columns, int cellWidth, const std::string& title);

}  // namespace lq::cli
