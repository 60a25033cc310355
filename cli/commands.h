// The subcommands of lumaquill-cli. Each returns the process exit status.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace lq::cli {

// Registers every subcommand on the app; the chosen one runs after parsing.
void AddCommands(CLI::App& app, int& status);

// A whole decimal integer with an optional '+': how parameters are told apart
// from the file names that follow them.
bool ParseInt(const std::string& s, int* v);

}  // namespace lq::cli
