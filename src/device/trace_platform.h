// A HidPlatform that passes everything to another one and writes each report that
// crosses it to a trace: "> " + hex for a report written, "< " + hex for a report
// read, one line a report, 130 lowercase hex digits for a full 65-byte report.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "device/hid_platform.h"

namespace tessaly {

class ReportTrace {
 public:
  // Opens (truncates) the trace file. Check Ok() afterwards.
  explicit ReportTrace(const std::string& path);
  ~ReportTrace();
  bool Ok() const { return m_file != nullptr; }
  void Line(char direction, const uint8_t* data, size_t len);

 private:
  std::mutex m_mutex;
  std::FILE* m_file = nullptr;
};

class TracingHidPlatform : public HidPlatform {
 public:
  TracingHidPlatform(HidPlatform& inner, std::shared_ptr<ReportTrace> trace)
      : m_inner(inner), m_trace(std::move(trace)) {}

  HidPathStyle PathStyle() const override { return m_inner.PathStyle(); }
  std::vector<HidInterfaceInfo> Enumerate() override { return m_inner.Enumerate(); }
  bool GetAttributes(const std::string& path, uint16_t& vendorId, uint16_t& productId) override {
    return m_inner.GetAttributes(path, vendorId, productId);
  }
  std::unique_ptr<HidHandle> Open(const std::string& path, HidAccess access) override;
  bool CanOpen(const std::string& path) override { return m_inner.CanOpen(path); }
  HidOpenStatus CheckAccess(const std::string& path) override { return m_inner.CheckAccess(path); }
  std::string DeviceLockName(const HidInterfaceInfo& info) override {
    return m_inner.DeviceLockName(info);
  }
  NamedLock::Result CreateLock(const std::string& name, std::unique_ptr<NamedLock>& out) override {
    return m_inner.CreateLock(name, out);
  }

 private:
  HidPlatform& m_inner;
  std::shared_ptr<ReportTrace> m_trace;
};

}  // namespace tessaly
