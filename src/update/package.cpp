#include "update/package.h"

#include <algorithm>
#include <limits>
#include <system_error>

#include "common/bytes.h"

namespace tessaly {

namespace {

// Entries are read this many at a time, so a large table never needs a second copy
// of itself in memory.
constexpr size_t kEntriesPerRead = 256;

bool SeekTo(std::FILE* f, uint64_t offset) {
  if (offset > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
    return false;
#ifdef _WIN32
  return _fseeki64(f, static_cast<int64_t>(offset), SEEK_SET) == 0;
#else
  return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

// True when [offset, offset + length) lies inside a source of `size` bytes.
bool RangeInside(uint64_t offset, uint64_t length, uint64_t size) {
  return offset <= size && size - offset >= length;
}

template <typename Char>
bool HasPackageExtension(std::basic_string_view<Char> path) {
  static constexpr std::string_view kExtension = "dqx";
  size_t dot = path.rfind(static_cast<Char>('.'));
  if (dot == std::basic_string_view<Char>::npos)
    return false;
  std::basic_string_view<Char> ext = path.substr(dot + 1);
  if (ext.size() != kExtension.size())
    return false;
  for (size_t i = 0; i < ext.size(); ++i) {
    Char c = ext[i];
    if (c >= static_cast<Char>('A') && c <= static_cast<Char>('Z')) {
      c = static_cast<Char>(c - 'A' + 'a');
    }
    if (c != static_cast<Char>(kExtension[i]))
      return false;
  }
  return true;
}

}  // namespace

std::string WrongFormatMessage(int code) {
  return std::string(kMsgWrongFormat) + std::to_string(code);
}

void ApplyTrailerKey(std::span<uint8_t> bytes) {
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] ^= kTrailerKey[i % kTrailerKey.size()];
}

// ---- Byte sources -----------------------------------------------------------------------

void FileByteSource::FileCloser::operator()(std::FILE* f) const {
  if (f != nullptr)
    std::fclose(f);
}

std::unique_ptr<FileByteSource> FileByteSource::Open(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec))
    return nullptr;
#ifdef _WIN32
  std::FILE* file = _wfopen(path.c_str(), L"rb");
#else
  std::FILE* file = std::fopen(path.c_str(), "rb");
#endif
  if (file == nullptr)
    return nullptr;
  return std::unique_ptr<FileByteSource>(new FileByteSource(file));
}

std::optional<uint64_t> FileByteSource::Size() {
  std::FILE* f = m_file.get();
#ifdef _WIN32
  if (_fseeki64(f, 0, SEEK_END) != 0)
    return std::nullopt;
  int64_t end = _ftelli64(f);
#else
  if (fseeko(f, 0, SEEK_END) != 0)
    return std::nullopt;
  int64_t end = ftello(f);
#endif
  if (end < 0)
    return std::nullopt;
  return static_cast<uint64_t>(end);
}

bool FileByteSource::ReadAt(uint64_t offset, std::span<uint8_t> out) {
  if (out.empty())
    return true;
  std::FILE* f = m_file.get();
  std::clearerr(f);
  if (!SeekTo(f, offset))
    return false;
  return std::fread(out.data(), 1, out.size(), f) == out.size();
}

bool MemoryByteSource::ReadAt(uint64_t offset, std::span<uint8_t> out) {
  if (out.empty())
    return true;
  if (!RangeInside(offset, out.size(), m_bytes.size()))
    return false;
  std::copy_n(m_bytes.begin() + static_cast<ptrdiff_t>(offset), out.size(), out.begin());
  return true;
}

std::optional<std::vector<uint8_t>> ReadBytesAt(ByteSource& source, uint64_t offset,
                                                uint64_t length) {
  std::optional<uint64_t> size = source.Size();
  if (!size || !RangeInside(offset, length, *size))
    return std::nullopt;
  std::vector<uint8_t> bytes(static_cast<size_t>(length));
  if (!source.ReadAt(offset, bytes))
    return std::nullopt;
  return bytes;
}

// ---- Trailer and variant selection ------------------------------------------------------

