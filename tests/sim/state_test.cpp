// The state folder, the profiles and the platform's interfaces.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "sim/sim_host.h"
#include "support/test_support.h"

namespace tessaly::sim::testing {
namespace {

namespace fs = std::filesystem;
using tessaly::testing::ReadFileBytes;
using tessaly::testing::TempDir;
using tessaly::testing::WriteFileBytes;

constexpr size_t kMem0Bytes = 131072;
constexpr size_t kMem1Bytes = 8388608;

std::vector<uint8_t> Text(const std::string& s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

std::vector<uint8_t> Page(const VirtualDetector& d, int selector, uint32_t page) {
  std::array<uint8_t, kSimPageBytes> out{};
  EXPECT_TRUE(d.ReadPage(selector, page, out));
  return std::vector<uint8_t>(out.begin(), out.end());
}

TEST(SimState, MissingFilesAreCreatedFromTheProfile) {
  TempDir tmp;
  fs::path folder = tmp / "nested" / "state";
  WriteFileBytes(tmp / "keep.txt", Text("x"));
  std::string error;
  auto detector = VirtualDetector::OpenStateFolder(folder, Profile::kLayout2, error);
  ASSERT_TRUE(detector) << error;
  EXPECT_EQ(fs::file_size(folder / "mem0.bin"), kMem0Bytes);
  EXPECT_EQ(fs::file_size(folder / "mem1.bin"), kMem1Bytes);
  EXPECT_EQ(ReadFileBytes(folder / "firmware.txt"), Text("1008\n"));
  auto mem0 = ReadFileBytes(folder / "mem0.bin");
  auto params = ProfileParameterBlock(Profile::kLayout2);
  EXPECT_TRUE(std::equal(params.begin(), params.end(), mem0.begin() + 0x110 * 256));
  EXPECT_EQ(std::string(mem0.begin() + 0x7000, mem0.begin() + 0x700C), "Sable Harbor");
}

TEST(SimState, ExistingFilesAreKeptAndOnlyMissingOnesCreated) {
  TempDir tmp;
  std::vector<uint8_t> mem0(kMem0Bytes, 0x5A);
  WriteFileBytes(tmp / "mem0.bin", mem0);
  WriteFileBytes(tmp / "firmware.txt", Text("  1007\r\n"));
  std::string error;
  auto detector = VirtualDetector::OpenStateFolder(tmp.Path(), Profile::kLayout3, error);
  ASSERT_TRUE(detector) << error;
  EXPECT_EQ(detector->Firmware(), 1007u);
  EXPECT_EQ(MemoryCopy(*detector, 0), mem0);
  EXPECT_EQ(ReadFileBytes(tmp / "mem0.bin"), mem0);
  EXPECT_EQ(ReadFileBytes(tmp / "firmware.txt"), Text("  1007\r\n"));
  EXPECT_EQ(Page(*detector, 1, kDatabaseDatePage)[0], kDefaultDateCode & 0xFF);
  EXPECT_TRUE(fs::exists(tmp / "mem1.bin"));
}

TEST(SimState, AnUpdatePersistsBetweenRuns) {
  TempDir tmp;
  std::vector<uint8_t> page(kSimPageBytes);
  for (size_t i = 0; i < page.size(); ++i)
    page[i] = static_cast<uint8_t>(i * 7);
  {
    std::string error;
    auto detector = VirtualDetector::OpenStateFolder(tmp.Path(), Profile::kLayout3, error);
    ASSERT_TRUE(detector) << error;
    SimHost host(detector);
    ASSERT_TRUE(host.WritePages(0x2DE0, page, 0, 1, ByteSum(page)).Ok());
    host.Detector().SetFirmware(1007);
    host.CloseHandles();  // the host closes the device: written back now
    EXPECT_EQ(detector->LastError(), "");
    auto mem1 = ReadFileBytes(tmp / "mem1.bin");
    EXPECT_TRUE(std::equal(page.begin(), page.end(), mem1.begin() + 0x2DE0 * 256));
  }
  for (const auto& entry : fs::directory_iterator(tmp.Path()))
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();

  std::string error;
  auto again = VirtualDetector::OpenStateFolder(tmp.Path(), Profile::kBlankIdentity, error);
  ASSERT_TRUE(again) << error;
  EXPECT_EQ(Page(*again, 1, 0x2DE0), page);
  EXPECT_EQ(again->Firmware(), 1007u);
  EXPECT_EQ(Page(*again, 0, kIdentityPage)[0], 'S');  // the profile applies only to new files
}

TEST(SimState, FilesChangedByAnotherRunAreReadAtOpen) {
  TempDir tmp;
  std::string error;
  auto first = VirtualDetector::OpenStateFolder(tmp.Path(), Profile::kLayout3, error);
  ASSERT_TRUE(first) << error;
  auto second = VirtualDetector::OpenStateFolder(tmp.Path(), Profile::kLayout3, error);
  ASSERT_TRUE(second) << error;
  std::vector<uint8_t> page(kSimPageBytes, 0x42);
  {
    SimHost other(second);
    ASSERT_TRUE(other.WritePages(0x160, page, 0, 1, 0).Ok());
  }
  SimHost host(first);  // loaded before the other run wrote: must not hold stale state
  std::vector<uint8_t> read;
  ASSERT_TRUE(host.ReadPage(0x160, 1, read).Ok());
  EXPECT_EQ(read, page);
  host.CloseHandles();
  first.reset();
  EXPECT_EQ(ReadFileBytes(tmp / "mem1.bin")[0x16000], 0x42);
}

struct BadFile {
  const char* name;
  const char* file;
  std::vector<uint8_t> content;
};

TEST(SimState, BadFilesAreErrorsAndStayUntouched) {
  const BadFile cases[] = {
      {"short mem0", "mem0.bin", std::vector<uint8_t>(1000, 0x11)},
      {"long mem0", "mem0.bin", std::vector<uint8_t>(kMem0Bytes + 1, 0x11)},
      {"empty mem1", "mem1.bin", {}},
      {"mem1 of memory 0's size", "mem1.bin", std::vector<uint8_t>(kMem0Bytes, 0x11)},
      {"firmware text", "firmware.txt", Text("v1008\n")},
      {"firmware empty", "firmware.txt", {}},
      {"firmware negative", "firmware.txt", Text("-1\n")},
      {"firmware too big", "firmware.txt", Text("4294967296")},
      {"firmware two numbers", "firmware.txt", Text("1008 1009")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir tmp;
    WriteFileBytes(tmp / c.file, c.content);
    std::string error;
    auto detector = VirtualDetector::OpenStateFolder(tmp.Path(), Profile::kLayout3, error);
    EXPECT_EQ(detector, nullptr);
    EXPECT_NE(error.find(c.file), std::string::npos) << error;
    EXPECT_EQ(ReadFileBytes(tmp / c.file), c.content);
    // Nothing else was created either.
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.Path()), fs::directory_iterator()), 1);
  }
}

TEST(SimState, AFolderInPlaceOfAnImageIsAnError) {
  TempDir tmp;
  fs::create_directory(tmp / "mem0.bin");
  std::string error;
  EXPECT_EQ(VirtualDetector::OpenStateFolder(tmp.Path(), Profile::kLayout3, error), nullptr);
  EXPECT_NE(error.find("mem0.bin"), std::string::npos) << error;
}

TEST(SimState, TwoPlatformsOnOneFolderExcludeEachOther) {
  TempDir tmp;
  std::string error;
  auto a = VirtualDetector::OpenStateFolder(tmp / "one", Profile::kLayout3, error);
  auto b = VirtualDetector::OpenStateFolder(tmp / "." / "one", Profile::kLayout3, error);
  auto other = VirtualDetector::OpenStateFolder(tmp / "two", Profile::kLayout3, error);
  ASSERT_TRUE(a && b && other) << error;
  VirtualHidPlatform first, second, third;
  first.AddDetector(a);
  second.AddDetector(b);
  third.AddDetector(other);
  auto lockName = [](VirtualHidPlatform& p) { return p.DeviceLockName(p.Enumerate().at(0)); };

  std::unique_ptr<NamedLock> held, refused, elsewhere;
  ASSERT_EQ(first.CreateLock(lockName(first), held), NamedLock::Result::Created);
  EXPECT_EQ(second.CreateLock(lockName(second), refused), NamedLock::Result::AlreadyExists);
  EXPECT_EQ(third.CreateLock(lockName(third), elsewhere), NamedLock::Result::Created);
  held.reset();
  EXPECT_EQ(second.CreateLock(lockName(second), refused), NamedLock::Result::Created);
}

TEST(SimState, InMemoryDetectorsHaveTheirOwnLocks) {
  VirtualDetector a, b;
  EXPECT_NE(a.LockName(), b.LockName());
  EXPECT_FALSE(a.LockName().empty());
}

// The layout a probe would decide for a parameter block.
int LayoutOf(const std::array<uint8_t, kSimPageBytes>& p) {
  auto sum = [&](size_t n) { return ByteSum(std::span<const uint8_t>(p.data() + 4, n)); };
  uint32_t stored = LoadU32LE(p.data());
  if (LoadU32LE(p.data() + 59) == 0x5A3C9E71 && sum(59) == stored)
    return 3;
  if (sum(72) == stored)
    return 2;
  if (sum(24) == stored)
    return 1;
  return -1;
}

struct ProfileCase {
  Profile profile;
  int layout;
  std::string modelTag;
  std::string identityStart;  // empty: blank identity
};

TEST(SimProfiles, EachProfileHoldsItsBlocks) {
  const ProfileCase cases[] = {
      {Profile::kLayout3, 3, "SH01", "Sable Harbor"},
      {Profile::kLayout2, 2, "SH02", "Sable Harbor"},
      {Profile::kLayout2V73, 2, "V73 ", "Sable Harbor"},
      {Profile::kLayout1, 1, "SH00", "Sable Harbor"},
      {Profile::kBlankIdentity, 3, "SH01", ""},
      {Profile::kForeignBrand, 3, "SH01", "Kyrin"},
  };
  ASSERT_EQ(Profiles().size(), std::size(cases));
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(ProfileName(c.profile)));
    Profile parsed;
    std::string error;
    ASSERT_TRUE(ParseProfile(ProfileName(c.profile), parsed, error));
    EXPECT_EQ(parsed, c.profile);

