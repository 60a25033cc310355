// The textures and frames the program carries, by the names users see.
#pragma once

#include <string>
#include <vector>

#include "engine/gfx/image.h"

namespace lq {

// "Canvas", "Paper", "Impasto", "watercolor", "cardboard", "fabric" (the
// ones the program carries, in that order).
std::vector<std::string> BuiltinTextureNames();
// "1" to "7".
std::vector<std::string> BuiltinFrameNames();
// The picture of that name (letter case ignored); empty when there is none.
Image BuiltinTexture(const std::string& name);
Image BuiltinFrame(const std::string& name);

}  // namespace lq
