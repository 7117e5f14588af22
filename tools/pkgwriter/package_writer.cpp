#include "pkgwriter/package_writer.h"

#include <algorithm>
#include <chrono>
#include <fstream>

#include "common/bytes.h"

namespace tessaly::pkgwriter {

namespace {

uint32_t Offset32(size_t offset) {
  return static_cast<uint32_t>(offset);
}

void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& data) {
  out.insert(out.end(), data.begin(), data.end());
}

void AppendU32(std::vector<uint8_t>& out, uint32_t v) {
  uint8_t b[4];
  StoreU32LE(b, v);
  out.insert(out.end(), b, b + 4);
}

}  // namespace

BuiltPackage BuildPackage(const PackageContents& pkg) {
  BuiltPackage built;
  std::vector<uint8_t>& out = built.bytes;
  Append(out, pkg.prefix);

  built.segmentOffset[0] = Offset32(out.size());
  Append(out, pkg.segments[0]);

  built.segmentOffset[1] = Offset32(out.size());
  if (pkg.variantTable || !pkg.variants.empty()) {
    const size_t tableStart = out.size();
    AppendU32(out, pkg.variantCountField.value_or(static_cast<uint32_t>(pkg.variants.size())));
    uint32_t dataOffset =
        static_cast<uint32_t>(kVariantCountBytes + pkg.variants.size() * kVariantEntryBytes);
    for (const Variant& v : pkg.variants) {
      out.insert(out.end(), v.key.begin(), v.key.end());
      AppendU32(out, v.offsetField.value_or(dataOffset));
      AppendU32(out, v.lengthField.value_or(static_cast<uint32_t>(v.data.size())));
      AppendU32(out, 0);  // reserved
      built.variantOffset.push_back(Offset32(tableStart + dataOffset));
      dataOffset += static_cast<uint32_t>(v.data.size());
    }
    for (const Variant& v : pkg.variants)
      Append(out, v.data);
  }

  for (size_t n = 2; n < kSegmentCount; ++n) {
    built.segmentOffset[n] = Offset32(out.size());
    Append(out, pkg.segments[n]);
  }

  std::array<uint8_t, kTrailerBytes>& t = built.decodedTrailer;
  t.fill(0);
  StoreU32LE(t.data() + kTrailerSizeOffset, pkg.sizeField.value_or(kTrailerSize));
  StoreU32LE(t.data() + kTrailerVersionOffset, pkg.version);
  std::copy_n(pkg.brand.begin(), std::min(pkg.brand.size(), kBrandFieldBytes),
              t.begin() + kBrandFieldOffset);
  for (size_t n = 0; n < kSegmentCount; ++n) {
    uint32_t offset = built.segmentOffset[n];
    uint32_t length = static_cast<uint32_t>(pkg.segments[n].size());
    if (n == 1) {
      bool table = pkg.variantTable || !pkg.variants.empty();
      offset = table ? offset : 0;
      length = table ? pkg.variantPresent : 0;
    } else if (length == 0) {
      offset = 0;
    }
    StoreU32LE(t.data() + kSegmentFieldOffset[n], pkg.offsetField[n].value_or(offset));
    StoreU32LE(t.data() + kSegmentFieldOffset[n] + 4, pkg.lengthField[n].value_or(length));
  }
  uint32_t checksum = ByteSum(std::span(t).first(kTrailerChecksumOffset)) +
                      static_cast<uint32_t>(pkg.checksumDelta);
  StoreU32LE(t.data() + kTrailerChecksumOffset, checksum);

  std::array<uint8_t, kTrailerBytes> encoded = t;
  ApplyTrailerKey(encoded);
  out.insert(out.end(), encoded.begin(), encoded.end());
  return built;
}

std::vector<uint8_t> PatternBytes(size_t count, uint32_t seed) {
  // xorshift32: cheap, and every seed gives its own sequence.
  uint32_t x = seed * 2654435761u + 0x9E3779B9u;
  if (x == 0)
    x = 1;
  std::vector<uint8_t> out(count);
  for (uint8_t& b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x >> 24);
  }
  return out;
}

uint32_t DateCode(int year, int month, int day) {
  using namespace std::chrono;
  sys_days date{std::chrono::year{year} / std::chrono::month{static_cast<unsigned>(month)} /
                std::chrono::day{static_cast<unsigned>(day)}};
  return static_cast<uint32_t>(duration_cast<seconds>(date.time_since_epoch()).count());
}

void StampDateCode(std::vector<uint8_t>& data, uint32_t code) {
  if (data.size() >= 4)
    StoreU32LE(data.data(), code);
}

PackageContents DemoPackageContents() {
  // Odd lengths, so that the padding to whole pages is exercised on every region.
  PackageContents pkg;
  pkg.segments[0] = PatternBytes(4000, 1);
  pkg.segments[2] = PatternBytes(65000, 3);
  pkg.segments[3] = PatternBytes(98000, 4);
  pkg.segments[4] = PatternBytes(131000, 5);
  const uint32_t date = DateCode(2026, 12, 1);
  for (size_t n = 2; n < kSegmentCount; ++n)
    StampDateCode(pkg.segments[n], date);
  pkg.variants.push_back({kDemoModelTag, PatternBytes(23456, 21), {}, {}});
  pkg.variants.push_back({{'Z', 'U', 'R', ' '}, PatternBytes(16000, 22), {}, {}});
  return pkg;
}

bool WritePackageFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes,
                      std::string& error) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) {
    error = "cannot create " + path.string();
    return false;
  }
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) {
    error = "cannot write " + path.string();
    return false;
  }
  return true;
}

}  // namespace tessaly::pkgwriter