    VirtualDetector detector(c.profile);
    auto paramsVec = Page(detector, 0, kParameterPage);
    std::array<uint8_t, kSimPageBytes> params;
    std::copy(paramsVec.begin(), paramsVec.end(), params.begin());
    EXPECT_EQ(LayoutOf(params), c.layout);
    size_t tagAt = c.layout == 3 ? 4 : 28;
    EXPECT_EQ(std::string(params.begin() + tagAt, params.begin() + tagAt + 4), c.modelTag);

    auto identity = Page(detector, 0, kIdentityPage);
    if (c.identityStart.empty()) {
      EXPECT_TRUE(
          std::all_of(identity.begin(), identity.end(), [](uint8_t b) { return b == 0xFF; }));
    } else {
      size_t n = c.identityStart.size();
      EXPECT_EQ(std::string(identity.begin(), identity.begin() + n), c.identityStart);
      EXPECT_TRUE(
          std::all_of(identity.begin() + n, identity.end(), [](uint8_t b) { return b == 0; }));
    }
    EXPECT_EQ(LoadU32LE(Page(detector, 1, kDatabaseDatePage).data()), kDefaultDateCode);
    EXPECT_EQ(detector.Firmware(), kDefaultFirmware);
  }
  Profile unused;
  std::string error;
  EXPECT_FALSE(ParseProfile("layout4", unused, error));
  EXPECT_NE(error.find("layout3"), std::string::npos);
}

