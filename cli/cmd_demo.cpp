// lumaquill-cli demo: every effect on the built-in photograph, plus a contact sheet.
#include <fmt/core.h>

#include <filesystem>

#include "cli/commands.h"
#include "cli/contact_sheet.h"
#include "cli/image_io.h"
#include "cli/runner.h"
#include "engine/catalogue.h"

namespace lq::cli {

namespace fs = std::filesystem;

namespace {

struct DemoOptions {
  std::string outDir = "out/demo";
  std::string input;
};

std::string FileStem(const EffectInfo& e) {
  std::string s = std::to_string(e.number) + "_";
  for (char ch : std::string(e.listName)) {
    if (std::isalnum(static_cast<unsigned char>(ch)))
      s += char(std::tolower(static_cast<unsigned char>(ch)));
    else if (s.back() != '_')
      s += '_';
  }
  while (s.back() == '_') s.pop_back();
  return s;
}

int RunDemo(const DemoOptions& o) {
  Runner runner;
  Image src;
  std::string err;
  if (!o.input.empty()) {
    src = LoadImage(o.input, &err);
  } else if (runner.host().driver().BuiltinImage) {
    src = runner.host().driver().BuiltinImage("DefaultImage");
    if (!src) err = "no built-in photograph; give --input FILE";
  } else {
    err = "no built-in photograph; give --input FILE";
  }
  if (!src) {
    fmt::print(stderr, "lumaquill-cli demo: {}\n", err);
    return 1;
  }
  std::error_code ec;
  fs::create_directories(o.outDir, ec);
  if (!fs::is_directory(o.outDir)) {
    fmt::print(stderr, "lumaquill-cli demo: cannot create directory {}\n", o.outDir);
    return 1;
  }
  std::vector<SheetItem> items{{src, "Original"}};
  int failures = 0;
  for (const EffectInfo& e : Catalogue()) {
    if (!FindEffectProc(e.number)) continue;
    if (Runner::Interrupted()) break;
    fmt::print("{} {}\n", e.number, e.listName);
    std::array<int, 5> p = {e.defaults[0], e.defaults[1], e.defaults[2], e.defaults[3], e.defaults[4]};
    Image result = runner.Apply(e.number, p, src, e.listName, &err);
    std::string out = (fs::path(o.outDir) / (FileStem(e) + ".png")).string();
    if (!result || !SaveImage(result, out, &err)) {
      fmt::print(stderr, "{}: {}\n", e.listName, err);
      ++failures;
      continue;
    }
    items.push_back({result, std::to_string(e.number) + " " + e.listName});
  }
  Image sheet = MakeContactSheet(items, 4, 300, "Lumaquill Studio - every effect at its default parameters");
  std::string sheetPath = (fs::path(o.outDir) / "contact.png").string();
  if (!sheet || !SaveImage(sheet, sheetPath, &err)) {
    fmt::print(stderr, "contact sheet: {}\n", err);
    return 1;
  }
  fmt::print("Wrote {} images and {}\n", items.size() - 1, sheetPath);
  return failures == 0 && !Runner::Interrupted() ? 0 : 1;
}

}  // namespace

void AddDemoCommand(CLI::App& app, int& status) {
  auto opts = std::make_shared<DemoOptions>();
  auto* cmd = app.add_subcommand("demo", "Render the built-in photograph through every effect, with a contact sheet");
  cmd->add_option("--out-dir", opts->outDir, "output folder (default out/demo)");
  cmd->add_option("--input", opts->input, "use this picture instead of the built-in photograph");
  cmd->callback([opts, &status] { status = RunDemo(*opts); });
}

}  // namespace lq::cli
