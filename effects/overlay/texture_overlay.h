// Texture overlay: a greyscale texture tiled over a picture lightens or
// darkens every pixel by how far the texture there departs from its mean grey.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/gfx/image.h"

namespace lq {

// Grey of every texture pixel, Round(0.299 R + 0.587 G + 0.114 B), and the
// integer mean of them all. Empty for a missing texture (mean 128).
struct TextureGreyMap {
  int width = 0, height = 0;
  int mean = 128;
  std::vector<uint8_t> grey;  // row-major
  int at(int x, int y) const { return grey[size_t(y) * size_t(width) + size_t(x)]; }
};
TextureGreyMap BuildTextureGreyMap(const Image& texture);

// Smallest and largest texture scale honoured; scales outside (0 and NaN
// included) are brought to the nearest of them.
constexpr float kMinTextureScale = 0.1f;
constexpr float kMaxTextureScale = 1000.0f;

// The textured picture: `texture` tiled at `scale` with a random phase,
// strength 0..100 percent. Returns `img` itself when the image or the texture
// is missing or empty. Draws one number from the shared random generator.
Image ApplyCustomTexture(const Image& img, const Image& texture, int strength, float scale);

}  // namespace lq
