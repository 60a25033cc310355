#include "cli/image_io.h"

#include <filesystem>

#include "document/imagefile.h"

namespace lq::cli {

namespace fs = std::filesystem;

Image LoadImage(const std::string& path, std::string* error) { return ReadImageFile(path, error); }

bool SaveImage(const Image& img, const std::string& path, std::string* error) {
  return WriteImageFile(img, path, error);
}

std::string OutputNameFor(const std::string& inputPath) {
  SaveSuggestion s = SuggestSaveName(inputPath);
  return (fs::path(s.folder) / s.fileName).string();
}

}  // namespace lq::cli
