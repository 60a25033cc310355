#include "cli/image_io.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "document/codec.h"

namespace lq::cli {

namespace fs = std::filesystem;

namespace {
std::string LowerExt(const std::string& path) {
  std::string e = fs::path(path).extension().string();
  for (auto& c : e) c = char(std::tolower(static_cast<unsigned char>(c)));
  return e;
}
}  // namespace

Image LoadImage(const std::string& path, std::string* error) {
  std::ifstream f(path, std::ios::binary);
  std::vector<uint8_t> bytes;
  if (f) bytes.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  Image img = f ? DecodeImage(bytes) : Image();
  if (!img && error) *error = "Failed to load image: " + fs::path(path).filename().string();
  return img;
}

bool SaveImage(const Image& img, const std::string& path, std::string* error) {
  std::string ext = LowerExt(path);
  std::vector<uint8_t> bytes;
  if (ext == ".jpg" || ext == ".jpeg")
    bytes = EncodeJpeg(img, 80);
  else if (ext == ".png")
    bytes = EncodePng(img);
  else {
    if (error) *error = "Invalid extension";
    return false;
  }
  if (bytes.empty()) {
    if (error) *error = "Could not encode " + path;
    return false;
  }
  std::string tmp = path + ".tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!f.flush()) {
      std::remove(tmp.c_str());
      if (error) *error = "Could not write " + path;
      return false;
    }
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    if (error) *error = "Could not write " + path;
    return false;
  }
  return true;
}

std::string OutputNameFor(const std::string& inputPath) {
  fs::path p(inputPath);
  std::string ext = LowerExt(inputPath);
  if (ext != ".jpg" && ext != ".jpeg" && ext != ".png" && ext != ".webp") ext = ".png";
  return (p.parent_path() / (p.stem().string() + "_LQ" + ext)).string();
}

}  // namespace lq::cli
