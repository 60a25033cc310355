#include "document/presets.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include "document/textio.h"

namespace lq {
namespace {

namespace fs = std::filesystem;

bool SameEntry(const TParameters& a, const TParameters& b) {
  return a.Value1 == b.Value1 && a.Value2 == b.Value2 && a.Value3 == b.Value3 && a.Value4 == b.Value4 &&
         a.Value5 == b.Value5 && a.Name1 == b.Name1 && a.Name2 == b.Name2 && a.Name3 == b.Name3 &&
         a.Name4 == b.Name4 && a.Name5 == b.Name5;
}

// "[c][i]" of every entry that differs.
std::vector<std::string> Differences(const ParamTable& a, const ParamTable& b) {
  std::vector<std::string> out;
  for (size_t c = 0; c < a.size(); ++c)
    for (size_t i = 0; i < a[c].size(); ++i)
      if (!SameEntry(a[c][i], b[c][i])) out.push_back("[" + std::to_string(c) + "][" + std::to_string(i) + "]");
  return out;
}

ParamTable Defaults() {
  ParamTable t{};
  InitializeParameters(t);
  return t;
}

class PresetFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("lq_presets_" + std::to_string(::getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  fs::path dir_;
};

TEST_F(PresetFiles, SaveThenLoadGivesBackTheWholeTable) {
  ParamTable saved = Defaults();
  saved[3][0].Value4 = 55;
  saved[1][2].Name3 = "Größe — 大小";
  saved[9][19].Value5 = -7;
  saved[0][0].Name1 = "leftover";
  saved[2][2].Value1 = 250;
  std::string error;
  ASSERT_TRUE(SaveParameters(Path("p.lqk"), saved, &error)) << error;

  ParamTable loaded{};
  ASSERT_EQ(LoadParameters(Path("p.lqk"), loaded, &error), PresetLoad::Loaded) << error;
  EXPECT_EQ(Differences(saved, loaded), std::vector<std::string>{});

  // Saving over an existing file replaces it and leaves nothing else behind.
  saved[3][0].Value4 = 12;
  ASSERT_TRUE(SaveParameters(Path("p.lqk"), saved, &error)) << error;
  ASSERT_EQ(LoadParameters(Path("p.lqk"), loaded), PresetLoad::Loaded);
  EXPECT_EQ(loaded[3][0].Value4, 12);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(PresetFiles, HaveTheExactLayout) {
  const std::string bytes = FormatParameters(Defaults());
  ASSERT_EQ(bytes.substr(0, 3), "\xEF\xBB\xBF");

  // 2403 lines, each ended by CR LF, no other line break anywhere.
  std::vector<std::string> lines;
  size_t start = 3;
  for (size_t p; (p = bytes.find("\r\n", start)) != std::string::npos; start = p + 2)
    lines.push_back(bytes.substr(start, p - start));
  EXPECT_EQ(start, bytes.size()) << "text after the last CR LF";
  ASSERT_EQ(lines.size(), 2403u);
  for (const std::string& l : lines) ASSERT_EQ(l.find_first_of("\r\n"), std::string::npos) << l;

  EXPECT_EQ(lines[0], "# Lumaquill Parameters File");
  EXPECT_EQ(lines[1], "# Format: [Effect_Category_Index]");
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(lines[3], "[Effect_0_0]");
  EXPECT_EQ(lines[3 + 12], "[Effect_0_1]");
  EXPECT_EQ(lines[3 + 20 * 12], "[Effect_1_0]");
  EXPECT_EQ(lines[2403 - 12], "[Effect_9_19]");
  EXPECT_EQ(lines[2402], "");

  // Watercolor (300) is section 3 * 20 + 0.
  const std::vector<std::string> watercolor(lines.begin() + 3 + 60 * 12, lines.begin() + 3 + 61 * 12);
  EXPECT_EQ(watercolor, (std::vector<std::string>{"[Effect_3_0]", "Name1=iterations", "Name2=brush complexity",
                                                   "Name3=brush size", "Name4=opacity", "Name5=edge intensity",
                                                   "Value1=30", "Value2=40", "Value3=40", "Value4=100",
                                                   "Value5=20", ""}));
  // Entries that belong to no effect: empty labels, zero values.
  const std::vector<std::string> unused(lines.begin() + 3 + 199 * 12, lines.end());
  EXPECT_EQ(unused, (std::vector<std::string>{"[Effect_9_19]", "Name1=", "Name2=", "Name3=", "Name4=", "Name5=",
                                               "Value1=0", "Value2=0", "Value3=0", "Value4=0", "Value5=0", ""}));
}

TEST_F(PresetFiles, ALabelWithALineBreakCannotShiftTheSections) {
  ParamTable t = Defaults();
  t[3][0].Name1 = "two\r\nlines";
  ParamTable back{};
  ReadParameters(FormatParameters(t), back);
  EXPECT_EQ(back[3][0].Name1, "two  lines");
  EXPECT_EQ(back[3][0].Name2, "brush complexity");
  EXPECT_EQ(back[3][0].Value1, 30);
}

struct LooseCase {
  const char* what;
  std::string text;
  // Changes expected relative to the defaults.
  std::function<void(ParamTable&)> expect;
};

TEST(PresetReader, AppliesOnlyWhatItUnderstands) {
  const std::vector<LooseCase> cases = {
      {"only Value4", "[Effect_3_0]\nValue4=55", [](ParamTable& t) { t[3][0].Value4 = 55; }},
      {"saved by the program: mark and CR LF", "\xEF\xBB\xBF[Effect_3_0]\r\nValue4=55\r\nName1=steps\r\n",
       [](ParamTable& t) {
         t[3][0].Value4 = 55;
         t[3][0].Name1 = "steps";
       }},
      {"keys are case-sensitive", "[Effect_3_0]\nvalue4=55\nNAME1=x", nullptr},
      {"both sides trimmed", "  [Effect_3_0]\t\n  Value4 = 55 \nName2 =  wide brush  ",
       [](ParamTable& t) {
         t[3][0].Value4 = 55;
         t[3][0].Name2 = "wide brush";
       }},
      {"category out of range", "[Effect_12_0]\nValue1=5", nullptr},
      {"position out of range deselects", "[Effect_3_0]\n[Effect_3_20]\nValue1=5", nullptr},
      {"negative numbers deselect", "[Effect_-1_0]\nValue1=5", nullptr},
      {"numbers that are not numbers deselect", "[Effect_3_0]\n[Effect_x_0]\nValue1=5", nullptr},
      {"not an integer stores 0", "[Effect_3_0]\nValue1=abc", [](ParamTable& t) { t[3][0].Value1 = 0; }},
      {"no range check", "[Effect_3_0]\nValue1=250", [](ParamTable& t) { t[3][0].Value1 = 250; }},
      {"too big for 32 bits stores 0", "[Effect_3_0]\nValue1=99999999999", [](ParamTable& t) { t[3][0].Value1 = 0; }},
      {"lines before the first header", "Value1=5\nName1=x\n[Effect_1_0]\nValue2=9",
       [](ParamTable& t) { t[1][0].Value2 = 9; }},
      {"other headers keep the selection", "[Effect_3_0]\n[Colours]\n[effect_1_0]\n[Effect_1_0_2]\nValue1=7",
       [](ParamTable& t) { t[3][0].Value1 = 7; }},
      {"lines without a key", "[Effect_3_0]\n=5\nValue1\nValue6=3\nName=q\n# Value2=1\n[\n]",
       nullptr},
      {"a later line wins", "[Effect_2_0]\nValue1=1\n[Effect_2_0]\nValue1=2", [](ParamTable& t) { t[2][0].Value1 = 2; }},
      {"UTF-16 file", EncodeText("[Effect_4_0]\r\nValue2=8", TextEncoding::Utf16LE),
       [](ParamTable& t) { t[4][0].Value2 = 8; }},
  };
  for (const LooseCase& c : cases) {
    ParamTable t = Defaults();
    ParamTable expected = Defaults();
    if (c.expect) c.expect(expected);
    ReadParameters(c.text, t);
    EXPECT_EQ(Differences(expected, t), std::vector<std::string>{}) << c.what;
  }
}

TEST_F(PresetFiles, ATruncatedFileChangesOnlyTheSectionsItStillHolds) {
  ParamTable file{};
  for (auto& row : file)
    for (auto& e : row) e = TParameters{11, 22, 33, 44, 55, "a", "b", "c", "d", "e"};
  const std::string bytes = FormatParameters(file);
  // Cut in the middle of Watercolor's "Value2=22" line.
  const size_t cut = bytes.find("Value2=22", bytes.find("[Effect_3_0]")) + 8;
  Write(Path("cut.lqk"), bytes.substr(0, cut));

  ParamTable t = Defaults();
  ASSERT_EQ(LoadParameters(Path("cut.lqk"), t), PresetLoad::Loaded);
  for (size_t c = 0; c < 10; ++c)
    for (size_t i = 0; i < 20; ++i) {
      if (c < 3) { EXPECT_TRUE(SameEntry(t[c][i], file[c][i])) << c << "," << i; }
      if (c > 3 || (c == 3 && i > 0)) { EXPECT_TRUE(SameEntry(t[c][i], Defaults()[c][i])) << c << "," << i; }
    }
  // Watercolor: what came before the cut, the cut line as far as it goes, the rest untouched.
  EXPECT_EQ(t[3][0].Name5, "e");
  EXPECT_EQ(t[3][0].Value1, 11);
  EXPECT_EQ(t[3][0].Value2, 2);
  EXPECT_EQ(t[3][0].Value3, 40);
}

TEST_F(PresetFiles, BinaryGarbageDoesNotCrashAndChangesOnlyWhatItNames) {
  std::mt19937 rng(1234);
  std::string noise = "x";  // not a byte-order mark
  for (int i = 0; i < 200000; ++i) {
    char b = char(rng() & 0xFF);
    if (b == '[' || b == '=') b = 0;  // keep the noise from naming entries by chance
    noise += b;
  }
  const std::string bytes = noise.substr(0, 100000) + "\n[Effect_1_0]\r\nValue2=9\r\n" + noise.substr(100000);
  Write(Path("noise.lqk"), bytes);
  ParamTable t = Defaults();
  ASSERT_EQ(LoadParameters(Path("noise.lqk"), t), PresetLoad::Loaded);
  ParamTable expected = Defaults();
  expected[1][0].Value2 = 9;
  EXPECT_EQ(Differences(expected, t), std::vector<std::string>{});

  // Raw bytes straight into the reader: NULs, lone surrogates, broken UTF-8.
  for (const std::string& junk : {std::string("\0\0\0", 3), std::string("\xFF\xFE\x00\xD8", 4),
                                  std::string("\xFE\xFF\xDC", 3), std::string("[Effect_3_0]\n\xC3=\xFF\xFE")}) {
    ParamTable u = Defaults();
    ReadParameters(junk, u);
    EXPECT_EQ(Differences(Defaults(), u), std::vector<std::string>{});
  }
}

TEST_F(PresetFiles, MissingAndUnreadableFiles) {
  ParamTable t = Defaults();
  std::string error;
  EXPECT_EQ(LoadParameters(Path("absent.lqk"), t, &error), PresetLoad::Missing);
  EXPECT_EQ(LoadParameters(dir_.string(), t, &error), PresetLoad::Failed);
  EXPECT_EQ(error, "not a regular file");
  EXPECT_EQ(Differences(Defaults(), t), std::vector<std::string>{});

  EXPECT_FALSE(SaveParameters(Path("no/such/folder/p.lqk"), t, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(fs::exists(Path("no")));
}

}  // namespace
}  // namespace lq
