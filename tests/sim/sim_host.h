// A minimal host for driving the virtual detector report by report: it builds
// command reports by hand and takes answers apart, independently of the real
// command protocol.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "sim/virtual_detector.h"

namespace tessaly::sim::testing {

using Report = std::array<uint8_t, kSimReportBytes>;

// The 65-byte output report of a command: report ID 0, the packet, 0xCC fill.
inline Report CommandReport(uint8_t code, uint32_t a, uint32_t b, uint32_t c, uint8_t d,
                            uint32_t e) {
  Report r;
  r.fill(0xCC);
  r[0] = 0;
  uint8_t* p = r.data() + 1;
  p[0] = code;
  p[1] = 23;
  StoreU32LE(p + 2, a);
  StoreU32LE(p + 6, b);
  StoreU32LE(p + 10, c);
  p[14] = d;
  StoreU32LE(p + 15, e);
  std::memcpy(p + 19, "HIDC", 4);
  StoreU32LE(p + 23, ByteSum(std::span<const uint8_t>(p, 23)));
  return r;
}

struct Answer {
  bool read = false;      // an input report arrived
  bool lengthOk = false;  // byte 1 is 23
  bool signatureOk = false;
  bool checksumOk = false;
  uint8_t code = 0;
  uint32_t status = 0xFFFFFFFF;
  uint32_t result = 0;
  bool Valid() const { return read && lengthOk && signatureOk && checksumOk; }
  bool Ok() const { return Valid() && status == 0; }
};

inline Answer ParseAnswer(const Report& r) {
  const uint8_t* p = r.data() + 1;
  Answer a;
  a.read = true;
  a.code = p[0];
  a.lengthOk = p[1] == 23;
  a.signatureOk = std::memcmp(p + 19, "HIDC", 4) == 0;
  a.checksumOk = LoadU32LE(p + 23) == ByteSum(std::span<const uint8_t>(p, 23));
  a.status = LoadU32LE(p + 2);
  a.result = LoadU32LE(p + 6);
  return a;
}

// One detector on an opaque platform, with a read and a write handle open.
class SimHost {
 public:
  explicit SimHost(std::shared_ptr<VirtualDetector> detector =
                       std::make_shared<VirtualDetector>(Profile::kLayout3))
      : m_detector(std::move(detector)) {
    m_path = m_platform.AddDetector(m_detector);
    OpenHandles();
  }

  void OpenHandles() {
    m_read = m_platform.Open(m_path, HidAccess::kRead);
    m_write = m_platform.Open(m_path, HidAccess::kWrite);
  }
  void CloseHandles() {
    m_read.reset();
    m_write.reset();
  }

  int WriteReport(const Report& r) { return m_write ? m_write->Write(r.data(), r.size()) : -1; }
  int Send(uint8_t code, uint32_t a, uint32_t b, uint32_t c, uint8_t d, uint32_t e) {
    return WriteReport(CommandReport(code, a, b, c, d, e));
  }
  // Sends `data` (a multiple of 64 bytes) as data reports; the number that went out.
  size_t SendData(std::span<const uint8_t> data) {
    size_t sent = 0;
    for (size_t off = 0; off + kSimPayloadBytes <= data.size(); off += kSimPayloadBytes) {
      Report r{};
      std::memcpy(r.data() + 1, data.data() + off, kSimPayloadBytes);
      if (WriteReport(r) != static_cast<int>(kSimReportBytes))
        break;
      ++sent;
    }
    return sent;
  }
  int ReadReport(Report& r, int timeoutMs = 2000) {
    r.fill(0);
    return m_read ? m_read->Read(r.data(), r.size(), timeoutMs) : -1;
  }
  Answer ReadAnswer(int timeoutMs = 2000) {
    Report r;
    if (ReadReport(r, timeoutMs) != static_cast<int>(kSimReportBytes))
      return {};
    return ParseAnswer(r);
  }
  // A whole page read: the four data reports, then the answer.
  Answer ReadPage(uint32_t page, uint8_t selector, std::vector<uint8_t>& data) {
    data.clear();
    if (Send(0xF2, page, 1, 0, selector, 0) != static_cast<int>(kSimReportBytes))
      return {};
    for (int i = 0; i < 4; ++i) {
      Report r;
      if (ReadReport(r) != static_cast<int>(kSimReportBytes))
        return {};
      data.insert(data.end(), r.begin() + 1, r.end());
    }
    return ReadAnswer();
  }
  // A write command, its data and its answer.
  Answer WritePages(uint32_t page, std::span<const uint8_t> padded, uint32_t c, uint8_t selector,
                    uint32_t e) {
    uint32_t pages = static_cast<uint32_t>(padded.size() / kSimPageBytes);
    if (Send(0xF3, page, pages, c, selector, e) != static_cast<int>(kSimReportBytes))
      return {};
    if (SendData(padded) != padded.size() / kSimPayloadBytes)
      return {};
    return ReadAnswer();
  }

  VirtualHidPlatform& Platform() { return m_platform; }
  VirtualDetector& Detector() { return *m_detector; }
  const std::string& Path() const { return m_path; }
  HidHandle* ReadHandle() { return m_read.get(); }
  HidHandle* WriteHandle() { return m_write.get(); }

 private:
  VirtualHidPlatform m_platform;
  std::shared_ptr<VirtualDetector> m_detector;
  std::string m_path;
  std::unique_ptr<HidHandle> m_read;
  std::unique_ptr<HidHandle> m_write;
};

// Memory `selector` as a copy, for before/after comparisons.
inline std::vector<uint8_t> MemoryCopy(const VirtualDetector& detector, int selector) {
  auto mem = detector.MemoryView(selector);
  return std::vector<uint8_t>(mem.begin(), mem.end());
}

}  // namespace tessaly::sim::testing
