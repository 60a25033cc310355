#include "cli/commands.h"

namespace lq::cli {

void AddEffectsCommand(CLI::App& app, int& status);
void AddApplyCommand(CLI::App& app, int& status);
void AddDemoCommand(CLI::App& app, int& status);
void AddResourcesCommand(CLI::App& app, int& status);
void AddRunCommand(CLI::App& app, int& status);
void AddBatchCommand(CLI::App& app, int& status);

void AddCommands(CLI::App& app, int& status) {
  AddEffectsCommand(app, status);
  AddApplyCommand(app, status);
  AddDemoCommand(app, status);
  AddResourcesCommand(app, status);
  AddRunCommand(app, status);
  AddBatchCommand(app, status);
}

}  // namespace lq::cli
