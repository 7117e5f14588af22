// The virtual detector: the device side of the command protocol, its two memories,
// its firmware number, a persistent state folder, fault injection and an optional
// per-report delay. Tests, the CLI (--simulate) and demos use it in place of the real
// detector through VirtualHidPlatform.
//
// Default profile ("layout3"), what a fresh state folder starts from:
//   firmware number 1008
//   memory 0 (0x200 pages, 128 KiB), erased (0xFF) except:
//     page 0x70   identity block: "Sable Harbor" followed by 244 zero bytes
//     page 0x110  parameter block, layout 3 (unused bytes 0):
//                   0  checksum = ByteSum of bytes 4..62
//                   4  model tag "SH01"
//                   8  program version 215 (signed 32-bit)
//                  16  flags 0xC0 (bit 7 frequency display available, bit 6 on)
//                  18  time zone 1
//                  19  band counts X 1, Ku 1, K 1, Ka 4, laser 1
//                  24  the eight band switches, all 1
//                  48  feature level 0
//                  50  day start 7, 51 night start 19, 52 radar type 0
//                  55  revision 3 (signed 32-bit)
//                  59  marker 0x5A3C9E71
//                  63  frequency table, u16 low/high MHz per band: X 10500-10550,
//                      Ku 13400-13500, K 24050-24250, Ka 33400-33800, 34000-34400,
//                      34600-35000, 35300-35700, laser 0-0
//   memory 1 (0x8000 pages, 8 MiB), erased except:
//     page 0x2DE0 first 4 bytes: date code 1795132800 (2026-11-20 00:00:00 UTC)
// Other profiles change only the blocks of memory 0:
//   layout2         parameter block layout 2: checksum over bytes 4..75, flags 0x40 at
//                   8, time zone 1 at 10, twelve switches 1 at 11..22, day 7 at 24,
//                   night 19 at 25, model tag "SH02" at 28, program version 215 at 32
//   layout2-v73     as layout2 with model tag "V73 "
//   layout1         as layout2 with the checksum over bytes 4..27, model tag "SH00"
//   blank-identity  identity block all 0xFF, layout 3 parameter block
//   foreign-brand   identity block "Kyrin" followed by zero bytes, layout 3 block
//
// Protocol as the device sees it: every output report carries a 27-byte packet at
// payload bytes 0..26 (report bytes 1..27), or 64 data bytes while a write command
// receives its pages. Every exchange ends with one answer packet (same layout: code
// echoed, A = status, B = result) at bytes 1..27 of an input report, the rest 0.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device/hid_platform.h"

