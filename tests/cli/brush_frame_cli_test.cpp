// lumaquill-cli apply ... --brush-frame WIDTH [--frame-color C] [--frame-brush N]
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

class BrushFrameCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("lqcli_frame_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::vector<uint8_t> png = EncodePng(test::TestPattern(120, 80));
    std::ofstream(Path("in.png"), std::ios::binary)
        .write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string Path(const std::string& name) { return (dir / name).string(); }

  // Exit status of lumaquill-cli apply with the arguments; stderr in `err`.
  int Apply(std::vector<std::string> args) {
    args.insert(args.begin(), "apply");
    test::CliResult r = test::RunCli(args, dir);
    err = r.err;
    return r.status;
  }
  Image Output(const std::string& name) {
    std::ifstream f(Path(name), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    return DecodeImage(bytes);
  }

  fs::path dir;
  std::string err;
};

}  // namespace

TEST_F(BrushFrameCli, FramesTheResultOrThePictureAlone) {
  ASSERT_EQ(Apply({"none", Path("in.png"), "-o", Path("framed.png"), "--brush-frame", "20", "--frame-color",
                   "#FF336699", "--frame-brush", "30"}),
            0)
      << err;
  Image framed = Output("framed.png");
  ASSERT_TRUE(framed);
  EXPECT_EQ(framed.width(), 160);
  EXPECT_EQ(framed.height(), 120);
  EXPECT_EQ(framed.PeekPixels().at(2, 2), 0xFF336699u);

  ASSERT_EQ(Apply({"BlackAndWhite", Path("in.png"), "-o", Path("bw.png"), "--brush-frame", "0"}), 0) << err;
  Image bw = Output("bw.png");
  ASSERT_TRUE(bw);
  EXPECT_EQ(bw.width(), 120);
  EXPECT_EQ(bw.height(), 80);
}

TEST_F(BrushFrameCli, BadValuesAreRefused) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* message;
  };
  const std::string in = Path("in.png"), out = Path("x.png");
  const Case cases[] = {
      {{"none", in, "-o", out}, 2, "'none' needs --texture, --frame or --brush-frame"},
      {{"none", in, "-o", out, "--brush-frame", "-3"}, 2, "--brush-frame must be 0 or more"},
      {{"none", in, "-o", out, "--brush-frame", "10", "--frame-color", "red"}, 2, "--frame-color must be"},
      {{"none", in, "-o", out, "--brush-frame", "10", "--frame-brush", "0"}, 2, "--frame-brush must be 1 or more"},
      {{"none", in, "-o", out, "--brush-frame", "3000000000"}, 1, "Could not create 6000000120x6000000080 surface"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(Apply(c.args), c.status);
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(out));
  }
}