TEST(SimProfiles, DefaultSettingsAreInRange) {
  auto p = ProfileParameterBlock(Profile::kLayout3);
  EXPECT_EQ(p[16] & 0xC0, 0xC0);  // frequency display available and on
  int bands = p[19] + p[20] + p[21] + p[22] + p[23];
  EXPECT_EQ(bands, 8);
  for (int i = 0; i < bands; ++i)
    EXPECT_EQ(p[24 + i], 1) << i;
  EXPECT_GE(static_cast<int8_t>(p[50]), 3);
  EXPECT_LE(static_cast<int8_t>(p[50]), 10);
  EXPECT_GE(static_cast<int8_t>(p[51]), 15);
  EXPECT_LE(static_cast<int8_t>(p[51]), 23);
  EXPECT_GE(static_cast<int8_t>(p[52]), 0);
  EXPECT_LE(static_cast<int32_t>(LoadU32LE(p.data() + 55)), 15);
  EXPECT_GT(LoadU16LE(p.data() + 63), 1000);  // the X band's range is shown
}

TEST(SimPlatform, ForeignAndDeniedInterfaces) {
  VirtualHidPlatform platform;
  std::string detector = platform.AddDetector(std::make_shared<VirtualDetector>());
  std::string foreign = platform.AddForeign(0x046D, 0xC52B);
  std::string denied = platform.AddDenied();
  auto listed = platform.Enumerate();
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_EQ(listed[0].path, detector);
  EXPECT_EQ(listed[1].vendorId, 0x046D);
  EXPECT_EQ(listed[2].productId, 0xB500);

  uint16_t vendor = 0, product = 0;
  ASSERT_TRUE(platform.GetAttributes(foreign, vendor, product));
  EXPECT_EQ(vendor, 0x046D);
  EXPECT_EQ(product, 0xC52B);
  auto handle = platform.Open(foreign, HidAccess::kWrite);
  ASSERT_TRUE(handle);
  Report r = CommandReport(0xF7, kConfirmPairA, kConfirmPairB, 0, 0, 0);
  EXPECT_EQ(handle->Write(r.data(), r.size()), 65);
  EXPECT_EQ(handle->Read(r.data(), r.size(), 10), -1);  // nothing answers

  ASSERT_TRUE(platform.GetAttributes(denied, vendor, product));
  EXPECT_EQ(platform.CheckAccess(denied), HidOpenStatus::kPermissionDenied);
  EXPECT_EQ(platform.Open(denied, HidAccess::kRead), nullptr);
  EXPECT_EQ(platform.CheckAccess(detector), HidOpenStatus::kOk);
  EXPECT_EQ(platform.CheckAccess("sim:nowhere"), HidOpenStatus::kGone);

  std::set<std::string> names;
  for (const auto& info : listed)
    names.insert(platform.DeviceLockName(info));
  EXPECT_EQ(names.size(), 3u);
  EXPECT_FALSE(names.count(""));

  EXPECT_TRUE(platform.Remove(foreign));
  EXPECT_EQ(platform.Enumerate().size(), 2u);
}

