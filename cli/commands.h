// The subcommands of lumaquill-cli. Each returns the process exit status.
#pragma once

#include <CLI/CLI.hpp>

namespace lq::cli {

// Registers every subcommand on the app; the chosen one runs after parsing.
void AddCommands(CLI::App& app, int& status);

}  // namespace lq::cli
