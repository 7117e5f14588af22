// Building identity and parameter blocks for the identify tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "identify/device_state.h"

namespace tessaly::testing {

// `prefix` followed by `fill` bytes.
inline Block MakeBlock(std::string_view prefix, uint8_t fill = 0) {
  Block block;
  block.fill(fill);
  std::copy_n(prefix.begin(), std::min(prefix.size(), block.size()), block.begin());
  return block;
}

inline std::string_view AsText(const Block& block, size_t count) {
  return {reinterpret_cast<const char*>(block.data()), count};
}

}  // namespace tessaly::testing
