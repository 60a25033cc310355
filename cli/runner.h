// Runs effects for the command line: full runs through the effect driver on a
// headless host, with a progress line on a terminal and Ctrl+C as cancel.
#pragma once

#include <array>
#include <string>

#include "engine/headless_host.h"

namespace lq::cli {

class Runner {
 public:
  Runner();
  ~Runner();

  // Full run of effect `number` on src. Returns the result, or an empty image
  // when the run was cancelled or failed (error says which).
  Image Apply(int number, const std::array<int, 5>& p, const Image& src, const std::string& label,
              std::string* error);
  // True once the user pressed Ctrl+C.
  static bool Interrupted();
  HeadlessHost& host() { return host_; }

 private:
  void DrawProgress(int percent);
  HeadlessHost host_;
  bool tty_ = false;
  std::string label_;
};

// Ctrl+C and SIGTERM set the interrupted flag instead of ending the program
// (a second Ctrl+C ends it). Installed first thing in main, so a signal that
// comes early still cancels cleanly.
void InstallInterruptHandler();

// Effect number from a command-line word: a number, a script id or a list name.
// -1 when nothing matches.
int ParseEffect(const std::string& word);

}  // namespace lq::cli
