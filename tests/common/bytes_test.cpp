#include <gtest/gtest.h>

#include <vector>

#include "common/bytes.h"

namespace tessaly {
namespace {

TEST(Bytes, ByteSumWrapsAt32Bits) {
  EXPECT_EQ(ByteSum({}), 0u);
  std::vector<uint8_t> ff(16843010, 0xFF);  // 255 * 16843010 = 2^32 + 254
  EXPECT_EQ(ByteSum(ff), 254u);
}

TEST(Bytes, CheckedReadsRefuseRangesPastTheEnd) {
  const std::vector<uint8_t> b = {0x71, 0x9E, 0x3C, 0x5A, 0x01};
  EXPECT_EQ(ReadU32LE(b, 0), 0x5A3C9E71u);
  EXPECT_EQ(ReadU32LE(b, 1), 0x015A3C9Eu);
  EXPECT_FALSE(ReadU32LE(b, 2));
  EXPECT_FALSE(ReadU32LE(b, SIZE_MAX - 1)) << "offset + width must not wrap";
  EXPECT_EQ(ReadU16LE(b, 3), 0x015Au);
  EXPECT_FALSE(ReadU16LE(b, 4));
  std::vector<uint8_t> out(6, 0);
  EXPECT_TRUE(WriteU32LE(out, 2, 0x11223344));
  EXPECT_EQ(out, (std::vector<uint8_t>{0, 0, 0x44, 0x33, 0x22, 0x11}));
  EXPECT_FALSE(WriteU32LE(out, 3, 1));
  EXPECT_EQ(out[5], 0x11) << "a refused write changes nothing";
}

}  // namespace
}  // namespace tessaly