namespace tessaly::sim {

inline constexpr uint16_t kSimVendorId = 0x0416;
inline constexpr uint16_t kSimProductId = 0xB500;
inline constexpr size_t kSimReportBytes = 65;  // report ID + 64 payload bytes
inline constexpr size_t kSimPayloadBytes = 64;
inline constexpr size_t kSimPacketBytes = 27;
inline constexpr size_t kSimPageBytes = 256;
inline constexpr uint32_t kMemory0Pages = 0x200;
inline constexpr uint32_t kMemory1Pages = 0x8000;
inline constexpr uint32_t kDefaultFirmware = 1008;

// Command codes the device understands.
inline constexpr uint8_t kCodeReadPage = 0xF2;
inline constexpr uint8_t kCodeWritePages = 0xF3;
inline constexpr uint8_t kCodeCommit = 0xF4;
inline constexpr uint8_t kCodeQueryFirmware = 0xF7;
inline constexpr uint8_t kCodeEndUpdate = 0xF9;
inline constexpr uint32_t kConfirmPairA = 0x5A3C9E71;
inline constexpr uint32_t kConfirmPairB = 0x6E2B9F47;

// Status (field A) of the device's answers. Anything but kStatusOk is a failure; the
// values only help a reader of a trace.
enum SimStatus : uint32_t {
  kStatusOk = 0,
  kStatusBadPacket = 1,  // length byte, signature or checksum wrong
  kStatusUnknownCommand = 2,
  kStatusBadConfirmation = 3,
  kStatusBadAddress = 4,   // bad selector or pages outside the memory
  kStatusBadChecksum = 5,  // received data does not match field E
  kStatusBadArgument = 6,  // e.g. C larger than the data, read of B != 1 pages
  kStatusInjected = 0xFF,  // bad-status fault
};

// ---- Profiles ----

enum class Profile { kLayout3, kLayout2, kLayout2V73, kLayout1, kBlankIdentity, kForeignBrand };

struct ProfileInfo {
  Profile profile;
  std::string_view name;         // as the CLI takes it, e.g. "layout2-v73"
  std::string_view description;  // one line for --help
};

// Every profile, the default (layout3) first.
std::span<const ProfileInfo> Profiles();
bool ParseProfile(std::string_view name, Profile& out, std::string& error);
std::string_view ProfileName(Profile profile);

// The 256-byte blocks a profile puts into memory 0, for tests that compare.
std::array<uint8_t, kSimPageBytes> ProfileParameterBlock(Profile profile);
std::array<uint8_t, kSimPageBytes> ProfileIdentityBlock(Profile profile);
inline constexpr uint32_t kIdentityPage = 0x70;
inline constexpr uint32_t kParameterPage = 0x110;
inline constexpr uint32_t kDatabaseDatePage = 0x2DE0;
inline constexpr uint32_t kDefaultDateCode = 1795132800;  // 2026-11-20 00:00:00 UTC

// ---- Faults ----

enum class FaultKind {
  kWriteFail,     // the Nth report the host writes fails
  kReadFail,      // the Nth report the host reads fails (a report it would take is lost)
  kBadChecksum,   // the Nth answer carries a wrong checksum
  kBadLength,     // the Nth answer carries a wrong length byte
  kBadSignature,  // the Nth answer carries a wrong signature
  kBadStatus,     // the Nth answer carries a non-zero status
  kStall,         // from the Nth host read on, nothing arrives: reads time out
  kUnplug,        // after N reports either way the device is gone
};

// N counts from 1, from the moment the fault is added.
struct Fault {
  FaultKind kind = FaultKind::kWriteFail;
  uint32_t count = 1;
};

struct FaultKindInfo {
  FaultKind kind;
  std::string_view name;  // "write-fail", ...
  std::string_view description;
};

std::span<const FaultKindInfo> FaultKinds();
// Parses "KIND:N" (N a decimal number from 1). False with a one-line reason on error.
bool ParseFault(std::string_view text, Fault& out, std::string& error);
std::string FormatFault(const Fault& fault);

// ---- The detector ----

struct DetectorCounters {
  std::array<uint64_t, 256> commands{};  // well-formed command packets, by code
  uint64_t malformedPackets = 0;         // command reports that failed the packet checks
  uint64_t commits = 0;                  // accepted commits
  uint64_t endUpdates = 0;
  uint64_t pagesStored = 0;     // pages written into memory by accepted writes
  uint64_t answers = 0;         // answer packets produced
  uint64_t reportsWritten = 0;  // output reports the device received
  uint64_t reportsRead = 0;     // input reports the host took
  uint64_t CommandsSeen(uint8_t code) const { return commands[code]; }
};

// Thread-safe: the host's reader and writer threads, Cancel from a third thread and a
// test inspecting the counters may all run at once (one mutex, one condition variable).
class VirtualDetector {
 public:
  // Both memories erased (0xFF), firmware 1008, no state folder.
  VirtualDetector();
  // As above, filled from `profile`.
  explicit VirtualDetector(Profile profile);
  ~VirtualDetector();
  VirtualDetector(const VirtualDetector&) = delete;
  VirtualDetector& operator=(const VirtualDetector&) = delete;

  // Loads the state folder (mem0.bin, mem1.bin, firmware.txt), creating the folder and
  // any missing file from `profile`. A file of the wrong size, an unreadable file or an
  // unparsable firmware.txt gives null and a reason in `error`; nothing is written or
  // replaced then. Changes are written back when the last handle closes (Save).
  static std::shared_ptr<VirtualDetector> OpenStateFolder(const std::filesystem::path& folder,
                                                          Profile profile, std::string& error);

  // Erases both memories and fills them from `profile` (firmware back to 1008).
  void ApplyProfile(Profile profile);