TEST(SimPlatform, DelimitedPaths) {
  VirtualHidPlatform platform(HidPathStyle::kDelimited);
  EXPECT_EQ(platform.PathStyle(), HidPathStyle::kDelimited);
  std::string generated = platform.AddDetector(std::make_shared<VirtualDetector>());
  std::string second = platform.AddDetector(std::make_shared<VirtualDetector>());
  EXPECT_NE(generated, second);
  EXPECT_EQ(generated.rfind("\\\\?\\hid#vid_0416&pid_b500#", 0), 0u) << generated;
  size_t slash = generated.rfind('\\');
  EXPECT_NE(generated.find('{', slash), std::string::npos);

  const std::string capitals =
      "\\\\?\\HID#VID_0416&PID_B500#7&1a2b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  EXPECT_EQ(platform.AddDetector(std::make_shared<VirtualDetector>(), capitals), capitals);
  std::string foreign = platform.AddForeign(0x1234, 0x5678);
  EXPECT_NE(foreign.find("vid_1234&pid_5678"), std::string::npos);
  EXPECT_EQ(VirtualHidPlatform::DelimitedPath(0x0416, 0xB500, "7&1a2b&0&0000"),
            "\\\\?\\hid#vid_0416&pid_b500#7&1a2b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}");

  // A caller-chosen path is the detector's, as given.
  auto detector = platform.Detector(capitals);
  ASSERT_TRUE(detector);
  auto write = platform.Open(capitals, HidAccess::kWrite);
  auto read = platform.Open(capitals, HidAccess::kRead);
  Report r = CommandReport(0xF9, 0, 0, 0, 0, 0);
  ASSERT_EQ(write->Write(r.data(), r.size()), 65);
  ASSERT_EQ(read->Read(r.data(), r.size(), 2000), 65);
  EXPECT_TRUE(ParseAnswer(r).Ok());
  EXPECT_EQ(detector->Counters().endUpdates, 1u);
}

}  // namespace
}  // namespace tessaly::sim::testing
