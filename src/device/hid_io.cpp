#include "device/hid_io.h"

#include <cstdio>

namespace tessaly {
namespace {

// The vendor/product text a delimited interface path carries for the detector.
std::string VidPidText(uint16_t vendor, uint16_t product) {
  char text[32];
  std::snprintf(text, sizeof text, "vid_%04x&pid_%04x", vendor, product);
  return text;
}

// Lock name of a delimited path: the text between its last '\' and its last '{'.
// Empty when the path has no '\' or no '{' after it.
std::string DelimitedLockName(const std::string& path) {
  size_t slash = path.rfind('\\');
  if (slash == std::string::npos) return {};
  std::string rest = path.substr(slash + 1);
  size_t brace = rest.rfind('{');
  if (brace == std::string::npos) return {};
  return rest.substr(0, brace);
}

}  // namespace

CHidIO::CHidIO(HidPlatform& platform) : m_platform(platform) {}

CHidIO::~CHidIO() { CloseDevice(); }

std::string CHidIO::LockNameFor(const HidInterfaceInfo& info) const {
  if (m_platform.PathStyle() == HidPathStyle::kDelimited) return DelimitedLockName(info.path);
  return m_platform.DeviceLockName(info);
}

bool CHidIO::Matches(const HidInterfaceInfo& info, uint16_t vendor, uint16_t product) const {
  if (m_platform.PathStyle() == HidPathStyle::kDelimited) {
    // The attributes only prove the interface answers; the path text decides.
    return info.path.find(VidPidText(kDetectorVendorId, kDetectorProductId)) != std::string::npos;
  }
  return vendor == kDetectorVendorId && product == kDetectorProductId;
}

int CHidIO::FindDevice() {
  {
    std::lock_guard lock(m_handleMutex);
    m_hRead.reset();
    m_hWrite.reset();
  }
  m_bAccessDenied = false;
  int result = 0;
  for (const HidInterfaceInfo& info : m_platform.Enumerate()) {
    if (info.path.size() > kMaxDevicePath) continue;
    std::string lockName = LockNameFor(info);
    if (lockName.empty()) continue;

    std::unique_ptr<NamedLock> lock;
    if (m_platform.CreateLock(lockName, lock) != NamedLock::Result::Created) continue;

    uint16_t vendor = 0, product = 0;
    if (!m_platform.GetAttributes(info.path, vendor, product)) continue;  // lock released
    if (!Matches(info, vendor, product)) continue;

    auto reader = m_platform.Open(info.path, HidAccess::kRead);
    auto writer = m_platform.Open(info.path, HidAccess::kWrite);
    if ((!reader || !writer) &&
        m_platform.CheckAccess(info.path) == HidOpenStatus::kPermissionDenied) {
      // Another detector may still be usable; remember why this one was not.
      m_bAccessDenied = true;
      continue;
    }
    // Like the original tool, a device whose opens failed for another reason is still
    // taken: its transfers then fail and the probe drops it.
    std::lock_guard guard(m_handleMutex);
    m_devicePath = info.path;
    m_hRead = std::move(reader);
    m_hWrite = std::move(writer);
    m_hDeviceLock = std::move(lock);
    result = 1;
    break;
  }
  if (result) m_bAccessDenied = false;
  return result;
}

int CHidIO::ReadReport(uint8_t* buf, int& count) {
  count = 0;
  std::shared_ptr<HidHandle> handle;
  {
    std::lock_guard lock(m_handleMutex);
    handle = m_hRead;
  }
  if (!handle) return 0;
  int n = handle->Read(buf, kReportSize, m_readTimeoutMs);
  if (n <= 0) return 0;
  count = n;
  return 1;
}

int CHidIO::WriteReport(const uint8_t* buf, int& count) {
  count = 0;
  std::shared_ptr<HidHandle> handle;
  {
    std::lock_guard lock(m_handleMutex);
    handle = m_hWrite;
  }
  if (!handle) return 0;
  int n = handle->Write(buf, kReportSize);
  if (n <= 0) return 0;
  count = n;
  return 1;
}

void CHidIO::CloseDevice() {
  std::shared_ptr<HidHandle> reader, writer;
  std::unique_ptr<NamedLock> deviceLock;
  {
    std::lock_guard lock(m_handleMutex);
    reader = std::move(m_hRead);
    writer = std::move(m_hWrite);
    deviceLock = std::move(m_hDeviceLock);
    m_hRead.reset();
    m_hWrite.reset();
  }
  // A transfer still running on another thread holds its own reference; cancelling
  // makes it return promptly, and the handle closes when it lets go.
  if (reader) reader->Cancel();
  if (writer) writer->Cancel();
}

bool CHidIO::IsOpen() const {
  std::lock_guard lock(m_handleMutex);
  return m_hRead || m_hWrite || m_hDeviceLock;
}

bool CHidIO::PathOpens() const {
  std::string path;
  {
    std::lock_guard lock(m_handleMutex);
    path = m_devicePath;
  }
  return !path.empty() && m_platform.CanOpen(path);
}

std::vector<DetectorListing> CHidIO::ListDetectors() {
  std::vector<DetectorListing> out;
  for (const HidInterfaceInfo& info : m_platform.Enumerate()) {
    uint16_t vendor = info.vendorId, product = info.productId;
    if (m_platform.GetAttributes(info.path, vendor, product)) {
      // use the answered attributes
    } else if (m_platform.PathStyle() == HidPathStyle::kDelimited) {
      continue;
    }
    if (!Matches(info, vendor, product)) continue;
    DetectorListing entry;
    entry.path = info.path;
    entry.vendorId = vendor;
    entry.productId = product;
    std::string lockName = LockNameFor(info);
    entry.heldByOther = !lockName.empty() && NamedLock::IsHeld(lockName);
    entry.access = m_platform.CheckAccess(info.path);
    out.push_back(std::move(entry));
  }
  return out;
}

}  // namespace tessaly
