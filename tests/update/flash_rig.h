// Shared pieces of the flashing and worker tests: a virtual detector behind a
// platform that records every report the host got out, a progress sink that counts
// bytes the way the window does, reference checksums written out longhand, and the
// memory image an update must leave behind.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "device/hid_cmd.h"
#include "identify/device_state.h"
#include "pkgwriter/package_writer.h"
#include "sim/virtual_detector.h"
#include "update/flash.h"
#include "update/package.h"
#include "update/progress.h"

namespace tessaly::testing {

namespace pw = pkgwriter;

// The build's brand as held in its 16-byte slot.
inline const std::string kBrandSlot("Sable Harbor\0\0\0\0", 16);
inline constexpr VariantKey kSH01 = {'S', 'H', '0', '1'};

// Where each segment lands: memory selector and byte address.
struct Region {
  int selector;
  uint32_t address;
};
inline constexpr std::array<Region, kSegmentCount> kRegions = {
    {{0, 0x000000}, {1, 0x009000}, {1, 0x016000}, {1, 0x0DE000}, {1, 0x2DE000}}};
inline constexpr uint32_t kInfoAddress = 0x008000;

// ---- Reference checksums ----------------------------------------------------------

inline uint32_t RefByteSum(std::span<const uint8_t> bytes) {
  uint32_t sum = 0;
  for (uint8_t b : bytes)
    sum += b;
  return sum;
}

// The transform written out step by step: whole groups of four, b2 ^= b0 and
// b3 ^= b1, the word XOR the key; the key becomes the running sum of stored words
// every 256 bytes. The tail is summed untouched.
inline uint32_t RefTransformedSum(std::span<const uint8_t> data) {
  uint32_t key = 0x5A3C9E71, acc = 0, sum = 0;
  size_t pos = 0, i = 0;
  for (; i + 4 <= data.size(); i += 4) {
    uint32_t b0 = data[i], b1 = data[i + 1];
    uint32_t b2 = data[i + 2] ^ b0, b3 = data[i + 3] ^ b1;
    uint32_t word = (b0 | b1 << 8 | b2 << 16 | b3 << 24) ^ key;
    acc += word;
    sum += (word & 0xFF) + (word >> 8 & 0xFF) + (word >> 16 & 0xFF) + (word >> 24);
    pos += 4;
    if (pos == 256) {
      key = acc;
      acc = 0;
      pos = 0;
    }
  }
  for (; i < data.size(); ++i)
    sum += data[i];
  return sum;
}

inline std::vector<uint8_t> RefPadded(std::span<const uint8_t> data) {
  std::vector<uint8_t> out(data.begin(), data.end());
  while (out.size() % 256 != 0)
    out.push_back(0xFF);
  return out;
}

inline std::array<uint8_t, 256> RefInfoPage(std::span<const uint8_t> segment2) {
  std::array<uint8_t, 256> page;
  page.fill(0xFF);
  auto put = [&](size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k)
      page[at + k] = static_cast<uint8_t>(v >> (8 * k));
  };
  put(0, 0x5A3C9E71);
  put(4, static_cast<uint32_t>(segment2.size()));
  put(8, RefTransformedSum(segment2));
  return page;
}

// ---- Packages ---------------------------------------------------------------------

// A package with the given segment lengths (0: absent); segment 2 is a single variant
// for "SH01". Every segment gets its own filler, none of it 0xFF-only.
struct TestPackage {
  std::array<std::vector<uint8_t>, kSegmentCount> segments;  // [1] is the variant's data
  std::vector<uint8_t> bytes;
  uint64_t TotalBytes() const {
    uint64_t t = 0;
    for (const auto& s : segments)
      t += s.size();
    return t;
  }
};

inline TestPackage MakePackage(std::array<size_t, kSegmentCount> lengths,
                               std::vector<uint8_t> brand = {}) {
  pw::PackageContents c;
  if (!brand.empty())
    c.brand = std::move(brand);
  TestPackage p;
  for (size_t n = 0; n < kSegmentCount; ++n) {
    if (!lengths[n])
      continue;
    p.segments[n] = pw::PatternBytes(lengths[n], static_cast<uint32_t>(100 + n));
    if (n == 1) {
      c.variantTable = true;
      c.variants.push_back({kSH01, p.segments[1], std::nullopt, std::nullopt});
    } else {
      c.segments[n] = p.segments[n];
    }
  }
  p.bytes = pw::BuildPackage(c).bytes;
  return p;
}

