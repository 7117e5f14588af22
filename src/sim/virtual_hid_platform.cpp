// A HidPlatform over virtual detectors, foreign interfaces and interfaces this user
// may not open.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>

#include "sim/virtual_detector.h"

namespace tessaly::sim {
namespace {

constexpr const char* kInterfaceClassGuid = "{4d1e55b2-f16f-11cf-88cb-001111000030}";

class DetectorHandle : public HidHandle {
 public:
  explicit DetectorHandle(std::shared_ptr<VirtualDetector> detector)
      : m_detector(std::move(detector)) {}
  ~DetectorHandle() override {
    if (m_attached)
      m_detector->Detach(m_link);
  }
  bool Attach() { return m_attached = m_detector->Attach(m_link); }

  int Read(uint8_t* buf, size_t len, int timeoutMs) override {
    return m_detector->HostRead(m_link, buf, len, timeoutMs);
  }
  int Write(const uint8_t* buf, size_t len) override {
    return m_detector->HostWrite(m_link, buf, len);
  }
  void Cancel() override { m_detector->Cancel(m_link); }

 private:
  std::shared_ptr<VirtualDetector> m_detector;
  VirtualDetector::Link m_link;  // guarded by the detector's mutex
  bool m_attached = false;
};

// Another vendor's device: it takes reports and never sends one.
class SilentHandle : public HidHandle {
 public:
  int Read(uint8_t*, size_t, int timeoutMs) override {
    std::unique_lock lock(m_mutex);
    auto cancelled = [&] { return m_cancelled; };
    if (timeoutMs < 0) {
      m_cv.wait(lock, cancelled);
    } else {
      m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), cancelled);
    }
    return -1;
  }
  int Write(const uint8_t* buf, size_t len) override {
    std::lock_guard lock(m_mutex);
    if (m_cancelled || !buf || len == 0 || buf[0] != 0)
      return -1;
    return static_cast<int>(len);
  }
  void Cancel() override {
    std::lock_guard lock(m_mutex);
    m_cancelled = true;
    m_cv.notify_all();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_cancelled = false;
};

std::string Hex(uint64_t v, int digits) {
  char text[24];
  std::snprintf(text, sizeof text, "%0*llx", digits, static_cast<unsigned long long>(v));
  return text;
}

}  // namespace

VirtualHidPlatform::VirtualHidPlatform(HidPathStyle style) : m_style(style) {
  static std::atomic<uint64_t> platforms{0};
  m_instanceTag = Hex(static_cast<uint64_t>(::getpid()), 1) + "&" + Hex(platforms++, 1);
}

VirtualHidPlatform::~VirtualHidPlatform() = default;

std::string VirtualHidPlatform::DelimitedPath(uint16_t vendor, uint16_t product,
                                              std::string_view instance) {
  return "\\\\?\\hid#vid_" + Hex(vendor, 4) + "&pid_" + Hex(product, 4) + "#" +
         std::string(instance) + "#" + kInterfaceClassGuid;
}

std::string VirtualHidPlatform::GeneratedPath(uint16_t vendor, uint16_t product,
                                              const VirtualDetector* detector) {
  uint64_t id = m_nextId++;
  if (m_style == HidPathStyle::kDelimited) {
    // A detector's path follows from its lock name, so two processes on one state
    // folder see the same path and so the same lock.
    std::string instance =
        detector
            ? "7&" + Hex(std::hash<std::string>{}(detector->LockName()) & 0xFFFFFFFF, 8) + "&0&0000"
            : "7&" + m_instanceTag + "&0&" + Hex(id, 4);
    return DelimitedPath(vendor, product, instance);
  }
  if (detector && !detector->StateFolder().empty()) {
    std::string path = "sim:" + detector->StateFolder().string();
    for (const auto& e : m_entries)
      if (e.path == path)
        return path + "#" + std::to_string(id);
    return path;
  }
  return (detector ? "sim:" : "sim-other:") + std::to_string(id);
}

