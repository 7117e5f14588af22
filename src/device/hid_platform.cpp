#include "device/hid_platform.h"

#include "device/hidapi_platform.h"

namespace tessaly {

std::unique_ptr<HidPlatform> CreateSystemHidPlatform() { return std::make_unique<HidapiPlatform>(); }

}  // namespace tessaly