// A layout-3 device whose model tag is "SH01".
inline DeviceState TestDevice(int firmware) {
  DeviceState s;
  s.m_nFirmwareRevision = firmware;
  s.m_paramLayout = 3;
  std::memcpy(s.m_params.data() + 4, kSH01.data(), 4);
  std::memcpy(s.m_identity.data(), "Sable Harbor", 12);
  s.m_bDeviceReady = 1;
  return s;
}

// ---- Memory images ----------------------------------------------------------------

using MemoryImage = std::array<std::vector<uint8_t>, 2>;

inline MemoryImage CopyMemory(const sim::VirtualDetector& d) {
  auto m0 = d.MemoryView(0), m1 = d.MemoryView(1);
  return {std::vector<uint8_t>(m0.begin(), m0.end()), std::vector<uint8_t>(m1.begin(), m1.end())};
}

// The memories of a detector fresh from the profile every rig starts from. Taken
// only where a whole image is compared: the fault matrix runs hundreds of rigs.
inline MemoryImage FreshMemory() {
  return CopyMemory(sim::VirtualDetector(sim::Profile::kLayout3));
}

// `before` with every present segment (padded) and the info page laid over it.
inline MemoryImage ExpectedMemory(MemoryImage before, const TestPackage& p) {
  auto put = [&](int sel, uint32_t addr, std::span<const uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), before[sel].begin() + addr);
  };
  for (size_t n = 0; n < kSegmentCount; ++n) {
    if (p.segments[n].empty())
      continue;
    put(kRegions[n].selector, kRegions[n].address, RefPadded(p.segments[n]));
  }
  if (!p.segments[1].empty())
    put(1, kInfoAddress, RefInfoPage(p.segments[1]));
  return before;
}

// True when every present segment, padded, and the info page sit at their addresses.
inline bool MemoryHolds(const sim::VirtualDetector& d, const TestPackage& p) {
  auto holds = [&](int sel, uint32_t addr, std::span<const uint8_t> bytes) {
    auto mem = d.MemoryView(sel);
    return addr + bytes.size() <= mem.size() &&
           std::equal(bytes.begin(), bytes.end(), mem.begin() + addr);
  };
  for (size_t n = 0; n < kSegmentCount; ++n) {
    if (p.segments[n].empty())
      continue;
    if (!holds(kRegions[n].selector, kRegions[n].address, RefPadded(p.segments[n])))
      return false;
  }
  return p.segments[1].empty() || holds(1, kInfoAddress, RefInfoPage(p.segments[1]));
}

// ---- The host side ----------------------------------------------------------------

// A command packet as it went out.
struct SentCommand {
  uint8_t code = 0;
  uint32_t a = 0, b = 0, c = 0;
  uint8_t d = 0;
  uint32_t e = 0;
};

// Passes everything to the virtual platform and keeps each report that was written.
class RecordingPlatform : public HidPlatform {
 public:
  explicit RecordingPlatform(HidPlatform& inner) : m_inner(inner) {}

  HidPathStyle PathStyle() const override { return m_inner.PathStyle(); }
  std::vector<HidInterfaceInfo> Enumerate() override { return m_inner.Enumerate(); }
  bool GetAttributes(const std::string& path, uint16_t& v, uint16_t& p) override {
    return m_inner.GetAttributes(path, v, p);
  }
  std::unique_ptr<HidHandle> Open(const std::string& path, HidAccess access) override {
    auto h = m_inner.Open(path, access);
    if (!h)
      return nullptr;
    return std::make_unique<Handle>(std::move(h), *this);
  }
  bool CanOpen(const std::string& path) override { return m_inner.CanOpen(path); }
  HidOpenStatus CheckAccess(const std::string& path) override { return m_inner.CheckAccess(path); }
  std::string DeviceLockName(const HidInterfaceInfo& info) override {
    return m_inner.DeviceLockName(info);
  }

