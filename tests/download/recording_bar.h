// A progress bar that keeps what it was told, for the download display's tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "update/progress.h"

namespace tessaly::testing {

struct RecordingBar : IProgressBar {
  std::string ProgressText() override { return text; }
  void SetProgressText(const std::string& t) override {
    text = t;
    ++textSets;
  }
  void SetProgressBounds(uint32_t l, uint32_t u) override {
    lower = l;
    upper = u;
  }
  void SetProgressPosition(uint32_t p) override { position = p; }

  std::string text;
  int textSets = 0;
  std::optional<uint32_t> lower, upper, position;
};

}  // namespace tessaly::testing
