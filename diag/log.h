// Diagnostic log: one timestamped line per event, appended to
// "Lumaquill_debug.log" in the user's documents folder. Compiled in only when
// the build turns it on (LQ_DIAG_LOG); otherwise every call returns at once
// and no file is created.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace lq {

// True when this build writes the log.
bool DiagLogEnabled();

// None of these ever throw; a line that cannot be written is lost.
void Log(const std::string& message);
// printf-style: %s, %d, %p and the rest.
void LogFmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
// "!! EXCEPTION in " + place + ": " + class name + ": " + message.
void LogException(const std::string& place, const std::exception& e);

// Pieces of the above, usable whatever the build switch says.
namespace diag {

// "hh:nn:ss.zzz" + two spaces + message (no line break).
std::string FormatLine(int hours, int minutes, int seconds, int milliseconds, const std::string& message);
// The same with the current local time.
std::string StampLine(const std::string& message);
// The text LogException writes.
std::string ExceptionText(const std::string& place, const std::exception& e);

// $XDG_DOCUMENTS_DIR, else the documents entry of user-dirs.dirs, else
// ~/Documents when it exists, else $HOME (else the current folder).
std::string DocumentsFolder();
// DocumentsFolder() + "/Lumaquill_debug.log".
std::string DefaultLogPath();

// Appends whole lines to one file. Lines from concurrent callers never
// interleave: open, write and close happen under one lock.
class LogFile {
 public:
  explicit LogFile(std::string path) : path_(std::move(path)) {}
  void Append(const std::string& message) const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace diag
}  // namespace lq
