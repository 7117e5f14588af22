// Writing an accepted package into the detector: one CMD_WRITE_PAGES per region with
// its page count and checksum, the data in 64-byte reports, and the device's closing
// answer as the only verdict. There is no erase step and no read-back.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <span>

#include "device/hid_cmd.h"
#include "update/package.h"
#include "update/progress.h"

namespace tessaly {

// Flash map: first page (address / 256) and memory selector of each region.
inline constexpr uint32_t kSegment1Address = 0x000000;
inline constexpr uint32_t kInfoPageAddress = 0x008000;
inline constexpr uint32_t kSegment2Address = 0x009000;
inline constexpr uint32_t kSegment3Address = 0x016000;
inline constexpr uint32_t kSegment4Address = 0x0DE000;
inline constexpr uint32_t kSegment5Address = 0x2DE000;
inline constexpr uint8_t kSegment1Memory = 0;
inline constexpr uint8_t kDataMemory = 1;

// Firmware from this number on confirms every transfer and gets retries. Compared
// unsigned, so the failed queries (-1, -2) count as new firmware.
inline constexpr uint32_t kConfirmingFirmware = 1008;
inline constexpr int kRetriedAttempts = 10;

inline constexpr uint32_t kInfoPageMarker = 0x5A3C9E71;

bool FirmwareConfirmsTransfers(int firmware);

// What the sequence needs of the window besides the counters.
class IFlashHost {
 public:
  virtual ~IFlashHost() = default;
  virtual void ShowUpdateProgress() = 0;
  virtual void ShowLinkState() = 0;
};

struct FlashContext {
  CHidCmd& cmd;
  int firmware;
  UpdateCounters& counters;
  IFlashHost& host;
  // Set while the window closes: retries give up at once.
  const std::atomic<int>* stopWorker = nullptr;
};

// The info page written ahead of segment 2: marker, unpadded length, transformed sum.
std::array<uint8_t, kPageSize> BuildInfoPage(std::span<const uint8_t> segment2);

// One region from the package: read `length` bytes at `offset`, pad to pages, and
// write them with the checksum kind and attempts the flash map gives.
bool WriteSegment(FlashContext& ctx, ByteSource& package, uint32_t address, uint64_t offset,
                  uint32_t length, bool transformed, uint8_t selector, bool retry);

// The info page and then the chosen variant of segment 2.
bool WriteVariantSegment(FlashContext& ctx, ByteSource& package, const ResolvedTrailer& trailer);

// Every present segment in order, then the closing step. True when all were written.
bool FlashPackage(FlashContext& ctx, ByteSource& package, const ResolvedTrailer& trailer);

}  // namespace tessaly
