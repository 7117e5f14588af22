// The CLI's commands. Each Register* adds its subcommand to the parser and the
// function that runs it once the options are parsed.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli.h"
#include "cli/session.h"

namespace tessaly::cli {

using CommandTable = std::vector<std::pair<CLI::App*, std::function<int(Session&)>>>;

void RegisterCommands(CLI::App& app, CommandTable& table);
void RegisterDeviceCommands(CLI::App& app, CommandTable& table);
void RegisterProbeCommand(CLI::App& app, CommandTable& table);
void RegisterUpdateCommand(CLI::App& app, CommandTable& table);
void RegisterInspectCommand(CLI::App& app, CommandTable& table);

// Shared output helpers.
void PrintJson(const nlohmann::json& value);
int FailWith(const std::string& message);  // one line on stderr, returns 1

}  // namespace tessaly::cli
