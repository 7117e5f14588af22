#include <gtest/gtest.h>

#include "device/hid_io.h"
#include "sim/virtual_detector.h"

namespace tessaly {
namespace {

TEST(ListDetectors, ReportsPermissionAndHeldDetectors) {
  sim::VirtualHidPlatform platform;
  platform.AddForeign(0x046d, 0xc52b);
  const std::string denied = platform.AddDenied();
  const std::string usable = platform.AddDetector(std::make_shared<sim::VirtualDetector>());

  CHidIO other(platform);
  ASSERT_EQ(other.FindDevice(), 1) << "the denied detector is passed over";
  EXPECT_EQ(other.DevicePath(), usable);

  CHidIO lister(platform);
  auto listed = lister.ListDetectors();
  ASSERT_EQ(listed.size(), 2u) << "the other vendor is left out";
  EXPECT_EQ(listed[0].path, denied);
  EXPECT_EQ(listed[0].access, HidOpenStatus::kPermissionDenied);
  EXPECT_FALSE(listed[0].heldByOther);
  EXPECT_EQ(listed[1].path, usable);
  EXPECT_EQ(listed[1].access, HidOpenStatus::kOk);
  EXPECT_TRUE(listed[1].heldByOther);
}

TEST(ListDetectors, FindDeviceTellsWhenOnlyPermissionWasMissing) {
  sim::VirtualHidPlatform platform;
  platform.AddDenied();
  CHidIO io(platform);
  EXPECT_EQ(io.FindDevice(), 0);
  EXPECT_TRUE(io.LastFindDeniedAccess());
  EXPECT_FALSE(io.IsOpen());

  sim::VirtualHidPlatform empty;
  CHidIO none(empty);
  EXPECT_EQ(none.FindDevice(), 0);
  EXPECT_FALSE(none.LastFindDeniedAccess());
}

}  // namespace
}  // namespace tessaly
