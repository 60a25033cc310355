// Reading and writing image files for the command line.
#pragma once

#include <string>

#include "engine/gfx/image.h"

namespace lq::cli {

// The image, or an empty one with *error = "Failed to load image: " + name.
Image LoadImage(const std::string& path, std::string* error);
// Writes by extension; on failure an existing file at path is left as it was.
bool SaveImage(const Image& img, const std::string& path, std::string* error);
// Output name beside the input: name + "_LQ" + extension (".png" for formats we do not write).
std::string OutputNameFor(const std::string& inputPath);

}  // namespace lq::cli