std::string VirtualHidPlatform::AddDetector(std::shared_ptr<VirtualDetector> detector,
                                            std::string path) {
  std::lock_guard lock(m_mutex);
  if (!detector)
    return {};
  if (path.empty())
    path = GeneratedPath(kSimVendorId, kSimProductId, detector.get());
  Entry entry;
  entry.path = path;
  entry.kind = Kind::kDetector;
  entry.lockName = detector->LockName();
  entry.detector = std::move(detector);
  m_entries.push_back(std::move(entry));
  return path;
}

std::string VirtualHidPlatform::AddForeign(uint16_t vendor, uint16_t product, std::string path) {
  return AddInterface(Kind::kForeign, vendor, product, std::move(path));
}

std::string VirtualHidPlatform::AddDenied(uint16_t vendor, uint16_t product, std::string path) {
  return AddInterface(Kind::kDenied, vendor, product, std::move(path));
}

std::string VirtualHidPlatform::AddInterface(Kind kind, uint16_t vendor, uint16_t product,
                                             std::string path) {
  std::lock_guard lock(m_mutex);
  if (path.empty())
    path = GeneratedPath(vendor, product, nullptr);
  Entry entry;
  entry.path = path;
  entry.kind = kind;
  entry.vendor = vendor;
  entry.product = product;
  entry.lockName = "sim-other:" + m_instanceTag + ":" + path;
  m_entries.push_back(std::move(entry));
  return path;
}

bool VirtualHidPlatform::Remove(const std::string& path) {
  std::lock_guard lock(m_mutex);
  for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
    if (it->path == path) {
      m_entries.erase(it);
      return true;
    }
  }
  return false;
}

std::shared_ptr<VirtualDetector> VirtualHidPlatform::Detector(const std::string& path) const {
  std::lock_guard lock(m_mutex);
  for (const auto& e : m_entries)
    if (e.path == path)
      return e.detector;
  return nullptr;
}

std::shared_ptr<VirtualDetector> VirtualHidPlatform::FirstDetector() const {
  std::lock_guard lock(m_mutex);
  for (const auto& e : m_entries)
    if (e.detector)
      return e.detector;
  return nullptr;
}

bool VirtualHidPlatform::FindPresent(const std::string& path, Entry& out) const {
  std::lock_guard lock(m_mutex);
  for (const auto& e : m_entries) {
    if (e.path != path)
      continue;
    if (e.detector && !e.detector->IsPlugged())
      return false;
    out = e;
    return true;
  }
  return false;
}

std::vector<HidInterfaceInfo> VirtualHidPlatform::Enumerate() {
  std::lock_guard lock(m_mutex);
  std::vector<HidInterfaceInfo> out;
  for (const auto& e : m_entries) {
    if (e.detector && !e.detector->IsPlugged())
      continue;
    out.push_back({e.path, e.vendor, e.product});
  }
  return out;
}

bool VirtualHidPlatform::GetAttributes(const std::string& path, uint16_t& vendorId,
                                       uint16_t& productId) {
  Entry e;
  if (!FindPresent(path, e))
    return false;
  vendorId = e.vendor;
  productId = e.product;
  return true;
}

std::unique_ptr<HidHandle> VirtualHidPlatform::Open(const std::string& path, HidAccess) {
  Entry e;
  if (!FindPresent(path, e))
    return nullptr;
  switch (e.kind) {
    case Kind::kDetector: {
      auto handle = std::make_unique<DetectorHandle>(e.detector);
      if (!handle->Attach())
        return nullptr;
      return handle;
    }
    case Kind::kForeign:
      return std::make_unique<SilentHandle>();
    case Kind::kDenied:
      break;
  }
  return nullptr;
}

bool VirtualHidPlatform::CanOpen(const std::string& path) {
  Entry e;
  return FindPresent(path, e);
}

HidOpenStatus VirtualHidPlatform::CheckAccess(const std::string& path) {
  Entry e;
  if (!FindPresent(path, e))
    return HidOpenStatus::kGone;
  return e.kind == Kind::kDenied ? HidOpenStatus::kPermissionDenied : HidOpenStatus::kOk;
}

std::string VirtualHidPlatform::DeviceLockName(const HidInterfaceInfo& info) {
  std::lock_guard lock(m_mutex);
  for (const auto& e : m_entries)
    if (e.path == info.path)
      return e.lockName;
  return {};
}

}  // namespace tessaly::sim
