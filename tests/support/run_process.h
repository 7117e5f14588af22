// Runs a built executable with arguments (no shell) and collects its output.
#pragma once

#include <string>
#include <vector>

namespace tessaly::testing {

struct ProcessResult {
  int exitCode = -1;  // -1 when it did not exit normally
  std::string out;
  std::string err;
};

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& extraEnv = {});

}  // namespace tessaly::testing
