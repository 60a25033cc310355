#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "document/codec.h"
#include "tests/cli/cli_process.h"
#include "tests/support/harness.h"

extern char** environ;

using namespace lq;
namespace fs = std::filesystem;

namespace {

using Result = test::CliResult;

// Runs lumaquill-cli with the arguments; captures stdout and stderr.
Result RunCli(const std::vector<std::string>& args) {
  fs::path dir = fs::temp_directory_path() / ("lqcli_" + std::to_string(getpid()));
  fs::create_directories(dir);
  return test::RunCli(args, dir);
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("lqcli_test_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string Path(const std::string& name) { return (dir / name).string(); }
  fs::path dir;
};

}  // namespace

TEST_F(Cli, EffectsListsTheWholeCatalogue) {
  Result r = RunCli({"effects"});
  EXPECT_EQ(r.status, 0);
  int lines = 0;
  for (char c : r.out) lines += c == '\n';
  EXPECT_EQ(lines, 19);
  EXPECT_NE(r.out.find("300  Watercolor"), std::string::npos);
  EXPECT_NE(r.out.find("iterations=30, brush complexity=40, brush size=40, opacity=100, edge intensity=20"),
            std::string::npos);
  EXPECT_NE(r.out.find("203  Comic print           -"), std::string::npos);
  EXPECT_NE(RunCli({"--version"}).out.find("4.20"), std::string::npos);
}

TEST_F(Cli, BadUsageGivesOneLineAndNonZeroStatus) {
  std::string in = test::SourcePath("resources/photos/chelsea.png");
  std::vector<std::vector<std::string>> cases = {
      {"frobnicate"},
      {"apply"},
      {"apply", "NoSuchEffect", in, "-o", Path("x.png")},
      {"apply", "100", in},                                      // no output given
      {"apply", "100", in, in, "-o", Path("x.png")},             // -o with two inputs
      {"apply", "100", "20", "500", in, "-o", Path("x.png")},    // parameter out of range
  };
  for (const auto& args : cases) {
    Result r = RunCli(args);
    EXPECT_NE(r.status, 0) << args[0];
    int lines = 0;
    for (char c : r.err) lines += c == '\n';
    EXPECT_EQ(lines, 1) << r.err;
  }
  EXPECT_FALSE(fs::exists(Path("x.png")));
}

TEST_F(Cli, ApplyWritesOutputsAndReportsUnreadableInputs) {
  std::string in = test::SourcePath("resources/photos/chelsea.png");
  Result r = RunCli({"apply", "BlackAndWhite", "50", in, "-o", Path("bw.png")});
  ASSERT_EQ(r.status, 0) << r.err;
  std::ifstream f(Path("bw.png"), std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  Image out = DecodeImage(bytes);
  ASSERT_TRUE(out);
  EXPECT_EQ(out.width(), 451);

  std::ofstream(Path("broken.jpg")) << "this is not a picture";
  r = RunCli({"apply", "100", Path("broken.jpg"), in, "--out-dir", Path("outs")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Failed to load image: "), std::string::npos);
  EXPECT_NE(r.err.find("broken.jpg"), std::string::npos);
  EXPECT_TRUE(fs::exists(Path("outs/chelsea_LQ.png")));
  EXPECT_FALSE(fs::exists(Path("outs/broken_LQ.jpg")));
}

TEST_F(Cli, InterruptCancelsAndLeavesNoOutput) {
  // A picture large enough that the run is still going when the signal comes.
  Image big = test::TestPattern(3000, 3000);
  std::vector<uint8_t> png = EncodePng(big);
  std::ofstream(Path("big.png"), std::ios::binary).write(reinterpret_cast<const char*>(png.data()),
                                                        std::streamsize(png.size()));
  std::string out = Path("big_out.png");
  std::vector<std::string> args = {LQ_CLI_PATH, "apply", "100", Path("big.png"), "-o", out};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
  // Interrupt once the program catches SIGINT (on a loaded machine start-up
  // alone can take a while), then a little later, while it works.
  auto catchesSigint = [pid] {
    std::ifstream st("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(st, line))
      if (line.rfind("SigCgt:", 0) == 0) return (std::stoull(line.substr(7), nullptr, 16) & (1ull << (SIGINT - 1))) != 0;
    return false;
  };
  for (int i = 0; i < 2000 && !catchesSigint(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  kill(pid, SIGINT);
  int st = 0;
  waitpid(pid, &st, 0);
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 1);
  EXPECT_FALSE(fs::exists(out));
  for (const auto& e : fs::directory_iterator(dir)) EXPECT_EQ(e.path().string().find(".tmp"), std::string::npos);
}

namespace {

Image ReadPng(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  return DecodeImage(bytes);
}

// A soft round brush on a transparent square, its centre shifted right by `dx`.
Image RoundBrush(int dx) {
  std::vector<uint32_t> px(128 * 128, 0);
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x) {
      double ux = x + 0.5 - 64 - dx, uy = y + 0.5 - 64, r = std::sqrt(ux * ux + uy * uy) / 20;
      if (r < 1) px[size_t(y) * 128 + x] = uint32_t(std::lround((1 - r) * 255)) << 24;
    }
  return Image::MakeFromPixels(128, 128, std::move(px));
}

}  // namespace

// Custom brushes reach the painting effects: Oil Pastel keeps only brushes
// crossing the cell's centre column, so with nothing but an off-centre brush
// the picture stays as it was, and with a centred one it is painted.
TEST_F(Cli, ApplyPaintsWithCustomBrushes) {
  std::string in = test::SourcePath("resources/photos/chelsea.png");
  Image photo = ReadPng(in);
  ASSERT_TRUE(test::WritePng(RoundBrush(50), Path("side.png")));
  ASSERT_TRUE(test::WritePng(RoundBrush(0), Path("centre.png")));

  Result r = RunCli({"apply", "302", "10", "30", "5", "10", "100", in, "-o", Path("kept.png"), "--brushes",
                     Path("side.png")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::MaxChannelDiff(ReadPng(Path("kept.png")), photo), 0);

  r = RunCli({"apply", "302", "10", "30", "5", "10", "100", in, "-o", Path("painted.png"), "--brushes",
              Path("side.png"), Path("centre.png")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_GT(test::MaxChannelDiff(ReadPng(Path("painted.png")), photo), 40);

  r = RunCli({"apply", "304", in, "-o", Path("impasto.png"), "--brushes", Path("side.png")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_GT(test::MaxChannelDiff(ReadPng(Path("impasto.png")), photo), 40);
}

TEST_F(Cli, CustomBrushErrors) {
  std::string in = test::SourcePath("resources/photos/chelsea.png");
  std::ofstream(Path("junk.png")) << "not a picture";
  Result r = RunCli({"apply", "304", in, "-o", Path("out.png"), "--brushes", Path("junk.png"), Path("none.zip")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Error loading custom brushes"), std::string::npos);
  EXPECT_FALSE(fs::exists(Path("out.png")));

  ASSERT_TRUE(test::WritePng(RoundBrush(0), Path("centre.png")));
  r = RunCli({"apply", "300", in, "-o", Path("out.png"), "--brushes", Path("centre.png")});
  EXPECT_EQ(r.status, 2);
  EXPECT_FALSE(fs::exists(Path("out.png")));
}
