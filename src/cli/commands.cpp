#include "cli/commands.h"

#include <cstdio>
#include <iostream>

namespace tessaly::cli {

void RegisterCommands(CLI::App& app, CommandTable& table) {
  RegisterDeviceCommands(app, table);
  RegisterProbeCommand(app, table);
  RegisterUpdateCommand(app, table);
  RegisterInspectCommand(app, table);
}

void PrintJson(const nlohmann::json& value) { std::cout << value.dump(2) << std::endl; }

int FailWith(const std::string& message) {
  std::fprintf(stderr, "tessaly-tool: %s\n", message.c_str());
  return 1;
}

}  // namespace tessaly::cli
