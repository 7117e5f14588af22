// CHidIO: finds the detector among the HID interfaces, takes it for this instance
// (a per-device named lock) and moves single 65-byte reports. It knows nothing of
// the command protocol; CHidCmd owns exactly one.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/named_lock.h"
#include "device/hid_platform.h"

namespace tessaly {

inline constexpr uint16_t kDetectorVendorId = 0x0416;
inline constexpr uint16_t kDetectorProductId = 0xB500;
inline constexpr size_t kReportSize = 65;  // report ID + 64 payload bytes
inline constexpr size_t kPayloadSize = 64;

// How long a read waits for a report before the transfer fails. The device answers
// within milliseconds; a silent device must never hang the caller.
inline constexpr int kReportReadTimeoutMs = 1000;

// Longest interface path that is taken; longer ones are passed over.
inline constexpr size_t kMaxDevicePath = 259;

// One detector interface as `list` shows it.
struct DetectorListing {
  std::string path;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  bool heldByOther = false;     // another instance holds its lock
  HidOpenStatus access = HidOpenStatus::kOk;
};

class CHidIO {
 public:
  explicit CHidIO(HidPlatform& platform);
  virtual ~CHidIO();
  CHidIO(const CHidIO&) = delete;
  CHidIO& operator=(const CHidIO&) = delete;

  // 1 when a detector was found and taken (path stored, both handles open, lock
  // held), 0 when none was. Call only while no device is open.
  int FindDevice();

  // 1 when one input report was read into buf (65 bytes), count = bytes transferred
  // with the report-ID byte; 0 on failure or timeout, count = 0.
  int ReadReport(uint8_t* buf, int& count);

  // 1 when the 65-byte report in buf (buf[0] = report ID 0) was written; 0 on failure.
  int WriteReport(const uint8_t* buf, int& count);

  // Cancels pending transfers, closes both handles and releases the lock. Safe to
  // call from another thread while a transfer runs (that transfer then fails), and
  // harmless when nothing is open.
  void CloseDevice();

  // Presence test on the stored path (used by CHidCmd::IsDevicePresent).
  bool PathOpens() const;

  // Lists every detector interface with whether it is held elsewhere and whether
  // this user may open it. Takes nothing.
  std::vector<DetectorListing> ListDetectors();

  // True when the last FindDevice passed over a detector only because this user
  // lacks the permission to open it.
  bool LastFindDeniedAccess() const { return m_bAccessDenied; }

  const std::string& DevicePath() const { return m_devicePath; }
  bool IsOpen() const;

  void SetReadTimeoutMs(int ms) { m_readTimeoutMs = ms; }
  HidPlatform& Platform() { return m_platform; }

 private:
  std::string LockNameFor(const HidInterfaceInfo& info) const;
  bool Matches(const HidInterfaceInfo& info, uint16_t vendor, uint16_t product) const;

  HidPlatform& m_platform;
  // Handles are shared so that a transfer on the worker thread keeps its handle alive
  // while the main thread closes the device; Cancel makes that transfer fail.
  mutable std::mutex m_handleMutex;
  std::shared_ptr<HidHandle> m_hRead;
  std::shared_ptr<HidHandle> m_hWrite;
  std::unique_ptr<NamedLock> m_hDeviceLock;
  std::string m_devicePath;
  int m_readTimeoutMs = kReportReadTimeoutMs;
  bool m_bAccessDenied = false;
};

}  // namespace tessaly
