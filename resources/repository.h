// The pictures the program carries (brush atlases, single brushes, textures,
// frames, the film and pencil textures, the default photograph, the logo),
// by the names the effects and tools use.
//
// Pictures are decoded on first use, once, and then shared read-only by every
// thread; the repository lives for the whole run.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/gfx/image.h"

namespace lq {

struct NamedImage {
  std::string name;
  Image image;
};

// Rows of columns of integers.
using T2DIntArray = std::vector<std::vector<int32_t>>;

class ResourceRepository {
 public:
  ResourceRepository();
  ~ResourceRepository();
  ResourceRepository(const ResourceRepository&) = delete;
  ResourceRepository& operator=(const ResourceRepository&) = delete;

  // A picture by name: "DefaultBrushes", "PastelBrushes", "WatercolorBrushes",
  // "TemplateMatchingBrushes", "Brushes" (the start value of the working
  // atlas, i.e. DefaultBrushes), "PaintBrushSim", "PaintBrushSim2",
  // "PaintBrushSim3", "PencilTexture", "OldFilmTexture", "WatercolorTexture",
  // "VCLwatercolortexture", "DefaultImage", "Frame" (frame "2"), "Logo", and
  // list entries as "TextureList/Paper" or "FrameList/3". Empty for any other
  // name.
  Image Picture(const std::string& name) const;

  // Width and height of a picture, read from its header without decoding it;
  // {0, 0} when unknown.
  std::pair<int, int> PictureSize(const std::string& name) const;

  // Every name Picture() answers, in a fixed order.
  std::vector<std::string> PictureNames() const;

  // The built-in textures: "Canvas", "Paper", "Impasto", "watercolor",
  // "cardboard", "fabric", in that order.
  const std::vector<NamedImage>& TextureList() const;
  // The built-in frames "1" to "7".
  const std::vector<NamedImage>& FrameList() const;
  // The names Picture() knows the list entries by ("TextureList/Canvas" …,
  // "FrameList/1" …), in list order, without decoding anything.
  std::vector<std::string> TextureListNames() const;
  std::vector<std::string> FrameListNames() const;

  // Grey levels of WatercolorTexture, [row][column], each
  // Round(0.299 R + 0.587 G + 0.114 B); empty when the picture is missing.
  const T2DIntArray& WatercolorTexturePixels() const;

  // The encoded (PNG) bytes a picture is decoded from; empty when unknown.
  std::span<const uint8_t> EncodedPicture(const std::string& name) const;

 private:
  struct Impl;
  Impl* impl_;
};

// The repository of this process.
const ResourceRepository& Repository();

}  // namespace lq
