#include "effects/overlay/builtin_pictures.h"

#include <strings.h>

#include "effects/photolab/photolab_common.h"
#include "resources/repository.h"

namespace lq {

namespace {

const std::vector<std::string> kTextureNames = {"Canvas", "Paper", "Impasto", "watercolor", "cardboard", "fabric"};
const std::vector<std::string> kFrameNames = {"1", "2", "3", "4", "5", "6", "7"};

Image FromList(const std::vector<std::string>& names, const std::string& list, const std::string& name) {
  for (const std::string& n : names)
    if (strcasecmp(n.c_str(), name.c_str()) == 0) return photolab::EmbeddedPicture(list + "/" + n);
  return {};
}

// The names the program carries a picture for (read from the picture
// headers, nothing is decoded).
std::vector<std::string> Present(const std::vector<std::string>& names, const std::string& list) {
  std::vector<std::string> out;
  for (const std::string& n : names)
    if (Repository().PictureSize(list + "/" + n).first > 0) out.push_back(n);
  return out;
}

}  // namespace

std::vector<std::string> BuiltinTextureNames() { return Present(kTextureNames, "TextureList"); }
std::vector<std::string> BuiltinFrameNames() { return Present(kFrameNames, "FrameList"); }
Image BuiltinTexture(const std::string& name) { return FromList(kTextureNames, "TextureList", name); }
Image BuiltinFrame(const std::string& name) { return FromList(kFrameNames, "FrameList", name); }

}  // namespace lq
