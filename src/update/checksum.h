// Checksums of flashed data. The device checks every written region against the
// value announced in its write command, so host and device must agree to the bit.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tessaly {

inline constexpr uint32_t kTransformSeed = 0x5A3C9E71;
inline constexpr size_t kPageBytes = 256;

// A copy of `data` padded with 0xFF up to the next multiple of 256 bytes (no padding
// when the length already is one).
std::vector<uint8_t> PadToPages(std::span<const uint8_t> data);

// Byte sum of the transformed copy of `data`. The transform works on whole 4-byte
// groups (b2 ^= b0, b3 ^= b1, then the group XOR the key); the key becomes the running
// sum of the stored groups after every 256 bytes. A tail of 1..3 bytes is summed as is.
uint32_t TransformedSum(std::span<const uint8_t> data);

// Checksum of a padded segment: the transformed sum of its first `length` bytes plus
// the plain sum of the padding after them.
uint32_t SegmentChecksum(std::span<const uint8_t> padded, size_t length);

}  // namespace tessaly
