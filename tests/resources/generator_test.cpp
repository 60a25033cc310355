// The generator is deterministic: a fresh run reproduces, byte for byte, the
// pictures the build embedded, and it makes exactly the pictures the
// repository serves.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "resources/repository.h"

namespace lq {
namespace {

namespace fs = std::filesystem;

std::string RunCommand(const std::string& cmd, int* status) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) {
    *status = -1;
    return out;
  }
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  *status = pclose(p);
  return out;
}

std::string FileStem(std::string name) {
  for (char& c : name)
    if (c == '/') c = '_';
  return name;
}

TEST(Generator, MakesExactlyTheEmbeddedPictures) {
  int status = 0;
  std::string list = RunCommand(std::string(LQ_ASSET_GEN) + " --list", &status);
  ASSERT_EQ(status, 0);
  std::set<std::string> generated;
  size_t pos = 0;
  while (pos < list.size()) {
    size_t eol = list.find('\n', pos);
    std::string line = list.substr(pos, eol - pos);
    pos = eol == std::string::npos ? list.size() : eol + 1;
    if (!line.empty()) generated.insert(line.substr(0, line.find(' ')));
  }
  std::set<std::string> served;
  for (const std::string& n : Repository().PictureNames())
    if (n != "Brushes" && n != "Frame" && n != "DefaultImage") served.insert(n);
  EXPECT_EQ(generated, served);
}

TEST(Generator, ReproducesTheEmbeddedBytes) {
  char tmpl[] = "/tmp/lq_gen_XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  fs::path dir = tmpl;
  // One picture of every kind keeps the run short; the build itself is the
  // other run, for all of them.
  const std::vector<std::string> names = {"PastelBrushes",
                                          "WatercolorBrushes",
                                          "TemplateMatchingBrushes",
                                          "PaintBrushSim",
                                          "PaintBrushSim2",
                                          "PaintBrushSim3",
                                          "PencilTexture",
                                          "TextureList/Canvas",
                                          "FrameList/6",
                                          "FrameList/4",
                                          "Logo"};
  std::string cmd = std::string(LQ_ASSET_GEN) + " " + dir.string();
  for (const std::string& n : names) cmd += " " + n;
  int status = 0;
  RunCommand(cmd, &status);
  ASSERT_EQ(status, 0);
  for (const std::string& n : names) {
    SCOPED_TRACE(n);
    std::ifstream in(dir / (FileStem(n) + ".png"), std::ios::binary);
    std::vector<uint8_t> fresh((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::span<const uint8_t> embedded = Repository().EncodedPicture(n);
    ASSERT_FALSE(fresh.empty());
    EXPECT_TRUE(fresh.size() == embedded.size() && std::equal(fresh.begin(), fresh.end(), embedded.begin()));
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace lq
