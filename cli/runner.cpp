#include "cli/runner.h"

#include <fmt/core.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

#include "engine/catalogue.h"

namespace lq::cli {

namespace {
std::atomic<bool> g_interrupted{false};

void OnSigint(int) {
  g_interrupted = true;
  // A second Ctrl+C ends the program at once.
  std::signal(SIGINT, SIG_DFL);
}
}  // namespace

void InstallInterruptHandler() {
  std::signal(SIGINT, OnSigint);
  std::signal(SIGTERM, OnSigint);
}

Runner::Runner() : tty_(isatty(STDERR_FILENO) != 0) {
  host_.SetHistoryEnabled(false);
  host_.onProgress = [this](int v) { DrawProgress(v); };
  InstallInterruptHandler();
}

Runner::~Runner() = default;

bool Runner::Interrupted() { return g_interrupted.load(); }

void Runner::DrawProgress(int percent) {
  if (!tty_) return;
  if (percent < 0) {
    fmt::print(stderr, "\r\033[K");
    return;
  }
  constexpr int kWidth = 30;
  int filled = percent * kWidth / 100;
  fmt::print(stderr, "\r\033[K[{}{}] {:3}% {}", std::string(size_t(filled), '#'),
             std::string(size_t(kWidth - filled), '.'), percent, label_);
}

Image Runner::Apply(int number, const std::array<int, 5>& p, const Image& src, const std::string& label,
                    std::string* error) {
  if (g_interrupted) {
    if (error) *error = "cancelled";
    return {};
  }
  label_ = label;
  EffectDriver& d = host_.driver();
  d.VIrImage = src;
  d.VIrSourceImage = src;
  int ended = host_.fullRunsEnded;
  if (tty_) DrawProgress(0);
  d.ProcessEffect(number, p[0], p[1], p[2], p[3], p[4], false);
  if (!host_.messages.empty()) {
    if (error) *error = host_.messages.back();
    host_.messages.clear();
    return {};
  }
  host_.loop().RunUntil([&] {
    if (g_interrupted) d.Cancel = true;
    return host_.fullRunsEnded != ended;
  });
  if (tty_) DrawProgress(-1);
  switch (host_.lastOutcome) {
    case EffectHost::Outcome::Succeeded: return d.VIrImage;
    case EffectHost::Outcome::Aborted:
      if (error) *error = "cancelled";
      return {};
    default:
      if (error) *error = "the effect failed";
      return {};
  }
}

int ParseEffect(const std::string& word) {
  int n = EffectIdFromScriptText(word);
  return FindEffect(n) ? n : -1;
}

}  // namespace lq::cli
