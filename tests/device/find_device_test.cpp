#include <gtest/gtest.h>

#include "device/fake_platform.h"
#include "device/hid_io.h"

namespace tessaly {
namespace {

using testing::FakeInterface;
using testing::FakePlatform;
using testing::SystemLockName;

const std::string kGuid = "{4d1e55b2-f16f-11cf-88cb-001111000030}";
std::string DetectorPath(const std::string& instance) {
  return "\\\\?\\hid#vid_0416&pid_b500#" + instance + "#" + kGuid;
}
std::string LockOf(const std::string& instance) {
  return "hid#vid_0416&pid_b500#" + instance + "#";
}

TEST(FindDevice, NoInterfaceLeavesEverythingClosed) {
  FakePlatform platform;
  CHidIO io(platform);
  EXPECT_EQ(io.FindDevice(), 0);
  EXPECT_FALSE(io.IsOpen());
  EXPECT_TRUE(platform.opened.empty());
}

TEST(FindDevice, TakesFirstDetectorAndHoldsOnlyItsLock) {
  FakePlatform platform;
  platform.interfaces = {{"\\\\?\\hid#vid_046d&pid_c52b#1&2&0#" + kGuid, 0x046d, 0xc52b},
                         {DetectorPath("7&a&0&0000")},
                         {DetectorPath("7&b&0&0000")}};
  CHidIO io(platform);
  ASSERT_EQ(io.FindDevice(), 1);
  EXPECT_EQ(io.DevicePath(), DetectorPath("7&a&0&0000"));
  EXPECT_EQ(platform.opened, (std::vector<std::string>{DetectorPath("7&a&0&0000"),
                                                       DetectorPath("7&a&0&0000")}));
  // The other vendor's lock was created and released again; the taken one is held.
  EXPECT_FALSE(NamedLock::IsHeld(SystemLockName("hid#vid_046d&pid_c52b#1&2&0#")));
  EXPECT_TRUE(NamedLock::IsHeld(SystemLockName(LockOf("7&a&0&0000"))));
  EXPECT_FALSE(NamedLock::IsHeld(SystemLockName(LockOf("7&b&0&0000"))));
  io.CloseDevice();
  EXPECT_FALSE(NamedLock::IsHeld(SystemLockName(LockOf("7&a&0&0000"))));
  io.CloseDevice();  // a second close is harmless
  EXPECT_FALSE(io.IsOpen());
}

TEST(FindDevice, PassesOverDetectorHeldByAnotherInstance) {
  FakePlatform platform;
  platform.interfaces = {{DetectorPath("7&a&0&0000")}, {DetectorPath("7&b&0&0000")}};
  std::unique_ptr<NamedLock> other;
  ASSERT_EQ(NamedLock::Create(SystemLockName(LockOf("7&a&0&0000")), other),
            NamedLock::Result::Created);
  CHidIO io(platform);
  ASSERT_EQ(io.FindDevice(), 1);
  EXPECT_EQ(io.DevicePath(), DetectorPath("7&b&0&0000"));
}

struct PassOverCase {
  const char* name;
  FakeInterface iface;
};

class FindDevicePassesOver : public ::testing::TestWithParam<PassOverCase> {};

TEST_P(FindDevicePassesOver, NeverTakesIt) {
  FakePlatform platform;
  platform.interfaces = {GetParam().iface};
  CHidIO io(platform);
  EXPECT_EQ(io.FindDevice(), 0);
  EXPECT_TRUE(platform.opened.empty());
  for (const auto& name : platform.locksCreated)
    EXPECT_FALSE(NamedLock::IsHeld(SystemLockName(name))) << name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FindDevicePassesOver,
    ::testing::Values(
        PassOverCase{"OtherVendor", {"\\\\?\\hid#vid_045e&pid_0745#3&1#" + kGuid, 0x045e, 0x0745}},
        PassOverCase{"NoBrace", {"\\\\?\\hid#vid_0416&pid_b500#7&a&0&0000#nobrace"}},
        PassOverCase{"NoBackslash", {"hid#vid_0416&pid_b500#7&a&0&0000#" + kGuid}},
        PassOverCase{"CapitalVidPid", {"\\\\?\\HID#VID_0416&PID_B500#7&A&0&0000#" + kGuid}},
        PassOverCase{"NoAttributes", {DetectorPath("7&a&0&0000"), 0x0416, 0xB500, false}},
        PassOverCase{"PathTooLong", {"\\\\?\\hid#vid_0416&pid_b500#" + std::string(240, 'x') +
                                     "#" + kGuid}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FindDevice, OpaquePathsAreRecognisedByAttributes) {
  FakePlatform platform(HidPathStyle::kOpaque);
  platform.interfaces = {{"/dev/hidraw0", 0x046d, 0xc52b}, {"/dev/hidraw1"}};
  CHidIO io(platform);
  ASSERT_EQ(io.FindDevice(), 1);
  EXPECT_EQ(io.DevicePath(), "/dev/hidraw1");
  EXPECT_TRUE(NamedLock::IsHeld(SystemLockName("fake:/dev/hidraw1")));
  EXPECT_FALSE(NamedLock::IsHeld(SystemLockName("fake:/dev/hidraw0")));
}

TEST(FindDevice, TwoTransportsNeverShareADetector) {
  FakePlatform platform(HidPathStyle::kOpaque);
  platform.interfaces = {{"/dev/hidraw1"}};
  CHidIO first(platform), second(platform);
  EXPECT_EQ(first.FindDevice(), 1);
  EXPECT_EQ(second.FindDevice(), 0);
  first.CloseDevice();
  EXPECT_EQ(second.FindDevice(), 1);
}

}  // namespace
}  // namespace tessaly
