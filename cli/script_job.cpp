#include "cli/script_job.h"

#include <fmt/core.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "cli/runner.h"
#include "effects/overlay/frame.h"
#include "resources/repository.h"
#include "script/parser.h"
#include "script/script_file.h"

namespace lq::cli {

bool LoadCheckedScript(const std::string& who, const std::string& path, std::vector<TScriptCommand>& commands) {
  TScriptFile file;
  std::string error;
  if (!LoadScriptFile(path, file, &error)) {
    fmt::print(stderr, "{}: {}\n", who, error);
    return false;
  }
  TScriptParseResult parsed = ParseScript(file.Lines);
  if (!parsed.Ok) {
    fmt::print(stderr, "{}: Script has errors:\n", who);
    for (const std::string& e : parsed.Errors) fmt::print(stderr, "{}\n", e);
    return false;
  }
  if (parsed.Commands.empty()) {
    fmt::print(stderr, "{}: {}: Script is empty\n", who, path);
    return false;
  }
  commands = std::move(parsed.Commands);
  return true;
}

TScriptContext CliScriptContext(const EffectDriver& driver, const std::vector<TScriptCommand>& script) {
  const TScriptNeeds needs = ScriptNeeds(script);
  const TFrameSettings frame;
  return BuildScriptContext(needs.Frames ? Repository().Picture("Frame") : Image(), frame.StoredFrameSize,
                            frame.StoredFrameColor, driver.StoredTextureBitmap, driver.StoredTextureStrength,
                            driver.StoredTextureScale, needs);
}

Image RunScriptPumping(HeadlessHost& host, const std::vector<TScriptCommand>& script, const Image& img,
                       const TScriptContext& context, const TScriptProgressProc& onStep, std::string& error) {
  std::atomic<bool> done{false};
  Image result;
  std::string runError;
  std::thread worker([&] {
    TScriptEngine engine;
    // Step texts are printed by this thread, in order, like everything else on the loop.
    if (onStep)
      engine.OnProgress = [&host, onStep](int step, int total, const std::string& text) {
        host.loop().Post([onStep, step, total, text] { onStep(step, total, text); });
      };
    engine.OnCancel = [] { return Runner::Interrupted(); };
    result = engine.Run(script, img, img, context, runError);
    done = true;
  });
  host.loop().RunUntil([&] {
    if (Runner::Interrupted()) host.driver().Cancel = true;
    return done.load();
  });
  worker.join();
  host.loop().ProcessPending();
  error = runError;
  return result;
}

StatusLine::StatusLine() : tty_(isatty(STDERR_FILENO) != 0) {}

void StatusLine::Show(const std::string& text) {
  if (!tty_) return;
  fmt::print(stderr, "\r\033[K{}", text);
  std::fflush(stderr);
  shown_ = true;
}

void StatusLine::Clear() {
  if (!tty_ || !shown_) return;
  fmt::print(stderr, "\r\033[K");
  std::fflush(stderr);
  shown_ = false;
}

}  // namespace lq::cli
