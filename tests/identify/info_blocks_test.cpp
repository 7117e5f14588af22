#include "identify/info_blocks.h"

#include <gtest/gtest.h>

#include <chrono>
#include <span>

#include "common/bytes.h"

namespace tessaly {
namespace {

enum class Sum { k59, k72, k24, kNone };

// A parameter block with non-zero content over its whole frame, an optional layout-3
// marker and the stored checksum chosen by `sum`.
Block MakeParams(bool marker, Sum sum, int32_t revision = 7) {
  Block params{};
  for (size_t i = 4; i < 80; ++i)
    params[i] = static_cast<uint8_t>(i * 3 + 1);
  StoreU32LE(params.data() + 55, static_cast<uint32_t>(revision));
  if (marker)
    StoreU32LE(params.data() + 59, kLayout3Marker);
  const std::span<const uint8_t> all(params);
  uint32_t stored = 0;
  switch (sum) {
    case Sum::k59:
      stored = ByteSum(all.subspan(4, 59));
      break;
    case Sum::k72:
      stored = ByteSum(all.subspan(4, 72));
      break;
    case Sum::k24:
      stored = ByteSum(all.subspan(4, 24));
      break;
    case Sum::kNone:
      stored = ByteSum(all.subspan(4, 72)) + 1;
      break;
  }
  StoreU32LE(params.data(), stored);
  return params;
}

struct LayoutCase {
  const char* label;
  bool marker;
  Sum sum;
  int32_t revision;
  int layout;
  int expectedRevision;
};

class LayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LayoutTest, Detects) {
  const LayoutCase& c = GetParam();
  const Block original = MakeParams(c.marker, c.sum, c.revision);
  Block params = original;
  const ParamLayoutInfo info = DetectParamLayout(params);
  EXPECT_EQ(info.layout, c.layout);
  EXPECT_EQ(info.revision, c.expectedRevision);
  for (size_t i = 0; i < params.size(); ++i) {
    const bool cleared = c.layout == 1 && i >= 4 && i < 12;
    EXPECT_EQ(params[i], cleared ? 0 : original[i]) << "byte " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sums, LayoutTest,
    ::testing::Values(LayoutCase{"MarkerAnd59", true, Sum::k59, 7, 3, 7},
                      LayoutCase{"MarkerNegativeRevision", true, Sum::k59, -3, 3, -3},
                      LayoutCase{"MarkerWrong59Falls72", true, Sum::k72, 7, 2, 5},
                      LayoutCase{"MarkerWrong59Falls24", true, Sum::k24, 7, 1, 5},
                      LayoutCase{"No59WithoutMarker", false, Sum::k59, 7, -1, 0},
                      LayoutCase{"Sum72", false, Sum::k72, 7, 2, 5},
                      LayoutCase{"Sum24", false, Sum::k24, 7, 1, 5},
                      LayoutCase{"NoSum", false, Sum::kNone, 7, -1, 0},
                      LayoutCase{"MarkerNoSum", true, Sum::kNone, 7, -1, 0}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(LayoutEdgeTest, ErasedBlockHasNoLayout) {
  Block params;
  params.fill(0xFF);
  EXPECT_EQ(DetectParamLayout(params).layout, -1);
}

struct DateCase {
  uint32_t code;
  int year, month, day, hour, minute, second;
};

TEST(DateCodeTest, KnownDates) {
  const DateCase cases[] = {
      {0, 1970, 1, 1, 0, 0, 0},
      {0xFFFFFFFFu, 2106, 2, 7, 6, 28, 15},  // unsigned: never before 1970
      {2147483648u, 2038, 1, 19, 3, 14, 8},
      {2678399, 1970, 1, 31, 23, 59, 59},
      {2678400, 1970, 2, 1, 0, 0, 0},
      {68212800, 1972, 2, 29, 12, 0, 0},
      {94694399, 1972, 12, 31, 23, 59, 59},
      {94694400, 1973, 1, 1, 0, 0, 0},
      {951782400, 2000, 2, 29, 0, 0, 0},  // divisible by 400: leap
      {978307199, 2000, 12, 31, 23, 59, 59},
      {4107542399u, 2100, 2, 28, 23, 59, 59},  // divisible by 100: no leap day
      {4107542400u, 2100, 3, 1, 0, 0, 0},
      {1709212455, 2024, 2, 29, 13, 14, 15},
  };
  for (const DateCase& c : cases) {
    const DecodedDate d = DecodeDateCode(c.code);
    EXPECT_EQ(d.year, c.year) << c.code;
    EXPECT_EQ(d.month, c.month) << c.code;
    EXPECT_EQ(d.day, c.day) << c.code;
    EXPECT_EQ(d.hour, c.hour) << c.code;
    EXPECT_EQ(d.minute, c.minute) << c.code;
    EXPECT_EQ(d.second, c.second) << c.code;
  }
}

// Every day of the 32-bit range, at a varying time of day, against the standard
// library's civil calendar.
TEST(DateCodeTest, AgreesWithCivilCalendar) {
  using namespace std::chrono;
  for (uint64_t dayIndex = 0; dayIndex * 86400 <= 0xFFFFFFFFu; ++dayIndex) {
    const uint64_t code64 =
        std::min<uint64_t>(dayIndex * 86400 + (dayIndex * 7919) % 86400, 0xFFFFFFFFu);
    const auto code = static_cast<uint32_t>(code64);
    const sys_seconds t{seconds{code64}};
    const year_month_day ymd{floor<days>(t)};
    const hh_mm_ss hms{t - floor<days>(t)};
    const DecodedDate d = DecodeDateCode(code);
    ASSERT_EQ(d.year, static_cast<int>(ymd.year())) << code;
    ASSERT_EQ(d.month, static_cast<unsigned>(ymd.month())) << code;
    ASSERT_EQ(d.day, static_cast<unsigned>(ymd.day())) << code;
    ASSERT_EQ(d.hour, hms.hours().count()) << code;
    ASSERT_EQ(d.minute, hms.minutes().count()) << code;
    ASSERT_EQ(d.second, hms.seconds().count()) << code;
  }
}

TEST(DbVersionTest, TextAndNumber) {
  EXPECT_EQ(DbVersionText(DecodeDateCode(0)), "19700101");
  EXPECT_EQ(DbVersionNumber(DbVersionText(DecodeDateCode(0))), 19700101);
  EXPECT_EQ(DbVersionText(DecodeDateCode(0xFFFFFFFFu)), "21060207");
  EXPECT_EQ(DbVersionNumber("21060207"), 21060207);
  EXPECT_EQ(DbVersionNumber(""), 0);
}

}  // namespace
}  // namespace tessaly
