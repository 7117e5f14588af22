// tessaly-tool: the command-line front over the core. Exit status 0 on success, 1
// when the device or the operation failed, 2 for bad usage.
#pragma once

namespace tessaly::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

int RunCli(int argc, char** argv);

}  // namespace tessaly::cli
