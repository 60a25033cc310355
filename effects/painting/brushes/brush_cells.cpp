// Cutting brush atlases into tips, brush orientation, single-brush masks.
#include <algorithm>
#include <cmath>

#include "effects/painting/brushes/brushes.h"

namespace lq {

namespace {

// Copy of one atlas cell on a transparent kBrushCell square; the part of the
// cell outside the atlas stays transparent. Null when nothing of it is inside.
Image CopyCell(const Image& atlas, int k) {
  if (!atlas) return {};
  int c = k % kBrushAtlasColumns, r = k / kBrushAtlasColumns;
  IRect cell = IRect::MakeXYWH(c * kBrushCell, r * kBrushCell, kBrushCell, kBrushCell);
  IRect inside = cell;
  if (!inside.intersect(IRect::MakeWH(atlas.width(), atlas.height()))) return {};
  std::vector<uint32_t> px(size_t(kBrushCell) * kBrushCell, 0);
  ConstPixelView v = atlas.PeekPixels();
  for (int y = inside.top; y < inside.bottom; ++y) {
    const uint32_t* src = v.row(y);
    std::copy(src + inside.left, src + inside.right,
              px.begin() + ptrdiff_t(y - cell.top) * kBrushCell + (inside.left - cell.left));
  }
  return Image::MakeFromPixels(kBrushCell, kBrushCell, std::move(px));
}

// A cell holds a brush when its centre column crosses paint at one of five rows.
bool IsUsableCell(const Image& cell) {
  ConstPixelView v = cell.PeekPixels();
  for (int y : {64, 96, 128, 160, 192})
    if ((v.at(128, y) >> 24) > 10) return true;
  return false;
}

}  // namespace

BrushTable ExtractBrushCells(const Image& atlas) {
  BrushTable table;
  if (!atlas) return table;
  int candidates = (atlas.height() / kBrushCell) * kBrushAtlasColumns;
  for (int k = 0; k < candidates; ++k) {
    int c = k % kBrushAtlasColumns, r = k / kBrushAtlasColumns;
    if (atlas.width() < kBrushCell * (c + 1) || atlas.height() < kBrushCell * (r + 1)) break;
    Image cell = CopyCell(atlas, k);
    if (cell && IsUsableCell(cell)) table.emplace_back(cell);
  }
  return table;
}

void ExtractFixedBrushCells(const Image& sheet, int count, BrushTable& brushes, std::vector<float>& angles) {
  // One past the last cell that overlaps the sheet.
  int inSheet = 0;
  if (sheet) {
    int cols = std::min(kBrushAtlasColumns, (sheet.width() + kBrushCell - 1) / kBrushCell);
    int rows = (sheet.height() + kBrushCell - 1) / kBrushCell;
    inSheet = (rows - 1) * kBrushAtlasColumns + cols;
  }
  count = std::clamp(count, 0, inSheet);
  brushes.assign(size_t(count), BrushTip());
  angles.assign(size_t(count), 0.0f);
  for (int k = 0; k < count; ++k) {
    Image cell = CopyCell(sheet, k);
    if (!cell) continue;  // outside the sheet: an absent (transparent) brush
    brushes[size_t(k)] = BrushTip(cell);
    angles[size_t(k)] = ComputeBrushAngle(cell);
  }
}

float ComputeBrushAngle(const Image& brush) {
  if (!brush) return 0.0f;
  ConstPixelView v = brush.PeekPixels();
  double m = 0, sx = 0, sy = 0;
  for (int y = 0; y < v.height; ++y) {
    const uint32_t* row = v.row(y);
    for (int x = 0; x < v.width; ++x) {
      double a = double(row[x] >> 24);
      if (a <= 0) continue;
      m += a;
      sx += a * x;
      sy += a * y;
    }
  }
  if (m < 1) return 0.0f;
  double cx = sx / m, cy = sy / m;
  double mxx = 0, myy = 0, mxy = 0;
  for (int y = 0; y < v.height; ++y) {
    const uint32_t* row = v.row(y);
    double dy = y - cy;
    for (int x = 0; x < v.width; ++x) {
      double a = double(row[x] >> 24);
      if (a <= 0) continue;
      double dx = x - cx;
      mxx += a * dx * dx;
      myy += a * dy * dy;
      mxy += a * dx * dy;
    }
  }
  return float(0.5 * std::atan2(2 * mxy, mxx - myy));
}

void ExtractBrushMask(const Image& img, std::vector<uint8_t>& alpha, int& W, int& H) {
  if (img && img.width() > 0 && img.height() > 0) {
    W = img.width();
    H = img.height();
    alpha.resize(size_t(W) * size_t(H));
    ConstPixelView v = img.PeekPixels();
    for (int y = 0; y < H; ++y) {
      const uint32_t* row = v.row(y);
      for (int x = 0; x < W; ++x) alpha[size_t(y) * W + x] = uint8_t(row[x] >> 24);
    }
    return;
  }
  W = H = 32;
  alpha.assign(32 * 32, 0);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      double dx = x - 16, dy = y - 16, d = std::sqrt(dx * dx + dy * dy);
      if (d < 16) alpha[size_t(y) * 32 + x] = uint8_t(std::clamp<int64_t>(Round((1 - d / 16) * 255), 0, 255));
    }
}

}  // namespace lq
