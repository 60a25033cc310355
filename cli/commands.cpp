#include "cli/commands.h"

#include <charconv>

namespace lq::cli {

void AddEffectsCommand(CLI::App& app, int& status);
void AddApplyCommand(CLI::App& app, int& status);
void AddDemoCommand(CLI::App& app, int& status);
void AddResourcesCommand(CLI::App& app, int& status);
void AddRunCommand(CLI::App& app, int& status);
void AddBatchCommand(CLI::App& app, int& status);

bool ParseInt(const std::string& s, int* v) {
  if (s.empty()) return false;
  const char* b = s.data();
  const char* e = b + s.size();
  if (*b == '+') ++b;
  auto [ptr, ec] = std::from_chars(b, e, *v);
  return ec == std::errc() && ptr == e;
}

void AddCommands(CLI::App& app, int& status) {
  AddEffectsCommand(app, status);
  AddApplyCommand(app, status);
  AddDemoCommand(app, status);
  AddResourcesCommand(app, status);
  AddRunCommand(app, status);
  AddBatchCommand(app, status);
}

}  // namespace lq::cli
