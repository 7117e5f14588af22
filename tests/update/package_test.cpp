#include "update/package.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "allocation_probe.h"
#include "common/bytes.h"
#include "pkgwriter/package_writer.h"
#include "support/test_support.h"

namespace tessaly {
namespace {

namespace pw = pkgwriter;

// The build's brand as held in its 16-byte slot.
const std::string kBrandSlot("Sable Harbor\0\0\0\0", 16);

constexpr VariantKey kSH01 = {'S', 'H', '0', '1'};
constexpr VariantKey kV73 = {'V', '7', '3', ' '};
constexpr VariantKey kZUR = {'Z', 'U', 'R', ' '};
constexpr VariantKey kRKVD = {'R', 'K', 'V', 'D'};
constexpr VariantKey kZero = {0, 0, 0, 0};
constexpr VariantKey kOther = {'X', 'X', '9', '9'};

// Segment sizes of the base package. Segments 3 to 5 are multiples of 16, so a table
// can be made to end exactly at the end of the file.
constexpr size_t kSeg1 = 1000, kSeg3 = 3008, kSeg4 = 4000, kSeg5 = 5008;
constexpr size_t kSH01Bytes = 600, kZURBytes = 400;
constexpr uint64_t kBaseWithoutSeg2 = kSeg1 + kSeg3 + kSeg4 + kSeg5;

// A device whose model tag is "SH01" at bytes 4..7 and "V73 " at bytes 28..31, so the
// key shows which bytes were used.
DeviceState Device(int layout, std::string_view identity = "Sable Harbor") {
  DeviceState s;
  s.m_paramLayout = layout;
  std::copy(kSH01.begin(), kSH01.end(), s.m_params.begin() + 4);
  std::copy(kV73.begin(), kV73.end(), s.m_params.begin() + 28);
  std::copy(identity.begin(), identity.end(), s.m_identity.begin());
  return s;
}

pw::PackageContents BasePackage() {
  pw::PackageContents pkg;
  pkg.segments[0] = pw::PatternBytes(kSeg1, 1);
  pkg.segments[2] = pw::PatternBytes(kSeg3, 3);
  pkg.segments[3] = pw::PatternBytes(kSeg4, 4);
  pkg.segments[4] = pw::PatternBytes(kSeg5, 5);
  pkg.variants.push_back({kZUR, pw::PatternBytes(kZURBytes, 20), {}, {}});
  pkg.variants.push_back({kSH01, pw::PatternBytes(kSH01Bytes, 21), {}, {}});
  return pkg;
}

// The base package changed by `edit`.
pw::PackageContents Base(const std::function<void(pw::PackageContents&)>& edit) {
  pw::PackageContents pkg = BasePackage();
  edit(pkg);
  return pkg;
}

pw::PackageContents WithVariants(std::vector<VariantKey> keys) {
  pw::PackageContents pkg = BasePackage();
  pkg.variants.clear();
  pkg.variantTable = true;
  uint32_t seed = 30;
  for (const VariantKey& k : keys)
    pkg.variants.push_back({k, pw::PatternBytes(50, seed++), {}, {}});
  return pkg;
}

uint64_t FileSizeOf(const pw::PackageContents& pkg) {
  return pw::BuildPackage(pkg).bytes.size();
}

struct PackageCase {
  const char* name;
  std::function<pw::PackageContents()> pkg;
  DeviceState device;
  int readCode;                   // ReadPackageTrailer's result
  std::string message;            // CheckPackage's message; empty: accepted
  std::optional<size_t> variant;  // chosen entry when the reader succeeds
  uint64_t total = 0;             // bytes to write when accepted
  std::function<void(std::vector<uint8_t>&)> bytesEdit = nullptr;  // after writing
};

const std::string kWrong1 = "Wrong format of the file!-1";
const std::string kWrong4 = "Wrong format of the file!-4";

std::vector<PackageCase> PackageCases() {
  const DeviceState sh01 = Device(3);
  const uint64_t baseTotal = kBaseWithoutSeg2 + kSH01Bytes;
  return {
      {"ValidAfterArbitraryPrefix",
       [] { return Base([](auto& s) { s.prefix = pw::PatternBytes(777, 9); }); }, sh01, 0, "", 1,
       baseTotal},
      {"Only320BytesAllAbsent", [] { return pw::PackageContents{}; }, sh01, 0,
       std::string(kMsgNoDatabase), std::nullopt},
      {"File319Bytes", [] { return pw::PackageContents{}; }, sh01, -1, kWrong1, std::nullopt, 0,
       [](std::vector<uint8_t>& b) { b.erase(b.begin()); }},
      {"Version2", [] { return Base([](auto& s) { s.version = 2; }); }, sh01, -1, kWrong1, {}},
      {"Version1", [] { return Base([](auto& s) { s.version = 1; }); }, sh01, -1, kWrong1, {}},
      {"VersionIsUnsigned", [] { return Base([](auto& s) { s.version = 0xFFFFFFFF; }); }, sh01, 0,
       "", 1, baseTotal},
      {"ChecksumOneHigh",
       [] { return Base([](auto& s) { s.checksumDelta = 1; }); },
       sh01,
       -1,
       kWrong1,
       {}},
      {"ChecksumOneLow",
       [] { return Base([](auto& s) { s.checksumDelta = -1; }); },
       sh01,
       -1,
       kWrong1,
       {}},
      {"SizeField312WithMatchingChecksum",
       [] { return Base([](auto& s) { s.sizeField = 312; }); },
       sh01,
       -1,
       kWrong1,
       {}},
      {"TrailerBytesCorruptedAfterWriting",
       [] { return BasePackage(); },
       sh01,
       -1,
       kWrong1,
       {},
       0,
       [](std::vector<uint8_t>& b) { b[b.size() - 100] ^= 0x01; }},

      // Length limits: at the limit passes (real data, so the package is accepted),
      // one more is refused by the reader.
      {"Segment1AtLimit",
       [] { return Base([](auto& s) { s.segments[0] = pw::PatternBytes(0x7000, 1); }); }, sh01, 0,
       "", 1, baseTotal - kSeg1 + 0x7000},
      {"Segment1OverLimit",
       [] { return Base([](auto& s) { s.lengthField[0] = 0x7001; }); },
       sh01,
       -1,
       kWrong1,
       {}},
      {"Segment3AtLimit",
       [] { return Base([](auto& s) { s.segments[2] = pw::PatternBytes(0xC8000, 3); }); }, sh01, 0,
       "", 1, baseTotal - kSeg3 + 0xC8000},
      {"Segment3OverLimit",
       [] { return Base([](auto& s) { s.lengthField[2] = 0xC8001; }); },
       sh01,
       -1,
       kWrong1,
       {}},
      {"Segment4AtLimit",
       [] { return Base([](auto& s) { s.segments[3] = pw::PatternBytes(0x200000, 4); }); }, sh01, 0,
       "", 1, baseTotal - kSeg4 + 0x200000},
      {"Segment4OverLimit",
       [] { return Base([](auto& s) { s.lengthField[3] = 0x200001; }); },
       sh01,
       -1,
       kWrong1,
       {}},
      {"Segment5AtLimit",
       [] { return Base([](auto& s) { s.segments[4] = pw::PatternBytes(0x522000, 5); }); }, sh01, 0,
       "", 1, baseTotal - kSeg5 + 0x522000},
      {"Segment5OverLimit",
       [] { return Base([](auto& s) { s.lengthField[4] = 0x522001; }); },
       sh01,
       -1,
       kWrong1,
       {}},

      // Variant selection.
      {"PresentZeroIgnoresGarbageTableOffset",
       [] {
         return Base([](auto& s) {
           s.variantPresent = 0;
           s.offsetField[1] = 0xFFFFFFF0;
         });
       },
       sh01, 0, "", std::nullopt, kBaseWithoutSeg2},
      {"OneNonMatchingEntryIsUsed", [] { return WithVariants({kOther}); }, sh01, 0, "", 0,
       kBaseWithoutSeg2 + 50},
      {"ThreeNonMatchingLeaveSegment2Out",
       [] {
         return WithVariants({kOther, kZUR, kRKVD});
       },
       sh01, 0, "", std::nullopt, kBaseWithoutSeg2},
      {"DuplicateMatchingKeysTakeTheFirst",
       [] {
         return WithVariants({kOther, kSH01, kSH01});
       },
       sh01, 0, "", 1, kBaseWithoutSeg2 + 50},
      {"EmptyTableLeavesSegment2Out", [] { return WithVariants({}); }, sh01, 0, "", std::nullopt,
       kBaseWithoutSeg2},

      // Device variant key by layout; the table holds every key once.
      {"Layout3KeyFromBytes4To7",
       [] {
         return WithVariants({kV73, kSH01, kZUR, kRKVD, kZero});
       },
       Device(3), 0, "", 1, kBaseWithoutSeg2 + 50},
      {"Layout4KeyFromBytes4To7",
       [] {
         return WithVariants({kV73, kSH01, kZUR, kRKVD, kZero});
       },
       Device(4), 0, "", 1, kBaseWithoutSeg2 + 50},
      {"Layout2KeyFromBytes28To31",
       [] {
         return WithVariants({kSH01, kV73, kZUR, kRKVD, kZero});
       },
       Device(2), 0, "", 1, kBaseWithoutSeg2 + 50},
      {"Layout0ZurIdentity",
       [] {
         return WithVariants({kSH01, kV73, kRKVD, kZero, kZUR});
       },
       Device(0, "ZUR-2000"), 0, "", 4, kBaseWithoutSeg2 + 50},
      {"Layout1KyrinIdentity",
       [] {
         return WithVariants({kSH01, kV73, kZUR, kZero, kRKVD});
       },
       Device(1, "Kyrin"), 0, "", 4, kBaseWithoutSeg2 + 50},
      {"LayoutMinus1OtherIdentityZeroKey",
       [] {
         return WithVariants({kSH01, kV73, kZUR, kRKVD, kZero});
       },
       Device(-1, "Sable Harbor"), 0, "", 4, kBaseWithoutSeg2 + 50},
      {"Layout1ShortKyrinPrefixZeroKey",
       [] {
         return WithVariants({kRKVD, kZero});
       },
       Device(1, "Kyri"), 0, "", 1, kBaseWithoutSeg2 + 50},

      // Brand.
      {"BrandFollowedByAnything",
       [] {
         return Base([](auto& s) {
           s.brand.assign(
               {'S', 'a', 'b', 'l', 'e', ' ', 'H', 'a', 'r', 'b', 'o', 'r', 'X', 'Y', 'Z'});
         });
       },
       sh01, 0, "", 1, baseTotal},
      {"BrandDiffersInTwelfthByte", [] { return Base([](auto& s) { s.brand.back() = 's'; }); },
       sh01, 0, std::string(kMsgVersionUnmatched), 1},
      {"BrandOfElevenBytes", [] { return Base([](auto& s) { s.brand.pop_back(); }); }, sh01, 0,
       std::string(kMsgVersionUnmatched), 1},
      {"WrongBrandAllAbsentIsBrandFirst",
       [] {
         pw::PackageContents s;
         s.brand = {'O', 't', 'h', 'e', 'r'};
         return s;
       },
       sh01, 0, std::string(kMsgVersionUnmatched), std::nullopt},
      {"AllAbsentAfterVariantChoice",
       [] {
         pw::PackageContents s = WithVariants({kOther, kZUR});
         for (size_t n : {0, 2, 3, 4})
           s.segments[n].clear();
         return s;
       },
       sh01, 0, std::string(kMsgNoDatabase), std::nullopt},

      // Broken variant tables are -4, also ahead of a wrong brand.
      {"BrokenTableAndWrongBrand",
       [] {
         return Base([](auto& s) {
           s.brand = {'O', 't', 'h', 'e', 'r'};
           s.offsetField[1] = 0xFFFFFFFF;
         });
       },
       sh01,
       -4,
       kWrong4,
       {}},
      {"HugeCount",
       [] { return Base([](auto& s) { s.variantCountField = 0xFFFFFFFF; }); },
       sh01,
       -4,
       kWrong4,
       {}},
      {"CountCutByEndOfFile",
       [] {
         pw::PackageContents s = BasePackage();
         uint64_t size = FileSizeOf(s);
         s.offsetField[1] = static_cast<uint32_t>(size - 3);
         return s;
       },
       sh01,
       -4,
       kWrong4,
       {}},
      {"EntriesEndExactlyAtEndOfFile",
       [] {
         pw::PackageContents s = WithVariants({});
         uint64_t afterCount = FileSizeOf(s) - kSeg1 - kVariantCountBytes;
         s.variantCountField = static_cast<uint32_t>(afterCount / kVariantEntryBytes);
         return s;
       },
       sh01, 0, "", std::nullopt, kBaseWithoutSeg2},
      {"EntriesOneEntryPastEndOfFile",
       [] {
         pw::PackageContents s = WithVariants({});
         uint64_t afterCount = FileSizeOf(s) - kSeg1 - kVariantCountBytes;
         s.variantCountField = static_cast<uint32_t>(afterCount / kVariantEntryBytes + 1);
         return s;
       },
       sh01,
       -4,
       kWrong4,
       {}},

      // Segments must lie inside the file before anything is written.
      {"Segment3StartsPastEnd", [] { return Base([](auto& s) { s.offsetField[2] = 0x00100000; }); },
       sh01, 0, kWrong1, 1},
      {"Segment5OneBytePastEnd",
       [] {
         pw::PackageContents s = BasePackage();
         s.offsetField[4] = static_cast<uint32_t>(FileSizeOf(s) - kSeg5 + 1);
         return s;
       },
       sh01, 0, kWrong1, 1},
      {"SegmentEndingAtEndOfFileIsInside",
       [] {
         pw::PackageContents s = BasePackage();
         s.offsetField[4] = static_cast<uint32_t>(FileSizeOf(s) - kSeg5);
         return s;
       },
       sh01, 0, "", 1, baseTotal},
      {"OffsetPlusLengthWrapsU32",
       [] { return Base([](auto& s) { s.offsetField[3] = 0xFFFFFF00; }); }, sh01, 0, kWrong1, 1},
      {"AbsentSegmentOffsetNotChecked",
       [] {
         return Base([](auto& s) {
           s.segments[3].clear();
           s.offsetField[3] = 0xFFFFFFFF;
         });
       },
       sh01, 0, "", 1, baseTotal - kSeg4},
      {"VariantPastEnd",
       [] { return Base([](auto& s) { s.variants[1].lengthField = 0x00100000; }); }, sh01, 0,
       kWrong1, 1, 0},
      {"TableOffsetPlusEntryOffsetWrapsU32",
       [] { return Base([](auto& s) { s.variants[1].offsetField = 0xFFFFFFF0; }); }, sh01, 0,
       kWrong1, 1},
  };
}

void PrintTo(const PackageCase& c, std::ostream* os) {
  *os << c.name;
}

class PackageTableTest : public ::testing::TestWithParam<PackageCase> {};

TEST_P(PackageTableTest, ReadsChecksAndAccepts) {
  const PackageCase& c = GetParam();
  pw::PackageContents pkg = c.pkg();
  pw::BuiltPackage built = pw::BuildPackage(pkg);
  if (c.bytesEdit)
    c.bytesEdit(built.bytes);

  MemoryByteSource source(built.bytes);
  ResolvedTrailer trailer;
  {
    testing::AllocationProbe probe;
    int code = ReadPackageTrailer(source, c.device, trailer);
    size_t largest = probe.Largest();
    ASSERT_EQ(code, c.readCode);
    // Nothing the reader keeps may be larger than the file it came from.
    EXPECT_LE(largest, built.bytes.size());
  }

  if (c.readCode == kPackageOk) {
    EXPECT_EQ(trailer.chosenVariant, c.variant);
    PackageSegment seg2 = trailer.segments[1];
    if (c.variant) {
      const pw::Variant& v = pkg.variants[*c.variant];
      EXPECT_EQ(seg2.offset, uint64_t{built.segmentOffset[1]} +
                                 v.offsetField.value_or(built.variantOffset[*c.variant] -
                                                        built.segmentOffset[1]));
      EXPECT_EQ(seg2.length, v.lengthField.value_or(static_cast<uint32_t>(v.data.size())));
    } else {
      EXPECT_EQ(seg2.offset, 0u);
      EXPECT_EQ(seg2.length, 0u);
    }
  }

  PackageCheck check = CheckPackage(source, c.device, kBrandSlot);
  EXPECT_EQ(check.message, c.message);
  EXPECT_EQ(check.totalBytes, c.message.empty() ? c.total : 0);
}

INSTANTIATE_TEST_SUITE_P(Packages, PackageTableTest, ::testing::ValuesIn(PackageCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A source whose reads can be made to fail, to show a read failure is never success.
class FlakySource : public ByteSource {
 public:
  explicit FlakySource(std::vector<uint8_t> bytes, int readsBeforeFailure)
      : m_inner(std::move(bytes)), m_left(readsBeforeFailure) {}
  std::optional<uint64_t> Size() override { return m_inner.Size(); }
  bool ReadAt(uint64_t offset, std::span<uint8_t> out) override {
    return m_left-- > 0 && m_inner.ReadAt(offset, out);
  }

 private:
  MemoryByteSource m_inner;
  int m_left;
};

TEST(PackageReader, FailedReadsAreRefused) {
  std::vector<uint8_t> bytes = pw::BuildPackage(BasePackage()).bytes;
  ResolvedTrailer trailer;
  FlakySource trailerFails(bytes, 0);
  EXPECT_EQ(ReadPackageTrailer(trailerFails, Device(3), trailer), kPackageInvalid);
  FlakySource countFails(bytes, 1);
  EXPECT_EQ(ReadPackageTrailer(countFails, Device(3), trailer), kPackageBadVariantTable);
  FlakySource entriesFail(bytes, 2);
  EXPECT_EQ(ReadPackageTrailer(entriesFail, Device(3), trailer), kPackageBadVariantTable);
  FlakySource allGood(bytes, 3);
  EXPECT_EQ(ReadPackageTrailer(allGood, Device(3), trailer), kPackageOk);
}

TEST(PackageReader, LargeTableIsReadWhole) {
  // More entries than one read takes; the match is the very last one.
  std::vector<VariantKey> keys(1000, kOther);
  keys.push_back(kSH01);
  pw::PackageContents pkg = WithVariants(keys);
  pw::BuiltPackage built = pw::BuildPackage(pkg);
  MemoryByteSource source(built.bytes);
  ResolvedTrailer trailer;
  ASSERT_EQ(ReadPackageTrailer(source, Device(3), trailer), kPackageOk);
  ASSERT_EQ(trailer.variants.size(), keys.size());
  EXPECT_EQ(trailer.chosenVariant, 1000u);
  EXPECT_EQ(trailer.segments[1].offset, built.variantOffset[1000]);
}

TEST(PackageWriter, TrailerIsEncodedWithTheKey) {
  // Checked byte by byte against the key, independently of the reader.
  std::vector<uint8_t> bytes = pw::BuildPackage(pw::PackageContents{}).bytes;
  ASSERT_EQ(bytes.size(), 320u);
  const uint8_t expectedStart[] = {0x3C ^ 'K', 0x01 ^ 'E', 'S', 'T',       0x03 ^ 'R',
                                   'A',        'I',        'N', 'S' ^ 'K', 'a' ^ 'E'};
  for (size_t i = 0; i < std::size(expectedStart); ++i)
    EXPECT_EQ(bytes[i], expectedStart[i]) << i;
  // Reserved bytes 304..315 are zero, so they show the key itself.
  for (size_t i = 304; i < 316; ++i)
    EXPECT_EQ(bytes[i], "KESTRAIN"[i % 8]) << i;
}

TEST(PackageWriter, RoundTripReadsBackEveryField) {
  pw::PackageContents pkg = pw::DemoPackageContents();
  pkg.prefix = pw::PatternBytes(33, 7);
  pw::BuiltPackage built = pw::BuildPackage(pkg);
  testing::TempDir dir;
  std::string error;
  ASSERT_TRUE(pw::WritePackageFile(dir / "demo.dqx", built.bytes, error)) << error;
  std::unique_ptr<FileByteSource> file = FileByteSource::Open(dir / "demo.dqx");
  ASSERT_NE(file, nullptr);

  ResolvedTrailer t;
  ASSERT_EQ(ReadPackageTrailer(*file, Device(3), t), kPackageOk);
  ASSERT_EQ(CheckSegmentsInsideFile(t), kPackageOk);
  EXPECT_EQ(t.fileSize, built.bytes.size());
  EXPECT_EQ(t.size, 316u);
  EXPECT_EQ(t.version, 3u);
  std::array<uint8_t, 256> brand{};
  std::copy(pkg.brand.begin(), pkg.brand.end(), brand.begin());
  EXPECT_EQ(t.brand, brand);
  EXPECT_EQ(t.checksum, ByteSum(std::span(built.decodedTrailer).first(316)));
  EXPECT_EQ(t.variantTableOffset, built.segmentOffset[1]);
  EXPECT_EQ(t.variantTablePresent, 1u);

  ASSERT_EQ(t.variants.size(), pkg.variants.size());
  for (size_t k = 0; k < pkg.variants.size(); ++k) {
    EXPECT_EQ(t.variants[k].key, pkg.variants[k].key);
    EXPECT_EQ(t.variants[k].offset, built.variantOffset[k] - built.segmentOffset[1]);
    EXPECT_EQ(t.variants[k].length, pkg.variants[k].data.size());
  }
  ASSERT_EQ(t.chosenVariant, 0u);
  EXPECT_EQ(pkg.variants[0].key, pw::kDemoModelTag);

  for (size_t n = 0; n < kSegmentCount; ++n) {
    const std::vector<uint8_t>& expected = n == 1 ? pkg.variants[0].data : pkg.segments[n];
    std::optional<std::vector<uint8_t>> data =
        ReadBytesAt(*file, t.segments[n].offset, t.segments[n].length);
    ASSERT_TRUE(data) << "segment " << n + 1;
    EXPECT_EQ(*data, expected) << "segment " << n + 1;
  }
  // Regions 3 to 5 are dated 2026-12-01 00:00:00 UTC.
  for (size_t n = 2; n < kSegmentCount; ++n)
    EXPECT_EQ(LoadU32LE(pkg.segments[n].data()), 1796083200u);

  PackageCheck check = CheckPackage(*file, Device(3), kBrandSlot);
  EXPECT_TRUE(check.Accepted()) << check.message;
  uint64_t total = 0;
  for (size_t n : {0, 2, 3, 4})
    total += pkg.segments[n].size();
  EXPECT_EQ(check.totalBytes, total + pkg.variants[0].data.size());
}

TEST(ByteSources, FileSourceRefusesWhatIsNotAReadableFile) {
  testing::TempDir dir;
  EXPECT_EQ(FileByteSource::Open(dir / "missing.dqx"), nullptr);
  std::filesystem::create_directory(dir / "folder.dqx");
  EXPECT_EQ(FileByteSource::Open(dir / "folder.dqx"), nullptr);

  testing::WriteFileBytes(dir / "short.dqx", std::vector<uint8_t>(319, 0x41));
  std::unique_ptr<FileByteSource> file = FileByteSource::Open(dir / "short.dqx");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Size(), 319u);
  std::array<uint8_t, 8> buf{};
  EXPECT_TRUE(file->ReadAt(311, buf));
  EXPECT_FALSE(file->ReadAt(312, buf));
  EXPECT_FALSE(file->ReadAt(UINT64_MAX - 2, buf));
  ResolvedTrailer t;
  EXPECT_EQ(ReadPackageTrailer(*file, Device(3), t), kPackageInvalid);
  // Reads keep no position, so a failure leaves the source as it was.
  EXPECT_TRUE(file->ReadAt(0, buf));
  EXPECT_EQ(buf[0], 0x41);
}

TEST(ByteSources, ReadBytesAtChecksTheRangeFirst) {
  MemoryByteSource source(std::vector<uint8_t>{1, 2, 3, 4, 5});
  EXPECT_EQ(ReadBytesAt(source, 1, 4), (std::vector<uint8_t>{2, 3, 4, 5}));
  EXPECT_EQ(ReadBytesAt(source, 5, 0), std::vector<uint8_t>{});
  testing::AllocationProbe probe;
  EXPECT_FALSE(ReadBytesAt(source, 2, 0xFFFFFFFFull));
  EXPECT_FALSE(ReadBytesAt(source, UINT64_MAX, 2));
  EXPECT_EQ(probe.Largest(), 0u);
}

TEST(PackageBrand, SlotComparison) {
  struct Row {
    std::string field;
    std::string slot;
    bool matches;
  };
  const std::string spaces21(21, ' ');
  const Row rows[] = {
      {"Sable Harbor", kBrandSlot, true},
      {"Sable Harbor", "Sable Harbor", true},      // slot without its zeros
      {"Sable Harbor\xff\xff", kBrandSlot, true},  // bytes after 12 not compared
      {"Sable", "Sable", true},                    // short slot: zeros compared
      {"Sable Harb", "Sable", false},
      {"Other brand", spaces21, true},  // check skipped
      {"Other brand", spaces21 + std::string(11, '\0'), true},
      {"Other brand", std::string(20, ' '), false},
      // The all-spaces test compares the slot's first 21 bytes, as the probe's does.
      {"Other brand", std::string(22, ' '), true},
  };
  for (const Row& r : rows) {
    ResolvedTrailer t;
    std::copy(r.field.begin(), r.field.end(), t.brand.begin());
    EXPECT_EQ(PackageBrandMatches(t, r.slot), r.matches) << r.field << " / " << r.slot.size();
  }
}

TEST(PackageFileName, ExtensionAfterTheLastDotOfThePath) {
  struct Row {
    const char* path;
    bool isDirectory;
    bool expected;
  };
  const Row rows[] = {
      {"/work/TmpTmp/UPDATE.DQX", false, true},      {"/work/TmpTmp/db.v2/update.dqx", false, true},
      {"/work/TmpTmp/update.DqX", false, true},      {"/work/TmpTmp/.dqx", false, true},
      {"/work/TmpTmp/update.dqx.bak", false, false}, {"/work/TmpTmp/update.dq", false, false},
      {"/work/TmpTmp/update.dqxx", false, false},    {"/work/TmpTmp/x.dqx", true, false},
      {"/work/db.dqx/update", false, false},         {"/work/TmpTmp/dqx", false, false},
  };
  for (const Row& r : rows)
    EXPECT_EQ(IsPackageFileName(r.path, r.isDirectory), r.expected) << r.path;
}

}  // namespace
}  // namespace tessaly
