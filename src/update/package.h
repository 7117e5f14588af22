// Update packages (".dqx"): the reader of the package trailer, the choice of the
// segment-2 variant for the connected device, and the checks that decide whether a
// package may be written. Everything here is pure over a ByteSource and the device
// state; nothing touches the device.
//
// File layout: segments and a variant table anywhere before the trailer, and the
// trailer in the last 320 bytes, XOR-encoded with "KESTRAIN". Every multi-byte value
// is a u32, little-endian. Nothing in a package is trusted for an offset, a length or
// a count before it has been checked against the size of the file.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "identify/brand.h"
#include "identify/device_state.h"

namespace tessaly {

// ---- Results of ReadPackageTrailer and CheckSegmentsInsideFile ----------------------
inline constexpr int kPackageOk = 0;
// No valid trailer of version 3 or more; also a present segment outside the file.
inline constexpr int kPackageInvalid = -1;
// The variant table's count or entries cannot be read from the file.
inline constexpr int kPackageBadVariantTable = -4;

// ---- User-visible texts ---------------------------------------------------------------
inline constexpr std::string_view kMsgVersionUnmatched = "Version unmatched!";
inline constexpr std::string_view kMsgNoDatabase = "Cannot find the available database!";
// Shown with the failing result appended at once, e.g. "Wrong format of the file!-4".
inline constexpr std::string_view kMsgWrongFormat = "Wrong format of the file!";

// "Wrong format of the file!" followed by `code` formatted with "%d".
std::string WrongFormatMessage(int code);

// ---- Trailer layout (offsets into the decoded trailer) --------------------------------
inline constexpr size_t kTrailerBytes = 320;
inline constexpr uint32_t kTrailerSize = 316;  // the trailer without its checksum
inline constexpr uint32_t kMinTrailerVersion = 3;
inline constexpr std::array<uint8_t, 8> kTrailerKey = {'K', 'E', 'S', 'T', 'R', 'A', 'I', 'N'};

inline constexpr size_t kTrailerSizeOffset = 0;
inline constexpr size_t kTrailerVersionOffset = 4;
inline constexpr size_t kBrandFieldOffset = 8;
inline constexpr size_t kBrandFieldBytes = 256;
inline constexpr size_t kTrailerChecksumOffset = 316;

inline constexpr size_t kSegmentCount = 5;
// Offset/length pair of segment n+1. For segment 2 the pair holds the variant table
// offset and the "table present" value instead.
inline constexpr std::array<size_t, kSegmentCount> kSegmentFieldOffset = {264, 272, 280, 288, 296};
// Largest length of each segment; a length equal to its limit passes. Segment 2 has
// none of its own (its variants are bounded by the file).
inline constexpr std::array<uint32_t, kSegmentCount> kSegmentLengthLimit = {
    0x7000, UINT32_MAX, 0xC8000, 0x200000, 0x522000};

// Variant table: u32 count N, then N entries of 16 bytes (key, offset from the table's
// start, length, reserved).
inline constexpr size_t kVariantCountBytes = 4;
inline constexpr size_t kVariantEntryBytes = 16;

// Bytes of the package brand field compared with the build's brand.
inline constexpr size_t kPackageBrandCompareBytes = 12;

// XORs `bytes` with the trailer key, byte i with key byte i mod 8. Encoding and
// decoding are the same operation.
void ApplyTrailerKey(std::span<uint8_t> bytes);

// ---- Byte sources -----------------------------------------------------------------------

// Random-access bytes of a package. ReadAt keeps no position: a failed read leaves
// nothing behind that a later read could trip over, which is why the reader never has
// to seek back after a failure.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Total size in bytes, or nullopt when it cannot be learned.
  virtual std::optional<uint64_t> Size() = 0;
  // Fills `out` with the bytes at `offset`. False unless every byte was read. Reading
  // nothing always succeeds.
  virtual bool ReadAt(uint64_t offset, std::span<uint8_t> out) = 0;
};

// A package file, opened for reading as raw bytes ("rb": no text translation).
class FileByteSource final : public ByteSource {
 public:
  // Null when the path cannot be opened or is not a regular file (a directory would
  // open on some systems and then fail every read).
  static std::unique_ptr<FileByteSource> Open(const std::filesystem::path& path);

  std::optional<uint64_t> Size() override;
  bool ReadAt(uint64_t offset, std::span<uint8_t> out) override;

 private:
  struct FileCloser {
    void operator()(std::FILE* f) const;
  };
  explicit FileByteSource(std::FILE* file) : m_file(file) {}
  std::unique_ptr<std::FILE, FileCloser> m_file;
};

// Bytes held in memory; for tests, the fuzz target and already-loaded files.
class MemoryByteSource final : public ByteSource {
 public:
  MemoryByteSource() = default;
  explicit MemoryByteSource(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}
  explicit MemoryByteSource(std::span<const uint8_t> bytes) : m_bytes(bytes.begin(), bytes.end()) {}

  std::optional<uint64_t> Size() override { return m_bytes.size(); }
  bool ReadAt(uint64_t offset, std::span<uint8_t> out) override;
  std::span<const uint8_t> Bytes() const { return m_bytes; }

