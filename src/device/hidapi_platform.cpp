#include "device/hidapi_platform.h"

#include <fcntl.h>
#include <hidapi.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

namespace tessaly {
namespace {

// hidapi delivers input reports without the report-ID byte for unnumbered devices;
// it is put back so callers always see 65 bytes with byte 0 = 0.
//
// A read is sliced into short waits so that Cancel from another thread takes effect
// promptly; hidapi itself offers no way to interrupt a blocked read.
constexpr int kReadSliceMs = 20;

class HidapiHandle : public HidHandle {
 public:
  explicit HidapiHandle(hid_device* dev) : m_dev(dev) {}
  ~HidapiHandle() override { hid_close(m_dev); }

  int Read(uint8_t* buf, size_t len, int timeoutMs) override {
    if (len < 2) return -1;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::lock_guard lock(m_ioMutex);
    while (!m_cancelled) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                      deadline - std::chrono::steady_clock::now())
                      .count();
      if (left <= 0) return -1;
      int n = hid_read_timeout(m_dev, buf + 1, len - 1,
                               static_cast<int>(std::min<long long>(left, kReadSliceMs)));
      if (n < 0) return -1;
      if (n > 0) {
        buf[0] = 0;
        return n + 1;
      }
    }
    return -1;
  }

  int Write(const uint8_t* buf, size_t len) override {
    if (m_cancelled) return -1;
    std::lock_guard lock(m_ioMutex);
    int n = hid_write(m_dev, buf, len);
    return n < 0 ? -1 : n;
  }

  void Cancel() override { m_cancelled = true; }

 private:
  hid_device* m_dev;
  std::mutex m_ioMutex;
  std::atomic<bool> m_cancelled{false};
};

struct EnumerationDeleter {
  void operator()(hid_device_info* list) const { hid_free_enumeration(list); }
};

std::once_flag g_hidInit;

}  // namespace

HidapiPlatform::HidapiPlatform() {
  std::call_once(g_hidInit, [] { hid_init(); });
}

HidapiPlatform::~HidapiPlatform() = default;

std::vector<HidInterfaceInfo> HidapiPlatform::Enumerate() {
  std::vector<HidInterfaceInfo> out;
  std::unique_ptr<hid_device_info, EnumerationDeleter> list(hid_enumerate(0, 0));
  for (hid_device_info* d = list.get(); d; d = d->next) {
    if (!d->path) continue;
    out.push_back({d->path, d->vendor_id, d->product_id});
  }
  return out;
}

bool HidapiPlatform::GetAttributes(const std::string& path, uint16_t& vendorId,
                                   uint16_t& productId) {
  // The attributes come from udev and need no access to the node; that lets a
  // detector without permission still be recognised and reported as such.
  std::unique_ptr<hid_device_info, EnumerationDeleter> list(hid_enumerate(0, 0));
  for (hid_device_info* d = list.get(); d; d = d->next) {
    if (d->path && path == d->path) {
      vendorId = d->vendor_id;
      productId = d->product_id;
      return true;
    }
  }
  return false;
}

std::unique_ptr<HidHandle> HidapiPlatform::Open(const std::string& path, HidAccess) {
  hid_device* dev = hid_open_path(path.c_str());
  if (!dev) return nullptr;
  return std::make_unique<HidapiHandle>(dev);
}

bool HidapiPlatform::CanOpen(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

HidOpenStatus HidapiPlatform::CheckAccess(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) {
    ::close(fd);
    return HidOpenStatus::kOk;
  }
  switch (errno) {
    case EACCES:
    case EPERM:
      return HidOpenStatus::kPermissionDenied;
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return HidOpenStatus::kGone;
    default:
      return HidOpenStatus::kFailed;
  }
}

std::string HidapiPlatform::DeviceLockName(const HidInterfaceInfo& info) {
  // The hidraw node names the device uniquely while it is plugged in, and every
  // instance sees the same node for it.
  return "hid:" + info.path;
}

}  // namespace tessaly
