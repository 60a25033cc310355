// lumaquill-cli run SCRIPT.lqs INPUT... (-o OUT | --out-dir DIR)
#include <fmt/core.h>

#include <filesystem>

#include "cli/batch_plan.h"
#include "cli/commands.h"
#include "cli/image_io.h"
#include "cli/runner.h"
#include "cli/script_job.h"

namespace lq::cli {

namespace fs = std::filesystem;

namespace {

constexpr const char* kWho = "lumaquill-cli run";

struct RunOptions {
  std::string script;
  std::vector<std::string> inputs;
  std::string out;
  std::string outDir;
};

int RunRun(const RunOptions& o) {
  // The whole script is checked before any picture is read.
  std::vector<TScriptCommand> script;
  if (!LoadCheckedScript(kWho, o.script, script)) return 2;
  if (o.inputs.empty()) {
    fmt::print(stderr, "{}: no input files\n", kWho);
    return 2;
  }
  if (o.out.empty() == o.outDir.empty()) {
    fmt::print(stderr, "{}: give either -o OUT or --out-dir DIR\n", kWho);
    return 2;
  }
  if (!o.out.empty() && o.inputs.size() != 1) {
    fmt::print(stderr, "{}: -o takes one input; use --out-dir for several\n", kWho);
    return 2;
  }
  std::vector<TBatchItem> items;
  if (!o.out.empty()) {
    items.push_back({o.inputs[0], o.out, false});
  } else {
    std::error_code ec;
    fs::create_directories(o.outDir, ec);
    if (!fs::is_directory(o.outDir)) {
      fmt::print(stderr, "{}: cannot create directory {}\n", kWho, o.outDir);
      return 1;
    }
    items = PlanOutputs(o.inputs, o.outDir);
    for (const TBatchItem& it : items)
      if (it.renamed)
        fmt::print(stderr, "{}: {} is written as {}: its usual name belongs to another file of this run\n", kWho,
                   it.input, it.output);
  }

  // The command line's host, set up as for every other command; the progress
  // line here shows script steps.
  Runner runner;
  HeadlessHost& host = runner.host();
  StatusLine status;
  std::string label, stepText;
  int percent = -1;
  auto redraw = [&] {
    status.Show(percent >= 0 && percent <= 100 ? fmt::format("{} {:3}%  {}", stepText, percent, label)
                                               : fmt::format("{}  {}", stepText, label));
  };
  host.onProgress = [&](int p) {
    percent = p;
    redraw();
  };
  auto onStep = [&](int step, int total, const std::string& text) {
    stepText = fmt::format("Step {}/{}: {}", step, total, text);
    percent = -1;
    redraw();
  };

  const TScriptContext context = CliScriptContext(host.driver(), script);
  int written = 0;
  for (const TBatchItem& item : items) {
    if (Runner::Interrupted()) break;
    std::string error;
    Image src = LoadImage(item.input, &error);
    if (!src) {
      status.Clear();
      fmt::print(stderr, "{}\n", error);
      continue;
    }
    label = fs::path(item.input).filename().string();
    Image result = RunScriptPumping(host, script, src, context, onStep, error);
    status.Clear();
    if (!result) {
      fmt::print(stderr, "{}: {}\n", item.input, error);
      continue;
    }
    if (!SaveImage(result, item.output, &error)) {
      fmt::print(stderr, "{}: {}\n", item.output, error);
      continue;
    }
    ++written;
  }
  status.Clear();
  if (Runner::Interrupted()) fmt::print(stderr, "Cancelled.\n");
  return written == int(items.size()) ? 0 : 1;
}

}  // namespace

void AddRunCommand(CLI::App& app, int& status) {
  auto opts = std::make_shared<RunOptions>();
  auto* cmd = app.add_subcommand("run", "Run a script (.lqs) on each input picture");
  cmd->add_option("script", opts->script, "SCRIPT.lqs")->required();
  cmd->add_option("inputs", opts->inputs, "INPUT...")->required();
  cmd->add_option("-o,--out", opts->out, "output file (one input); the extension picks the format");
  cmd->add_option("--out-dir", opts->outDir, "output folder; each output is named name_LQ.ext");
  cmd->callback([opts, &status] { status = RunRun(*opts); });
}

}  // namespace lq::cli
