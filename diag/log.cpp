#include "diag/log.h"

#include <cxxabi.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <mutex>
#include <typeinfo>

#ifndef LQ_DIAG_LOG_ON
#define LQ_DIAG_LOG_ON 0
#endif

namespace lq {

namespace diag {

namespace {

std::mutex& LineMutex() {
  static std::mutex m;
  return m;
}

std::string ClassName(const std::exception& e) {
  const char* mangled = typeid(e).name();
  int status = 0;
  char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string name = (status == 0 && demangled) ? demangled : mangled;
  std::free(demangled);
  return name;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

// XDG_DOCUMENTS_DIR="$HOME/Documents" as xdg-user-dirs writes it.
std::string FromUserDirs(const std::string& home) {
  std::string config = Env("XDG_CONFIG_HOME");
  if (config.empty() && !home.empty()) config = home + "/.config";
  if (config.empty()) return {};
  std::ifstream in(config + "/user-dirs.dirs");
  std::string line;
  const std::string key = "XDG_DOCUMENTS_DIR=";
  while (std::getline(in, line)) {
    if (line.compare(0, key.size(), key) != 0) continue;
    std::string value = line.substr(key.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (value.compare(0, 5, "$HOME") == 0) value = home + value.substr(5);
    return value;
  }
  return {};
}

}  // namespace

std::string FormatLine(int hours, int minutes, int seconds, int milliseconds, const std::string& message) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d", hours, minutes, seconds, milliseconds);
  return std::string(stamp) + "  " + message;
}

std::string StampLine(const std::string& message) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local {};
  localtime_r(&t, &local);
  return FormatLine(local.tm_hour, local.tm_min, local.tm_sec, int(ms), message);
}

std::string ExceptionText(const std::string& place, const std::exception& e) {
  return "!! EXCEPTION in " + place + ": " + ClassName(e) + ": " + e.what();
}

std::string DocumentsFolder() {
  std::string dir = Env("XDG_DOCUMENTS_DIR");
  if (!dir.empty()) return dir;
  const std::string home = Env("HOME");
  dir = FromUserDirs(home);
  if (!dir.empty()) return dir;
  if (!home.empty()) return IsDirectory(home + "/Documents") ? home + "/Documents" : home;
  return ".";
}

std::string DefaultLogPath() { return DocumentsFolder() + "/Lumaquill_debug.log"; }

void LogFile::Append(const std::string& message) const {
  try {
    // Stamped under the lock so the file's times never run backwards.
    std::lock_guard lock(LineMutex());
    const std::string line = StampLine(message) + "\n";
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    size_t done = 0;
    while (done < line.size()) {
      const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
      if (n <= 0) break;
      done += size_t(n);
    }
    ::close(fd);
  } catch (...) {
    // The log never disturbs the program.
  }
}

}  // namespace diag

namespace {

// Worked out on the first line and kept until the program ends.
const diag::LogFile& TheLog() {
  static const diag::LogFile log(diag::DefaultLogPath());
  return log;
}

}  // namespace

bool DiagLogEnabled() { return LQ_DIAG_LOG_ON != 0; }

void Log(const std::string& message) {
  if (!LQ_DIAG_LOG_ON) return;
  try {
    TheLog().Append(message);
  } catch (...) {
  }
}

void LogFmt(const char* format, ...) {
  if (!LQ_DIAG_LOG_ON || !format) return;
  std::string text;
  bool ok = true;
  va_list args;
  va_start(args, format);
  try {
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n > 0) {
      text.resize(size_t(n) + 1);
      std::vsnprintf(text.data(), text.size(), format, args);
      text.resize(size_t(n));
    }
  } catch (...) {
    ok = false;
  }
  va_end(args);
  if (ok) Log(text);
}

void LogException(const std::string& place, const std::exception& e) {
  if (!LQ_DIAG_LOG_ON) return;
  try {
    TheLog().Append(diag::ExceptionText(place, e));
  } catch (...) {
  }
}

}  // namespace lq
