// Watercolor 2: flat washes grown from random seeds. The routine itself is
// registered as effect 301; the helpers here are shared with its tests.
#pragma once

#include <cstdint>

#include "engine/driver.h"

namespace lq {

void RegionGrowing(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview);

namespace watercolor2 {

// Percent shown while seeding: painted share of the picture scaled to 0..84.
// 64-bit, so pictures of more than 25 megapixels never report a negative value.
int SeedProgress(int64_t painted, int64_t pixels);

// Name of the paper picture in the repository of embedded pictures.
inline constexpr const char* kPaperTextureName = "VCLwatercolortexture";

}  // namespace watercolor2
}  // namespace lq
