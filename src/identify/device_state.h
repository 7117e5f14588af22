// What the probe learns about the connected detector. The main window (and the CLI)
// own one; the probe writes it on the main thread, the update worker and the
// settings flow read it while the probe cannot run.
#pragma once

#include <array>
#include <cstdint>

namespace tessaly {

inline constexpr size_t kBlockSize = 256;
using Block = std::array<uint8_t, kBlockSize>;

struct DeviceState {
  int m_nFirmwareRevision = 0;  // firmware number; -1 query not sent, -2 bad answer
  Block m_params{};             // parameter block, page 0x110 of memory 0
  int m_paramLayout = 0;        // 3, 2 or 1; 0 not decided or unread; -1 no layout matched
  int m_paramRevision = 0;      // layout 3: from the block; 5 for layouts 2 and 1; 0 none
  Block m_identity{};           // identity block, page 0x70 of memory 0
  int m_nDeviceDbVersion = -1;  // yyyymmdd; -1 no device ready; 0 date page unread
  int m_bDeviceReady = 0;       // 1 after a probe accepted the device
};

}  // namespace tessaly
