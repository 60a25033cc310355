#include <fmt/core.h>

#include "cli/commands.h"
#include "engine/catalogue.h"

namespace lq::cli {

namespace {

int ListEffects() {
  for (const EffectInfo& e : Catalogue()) {
    std::string params;
    for (int i = 0; i < 5; ++i) {
      if (i) params += ", ";
      params += fmt::format("{}={}", e.labels[size_t(i)], e.defaults[size_t(i)]);
    }
    fmt::print("{:<4} {:<21} {:<20} {}\n", e.number, e.listName, e.scriptId ? e.scriptId : "-", params);
  }
  return 0;
}

}  // namespace

void AddEffectsCommand(CLI::App& app, int& status) {
  auto* cmd = app.add_subcommand("effects", "List the effects: number, name, script id, parameters with defaults");
  cmd->callback([&status] { status = ListEffects(); });
}

}  // namespace lq::cli
