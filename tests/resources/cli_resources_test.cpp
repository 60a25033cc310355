// lumaquill-cli resources: the listing and the overview sheet.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "document/codec.h"
#include "resources/repository.h"

namespace lq {
namespace {

namespace fs = std::filesystem;

struct CliRun {
  int status = -1;
  std::string out, err;
};

CliRun RunResources(const std::string& args) {
  fs::path dir = fs::temp_directory_path() / ("lq_res_cli_" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::string cmd = std::string(LQ_RESOURCES_CLI) + " resources " + args + " >" + (dir / "out").string() + " 2>" +
                    (dir / "err").string();
  CliRun r;
  int rc = std::system(cmd.c_str());
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  auto slurp = [](const fs::path& p) {
    std::ifstream f(p);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  };
  r.out = slurp(dir / "out");
  r.err = slurp(dir / "err");
  fs::remove_all(dir);
  return r;
}

TEST(ResourcesCommand, ListsEveryPictureWithItsSize) {
  CliRun r = RunResources("");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const std::string& name : Repository().PictureNames()) {
    auto [w, h] = Repository().PictureSize(name);
    std::string size = std::to_string(w) + " x " + std::to_string(h);
    size_t at = r.out.find(name + " ");
    ASSERT_NE(at, std::string::npos) << name;
    std::string line = r.out.substr(at, r.out.find('\n', at) - at);
    EXPECT_NE(line.find(size), std::string::npos) << line;
  }
}

TEST(ResourcesCommand, WritesTheOverviewSheet) {
  fs::path out = fs::temp_directory_path() / ("lq_sheet_" + std::to_string(getpid()) + ".png");
  CliRun r = RunResources("--sheet " + out.string());
  ASSERT_EQ(r.status, 0) << r.err;
  std::ifstream f(out, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  fs::remove(out);
  Image sheet = DecodeImage(bytes);
  ASSERT_TRUE(sheet);
  EXPECT_GT(sheet.width(), 1000);
  EXPECT_GT(sheet.height(), 1000);

  CliRun bad = RunResources("--sheet /nonexistent-dir/sheet.png");
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("cannot write /nonexistent-dir/sheet.png"), std::string::npos) << bad.err;
}

}  // namespace
}  // namespace lq
