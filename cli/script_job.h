// Scripts for the command line: reading and checking a script file, the
// context scripts get here, and one script run while the UI loop turns.
#pragma once

#include <string>
#include <vector>

#include "engine/headless_host.h"
#include "script/executor.h"
#include "script/script_types.h"

namespace lq::cli {

// Reads and parses a script file. On failure prints what is wrong (every
// parser message) to stderr, prefixed by `who`, and returns false.
bool LoadCheckedScript(const std::string& who, const std::string& path, std::vector<TScriptCommand>& commands);

// The context a new studio session gives a script, so #N means the same in
// both: the frame and texture chosen at start (#0) ahead of the built-in
// ones, their default margin, colour, strength and scale, the template
// brushes. Only the pictures the script uses are decoded.
TScriptContext CliScriptContext(const EffectDriver& driver, const std::vector<TScriptCommand>& script);

// Runs the script on img on a worker thread while this thread pumps the
// host's loop; Ctrl+C cancels it. Returns the result, or an empty image with
// `error` set.
Image RunScriptPumping(HeadlessHost& host, const std::vector<TScriptCommand>& script, const Image& img,
                       const TScriptContext& context, const TScriptProgressProc& onStep, std::string& error);

// A one-line status on a terminal (stderr), redrawn in place; nothing when
// stderr is not a terminal.
class StatusLine {
 public:
  StatusLine();
  bool active() const { return tty_; }
  void Show(const std::string& text);
  void Clear();

 private:
  bool tty_ = false;
  bool shown_ = false;
};

}  // namespace lq::cli