  // Direct access to memory 0 or 1 (empty span for any other selector). Not guarded:
  // use it only while no host exchange runs. Handing out the span marks that memory
  // as changed, so edits made through it are saved.
  std::span<uint8_t> Memory(int selector);
  // Read-only view, same rules; does not mark anything as changed.
  std::span<const uint8_t> MemoryView(int selector) const;
  // Guarded page copies; false for a bad selector or page.
  bool ReadPage(int selector, uint32_t page, std::span<uint8_t, kSimPageBytes> out) const;
  bool WritePage(int selector, uint32_t page, std::span<const uint8_t, kSimPageBytes> data);

  uint32_t Firmware() const;
  void SetFirmware(uint32_t firmware);

  void AddFault(const Fault& fault);
  void ClearFaults();
  // Delay before every report transfer, in microseconds (0: none).
  void SetDelayUs(uint32_t delayUs);

  // Hot-plug: Unplug makes every transfer fail and the interface leave the
  // enumeration; Replug brings it back as a fresh connection (handles opened before
  // stay dead, queued reports and an unfinished exchange are dropped).
  void Unplug();
  void Replug();
  bool IsPlugged() const;

  DetectorCounters Counters() const;

  // Name of the per-device lock: "sim:" + the canonical state folder, or a name unique
  // to this in-memory detector, so two processes on one folder exclude each other.
  const std::string& LockName() const { return m_lockName; }
  const std::filesystem::path& StateFolder() const { return m_folder; }

  // Writes the changed files of the state folder now (temporary file, then rename).
  // True when there is nothing to write or everything was written.
  bool Save(std::string& error);
  // Why the last save at close, or the reload at open, failed; empty if it did not.
  std::string LastError() const;

  // ---- Used by the HID handles of VirtualHidPlatform ----

  // One open handle. Transfers through it fail once it is cancelled or the device was
  // unplugged after it was opened.
  struct Link {
    bool cancelled = false;
    uint64_t generation = 0;
  };
  // Registers an open handle. The first open reloads the state folder if its files
  // were changed by someone else since this detector read or wrote them; false (with
  // LastError) when that reload fails or the device is unplugged.
  bool Attach(Link& link);
  // Unregisters a handle; the last one saves the state folder and drops unread input.
  void Detach(Link& link);
  void Cancel(Link& link);
  int HostWrite(Link& link, const uint8_t* buf, size_t len);
  int HostRead(Link& link, uint8_t* buf, size_t len, int timeoutMs);

 private:
  struct ArmedFault {
    Fault fault;
    uint64_t base = 0;  // the kind's counter when the fault was added
    bool fired = false;
  };
  // The write command whose data pages are being received.
  struct PendingWrite {
    bool active = false;
    uint8_t code = 0;
    uint32_t firstPage = 0;
    uint64_t reportsLeft = 0;
    uint32_t c = 0;
    uint8_t selector = 0;
    uint32_t e = 0;
    uint32_t status = kStatusOk;  // decided before the data; non-zero: data is dropped
    std::vector<uint8_t> data;
  };
  // Identity of a state file as last read or written: a rename by another process
  // gives a new inode even within the clock's granularity.
  struct FileStamp {
    bool valid = false;
    uint64_t device = 0, inode = 0, size = 0;
    int64_t mtimeSec = 0, mtimeNsec = 0;
    bool operator==(const FileStamp&) const = default;
  };

  std::vector<uint8_t>* MemoryFor(int selector);
  const std::vector<uint8_t>* MemoryFor(int selector) const;
  void FillProfileLocked(Profile profile);
  bool LinkUsable(const Link& link) const;
  void CountTransferLocked();
  bool FaultFiresLocked(FaultKind kind, uint64_t counter);
  void HandleCommandLocked(const uint8_t* payload);
  void HandleDataLocked(const uint8_t* payload);
  void FinishWriteLocked();
  void QueueAnswerLocked(uint8_t code, uint32_t status, uint32_t result);
  void QueueReportLocked(const uint8_t* payload, size_t len);
  void ResetExchangeLocked();
  bool SaveLocked(std::string& error);
  bool LoadFilesLocked(std::string& error);
  bool FilesChangedLocked() const;
  static FileStamp StampOf(const std::filesystem::path& path);
  void StampFilesLocked();

