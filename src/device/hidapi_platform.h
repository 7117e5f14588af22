// HidPlatform on hidapi (the hidraw backend on Linux).
#pragma once

#include "device/hid_platform.h"

namespace tessaly {

class HidapiPlatform : public HidPlatform {
 public:
  HidapiPlatform();
  ~HidapiPlatform() override;

  HidPathStyle PathStyle() const override { return HidPathStyle::kOpaque; }
  std::vector<HidInterfaceInfo> Enumerate() override;
  bool GetAttributes(const std::string& path, uint16_t& vendorId, uint16_t& productId) override;
  std::unique_ptr<HidHandle> Open(const std::string& path, HidAccess access) override;
  bool CanOpen(const std::string& path) override;
  HidOpenStatus CheckAccess(const std::string& path) override;
  std::string DeviceLockName(const HidInterfaceInfo& info) override;
};

}  // namespace tessaly
