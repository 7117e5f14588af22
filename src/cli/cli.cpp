#include "cli/cli.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>

#include "cli/commands.h"
#include "cli/session.h"

namespace tessaly::cli {
namespace {

void Fail(const std::string& message) { std::fprintf(stderr, "tessaly-tool: %s\n", message.c_str()); }

}  // namespace

int RunCli(int argc, char** argv) {
  CLI::App app{"tessaly-tool: update and configure a GPS radar detector over USB"};
  app.require_subcommand(1);
  app.fallthrough();

  GlobalOptions g;
  auto* simOpt = app.add_option("--simulate", g.simDir,
                                "Use the virtual detector, keeping its state in DIR (default: " +
                                    DefaultSimFolder() + ")")
                     ->expected(0, 1)
                     ->type_name("DIR");
  app.add_option("--sim-profile", g.simProfile,
                 "Profile for a new virtual detector's state folder: layout3 (default), "
                 "layout2, layout2-v73, layout1, blank-identity, foreign-brand")
      ->check(CLI::Validator(ValidateSimProfile, "PROFILE"));
  app.add_option("--sim-fault", g.simFaults, "Inject a fault into the virtual detector, KIND:N\n" +
                                                 SimFaultHelp())
      ->type_name("KIND:N")
      ->check(CLI::Validator(ValidateSimFault, "KIND:N"));
  app.add_option("--sim-delay-us", g.simDelayUs, "Delay of the virtual detector per report");
  app.add_option("--sim-firmware", g.simFirmware, "Firmware number of the virtual detector");
  app.add_option("--trace", g.traceFile, "Write every report to FILE ('> ' out, '< ' in)")
      ->type_name("FILE");
  app.add_flag("--json", g.json, "Print results as JSON");

  CommandTable commands;
  RegisterCommands(app, commands);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    Fail(e.what());
    return kExitUsage;
  }
  g.simulate = simOpt->count() > 0;
  if (g.simulate && g.simDir.empty()) g.simDir = DefaultSimFolder();

  for (auto& [sub, run] : commands) {
    if (sub->parsed()) {
      std::string error;
      auto session = Session::Create(g, error);
      if (!session) {
        Fail(error);
        return kExitFailed;
      }
      return run(*session);
    }
  }
  Fail("no command given; see --help");
  return kExitUsage;
}

}  // namespace tessaly::cli
