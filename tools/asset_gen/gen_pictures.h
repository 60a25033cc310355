// The pictures the generator makes, by repository name.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/asset_gen/gen_common.h"

namespace lq::gen {

struct PictureDef {
  std::string name;  // repository name, e.g. "PastelBrushes" or "FrameList/3"
  int width = 0, height = 0;
  std::function<Raster()> make;
};

// File name (without ".png") of a picture: list entries use '_' for '/'.
std::string FileStem(const std::string& name);

// Every generated picture, in a fixed order.
std::vector<PictureDef> AllPictures();

void AddBrushPictures(std::vector<PictureDef>& out);
void AddTexturePictures(std::vector<PictureDef>& out);
void AddFramePictures(std::vector<PictureDef>& out);
void AddLogoPictures(std::vector<PictureDef>& out);

// Grid-atlas facts the generator checks before it writes anything: cell k is
// empty (alpha 0 everywhere), and the centre-column probe of the painting
// effects (column 128, rows 64/96/128/160/192, alpha above 10).
bool CellEmpty(const Raster& atlas, int k);
bool CellPassesProbe(const Raster& atlas, int k);

// Squared-distance transform: for every pixel with mask > 0.5, the distance
// in pixels to the nearest pixel outside; 0 outside.
Field DistanceInside(const Field& mask);

}  // namespace lq::gen