  size_t ReportsWritten() const {
    std::lock_guard lock(m_mutex);
    return m_written.size();
  }
  // The command packets among the written reports, in order.
  std::vector<SentCommand> Commands() const {
    std::lock_guard lock(m_mutex);
    std::vector<SentCommand> out;
    for (const auto& r : m_written) {
      const uint8_t* p = r.data() + 1;
      bool fill = std::all_of(p + 27, p + 64, [](uint8_t b) { return b == 0xCC; });
      if (p[1] != 23 || std::memcmp(p + 19, "HIDC", 4) != 0 || !fill ||
          LoadU32LE(p + 23) != RefByteSum({p, 23}))
        continue;
      out.push_back(
          {p[0], LoadU32LE(p + 2), LoadU32LE(p + 6), LoadU32LE(p + 10), p[14], LoadU32LE(p + 15)});
    }
    return out;
  }
  std::vector<SentCommand> CommandsOf(uint8_t code) const {
    std::vector<SentCommand> out;
    for (const auto& c : Commands())
      if (c.code == code)
        out.push_back(c);
    return out;
  }

 private:
  class Handle : public HidHandle {
   public:
    Handle(std::unique_ptr<HidHandle> inner, RecordingPlatform& owner)
        : m_inner(std::move(inner)), m_owner(owner) {}
    int Read(uint8_t* buf, size_t len, int timeoutMs) override {
      return m_inner->Read(buf, len, timeoutMs);
    }
    int Write(const uint8_t* buf, size_t len) override {
      int n = m_inner->Write(buf, len);
      if (n > 0 && len == kReportSize) {
        std::array<uint8_t, kReportSize> r;
        std::memcpy(r.data(), buf, kReportSize);
        std::lock_guard lock(m_owner.m_mutex);
        m_owner.m_written.push_back(r);
      }
      return n;
    }
    void Cancel() override { m_inner->Cancel(); }

   private:
    std::unique_ptr<HidHandle> m_inner;
    RecordingPlatform& m_owner;
  };

  HidPlatform& m_inner;
  mutable std::mutex m_mutex;
  std::vector<std::array<uint8_t, kReportSize>> m_written;
};

// The window's handling of the progress messages, done at once on the posting thread,
// plus the phase each counted-or-not report was written in (runs collapsed).
class CountingSink : public IMessageSink {
 public:
  explicit CountingSink(UpdateCounters& counters) : m_counters(counters) {}
  void Post(uint32_t msg, uintptr_t, intptr_t lParam) override {
    if (msg != WM_HID_WRITE_PROGRESS)
      return;
    OnHidWriteProgress(m_counters, lParam);
    uint8_t phase = m_counters.m_updatePhase.load();
    std::lock_guard lock(m_mutex);
    if (m_phases.empty() || m_phases.back() != phase)
      m_phases.push_back(phase);
  }
  std::vector<uint8_t> Phases() const {
    std::lock_guard lock(m_mutex);
    return m_phases;
  }

 private:
  UpdateCounters& m_counters;
  mutable std::mutex m_mutex;
  std::vector<uint8_t> m_phases;
};

// One virtual detector, the host's command object on it, and the window's counters.
struct Rig {
  explicit Rig(int firmware = 1008, int readTimeoutMs = 200)
      : detector(std::make_shared<sim::VirtualDetector>(sim::Profile::kLayout3)),
        device(TestDevice(firmware)) {
    detector->SetFirmware(static_cast<uint32_t>(firmware));
    virt.AddDetector(detector);
    cmd.m_hNotifyWnd = &sink;
    cmd.m_bLinkOpen = cmd.m_io.FindDevice();
    cmd.m_io.SetReadTimeoutMs(readTimeoutMs);
  }

  sim::VirtualHidPlatform virt;
  std::shared_ptr<sim::VirtualDetector> detector;
  RecordingPlatform recorder{virt};
  CHidCmd cmd{recorder};
  UpdateCounters counters;
  CountingSink sink{counters};
  DeviceState device;
};

}  // namespace tessaly::testing