  mutable std::mutex m_mutex;
  std::condition_variable m_cv;
  std::vector<uint8_t> m_mem0;
  std::vector<uint8_t> m_mem1;
  uint32_t m_firmware = kDefaultFirmware;
  bool m_dirty0 = false, m_dirty1 = false, m_dirtyFirmware = false;

  std::deque<std::array<uint8_t, kSimReportBytes>> m_input;
  PendingWrite m_pending;
  DetectorCounters m_counters;
  uint64_t m_writeAttempts = 0;
  uint64_t m_readAttempts = 0;
  uint64_t m_transfers = 0;
  std::vector<ArmedFault> m_faults;
  std::atomic<uint32_t> m_delayUs{0};

  bool m_plugged = true;
  uint64_t m_generation = 0;
  int m_openLinks = 0;

  std::filesystem::path m_folder;  // empty: in memory only
  std::string m_lockName;
  std::array<FileStamp, 3> m_stamps{};
  std::string m_lastError;
};

// ---- The HID platform ----

// A HidPlatform over virtual detectors and a few kinds of fake interface. Every
// interface's path is chosen by the caller or generated unique to this process, so
// locks of tests running in parallel never meet.
class VirtualHidPlatform : public HidPlatform {
 public:
  explicit VirtualHidPlatform(HidPathStyle style = HidPathStyle::kOpaque);
  ~VirtualHidPlatform() override;

  // A delimited interface path, "\\?\hid#vid_VVVV&pid_PPPP#7&<instance>&0&0000#{guid}",
  // lowercase hex as the system writes it.
  static std::string DelimitedPath(uint16_t vendor, uint16_t product, std::string_view instance);

  // Adds an interface and returns its path (the given one, or a generated one when
  // `path` is empty: "sim:" + state folder or "sim:N" for opaque platforms, a unique
  // delimited path otherwise). Interfaces enumerate in the order they were added.
  std::string AddDetector(std::shared_ptr<VirtualDetector> detector, std::string path = {});
  // An interface of another device: answers the attributes query, opens, never answers.
  std::string AddForeign(uint16_t vendor, uint16_t product, std::string path = {});
  // An interface this user may not open: attributes answer, Open fails,
  // CheckAccess gives kPermissionDenied.
  std::string AddDenied(uint16_t vendor = kSimVendorId, uint16_t product = kSimProductId,
                        std::string path = {});
  bool Remove(const std::string& path);

  // The detector at `path`, or null.
  std::shared_ptr<VirtualDetector> Detector(const std::string& path) const;
  // The first detector added, or null.
  std::shared_ptr<VirtualDetector> FirstDetector() const;

  HidPathStyle PathStyle() const override { return m_style; }
  std::vector<HidInterfaceInfo> Enumerate() override;
  bool GetAttributes(const std::string& path, uint16_t& vendorId, uint16_t& productId) override;
  std::unique_ptr<HidHandle> Open(const std::string& path, HidAccess access) override;
  bool CanOpen(const std::string& path) override;
  HidOpenStatus CheckAccess(const std::string& path) override;
  std::string DeviceLockName(const HidInterfaceInfo& info) override;

 private:
  enum class Kind { kDetector, kForeign, kDenied };
  struct Entry {
    std::string path;
    Kind kind = Kind::kDetector;
    uint16_t vendor = kSimVendorId;
    uint16_t product = kSimProductId;
    std::shared_ptr<VirtualDetector> detector;
    std::string lockName;
  };
  std::string AddInterface(Kind kind, uint16_t vendor, uint16_t product, std::string path);
  std::string GeneratedPath(uint16_t vendor, uint16_t product, const VirtualDetector* detector);
  // Copy of the entry at `path` when it is present (a detector not unplugged).
  bool FindPresent(const std::string& path, Entry& out) const;

  HidPathStyle m_style;
  mutable std::mutex m_mutex;
  std::vector<Entry> m_entries;
  uint64_t m_nextId = 0;
  std::string m_instanceTag;  // keeps generated paths unique to this process/platform
};

}  // namespace tessaly::sim
