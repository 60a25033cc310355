#include "script/script_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "script/parser.h"

namespace lq {
namespace {

namespace fs = std::filesystem;

class ScriptFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("lq_script_file_" + std::to_string(::getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
};

struct FileCase {
  const char* what;
  std::string bytes;
  std::vector<std::string> lines;
  TextEncoding encoding;
};

TEST_F(ScriptFile, ReadsEveryEncodingAndLineBreak) {
  const std::vector<FileCase> cases = {
      {"UTF-8 with mark, CR LF", "\xEF\xBB\xBFRESET\r\nTEXT 1 1 'caf\xC3\xA9'\r\n", {"RESET", "TEXT 1 1 'café'"},
       TextEncoding::Utf8Bom},
      {"UTF-8 without mark", "SWAP\nTEXT 1 1 '\xE6\x97\xA5'\n", {"SWAP", "TEXT 1 1 '日'"}, TextEncoding::Utf8},
      {"mixed breaks, blank lines kept", "A\r\rB\nC\r\n\r\nD", {"A", "", "B", "C", "", "D"}, TextEncoding::Utf8},
      {"older 8-bit file", "TEXT 1 1 'caf\xE9 \x80'\r\n", {"TEXT 1 1 'café €'"}, TextEncoding::Utf8},
      {"UTF-16 LE", std::string("\xFF\xFE" "R\0E\0S\0E\0T\0\r\0\n\0\xE9\0", 18), {"RESET", "é"},
       TextEncoding::Utf16LE},
      {"UTF-16 BE with a surrogate pair", std::string("\xFE\xFF\0A\xD8\x3D\xDE\x00\0\n", 10), {"A😀"},
       TextEncoding::Utf16BE},
      {"empty file", "", {}, TextEncoding::Utf8},
      {"only a mark", "\xEF\xBB\xBF", {}, TextEncoding::Utf8Bom},
  };
  for (const FileCase& c : cases) {
    TScriptFile f;
    std::string error;
    ASSERT_TRUE(LoadScriptFile(Write("s.lqs", c.bytes), f, &error)) << c.what << ": " << error;
    EXPECT_EQ(f.Lines, c.lines) << c.what;
    EXPECT_EQ(f.Encoding, c.encoding) << c.what;
  }
}

TEST_F(ScriptFile, AByteOrderMarkIsNotPartOfTheFirstKeyword) {
  TScriptFile f;
  ASSERT_TRUE(LoadScriptFile(Write("bom.lqs", "\xEF\xBB\xBF" "EFFECT 300 30 40 40 100 20\r\nRESET\r\n"), f));
  TScriptParseResult r = ParseScript(f.Lines);
  EXPECT_TRUE(r.Ok) << r.Errors[0];
  ASSERT_EQ(r.Commands.size(), 2u);
  EXPECT_EQ(r.Commands[0].EffectNumber, 300);

  ASSERT_TRUE(LoadScriptFile(Write("utf16.lqs", std::string("\xFF\xFE" "C\0L\0E\0A\0R\0", 12)), f));
  r = ParseScript(f.Lines);
  ASSERT_TRUE(r.Ok) << r.Errors[0];
  EXPECT_EQ(r.Commands[0].Kind, sckClear);
}

TEST_F(ScriptFile, IsWrittenBackInTheEncodingItWasReadWithUsingCrLf) {
  struct SaveCase {
    std::string original;
    std::string saved;
  };
  const std::vector<SaveCase> cases = {
      {"\xEF\xBB\xBFRESET\nSWAP", "\xEF\xBB\xBFRESET\r\nSWAP\r\n"},
      {"RESET\rTEXT 0 0 '\xC3\xA9'", "RESET\r\nTEXT 0 0 '\xC3\xA9'\r\n"},
      // An older 8-bit file comes back as UTF-8.
      {"TEXT 0 0 '\xE9'", "TEXT 0 0 '\xC3\xA9'\r\n"},
      {std::string("\xFF\xFE" "A\0\n\0", 6), std::string("\xFF\xFE" "A\0\r\0\n\0", 8)},
      {std::string("\xFE\xFF\0A", 4), std::string("\xFE\xFF\0A\0\r\0\n", 8)},
  };
  for (const SaveCase& c : cases) {
    TScriptFile f;
    const std::string path = Write("in.lqs", c.original);
    ASSERT_TRUE(LoadScriptFile(path, f));
    std::string error;
    ASSERT_TRUE(SaveScriptFile(path, f, &error)) << error;
    EXPECT_EQ(Read(path), c.saved);
  }
  // A new script is UTF-8 without a mark.
  TScriptFile fresh;
  fresh.Lines = {"FONT \"Times New Roman\" 36", "TEXT 0 0 'Ölmalerei'"};
  ASSERT_TRUE(SaveScriptFile((dir_ / "new.lqs").string(), fresh));
  EXPECT_EQ(Read((dir_ / "new.lqs").string()), "FONT \"Times New Roman\" 36\r\nTEXT 0 0 'Ölmalerei'\r\n");
}

TEST_F(ScriptFile, UnreadableFilesGiveAReasonAndChangeNothing) {
  TScriptFile f;
  f.Lines = {"kept"};
  std::string error;
  EXPECT_FALSE(LoadScriptFile((dir_ / "missing.lqs").string(), f, &error));
  EXPECT_EQ(error, "Cannot read script \"" + (dir_ / "missing.lqs").string() + "\": No such file or directory");
  EXPECT_FALSE(LoadScriptFile(dir_.string(), f, &error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
  EXPECT_EQ(f.Lines, std::vector<std::string>{"kept"});

  EXPECT_FALSE(SaveScriptFile((dir_ / "no" / "such" / "dir.lqs").string(), f, &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace lq
