// Package writer: lays out segments, a segment-2 variant table and the encoded
// trailer of an update package. The product only reads packages; this writer serves
// the tests, the demo package and the benchmarks, so it can also break any field on
// purpose to produce the malformed packages the reader must refuse.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "update/package.h"

namespace tessaly::pkgwriter {

struct Variant {
  VariantKey key{};
  std::vector<uint8_t> data;
  // Written into the entry in place of the true offset (from the table's start) or
  // length, to point the entry elsewhere.
  std::optional<uint32_t> offsetField;
  std::optional<uint32_t> lengthField;
};

// What goes into a package. Defaults give a valid, empty version-3 package for the
// brand "Sable Harbor".
// "Sable Harbor" as package brand bytes.
inline std::vector<uint8_t> DefaultBrandBytes() {
  static constexpr char kName[] = "Sable Harbor";
  return std::vector<uint8_t>(kName, kName + sizeof kName - 1);
}

struct PackageContents {
  std::vector<uint8_t> brand = DefaultBrandBytes();
  uint32_t version = kMinTrailerVersion;
  std::vector<uint8_t> prefix;  // arbitrary bytes ahead of everything else
  // segments[n] is the data of segment n+1; segments[1] is not used: segment 2 comes
  // from the variant table.
  std::array<std::vector<uint8_t>, kSegmentCount> segments;
  bool variantTable = false;  // write a table, also when `variants` is empty
  std::vector<Variant> variants;
  uint32_t variantPresent = 1;  // value of the "present" field when a table is written

  // Malformations: each replaces the value the writer would otherwise write.
  std::optional<uint32_t> sizeField;
  int64_t checksumDelta = 0;  // added (wrapping) to the correct checksum
  // offsetField[1] / lengthField[1] are the variant table offset and present fields.
  std::array<std::optional<uint32_t>, kSegmentCount> offsetField;
  std::array<std::optional<uint32_t>, kSegmentCount> lengthField;
  std::optional<uint32_t> variantCountField;
};

struct BuiltPackage {
  std::vector<uint8_t> bytes;
  // Offsets the writer laid the data at (before any field override): segment n+1 at
  // segmentOffset[n], the variant table at segmentOffset[1].
  std::array<uint32_t, kSegmentCount> segmentOffset{};
  std::vector<uint32_t> variantOffset;  // absolute offset of each variant's data
  std::array<uint8_t, kTrailerBytes> decodedTrailer{};
};

// File order: prefix, segment 1, variant table (count, entries, variant data),
// segments 3, 4 and 5, trailer.
BuiltPackage BuildPackage(const PackageContents& pkg);

// Deterministic filler bytes, different for each seed.
std::vector<uint8_t> PatternBytes(size_t count, uint32_t seed);

// Seconds since 1970-01-01 00:00:00 UTC of a calendar day (proleptic Gregorian).
uint32_t DateCode(int year, int month, int day);

// Puts `code` into the first four bytes of `data` (which must hold at least four).
void StampDateCode(std::vector<uint8_t>& data, uint32_t code);

// The demo package for the virtual detector's default profile (layout 3, model tag
// "SH01"): brand "Sable Harbor", all five segments, a variant for "SH01" and one for
// "ZUR ", and regions 3 to 5 dated 2026-12-01.
PackageContents DemoPackageContents();
inline constexpr VariantKey kDemoModelTag = {'S', 'H', '0', '1'};

// Writes `bytes` to `path`, replacing it. On failure returns false and sets `error`.
bool WritePackageFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes,
                      std::string& error);

}  // namespace tessaly::pkgwriter
