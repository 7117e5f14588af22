#include "identify/info_blocks.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <span>

#include "common/bytes.h"

namespace tessaly {

namespace {

uint32_t SumFrom4(const Block& params, size_t count) {
  return ByteSum(std::span<const uint8_t>(params).subspan(kParamSumStart, count));
}

constexpr size_t kLayout1ClearStart = 4;
constexpr size_t kLayout1ClearBytes = 8;

static_assert(kParamSumStart + kLayout2SumBytes <= kBlockSize);
static_assert(kLayout3MarkerOffset + 4 <= kBlockSize);

}  // namespace

ParamLayoutInfo DetectParamLayout(Block& params) {
  const uint32_t stored = LoadU32LE(params.data() + kParamChecksumOffset);
  if (LoadU32LE(params.data() + kLayout3MarkerOffset) == kLayout3Marker &&
      SumFrom4(params, kLayout3SumBytes) == stored) {
    return {3, static_cast<int32_t>(LoadU32LE(params.data() + kLayout3RevisionOffset))};
  }
  if (SumFrom4(params, kLayout2SumBytes) == stored) {
    return {2, kLegacyParamRevision};
  }
  if (SumFrom4(params, kLayout1SumBytes) == stored) {
    std::fill_n(params.begin() + kLayout1ClearStart, kLayout1ClearBytes, uint8_t{0});
    return {1, kLegacyParamRevision};
  }
  return {-1, 0};
}

namespace {

constexpr uint32_t kSecondsPerDay = 86400;
constexpr uint8_t kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool IsLeapYear(unsigned year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

}  // namespace

DecodedDate DecodeDateCode(uint32_t code) {
  // Walked in unsigned arithmetic: the whole 32-bit range is a date after 1970.
  uint32_t rest = code;
  unsigned year = 1970;
  for (;;) {
    const uint32_t yearSeconds = (IsLeapYear(year) ? 366u : 365u) * kSecondsPerDay;
    if (rest < yearSeconds) {
      break;
    }
    rest -= yearSeconds;
    ++year;
  }
  unsigned month = 0;
  for (; month < 11; ++month) {
    const unsigned days = kMonthDays[month] + (month == 1 && IsLeapYear(year) ? 1u : 0u);
    const uint32_t monthSeconds = days * kSecondsPerDay;
    if (monthSeconds > rest) {
      break;
    }
    rest -= monthSeconds;
  }
  DecodedDate date;
  date.year = static_cast<uint16_t>(year);
  date.month = static_cast<uint8_t>(month + 1);
  date.day = static_cast<uint8_t>(rest / kSecondsPerDay + 1);
  rest %= kSecondsPerDay;
  date.hour = static_cast<uint8_t>(rest / 3600);
  rest %= 3600;
  date.minute = static_cast<uint8_t>(rest / 60);
  date.second = static_cast<uint8_t>(rest % 60);
  return date;
}

std::string DbVersionText(const DecodedDate& date) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02d%02d", static_cast<int>(date.year),
                static_cast<int>(date.month), static_cast<int>(date.day));
  return text;
}

int DbVersionNumber(std::string_view text) {
  int value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() ? value : 0;
}

int ParamProgramVersion(const Block& params, int layout) {
  if (layout >= 3) return static_cast<int32_t>(LoadU32LE(params.data() + 8));
  if (layout >= 1) return static_cast<int32_t>(LoadU32LE(params.data() + 32));
  return 0;
}

std::string IdentityBrandText(const Block& identity) {
  std::string text;
  for (uint8_t b : identity) {
    if (b == 0 || b == 0xFF) break;
    text.push_back(static_cast<char>(b));
  }
  return text;
}

}  // namespace tessaly
