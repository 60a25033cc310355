#include "diag/log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <fstream>
#include <regex>
#include <stdexcept>
#include <thread>

// Declared outside any namespace so its class name reads as the program's own.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

namespace lq {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> ReadLines(const fs::path& p) {
  std::ifstream in(p);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

// Points HOME and the XDG variables at a scratch folder for one test.
class ScratchHome : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::temp_directory_path() / ("lq_diag_" + std::to_string(::getpid()) + "_" +
                                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(home_);
    fs::create_directories(home_);
    for (const char* name : {"HOME", "XDG_DOCUMENTS_DIR", "XDG_CONFIG_HOME"}) {
      const char* v = std::getenv(name);
      saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
    }
    ::setenv("HOME", home_.c_str(), 1);
    ::unsetenv("XDG_DOCUMENTS_DIR");
    ::unsetenv("XDG_CONFIG_HOME");
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value) ::setenv(name.c_str(), value->c_str(), 1);
      else ::unsetenv(name.c_str());
    }
    fs::remove_all(home_);
  }
  fs::path home_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(DiagLog, LineFormat) {
  EXPECT_EQ(diag::FormatLine(7, 5, 3, 7, "x"), "07:05:03.007  x");
  EXPECT_EQ(diag::FormatLine(23, 59, 59, 999, ">>> FormCreate begin"), "23:59:59.999  >>> FormCreate begin");
  EXPECT_EQ(diag::FormatLine(0, 0, 0, 0, ""), "00:00:00.000  ");
  EXPECT_TRUE(std::regex_match(diag::StampLine("m"), std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d  m)")));

  EXPECT_EQ(diag::ExceptionText("FormDestroy", EConvertError("Bad value")),
            "!! EXCEPTION in FormDestroy: EConvertError: Bad value");
  EXPECT_EQ(diag::ExceptionText("SwitchLanguage(fr)", std::out_of_range("index")),
            "!! EXCEPTION in SwitchLanguage(fr): std::out_of_range: index");
}

TEST_F(ScratchHome, DocumentsFolderFollowsTheDesktopSettings) {
  EXPECT_EQ(diag::DocumentsFolder(), home_.string());  // no Documents folder: the home folder
  fs::create_directories(home_ / "Documents");
  EXPECT_EQ(diag::DocumentsFolder(), (home_ / "Documents").string());

  fs::create_directories(home_ / ".config");
  std::ofstream(home_ / ".config" / "user-dirs.dirs") << "# written by xdg-user-dirs-update\n"
                                                         "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                                                         "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n";
  EXPECT_EQ(diag::DocumentsFolder(), (home_ / "Dokumente").string());

  ::setenv("XDG_DOCUMENTS_DIR", "/srv/docs", 1);
  EXPECT_EQ(diag::DocumentsFolder(), "/srv/docs");
  EXPECT_EQ(diag::DefaultLogPath(), "/srv/docs/Lumaquill_debug.log");
}

TEST_F(ScratchHome, AppendsWholeLinesAcrossRunsAndThreads) {
  const fs::path file = home_ / "Lumaquill_debug.log";
  diag::LogFile(file.string()).Append("<<< FormDestroy done");
  // A second run appends to the same file.
  diag::LogFile second(file.string());
  second.Append(">>> FormCreate begin");

  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) second.Append("thread " + std::to_string(t) + " line " + std::to_string(i));
    });
  for (auto& th : threads) th.join();

  const std::vector<std::string> lines = ReadLines(file);
  ASSERT_EQ(lines.size(), 802u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d  <<< FormDestroy done)")));
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d  >>> FormCreate begin)")));
  const std::regex threadLine(R"(\d\d:\d\d:\d\d\.\d\d\d  thread \d line \d+)");
  for (size_t i = 2; i < lines.size(); ++i) EXPECT_TRUE(std::regex_match(lines[i], threadLine)) << lines[i];

  // A folder that cannot be written loses the line quietly.
  diag::LogFile("/nonexistent-folder/Lumaquill_debug.log").Append("lost");
}

TEST_F(ScratchHome, TheBuildSwitchDecidesWhetherAFileAppears) {
  fs::create_directories(home_ / "Documents");
  Log(">>> FormCreate begin");
  LogFmt("  TranslateComponent(%s \"%s\"): %d components, dict=%d entries", "TForm1", "Form1", 12, 240);
  LogException("FormDestroy", EConvertError("Bad value"));
  const fs::path file = home_ / "Documents" / "Lumaquill_debug.log";
  if (!DiagLogEnabled()) {
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(fs::is_empty(home_ / "Documents"));
    return;
  }
  const std::vector<std::string> lines = ReadLines(file);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].substr(12), "  >>> FormCreate begin");
  EXPECT_EQ(lines[1].substr(12), "    TranslateComponent(TForm1 \"Form1\"): 12 components, dict=240 entries");
  EXPECT_EQ(lines[2].substr(12), "  !! EXCEPTION in FormDestroy: EConvertError: Bad value");
}

}  // namespace
}  // namespace lq
