// lumaquill-cli run and batch, driven as a user would: real files in a
// scratch folder, the program's output and exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "document/codec.h"
#include "document/imagefile.h"
#include "tests/cli/cli_process.h"
#include "tests/support/harness.h"

extern char** environ;

using namespace lq;
namespace fs = std::filesystem;

namespace {

using Result = test::CliResult;
using test::SlurpFile;

class RunBatch : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("lq_runbatch_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string P(const std::string& name) const { return (dir / name).string(); }

  // Runs lumaquill-cli in the scratch folder; captures stdout and stderr.
  Result Cli(const std::vector<std::string>& args) { return test::RunCli(args, dir, dir); }

  // A picture whose size tells which input an output came from.
  void Picture(const std::string& name, int w, int h) {
    Image img = test::TestPattern(w, h);
    std::string ext = fs::path(name).extension().string();
    std::vector<uint8_t> bytes = (ext == ".jpg" || ext == ".JPG") ? EncodeImageForFile(img, "x.jpg") : EncodePng(img);
    ASSERT_FALSE(bytes.empty());
    std::ofstream(P(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }

  void Text(const std::string& name, const std::string& text) { std::ofstream(P(name), std::ios::binary) << text; }

  Image Load(const std::string& name) { return ReadImageFile(P(name)); }

  // Every file in the folder whose name has "_LQ" in it.
  std::vector<std::string> Outputs() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
      if (e.path().filename().string().find("_LQ") != std::string::npos) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir;
};

// --- run ------------------------------------------------------------------------------

TEST_F(RunBatch, ScriptProblemsAreReportedBeforeAnyPictureIsRead) {
  Text("bad.lqs", "EFFECT Foo 1 2 3 4 5\nRESET\nRESIZE 0 10\n");
  Text("empty.lqs", "# nothing but a comment\n\n");
  Text("broken.png", "not a picture");
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> messages;  // in this order
  };
  const std::vector<Case> cases = {
      {{"run", "bad.lqs", "broken.png", "-o", "out.png"},
       {"Script has errors:", "Line 1: Unknown effect \"Foo\"", "Line 3: RESIZE dimensions must be positive"}},
      {{"batch", "--script", "bad.lqs", "broken.png"},
       {"Script has errors:", "Line 1: Unknown effect \"Foo\"", "Line 3: RESIZE dimensions must be positive"}},
      {{"run", "empty.lqs", "broken.png", "-o", "out.png"}, {"Script is empty"}},
      {{"run", "nothere.lqs", "broken.png", "-o", "out.png"}, {"Cannot read script"}},
      {{"batch", "--script", "nothere.lqs", "broken.png"}, {"Cannot read script"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1] + " " + c.args[2]);
    Result r = Cli(c.args);
    EXPECT_EQ(r.status, 2);
    size_t at = 0;
    for (const std::string& m : c.messages) {
      at = r.err.find(m, at);
      EXPECT_NE(at, std::string::npos) << m << "\n" << r.err;
    }
    // The broken picture was never opened.
    EXPECT_EQ(r.err.find("Failed to load image"), std::string::npos);
    EXPECT_EQ(r.out.find("Batch complete"), std::string::npos);
    EXPECT_TRUE(Outputs().empty());
    EXPECT_FALSE(fs::exists(P("out.png")));
  }
}

TEST_F(RunBatch, RunWritesOneResultPerInput) {
  Picture("one.png", 40, 30);
  Picture("two.jpg", 60, 20);
  Text("half.lqs", "EFFECT BlackAndWhite 50 50 50 50 50\nRESIZE 50% 50%\nTEXT 1 1 'x'\n");
  Result r = Cli({"run", "half.lqs", "one.png", "two.jpg", "--out-dir", "outs"});
  ASSERT_EQ(r.status, 0) << r.err;
  Image a = Load("outs/one_LQ.png"), b = Load("outs/two_LQ.jpg");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a.width(), 20);
  EXPECT_EQ(b.width(), 30);

  // The built-in textures and frames are there for #N.
  Text("framed.lqs", "TEXTURE #1 40 1\nFRAME #2 20\n");
  r = Cli({"run", "framed.lqs", "one.png", "-o", "framed.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_GT(Load("framed.png").width(), 40 + 40);

  r = Cli({"run", "half.lqs", "one.png", "-o", "single.webp"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Load("single.webp").height(), 15);

  // A step that fails names the file and its line; nothing is written for it.
  Text("fails.lqs", "RESIZE 50% 50%\nLOAD nothere\n");
  r = Cli({"run", "fails.lqs", "one.png", "-o", "failed.png"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("one.png: Line 2: Slot \"nothere\" not found"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(P("failed.png")));
}

// --- batch ----------------------------------------------------------------------------

TEST_F(RunBatch, BatchNamesEveryOutputApartFromInputsAndEachOther) {
  // Each input has its own size, so an output shows which input it came from.
  const std::map<std::string, std::pair<int, int>> inputs = {
      {"a.bmp", {20, 10}}, {"a.png", {21, 10}},    {"a.jpg", {22, 10}},
      {"a.JPG", {23, 10}}, {"a_LQ.jpg", {24, 10}}, {"photo.PNG", {25, 10}},
  };
  for (const auto& [name, size] : inputs) Picture(name, size.first, size.second);
  Text("broken.png", "not a picture");
  const std::string before = SlurpFile(P("a_LQ.jpg"));

  // Files in the order given: the first one of a clash keeps the usual name.
  Result r = Cli({"batch", "--effect", "200", "60", "40", "a.bmp", "a.png", "a.jpg", "a.JPG", "a_LQ.jpg", "broken.png",
                  "photo.PNG", "missing.jpg", "./a.png"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Batch complete: 6 of 8 images processed."), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("Failed to load image: broken.png"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Failed to load image: missing.jpg"), std::string::npos) << r.err;

  const std::map<std::string, int> expected = {
      {"a_LQ.png", 20},   {"a_LQ_2.png", 21},  {"a_LQ_2.jpg", 22},
      {"a_LQ_3.jpg", 23}, {"a_LQ_LQ.jpg", 24}, {"photo_LQ.png", 25},
  };
  std::vector<std::string> names;
  for (const auto& [name, width] : expected) {
    names.push_back(name);
    Image out = Load(name);
    ASSERT_TRUE(out) << name;
    EXPECT_EQ(out.width(), width) << name;
  }
  names.push_back("a_LQ.jpg");  // the input, still there
  std::sort(names.begin(), names.end());
  EXPECT_EQ(Outputs(), names);
  EXPECT_EQ(SlurpFile(P("a_LQ.jpg")), before);  // an input is never overwritten
  EXPECT_FALSE(fs::exists(P("broken_LQ.png")));
  // 300 dpi tags.
  EXPECT_NE(SlurpFile(P("a_LQ.png")).find("pHYs"), std::string::npos);
  EXPECT_NE(SlurpFile(P("a_LQ_2.jpg")).find("Exif"), std::string::npos);
}

TEST_F(RunBatch, FoldersSkipEarlierOutputsAndASecondRunOverwrites) {
  fs::create_directories(P("photos"));
  Picture("photos/x.png", 30, 20);
  Picture("photos/y.jpg", 20, 30);
  Text("photos/notes.txt", "not a picture");
  for (int run = 0; run < 2; ++run) {
    Result r = Cli({"batch", "--effect", "BlackAndWhite", "-j", "2", "photos"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Batch complete: 2 of 2 images processed."), std::string::npos) << r.out;
    EXPECT_TRUE(Load("photos/x_LQ.png"));
    EXPECT_TRUE(Load("photos/y_LQ.jpg"));
    EXPECT_FALSE(fs::exists(P("photos/x_LQ_LQ.png")));
  }
}

TEST_F(RunBatch, ShardsSplitTheBatchWithTheSameNames) {
  fs::create_directories(P("in"));
  for (int i = 0; i < 5; ++i) Picture("in/p" + std::to_string(i) + ".png", 10 + i, 8);
  std::vector<std::string> all;
  const std::vector<std::pair<std::string, std::vector<int>>> shards = {{"0/2", {0, 2, 4}}, {"1/2", {1, 3}}};
  for (const auto& [shard, files] : shards) {
    Result r = Cli({"batch", "--effect", "200", "--shard", shard, "in"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Batch complete: " + std::to_string(files.size()) + " of " + std::to_string(files.size())),
              std::string::npos)
        << r.out;
    for (int i : files) EXPECT_EQ(Load("in/p" + std::to_string(i) + "_LQ.png").width(), 10 + i);
  }
  for (const char* bad : {"2/2", "1", "x/3", "1/0", "-1/2"}) {
    Result r = Cli({"batch", "--effect", "200", "--shard", bad, "in"});
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_NE(r.err.find("--shard takes K/N"), std::string::npos) << bad;
  }
}

TEST_F(RunBatch, ScriptModeRunsPerFileAndCountsOnlyWhatItWrote) {
  Picture("a.png", 40, 20);
  Picture("b.jpg", 20, 40);
  Text("s.lqs", "SAVE orig\nEFFECT 200 50 50 50 50 50\nBLEND orig 50\nRESIZE 10 10\n");
  Result r = Cli({"batch", "--script", "s.lqs", "-j", "3", "a.png", "b.jpg"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Batch complete: 2 of 2 images processed."), std::string::npos);
  EXPECT_EQ(Load("a_LQ.png").width(), 10);
  EXPECT_EQ(Load("b_LQ.jpg").height(), 10);

  // A script that fails on a file writes nothing for it, says why, and does
  // not count it.
  fs::remove(P("a_LQ.png"));
  Text("fails.lqs", "LOAD x\n");
  r = Cli({"batch", "--script", "fails.lqs", "a.png"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Batch complete: 0 of 1 images processed."), std::string::npos);
  EXPECT_NE(r.err.find("a.png: Line 1: Slot \"x\" not found"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(P("a_LQ.png")));
}

TEST_F(RunBatch, ParallelFilesGiveWhatOneAtATimeGives) {
  for (int i = 0; i < 6; ++i) Picture("p" + std::to_string(i) + ".png", 30 + i, 20);
  std::vector<std::string> files;
  for (int i = 0; i < 6; ++i) files.push_back("p" + std::to_string(i) + ".png");
  auto run = [&](const std::vector<std::string>& options) {
    std::vector<std::string> args = {"batch", "--effect", "203"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), files.begin(), files.end());
    Result r = Cli(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Batch complete: 6 of 6 images processed."), std::string::npos) << r.out;
    std::vector<std::string> bytes;
    for (int i = 0; i < 6; ++i) bytes.push_back(SlurpFile(P("p" + std::to_string(i) + "_LQ.png")));
    return bytes;
  };
  const auto one = run({"-j", "1"});
  EXPECT_EQ(run({"-j", "4"}), one);
  // Every picture needs more than this budget: they go one at a time, all of them.
  EXPECT_EQ(run({"-j", "4", "--max-memory", "1"}), one);
}

TEST_F(RunBatch, UsageErrors) {
  Picture("a.png", 10, 10);
  Text("s.lqs", "RESET\n");
  const std::vector<std::vector<std::string>> cases = {
      {"batch", "a.png"},
      {"batch", "--effect", "200", "--script", "s.lqs", "a.png"},
      {"batch", "--effect", "NoSuchEffect", "a.png"},
      {"batch", "--effect", "200", "101", "a.png"},
      {"batch", "--effect", "200", "-j", "-1", "a.png"},
      {"batch", "--effect", "200", "--max-memory", "-5", "a.png"},
      {"batch", "--effect", "200", "50"},
      {"run", "s.lqs", "a.png"},
      {"run", "s.lqs", "a.png", "a.png", "-o", "x.png"},
  };
  for (const auto& args : cases) {
    Result r = Cli(args);
    EXPECT_EQ(r.status, 2) << args[1] << " " << args.back() << "\n" << r.err;
    EXPECT_FALSE(r.err.empty());
  }
  EXPECT_TRUE(Outputs().empty());
}

TEST_F(RunBatch, InterruptLeavesOnlyWholeOutputs) {
  // Pictures large enough that files are still in flight when the signal comes.
  for (int i = 0; i < 4; ++i) Picture("big" + std::to_string(i) + ".png", 2400, 2400);
  std::vector<std::string> args = {LQ_CLI_PATH, "batch", "--effect", "100", "-j", "2"};
  for (int i = 0; i < 4; ++i) args.push_back(P("big" + std::to_string(i) + ".png"));
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, P(".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&fa, 2, P(".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&fa);
  auto catchesSigint = [pid] {
    std::ifstream st("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(st, line))
      if (line.rfind("SigCgt:", 0) == 0)
        return (std::stoull(line.substr(7), nullptr, 16) & (1ull << (SIGINT - 1))) != 0;
    return false;
  };
  for (int i = 0; i < 2000 && !catchesSigint(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  kill(pid, SIGINT);
  int st = 0;
  waitpid(pid, &st, 0);
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 1);
  const std::string out = SlurpFile(P(".out")), err = SlurpFile(P(".err"));
  EXPECT_NE(err.find("Cancelled."), std::string::npos) << err;
  // The count is what is on disk, and what is on disk is whole.
  const std::vector<std::string> written = Outputs();
  EXPECT_NE(out.find("Batch complete: " + std::to_string(written.size()) + " of 4 images processed."),
            std::string::npos)
      << out;
  EXPECT_LT(written.size(), 4u);
  for (const std::string& name : written) EXPECT_TRUE(Load(name)) << name;
  for (const auto& e : fs::directory_iterator(dir)) EXPECT_EQ(e.path().string().find(".tmp"), std::string::npos);
}

}  // namespace
