// The operating system's HID services, as the transport needs them.
//
// Reports are 65 bytes for the detector: the first byte is the report ID (always 0,
// the device uses no numbered reports), followed by 64 payload bytes. Platforms that
// deliver input reports without the report-ID byte (Linux hidraw) put it back, so
// every caller sees the same layout on every platform.
//
// One implementation per platform, each in its own file; CreateSystemHidPlatform()
// is the one place that picks it. The virtual detector (src/sim) is another
// implementation, for tests and demos.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/named_lock.h"

namespace tessaly {

// One HID interface as enumeration found it.
struct HidInterfaceInfo {
  std::string path;        // the platform's path; what Open() and GetAttributes() take
  uint16_t vendorId = 0;   // as enumeration reported it (not every platform has it)
  uint16_t productId = 0;
};

// How interface paths are formed, which decides how the transport recognises the
// detector and names its lock.
enum class HidPathStyle {
  // Paths like "\\?\hid#vid_0416&pid_b500#...#{guid}": the vendor/product text is
  // in the path and the lock name is the text between the last '\' and the last '{'.
  kDelimited,
  // Paths carry neither ("/dev/hidraw3"): the detector is recognised from its
  // attributes and the platform names the lock from the device.
  kOpaque,
};

enum class HidAccess { kRead, kWrite };

// Why an interface could not be opened, for diagnostics such as `list`.
enum class HidOpenStatus { kOk, kPermissionDenied, kGone, kFailed };

// An open interface. Destroying it closes it. Read and Write may run on one thread
// while Cancel is called from another.
class HidHandle {
 public:
  virtual ~HidHandle() = default;

  // Reads one input report into buf. buf[0] is the report ID (0). Returns the number
  // of bytes placed in buf, the report-ID byte included (65 for a full report), or -1
  // when the read failed, was cancelled, or no report arrived within timeoutMs.
  virtual int Read(uint8_t* buf, size_t len, int timeoutMs) = 0;

  // Writes one output report; buf[0] must be the report ID (0). Returns the number of
  // bytes written (65 for a full report) or -1 on failure.
  virtual int Write(const uint8_t* buf, size_t len) = 0;

  // Makes a Read blocked on another thread return -1 promptly; every later Read and
  // Write fails as well.
  virtual void Cancel() = 0;
};

class HidPlatform {
 public:
  virtual ~HidPlatform() = default;

  virtual HidPathStyle PathStyle() const = 0;

  // Every present HID interface, in the platform's enumeration order.
  virtual std::vector<HidInterfaceInfo> Enumerate() = 0;

  // Opens `path` without access rights and asks for its attributes. False when it
  // cannot be opened or does not answer.
  virtual bool GetAttributes(const std::string& path, uint16_t& vendorId,
                             uint16_t& productId) = 0;

  // Opens `path` for reading or for writing (shared with other openers). Null on
  // failure.
  virtual std::unique_ptr<HidHandle> Open(const std::string& path, HidAccess access) = 0;

  // Presence test: can `path` still be opened (without access rights)?
  virtual bool CanOpen(const std::string& path) = 0;

  // Whether `path` could be opened for reading and writing, and if not, why.
  virtual HidOpenStatus CheckAccess(const std::string& path) = 0;

  // Name of the per-device lock of an interface, for kOpaque platforms.
  virtual std::string DeviceLockName(const HidInterfaceInfo& info) = 0;

  // Creates the named per-device lock. The default uses the system's named objects,
  // which vanish when the process dies.
  virtual NamedLock::Result CreateLock(const std::string& name, std::unique_ptr<NamedLock>& out) {
    return NamedLock::Create(name, out);
  }
};

// The platform's real HID services (hidapi on Linux).
std::unique_ptr<HidPlatform> CreateSystemHidPlatform();

}  // namespace tessaly
