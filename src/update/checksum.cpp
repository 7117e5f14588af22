#include "update/checksum.h"

#include "common/bytes.h"

namespace tessaly {

std::vector<uint8_t> PadToPages(std::span<const uint8_t> data) {
  size_t padded = (data.size() + kPageBytes - 1) / kPageBytes * kPageBytes;
  std::vector<uint8_t> out(padded, 0xFF);
  std::copy(data.begin(), data.end(), out.begin());
  return out;
}

uint32_t TransformedSum(std::span<const uint8_t> data) {
  uint32_t key = kTransformSeed;
  uint32_t acc = 0;
  uint32_t pos = 0;
  uint32_t sum = 0;
  size_t i = 0;
  for (; i + 4 <= data.size(); i += 4) {
    uint8_t g[4] = {data[i], data[i + 1], data[i + 2], data[i + 3]};
    g[2] ^= g[0];
    g[3] ^= g[1];
    uint32_t word = LoadU32LE(g) ^ key;
    acc += word;
    sum += (word & 0xFF) + ((word >> 8) & 0xFF) + ((word >> 16) & 0xFF) + (word >> 24);
    pos += 4;
    if (pos == 256) {
      key = acc;
      acc = 0;
      pos = 0;
    }
  }
  for (; i < data.size(); ++i) sum += data[i];
  return sum;
}

uint32_t SegmentChecksum(std::span<const uint8_t> padded, size_t length) {
  if (length > padded.size()) length = padded.size();
  return TransformedSum(padded.first(length)) + ByteSum(padded.subspan(length));
}

}  // namespace tessaly
