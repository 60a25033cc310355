// lumaquill-cli apply EFFECT [P1 .. P5] INPUT... (-o OUT | --out-dir DIR)
#include <fmt/core.h>

#include <charconv>
#include <filesystem>

#include "cli/commands.h"
#include "cli/image_io.h"
#include "cli/runner.h"
#include "engine/catalogue.h"

namespace lq::cli {

namespace fs = std::filesystem;

namespace {

struct ApplyOptions {
  std::vector<std::string> words;  // EFFECT, up to five integers, then inputs
  std::string out;
  std::string outDir;
};

bool ParseInt(const std::string& s, int* v) {
  if (s.empty()) return false;
  const char* b = s.data();
  const char* e = b + s.size();
  if (*b == '+') ++b;
  auto [ptr, ec] = std::from_chars(b, e, *v);
  return ec == std::errc() && ptr == e;
}

int RunApply(const ApplyOptions& o) {
  if (o.words.empty()) {
    fmt::print(stderr, "lumaquill-cli apply: missing EFFECT (see lumaquill-cli effects)\n");
    return 2;
  }
  int number = ParseEffect(o.words[0]);
  if (number < 0 || !FindEffectProc(number)) {
    fmt::print(stderr, "lumaquill-cli apply: unknown effect '{}' (see lumaquill-cli effects)\n", o.words[0]);
    return 2;
  }
  const EffectInfo* info = FindEffect(number);
  std::array<int, 5> p = {info->defaults[0], info->defaults[1], info->defaults[2], info->defaults[3],
                          info->defaults[4]};
  size_t i = 1;
  for (int k = 0; k < 5 && i < o.words.size(); ++k, ++i) {
    int v;
    if (!ParseInt(o.words[i], &v)) break;
    if (v < 0 || v > 100) {
      fmt::print(stderr, "lumaquill-cli apply: parameter P{} must be 0..100, got {}\n", k + 1, v);
      return 2;
    }
    p[size_t(k)] = v;
  }
  std::vector<std::string> inputs(o.words.begin() + long(i), o.words.end());
  if (inputs.empty()) {
    fmt::print(stderr, "lumaquill-cli apply: no input files\n");
    return 2;
  }
  if (o.out.empty() == o.outDir.empty()) {
    fmt::print(stderr, "lumaquill-cli apply: give either -o OUT or --out-dir DIR\n");
    return 2;
  }
  if (!o.out.empty() && inputs.size() != 1) {
    fmt::print(stderr, "lumaquill-cli apply: -o takes one input; use --out-dir for several\n");
    return 2;
  }
  if (!o.outDir.empty()) {
    std::error_code ec;
    fs::create_directories(o.outDir, ec);
    if (!fs::is_directory(o.outDir)) {
      fmt::print(stderr, "lumaquill-cli apply: cannot create directory {}\n", o.outDir);
      return 1;
    }
  }

  Runner runner;
  int written = 0;
  for (const std::string& in : inputs) {
    if (Runner::Interrupted()) break;
    std::string err;
    Image src = LoadImage(in, &err);
    if (!src) {
      fmt::print(stderr, "{}\n", err);
      continue;
    }
    std::string out = o.out.empty() ? (fs::path(o.outDir) / fs::path(OutputNameFor(in)).filename()).string() : o.out;
    Image result = runner.Apply(number, p, src, fs::path(in).filename().string(), &err);
    if (!result) {
      fmt::print(stderr, "{}: {}\n", in, err);
      continue;
    }
    if (!SaveImage(result, out, &err)) {
      fmt::print(stderr, "{}: {}\n", out, err);
      continue;
    }
    ++written;
  }
  if (Runner::Interrupted()) fmt::print(stderr, "Cancelled.\n");
  return written == int(inputs.size()) ? 0 : 1;
}

}  // namespace

void AddApplyCommand(CLI::App& app, int& status) {
  auto opts = std::make_shared<ApplyOptions>();
  auto* cmd = app.add_subcommand(
      "apply",
      "Apply an effect: EFFECT (number, script id or name), up to five parameters 0..100 "
      "(missing ones take the defaults), then the input files");
  cmd->add_option("words", opts->words, "EFFECT [P1 .. P5] INPUT...")->required();
  cmd->add_option("-o,--out", opts->out, "output file (one input); the extension picks the format");
  cmd->add_option("--out-dir", opts->outDir, "output folder; each output is named name_LQ.ext");
  cmd->callback([opts, &status] { status = RunApply(*opts); });
}

}  // namespace lq::cli
