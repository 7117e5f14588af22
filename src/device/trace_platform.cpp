#include "device/trace_platform.h"

#include "common/bytes.h"

namespace tessaly {
namespace {

class TracingHandle : public HidHandle {
 public:
  TracingHandle(std::unique_ptr<HidHandle> inner, std::shared_ptr<ReportTrace> trace)
      : m_inner(std::move(inner)), m_trace(std::move(trace)) {}

  int Read(uint8_t* buf, size_t len, int timeoutMs) override {
    int n = m_inner->Read(buf, len, timeoutMs);
    if (n > 0) m_trace->Line('<', buf, static_cast<size_t>(n));
    return n;
  }
  int Write(const uint8_t* buf, size_t len) override {
    int n = m_inner->Write(buf, len);
    if (n > 0) m_trace->Line('>', buf, len);
    return n;
  }
  void Cancel() override { m_inner->Cancel(); }

 private:
  std::unique_ptr<HidHandle> m_inner;
  std::shared_ptr<ReportTrace> m_trace;
};

}  // namespace

ReportTrace::ReportTrace(const std::string& path) : m_file(std::fopen(path.c_str(), "w")) {}

ReportTrace::~ReportTrace() {
  if (m_file) std::fclose(m_file);
}

void ReportTrace::Line(char direction, const uint8_t* data, size_t len) {
  std::lock_guard lock(m_mutex);
  if (!m_file) return;
  std::string hex = HexString({data, len});
  std::fprintf(m_file, "%c %s\n", direction, hex.c_str());
  std::fflush(m_file);
}

std::unique_ptr<HidHandle> TracingHidPlatform::Open(const std::string& path, HidAccess access) {
  auto handle = m_inner.Open(path, access);
  if (!handle) return nullptr;
  return std::make_unique<TracingHandle>(std::move(handle), m_trace);
}

}  // namespace tessaly
