#include "document/presets.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "document/imagefile.h"
#include "document/textio.h"

namespace lq {

namespace {

constexpr int kCategories = 10;
constexpr int kPositions = 20;

// Fields by number, without the catalogue's methods: the document library does
// not link the engine.
template <typename P>
auto NameField(P& p, int i) -> decltype(&p.Name1) {
  switch (i) {
    case 1: return &p.Name1;
    case 2: return &p.Name2;
    case 3: return &p.Name3;
    case 4: return &p.Name4;
    case 5: return &p.Name5;
  }
  return nullptr;
}

template <typename P>
auto ValueField(P& p, int i) -> decltype(&p.Value1) {
  switch (i) {
    case 1: return &p.Value1;
    case 2: return &p.Value2;
    case 3: return &p.Value3;
    case 4: return &p.Value4;
    case 5: return &p.Value5;
  }
  return nullptr;
}

// A label with a line break in it would split its line and shift every later
// section; the reader could never get it back anyway.
std::string OneLine(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c == '\r' || c == '\n') c = ' ';
  return out;
}

// "Name3" -> 3 and so on; 0 for any other key (keys are compared exactly).
int KeyIndex(std::string_view key, std::string_view prefix) {
  if (key.size() != prefix.size() + 1 || key.substr(0, prefix.size()) != prefix) return 0;
  const char d = key.back();
  return (d >= '1' && d <= '5') ? d - '0' : 0;
}

}  // namespace

std::string FormatParameters(const ParamTable& params) {
  std::string out = "\xEF\xBB\xBF";
  out.reserve(64 * 1024);
  auto line = [&](const std::string& s) {
    out += s;
    out += "\r\n";
  };
  line("# Lumaquill Parameters File");
  line("# Format: [Effect_Category_Index]");
  line("");
  for (int c = 0; c < kCategories; ++c) {
    for (int i = 0; i < kPositions; ++i) {
      const TParameters& p = params[size_t(c)][size_t(i)];
      line("[Effect_" + std::to_string(c) + "_" + std::to_string(i) + "]");
      for (int k = 1; k <= 5; ++k) line("Name" + std::to_string(k) + "=" + OneLine(*NameField(p, k)));
      for (int k = 1; k <= 5; ++k) line("Value" + std::to_string(k) + "=" + std::to_string(*ValueField(p, k)));
      line("");
    }
  }
  return out;
}

void ReadParameters(std::string_view bytes, ParamTable& params) {
  const DecodedText text = DecodeText(bytes);
  TParameters* current = nullptr;
  for (const std::string& raw : SplitLines(text.utf8)) {
    const std::string_view line = TrimControl(raw);
    if (line.empty() || line[0] == '#') continue;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      const std::string_view inner = line.substr(1, line.size() - 2);
      if (inner.substr(0, 7) != "Effect_") continue;  // other headers keep the selection
      const std::string_view rest = inner.substr(7);
      const size_t sep = rest.find('_');
      if (sep == std::string_view::npos || rest.find('_', sep + 1) != std::string_view::npos) continue;
      int32_t c = 0, i = 0;
      // A header whose numbers are not numbers is treated like one out of range.
      if (TryParseInt32(rest.substr(0, sep), c) && TryParseInt32(rest.substr(sep + 1), i) && c >= 0 &&
          c < kCategories && i >= 0 && i < kPositions)
        current = &params[size_t(c)][size_t(i)];
      else
        current = nullptr;
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos || eq == 0 || !current) continue;
    const std::string_view key = TrimControl(line.substr(0, eq));
    const std::string_view value = TrimControl(line.substr(eq + 1));
    if (int k = KeyIndex(key, "Name")) {
      *NameField(*current, k) = std::string(value);
    } else if (int k = KeyIndex(key, "Value")) {
      int32_t v = 0;
      if (!TryParseInt32(value, v)) v = 0;
      *ValueField(*current, k) = v;
    }
  }
}

bool SaveParameters(const std::string& fileName, const ParamTable& params, std::string* error) {
  const std::string bytes = FormatParameters(params);
  return WriteFileAtomically(fileName, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), error);
}

PresetLoad LoadParameters(const std::string& fileName, ParamTable& params, std::string* error) {
  struct stat st {};
  if (::stat(fileName.c_str(), &st) != 0 && errno == ENOENT) return PresetLoad::Missing;
  std::string bytes;
  if (!ReadWholeFile(fileName, bytes, error)) return PresetLoad::Failed;
  ReadParameters(bytes, params);
  return PresetLoad::Loaded;
}

}  // namespace lq
