// The device's information blocks as the probe reads them: the parameter block's
// layout (told apart only by which checksum matches) and the region date codes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "identify/device_state.h"

namespace tessaly {

// Where the blocks and the database date live on the device.
inline constexpr uint32_t kIdentityPage = 0x70;        // memory 0
inline constexpr uint32_t kParamsPage = 0x110;         // memory 0
inline constexpr uint32_t kDatabaseDatePage = 0x2DE0;  // memory 1
inline constexpr uint8_t kMemoryMain = 0;
inline constexpr uint8_t kMemoryData = 1;

// Parameter block frame.
inline constexpr uint32_t kLayout3Marker = 0x5A3C9E71;
inline constexpr size_t kParamChecksumOffset = 0;
inline constexpr size_t kParamSumStart = 4;
inline constexpr size_t kLayout3SumBytes = 59;
inline constexpr size_t kLayout2SumBytes = 72;
inline constexpr size_t kLayout1SumBytes = 24;
inline constexpr size_t kLayout3RevisionOffset = 55;
inline constexpr size_t kLayout3MarkerOffset = 59;
inline constexpr int kLegacyParamRevision = 5;  // what layouts 1 and 2 count as

struct ParamLayoutInfo {
  int layout = -1;   // 3, 2, 1; -1 when no checksum matched
  int revision = 0;  // layout 3: stored in the block; 5 for layouts 2 and 1; 0 none
};

// Decides the layout of a parameter block. A layout-1 block has bytes 4..11 cleared
// in `params` (they hold nothing of layout 1 and must not be taken for its fields).
ParamLayoutInfo DetectParamLayout(Block& params);

// The device's program version in a parameter block: bytes 8..11 in layout 3, bytes
// 32..35 in layouts 1 and 2 (signed). 0 when the layout is not usable.
int ParamProgramVersion(const Block& params, int layout);

// The brand at the start of an identity block as text: the bytes up to the first
// zero or 0xFF byte (a blank block gives an empty text).
std::string IdentityBrandText(const Block& identity);

struct DecodedDate {
  uint8_t second = 0;
  uint8_t minute = 0;
  uint8_t hour = 0;
  uint8_t day = 1;    // 1..31
  uint8_t month = 1;  // 1..12
  uint16_t year = 1970;
};

// A date code: unsigned seconds since 1970-01-01 00:00:00, no time zone applied.
DecodedDate DecodeDateCode(uint32_t code);

// The database version text, "yyyymmdd".
std::string DbVersionText(const DecodedDate& date);

// The version text read as a decimal number; 0 for an empty or non-numeric text.
int DbVersionNumber(std::string_view text);

}  // namespace tessaly
