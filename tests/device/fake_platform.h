// A scripted HID platform for the transport and protocol tests: interfaces are
// listed as given, reads return queued reports, writes are recorded.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <unistd.h>

#include "device/hid_platform.h"

namespace tessaly::testing {

struct FakeInterface {
  std::string path;
  uint16_t vendor = 0x0416;
  uint16_t product = 0xB500;
  bool attributesOk = true;
};

struct FakeIo {
  std::mutex mutex;
  std::condition_variable cv;
  std::deque<std::vector<uint8_t>> inbound;  // reports the next reads return
  std::vector<std::vector<uint8_t>> written;
  int failWriteAt = -1;  // index of the write that fails
  bool cancelled = false;
};

class FakeHandle : public HidHandle {
 public:
  FakeHandle(std::shared_ptr<FakeIo> io, HidAccess access) : m_io(std::move(io)), m_access(access) {}
  int Read(uint8_t* buf, size_t len, int timeoutMs) override {
    std::unique_lock lock(m_io->mutex);
    bool ready = m_io->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [&] { return m_io->cancelled || !m_io->inbound.empty(); });
    if (!ready || m_io->cancelled) return -1;
    auto report = std::move(m_io->inbound.front());
    m_io->inbound.pop_front();
    size_t n = std::min(len, report.size());
    std::memcpy(buf, report.data(), n);
    return static_cast<int>(n);
  }
  int Write(const uint8_t* buf, size_t len) override {
    std::lock_guard lock(m_io->mutex);
    if (m_io->cancelled) return -1;
    if (static_cast<int>(m_io->written.size()) == m_io->failWriteAt) {
      m_io->failWriteAt = -1;
      return -1;
    }
    m_io->written.emplace_back(buf, buf + len);
    return static_cast<int>(len);
  }
  void Cancel() override {
    std::lock_guard lock(m_io->mutex);
    m_io->cancelled = true;
    m_io->cv.notify_all();
  }

 private:
  std::shared_ptr<FakeIo> m_io;
  HidAccess m_access;
};

// The system-wide name behind a fake lock name: per process, so tests running in
// parallel never see each other's locks.
inline std::string SystemLockName(const std::string& name) {
  return "fake-test:" + std::to_string(::getpid()) + ":" + name;
}

class FakePlatform : public HidPlatform {
 public:
  explicit FakePlatform(HidPathStyle style = HidPathStyle::kDelimited) : m_style(style) {}

  std::vector<FakeInterface> interfaces;
  std::shared_ptr<FakeIo> io = std::make_shared<FakeIo>();
  std::vector<std::string> opened;         // paths opened for reading or writing
  std::vector<std::string> locksCreated;   // every lock name asked for
  bool present = true;

  HidPathStyle PathStyle() const override { return m_style; }
  std::vector<HidInterfaceInfo> Enumerate() override {
    std::vector<HidInterfaceInfo> out;
    for (const auto& i : interfaces) out.push_back({i.path, i.vendor, i.product});
    return out;
  }
  bool GetAttributes(const std::string& path, uint16_t& v, uint16_t& p) override {
    for (const auto& i : interfaces)
      if (i.path == path && i.attributesOk) {
        v = i.vendor;
        p = i.product;
        return true;
      }
    return false;
  }
  std::unique_ptr<HidHandle> Open(const std::string& path, HidAccess access) override {
    opened.push_back(path);
    return std::make_unique<FakeHandle>(io, access);
  }
  bool CanOpen(const std::string&) override { return present; }
  HidOpenStatus CheckAccess(const std::string&) override { return HidOpenStatus::kOk; }
  std::string DeviceLockName(const HidInterfaceInfo& info) override { return "fake:" + info.path; }
  NamedLock::Result CreateLock(const std::string& name, std::unique_ptr<NamedLock>& out) override {
    locksCreated.push_back(name);
    return NamedLock::Create(SystemLockName(name), out);
  }

 private:
  HidPathStyle m_style;
};

}  // namespace tessaly::testing
