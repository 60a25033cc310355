// lumaquill-cli: the engine without a window.
#include <fmt/core.h>

#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "cli/runner.h"
#include "engine/random.h"

int main(int argc, char** argv) {
  lq::cli::InstallInterruptHandler();
  lq::Randomize();
  CLI::App app{"Lumaquill Studio command line: turns photographs into drawings and paintings."};
  app.name("lumaquill-cli");
  app.set_version_flag("--version", "lumaquill-cli 4.20");
  app.require_subcommand(1);
  int status = 0;
  lq::cli::AddCommands(app, status);
  if (argc > 1 && argv[1][0] != '-') {
    bool known = false;
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
      known = known || sub->check_name(argv[1]);
    if (!known) {
      fmt::print(stderr, "lumaquill-cli: unknown command '{}' (see --help)\n", argv[1]);
      return 2;
    }
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    fmt::print(stderr, "lumaquill-cli: {} (see --help)\n", e.what());
    return 2;
  }
  return status;
}