int ReadPackageTrailer(ByteSource& source, const DeviceState& state, ResolvedTrailer& out) {
  out = ResolvedTrailer{};
  std::optional<uint64_t> fileSize = source.Size();
  if (!fileSize || *fileSize < kTrailerBytes)
    return kPackageInvalid;

  std::array<uint8_t, kTrailerBytes> t{};
  if (!source.ReadAt(*fileSize - kTrailerBytes, t))
    return kPackageInvalid;
  ApplyTrailerKey(t);

  const uint8_t* p = t.data();
  if (LoadU32LE(p + kTrailerSizeOffset) != kTrailerSize)
    return kPackageInvalid;
  uint32_t checksum = LoadU32LE(p + kTrailerChecksumOffset);
  if (ByteSum(std::span(t).first(kTrailerChecksumOffset)) != checksum)
    return kPackageInvalid;
  for (size_t n = 0; n < kSegmentCount; ++n) {
    if (n == 1)
      continue;  // segment 2's pair is the variant table's
    if (LoadU32LE(p + kSegmentFieldOffset[n] + 4) > kSegmentLengthLimit[n]) {
      return kPackageInvalid;
    }
  }
  uint32_t version = LoadU32LE(p + kTrailerVersionOffset);
  if (version < kMinTrailerVersion)
    return kPackageInvalid;

  out.fileSize = *fileSize;
  out.size = kTrailerSize;
  out.version = version;
  out.checksum = checksum;
  std::copy_n(p + kBrandFieldOffset, kBrandFieldBytes, out.brand.begin());
  for (size_t n = 0; n < kSegmentCount; ++n) {
    if (n == 1)
      continue;
    out.segments[n].offset = LoadU32LE(p + kSegmentFieldOffset[n]);
    out.segments[n].length = LoadU32LE(p + kSegmentFieldOffset[n] + 4);
  }
  out.variantTableOffset = LoadU32LE(p + kSegmentFieldOffset[1]);
  out.variantTablePresent = LoadU32LE(p + kSegmentFieldOffset[1] + 4);
  if (out.variantTablePresent == 0)
    return kPackageOk;

  // The count decides how much is read and kept, so it is held against the file
  // before anything is allocated for it.
  const uint64_t tableOffset = out.variantTableOffset;
  std::array<uint8_t, kVariantCountBytes> countBytes{};
  if (!RangeInside(tableOffset, kVariantCountBytes, *fileSize) ||
      !source.ReadAt(tableOffset, countBytes)) {
    return kPackageBadVariantTable;
  }
  const uint32_t count = LoadU32LE(countBytes.data());
  const uint64_t entriesOffset = tableOffset + kVariantCountBytes;
  if (!RangeInside(entriesOffset, uint64_t{count} * kVariantEntryBytes, *fileSize)) {
    return kPackageBadVariantTable;
  }

  std::vector<VariantEntry> entries;
  entries.reserve(count);
  std::array<uint8_t, kEntriesPerRead * kVariantEntryBytes> chunk{};
  while (entries.size() < count) {
    size_t n = std::min<size_t>(kEntriesPerRead, count - entries.size());
    std::span<uint8_t> raw = std::span(chunk).first(n * kVariantEntryBytes);
    if (!source.ReadAt(entriesOffset + entries.size() * kVariantEntryBytes, raw)) {
      return kPackageBadVariantTable;
    }
    for (size_t k = 0; k < n; ++k) {
      const uint8_t* e = raw.data() + k * kVariantEntryBytes;
      VariantEntry entry;
      std::copy_n(e, entry.key.size(), entry.key.begin());
      entry.offset = LoadU32LE(e + 4);
      entry.length = LoadU32LE(e + 8);
      entries.push_back(entry);
    }
  }

  const VariantKey key = DeviceVariantKey(state);
  auto match = std::find_if(entries.begin(), entries.end(),
                            [&](const VariantEntry& e) { return e.key == key; });
  if (match != entries.end()) {
    out.chosenVariant = static_cast<size_t>(match - entries.begin());
  } else if (entries.size() == 1) {
    out.chosenVariant = 0;
  }
  if (out.chosenVariant) {
    const VariantEntry& chosen = entries[*out.chosenVariant];
    out.segments[1].offset = tableOffset + chosen.offset;
    out.segments[1].length = chosen.length;
  }
  out.variants = std::move(entries);
  return kPackageOk;
}

int CheckSegmentsInsideFile(const ResolvedTrailer& trailer) {
  for (const PackageSegment& s : trailer.segments) {
    if (s.length != 0 && !RangeInside(s.offset, s.length, trailer.fileSize)) {
      return kPackageInvalid;
    }
  }
  return kPackageOk;
}

// ---- Acceptance -------------------------------------------------------------------------

bool PackageBrandMatches(const ResolvedTrailer& trailer, std::string_view brandSlot) {
  // One rule for every place that compares brands: the slot's name as a build brand.
  return PackageBrandAccepted(trailer.brand, ConfiguredBrand(brandSlot.substr(0, brandSlot.find('\0'))));
}

uint64_t TotalSegmentBytes(const ResolvedTrailer& trailer) {
  uint64_t total = 0;
  for (const PackageSegment& s : trailer.segments)
    total += s.length;
  return total;
}

Acceptance CheckAcceptance(const ResolvedTrailer& trailer, std::string_view brandSlot) {
  Acceptance result;
  if (!PackageBrandMatches(trailer, brandSlot)) {
    result.message = kMsgVersionUnmatched;
    return result;
  }
  uint64_t total = TotalSegmentBytes(trailer);
  if (total == 0) {
    result.message = kMsgNoDatabase;
    return result;
  }
  result.totalBytes = total;
  return result;
}

PackageCheck CheckPackage(ByteSource& source, const DeviceState& state,
                          std::string_view brandSlot) {
  PackageCheck check;
  check.code = ReadPackageTrailer(source, state, check.trailer);
  if (check.code == kPackageOk)
    check.code = CheckSegmentsInsideFile(check.trailer);
  if (check.code != kPackageOk) {
    check.message = WrongFormatMessage(check.code);
    return check;
  }
  Acceptance acceptance = CheckAcceptance(check.trailer, brandSlot);
  check.message = std::move(acceptance.message);
  check.totalBytes = acceptance.totalBytes;
  return check;
}

// ---- File names -------------------------------------------------------------------------

bool IsPackageFileName(const std::filesystem::path& path, bool isDirectory) {
  if (isDirectory)
    return false;
  using Char = std::filesystem::path::value_type;
  return HasPackageExtension(std::basic_string_view<Char>(path.native()));
}

}  // namespace tessaly
