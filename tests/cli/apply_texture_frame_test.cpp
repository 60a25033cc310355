#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "document/codec.h"
#include "tests/cli/cli_process.h"
#include "tests/support/harness.h"

using namespace lq;
namespace fs = std::filesystem;

namespace {

class ApplyTextureFrame : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("lqcli_overlay_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    // 400 x 300 picture, a 300 x 300 frame with 50-pixel borders, a texture.
    ASSERT_TRUE(test::WritePng(test::TestPattern(400, 300), Path("in.png")));
    std::vector<uint32_t> px(300 * 300, 0);
    for (int y = 0; y < 300; ++y)
      for (int x = 0; x < 300; ++x)
        if (x < 50 || x >= 250 || y < 50 || y >= 250) px[size_t(y) * 300 + x] = 0xFF6B4A2Au;
    ASSERT_TRUE(test::WritePng(Image::MakeFromPixels(300, 300, std::move(px)), Path("frame.png")));
    ASSERT_TRUE(test::WritePng(test::TestPattern(64, 64), Path("texture.png")));
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string Path(const std::string& name) { return (dir / name).string(); }

  // Runs lumaquill-cli; returns its exit status, stderr in *err.
  int Run(const std::vector<std::string>& args, std::string* err = nullptr) {
    test::CliResult r = test::RunCli(args, dir);
    if (err) *err = r.err;
    return r.status;
  }
  Image Load(const std::string& name) {
    std::ifstream f(Path(name), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    return DecodeImage(bytes);
  }
  fs::path dir;
};

}  // namespace

TEST_F(ApplyTextureFrame, NoneAppliesOnlyTheFrame) {
  ASSERT_EQ(Run({"apply", "none", Path("in.png"), "--frame", Path("frame.png"), "--frame-margin", "20", "--frame-color",
                 "#FF102030", "-o", Path("framed.png")}),
            0);
  Image out = Load("framed.png");
  ASSERT_TRUE(out);
  EXPECT_EQ(out.width(), 540);
  EXPECT_EQ(out.height(), 440);
  Image in = Load("in.png");
  EXPECT_EQ(out.PeekPixels().at(70, 70), in.PeekPixels().at(0, 0));
  EXPECT_EQ(out.PeekPixels().at(60, 60), 0xFF102030u);
  EXPECT_EQ(out.PeekPixels().at(10, 10), 0xFF6B4A2Au);
}

TEST_F(ApplyTextureFrame, TextureThenFrameAfterTheEffect) {
  // Strength 0 changes nothing; a real strength does.
  ASSERT_EQ(Run({"apply", "none", Path("in.png"), "--texture", Path("texture.png"), "--texture-strength", "0", "-o",
                 Path("t0.png")}),
            0);
  EXPECT_EQ(test::MaxChannelDiff(Load("t0.png"), Load("in.png")), 0);
  ASSERT_EQ(Run({"apply", "none", Path("in.png"), "--texture", Path("texture.png"), "--texture-strength", "100",
                 "--texture-scale", "0.5", "-o", Path("t100.png")}),
            0);
  EXPECT_GT(test::MaxChannelDiff(Load("t100.png"), Load("in.png")), 10);
  // An effect, then both: the output has the framed size.
  ASSERT_EQ(Run({"apply", "RetroFilm", Path("in.png"), "--texture", Path("texture.png"), "--frame", Path("frame.png"),
                 "--frame-margin", "0", "-o", Path("both.png")}),
            0);
  Image both = Load("both.png");
  EXPECT_EQ(both.width(), 500);
  EXPECT_EQ(both.height(), 400);
}

TEST_F(ApplyTextureFrame, BadOptionsAreRefusedWithAMessage) {
  std::vector<std::vector<std::string>> cases = {
      {"apply", "none", Path("in.png"), "-o", Path("x.png")},  // nothing to apply
      {"apply", "none", Path("in.png"), "--texture", "NoSuchTexture", "-o", Path("x.png")},
      {"apply", "none", Path("in.png"), "--frame", Path("in.png") + ".missing", "-o", Path("x.png")},
      {"apply", "none", Path("in.png"), "--texture", Path("texture.png"), "--texture-strength", "101", "-o",
       Path("x.png")},
      {"apply", "none", Path("in.png"), "--texture", Path("texture.png"), "--texture-scale", "0", "-o", Path("x.png")},
      {"apply", "none", Path("in.png"), "--frame", Path("frame.png"), "--frame-margin", "-1", "-o", Path("x.png")},
      {"apply", "none", Path("in.png"), "--frame", Path("frame.png"), "--frame-color", "white", "-o", Path("x.png")},
  };
  for (const auto& args : cases) {
    std::string err;
    EXPECT_EQ(Run(args, &err), 2) << args[3];
    EXPECT_FALSE(err.empty()) << args[3];
    EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
    EXPECT_FALSE(fs::exists(Path("x.png")));
  }
}

TEST_F(ApplyTextureFrame, FrameWithoutAWindowLeavesThePictureUnframed) {
  ASSERT_TRUE(test::WritePng(test::Solid(100, 100, 0xFF336699u), Path("solid.png")));
  std::string err;
  ASSERT_EQ(Run({"apply", "none", Path("in.png"), "--frame", Path("solid.png"), "-o", Path("out.png")}, &err), 0);
  EXPECT_NE(err.find("no transparent window"), std::string::npos);
  EXPECT_EQ(test::MaxChannelDiff(Load("out.png"), Load("in.png")), 0);
}

TEST_F(ApplyTextureFrame, BuiltinTextureAndFrameByName) {
  // Frame "6" is 1100 x 1100 with a window from 120 to 980 on both axes.
  ASSERT_EQ(Run({"apply", "none", Path("in.png"), "--texture", "paper", "--frame", "6", "-o", Path("named.png")}), 0);
  Image out = Load("named.png");
  ASSERT_TRUE(out);
  EXPECT_EQ(out.width(), 400 + 2 * 20 + 2 * 120);
  EXPECT_EQ(out.height(), 300 + 2 * 20 + 2 * 120);
  EXPECT_GT(test::MaxChannelDiff(out.MakeSubset(IRect::MakeXYWH(140, 140, 400, 300)), Load("in.png")), 0);
}
