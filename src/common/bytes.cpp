#include "common/bytes.h"

#include <cstring>

namespace tessaly {

uint32_t ByteSum(std::span<const uint8_t> bytes) {
  uint32_t sum = 0;
  for (uint8_t b : bytes) sum += b;
  return sum;
}

std::optional<uint32_t> ReadU32LE(std::span<const uint8_t> bytes, size_t off) {
  if (off > bytes.size() || bytes.size() - off < 4) return std::nullopt;
  return LoadU32LE(bytes.data() + off);
}

std::optional<uint16_t> ReadU16LE(std::span<const uint8_t> bytes, size_t off) {
  if (off > bytes.size() || bytes.size() - off < 2) return std::nullopt;
  return LoadU16LE(bytes.data() + off);
}

bool WriteU32LE(std::span<uint8_t> bytes, size_t off, uint32_t v) {
  if (off > bytes.size() || bytes.size() - off < 4) return false;
  StoreU32LE(bytes.data() + off, v);
  return true;
}

bool StartsWithBytes(std::span<const uint8_t> bytes, std::string_view prefix) {
  return bytes.size() >= prefix.size() &&
         (prefix.empty() || std::memcmp(bytes.data(), prefix.data(), prefix.size()) == 0);
}

std::string HexString(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0x0F]);
  }
  return out;
}

}  // namespace tessaly
