// Little-endian readers and writers and the byte sum used across the device protocol,
// the information blocks and update packages. Wire data is never cast to structs:
// every field is read through these helpers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tessaly {

// The 32-bit wrapping sum of the unsigned bytes of a range.
uint32_t ByteSum(std::span<const uint8_t> bytes);

// Fixed-offset access for buffers whose size the caller has already established
// (a 256-byte page, a 27-byte packet). The caller guarantees off + width <= size.
inline uint32_t LoadU32LE(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint16_t LoadU16LE(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline void StoreU32LE(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline void StoreU16LE(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// Bounds-checked access for data whose length is not known in advance.
std::optional<uint32_t> ReadU32LE(std::span<const uint8_t> bytes, size_t off);
std::optional<uint16_t> ReadU16LE(std::span<const uint8_t> bytes, size_t off);
bool WriteU32LE(std::span<uint8_t> bytes, size_t off, uint32_t v);

// True when `bytes` starts with exactly the bytes of `prefix`.
bool StartsWithBytes(std::span<const uint8_t> bytes, std::string_view prefix);

// Lowercase hex of a byte range, two digits a byte, no separators.
std::string HexString(std::span<const uint8_t> bytes);

}  // namespace tessaly
