// Arbitrary file contents through everything the update worker runs before it
// writes: the trailer reader, the inside-the-file check and the acceptance checks,
// for a device of each variant-key rule. Besides the sanitizers' findings, any broken
// invariant aborts.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "update/package.h"

namespace {

using namespace tessaly;

void Require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "package_fuzz: %s\n", what);
    std::abort();
  }
}

DeviceState MakeDevice(int layout, std::string_view identity) {
  DeviceState s;
  s.m_paramLayout = layout;
  const std::string_view layout3Tag = "SH01", layout2Tag = "V73 ";
  std::copy(layout3Tag.begin(), layout3Tag.end(), s.m_params.begin() + 4);
  std::copy(layout2Tag.begin(), layout2Tag.end(), s.m_params.begin() + 28);
  std::copy(identity.begin(), identity.end(), s.m_identity.begin());
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::array<DeviceState, 5> devices = {
      MakeDevice(3, "Sable Harbor"), MakeDevice(2, "Sable Harbor"), MakeDevice(0, "ZUR"),
      MakeDevice(1, "Kyrin"), MakeDevice(-1, "Sable Harbor")};
  static const std::string brandSlot("Sable Harbor\0\0\0\0", 16);

  MemoryByteSource source(std::span<const uint8_t>(data, size));
  for (const DeviceState& device : devices) {
    ResolvedTrailer t;
    const int code = ReadPackageTrailer(source, device, t);
    Require(code == kPackageOk || code == kPackageInvalid || code == kPackageBadVariantTable,
            "unknown reader result");
    PackageCheck check = CheckPackage(source, device, brandSlot);
    if (code != kPackageOk) {
      Require(check.code == code && check.message == WrongFormatMessage(code), "format message");
      continue;
    }

    // What the reader keeps is bounded by the file.
    Require(t.fileSize == size, "file size");
    Require(t.variants.size() <= size / kVariantEntryBytes, "table larger than the file");
    if (t.chosenVariant) {
      Require(*t.chosenVariant < t.variants.size(), "chosen entry out of range");
    } else {
      Require(t.segments[1].offset == 0 && t.segments[1].length == 0, "segment 2 not absent");
    }
    for (size_t n = 0; n < kSegmentCount; ++n) {
      Require(t.segments[n].length <= kSegmentLengthLimit[n], "length over its limit");
    }

    if (CheckSegmentsInsideFile(t) != kPackageOk) {
      Require(check.message == WrongFormatMessage(kPackageInvalid), "outside message");
      continue;
    }
    // Everything a flash would read must be readable.
    for (const PackageSegment& s : t.segments) {
      if (s.length == 0)
        continue;  // an absent segment's offset means nothing
      Require(ReadBytesAt(source, s.offset, s.length).has_value(), "segment unreadable");
    }
    if (check.Accepted()) {
      Require(check.totalBytes == TotalSegmentBytes(t) && check.totalBytes > 0 &&
                  check.totalBytes <= uint64_t{kSegmentCount} * size,
              "total");
      Require(PackageBrandMatches(t, brandSlot), "accepted a foreign brand");
    } else {
      Require(check.message == kMsgVersionUnmatched || check.message == kMsgNoDatabase,
              "acceptance message");
    }
  }
  return 0;
}