 private:
  std::vector<uint8_t> m_bytes;
};

// `length` bytes at `offset`, or nullopt when they do not all lie inside the source.
// The range is checked against the source's size before any memory is obtained.
std::optional<std::vector<uint8_t>> ReadBytesAt(ByteSource& source, uint64_t offset,
                                                uint64_t length);

// ---- Trailer and variant selection ------------------------------------------------------

// The variant key of the connected device is the brand rule DeviceVariantKey
// (identify/brand.h): the model tag by layout, or "RKVD" / "ZUR " / zeros.
using VariantKey = ModelTag;

struct VariantEntry {
  VariantKey key{};
  uint32_t offset = 0;  // from the start of the variant table
  uint32_t length = 0;
};

// Where one segment lies in the file. Offsets are 64-bit so that a variant's table
// offset plus entry offset cannot wrap around.
struct PackageSegment {
  uint64_t offset = 0;
  uint32_t length = 0;  // 0: the segment is absent
};

// The decoded trailer with segment 2 resolved to the chosen variant.
struct ResolvedTrailer {
  uint64_t fileSize = 0;  // size of the source the trailer was read from
  uint32_t size = 0;
  uint32_t version = 0;
  std::array<uint8_t, kBrandFieldBytes> brand{};
  // segments[n] is segment n+1. segments[1] is the chosen variant of segment 2, or
  // absent (offset and length 0) when no variant applies.
  std::array<PackageSegment, kSegmentCount> segments{};
  uint32_t variantTableOffset = 0;
  uint32_t variantTablePresent = 0;     // raw field; 0 means no segment 2
  std::vector<VariantEntry> variants;   // the table as read, for display
  std::optional<size_t> chosenVariant;  // index into `variants`
  uint32_t checksum = 0;
};

// Reads and checks the trailer in the last 320 bytes of `source`, then resolves
// segment 2 for `state`. Returns
//   kPackageOk (0): valid trailer of version 3 or more, segment 2 resolved;
//   kPackageInvalid (-1): fewer than 320 bytes, wrong size field, wrong checksum, a
//     length over its limit (tested in that order), or a version below 3;
//   kPackageBadVariantTable (-4): the table's count, or its 16-byte entries, do not lie
//     inside the file. The count is checked against the file before any memory is
//     obtained for the entries.
// Variant choice: the first entry whose key equals DeviceVariantKey(state); failing
// that, the only entry of a one-entry table; otherwise segment 2 is absent.
// `out` is reset first; after a non-zero result its segments must not be used.
int ReadPackageTrailer(ByteSource& source, const DeviceState& state, ResolvedTrailer& out);

// kPackageOk when every present segment (the chosen variant included) lies wholly
// inside the file the trailer was read from; kPackageInvalid otherwise. The worker
// runs it right after ReadPackageTrailer and reports a failure like the reader's own,
// as WrongFormatMessage(-1), so a package that points past its end is refused before
// anything is written.
int CheckSegmentsInsideFile(const ResolvedTrailer& trailer);

// ---- Acceptance -------------------------------------------------------------------------

// True when the first 12 bytes of the package brand field equal the first 12 bytes of
// `brandSlot` (bytes missing from a shorter slot count as zero; nothing after the 12
// bytes is compared), or when the slot's text is 21 spaces, which skips the check.
// `brandSlot` holds the build's brand as stored in its 16-byte slot, name then zeros.
bool PackageBrandMatches(const ResolvedTrailer& trailer, std::string_view brandSlot);

// Sum of the five resolved segment lengths: the bytes an update writes.
uint64_t TotalSegmentBytes(const ResolvedTrailer& trailer);

struct Acceptance {
  std::string message;      // empty when accepted, else the text to show
  uint64_t totalBytes = 0;  // TotalSegmentBytes when accepted
  bool Accepted() const { return message.empty(); }
};

// The acceptance checks, in order: brand ("Version unmatched!"), then a non-zero total
// ("Cannot find the available database!"). Run only after ReadPackageTrailer and
// CheckSegmentsInsideFile have both returned 0.
Acceptance CheckAcceptance(const ResolvedTrailer& trailer, std::string_view brandSlot);

// Everything the worker checks before writing, in its order: the reader, the
// inside-the-file check, then the acceptance checks.
struct PackageCheck {
  int code = kPackageOk;    // first non-zero result of the reader or the inside check
  std::string message;      // empty when the package may be written
  uint64_t totalBytes = 0;  // bytes to write when it may
  ResolvedTrailer trailer;
  bool Accepted() const { return message.empty(); }
};
PackageCheck CheckPackage(ByteSource& source, const DeviceState& state, std::string_view brandSlot);

// ---- File names -------------------------------------------------------------------------

// True for a package file: never for a directory; otherwise the text after the last
// dot of the whole path, lower-cased, must be exactly "dqx". A dot in a folder name
// counts, so "a.b/file" has the extension "b/file".
bool IsPackageFileName(const std::filesystem::path& path, bool isDirectory);

}  // namespace tessaly
