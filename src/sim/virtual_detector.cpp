// The device side of the command protocol.
//
// An unfinished exchange: while a write command is receiving its pages, a report whose
// payload is a well-formed packet of a known command followed by the 0xCC fill cannot
// be data a host meant to send in the middle of a page; it abandons the pending write
// (nothing of it is stored) and is taken as a new command. Every new command also
// drops input reports of an earlier exchange that the host never read, so a host that
// gave up on an exchange starts the next one in step. When the host closes its last
// handle the link is reset the same way, as unread reports die with the handle.
#include "sim/virtual_detector.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/bytes.h"
#include "update/checksum.h"

namespace tessaly::sim {
namespace {

constexpr uint8_t kPacketLengthByte = 23;
constexpr uint8_t kFill = 0xCC;
constexpr char kSignature[] = "HIDC";
constexpr size_t kOffA = 2, kOffB = 6, kOffC = 10, kOffD = 14, kOffE = 15, kOffSignature = 19,
                 kOffChecksum = 23;
constexpr size_t kReportsPerPage = kSimPageBytes / kSimPayloadBytes;

bool PacketValid(const uint8_t* p) {
  return p[1] == kPacketLengthByte && std::memcmp(p + kOffSignature, kSignature, 4) == 0 &&
         LoadU32LE(p + kOffChecksum) == ByteSum(std::span<const uint8_t>(p, kOffChecksum));
}

bool KnownCode(uint8_t code) {
  return code == kCodeReadPage || code == kCodeWritePages || code == kCodeCommit ||
         code == kCodeQueryFirmware || code == kCodeEndUpdate;
}

// A payload that can only be a command report: see the comment at the top.
bool LooksLikeCommand(const uint8_t* payload) {
  if (!KnownCode(payload[0]) || !PacketValid(payload))
    return false;
  return std::all_of(payload + kSimPacketBytes, payload + kSimPayloadBytes,
                     [](uint8_t b) { return b == kFill; });
}

void SealPacket(uint8_t* p) {
  StoreU32LE(p + kOffChecksum, ByteSum(std::span<const uint8_t>(p, kOffChecksum)));
}

std::string InMemoryLockName() {
  static std::atomic<uint64_t> counter{0};
  return "sim-mem:" + std::to_string(::getpid()) + ":" + std::to_string(counter++);
}

}  // namespace

VirtualDetector::VirtualDetector()
    : m_mem0(size_t{kMemory0Pages} * kSimPageBytes, 0xFF),
      m_mem1(size_t{kMemory1Pages} * kSimPageBytes, 0xFF),
      m_lockName(InMemoryLockName()) {}

VirtualDetector::VirtualDetector(Profile profile) : VirtualDetector() {
  ApplyProfile(profile);
}

VirtualDetector::~VirtualDetector() {
  // Edits made while no host had the device open are not lost either.
  std::lock_guard lock(m_mutex);
  if (!m_folder.empty()) {
    std::string error;
    SaveLocked(error);
  }
}

void VirtualDetector::ApplyProfile(Profile profile) {
  std::lock_guard lock(m_mutex);
  FillProfileLocked(profile);
}

void VirtualDetector::FillProfileLocked(Profile profile) {
  std::fill(m_mem0.begin(), m_mem0.end(), 0xFF);
  std::fill(m_mem1.begin(), m_mem1.end(), 0xFF);
  auto identity = ProfileIdentityBlock(profile);
  auto params = ProfileParameterBlock(profile);
  std::copy(identity.begin(), identity.end(), m_mem0.begin() + kIdentityPage * kSimPageBytes);
  std::copy(params.begin(), params.end(), m_mem0.begin() + kParameterPage * kSimPageBytes);
  StoreU32LE(m_mem1.data() + size_t{kDatabaseDatePage} * kSimPageBytes, kDefaultDateCode);
  m_firmware = kDefaultFirmware;
  m_dirty0 = m_dirty1 = m_dirtyFirmware = true;
}

std::vector<uint8_t>* VirtualDetector::MemoryFor(int selector) {
  if (selector == 0)
    return &m_mem0;
  if (selector == 1)
    return &m_mem1;
  return nullptr;
}

const std::vector<uint8_t>* VirtualDetector::MemoryFor(int selector) const {
  return const_cast<VirtualDetector*>(this)->MemoryFor(selector);
}

std::span<uint8_t> VirtualDetector::Memory(int selector) {
  std::lock_guard lock(m_mutex);
  auto* mem = MemoryFor(selector);
  if (!mem)
    return {};
  (selector == 0 ? m_dirty0 : m_dirty1) = true;
  return *mem;
}

std::span<const uint8_t> VirtualDetector::MemoryView(int selector) const {
  std::lock_guard lock(m_mutex);
  const auto* mem = MemoryFor(selector);
  if (!mem)
    return {};
  return *mem;
}

bool VirtualDetector::ReadPage(int selector, uint32_t page,
                               std::span<uint8_t, kSimPageBytes> out) const {
  std::lock_guard lock(m_mutex);
  const auto* mem = MemoryFor(selector);
  if (!mem || page >= mem->size() / kSimPageBytes)
    return false;
  auto from = mem->begin() + static_cast<ptrdiff_t>(size_t{page} * kSimPageBytes);
  std::copy(from, from + kSimPageBytes, out.begin());
  return true;
}

bool VirtualDetector::WritePage(int selector, uint32_t page,
                                std::span<const uint8_t, kSimPageBytes> data) {
  std::lock_guard lock(m_mutex);
  auto* mem = MemoryFor(selector);
  if (!mem || page >= mem->size() / kSimPageBytes)
    return false;
  std::copy(data.begin(), data.end(), mem->begin() + static_cast<ptrdiff_t>(page * kSimPageBytes));
  (selector == 0 ? m_dirty0 : m_dirty1) = true;
  return true;
}

uint32_t VirtualDetector::Firmware() const {
  std::lock_guard lock(m_mutex);
  return m_firmware;
}

void VirtualDetector::SetFirmware(uint32_t firmware) {
  std::lock_guard lock(m_mutex);
  if (m_firmware != firmware)
    m_dirtyFirmware = true;
  m_firmware = firmware;
}

void VirtualDetector::AddFault(const Fault& fault) {
  std::lock_guard lock(m_mutex);
  ArmedFault armed{fault, 0, false};
  switch (fault.kind) {
    case FaultKind::kWriteFail:
      armed.base = m_writeAttempts;
      break;
    case FaultKind::kReadFail:
    case FaultKind::kStall:
      armed.base = m_readAttempts;
      break;
    case FaultKind::kBadChecksum:
    case FaultKind::kBadLength:
    case FaultKind::kBadSignature:
    case FaultKind::kBadStatus:
      armed.base = m_counters.answers;
      break;
    case FaultKind::kUnplug:
      armed.base = m_transfers;
      break;
  }
  m_faults.push_back(armed);
}

void VirtualDetector::ClearFaults() {
  std::lock_guard lock(m_mutex);
  m_faults.clear();
  m_cv.notify_all();  // a read held by a stall may now see its report
}

void VirtualDetector::SetDelayUs(uint32_t delayUs) {
  m_delayUs = delayUs;
}

void VirtualDetector::Unplug() {
  std::lock_guard lock(m_mutex);
  m_plugged = false;
  ++m_generation;
  ResetExchangeLocked();
  m_cv.notify_all();
}

void VirtualDetector::Replug() {
  std::lock_guard lock(m_mutex);
  if (m_plugged)
    return;
  m_plugged = true;
  ResetExchangeLocked();
}

bool VirtualDetector::IsPlugged() const {
  std::lock_guard lock(m_mutex);
  return m_plugged;
}

DetectorCounters VirtualDetector::Counters() const {
  std::lock_guard lock(m_mutex);
  return m_counters;
}

std::string VirtualDetector::LastError() const {
  std::lock_guard lock(m_mutex);
  return m_lastError;
}

bool VirtualDetector::Save(std::string& error) {
  std::lock_guard lock(m_mutex);
  return SaveLocked(error);
}

// ---- Host side ----

bool VirtualDetector::Attach(Link& link) {
  std::lock_guard lock(m_mutex);
  if (!m_plugged)
    return false;
  if (m_openLinks == 0 && !m_folder.empty() && !m_dirty0 && !m_dirty1 && !m_dirtyFirmware &&
      FilesChangedLocked()) {
    // Another process updated the state folder since we read it; its state is the
    // device's state now.
    std::string error;
    if (!LoadFilesLocked(error)) {
      m_lastError = error;
      return false;
    }
  }
  link.cancelled = false;
  link.generation = m_generation;
  ++m_openLinks;
  return true;
}

void VirtualDetector::Detach(Link& link) {
  std::lock_guard lock(m_mutex);
  link.cancelled = true;
  if (m_openLinks > 0 && --m_openLinks == 0) {
    ResetExchangeLocked();
    if (!m_folder.empty()) {
      std::string error;
      m_lastError = SaveLocked(error) ? std::string() : error;
    }
  }
  m_cv.notify_all();
}

void VirtualDetector::Cancel(Link& link) {
  std::lock_guard lock(m_mutex);
  link.cancelled = true;
  m_cv.notify_all();
}

bool VirtualDetector::LinkUsable(const Link& link) const {
  return !link.cancelled && m_plugged && link.generation == m_generation;
}

bool VirtualDetector::FaultFiresLocked(FaultKind kind, uint64_t counter) {
  bool fires = false;
  for (auto& armed : m_faults) {
    if (armed.fault.kind == kind && !armed.fired && counter - armed.base == armed.fault.count) {
      armed.fired = true;
      fires = true;
    }
  }
  return fires;
}

void VirtualDetector::CountTransferLocked() {
  ++m_transfers;
  for (auto& armed : m_faults) {
    if (armed.fault.kind == FaultKind::kUnplug && !armed.fired &&
        m_transfers - armed.base >= armed.fault.count) {
      armed.fired = true;
      m_plugged = false;
      ++m_generation;
      ResetExchangeLocked();
    }
  }
}

int VirtualDetector::HostWrite(Link& link, const uint8_t* buf, size_t len) {
  if (uint32_t delay = m_delayUs)
    std::this_thread::sleep_for(std::chrono::microseconds(delay));
  std::lock_guard lock(m_mutex);
  if (!LinkUsable(link))
    return -1;
  ++m_writeAttempts;
  if (FaultFiresLocked(FaultKind::kWriteFail, m_writeAttempts))
    return -1;
  // The device takes whole reports of report ID 0 only.
  if (!buf || len != kSimReportBytes || buf[0] != 0)
    return -1;
  ++m_counters.reportsWritten;
  const uint8_t* payload = buf + 1;
  if (m_pending.active && !LooksLikeCommand(payload)) {
    HandleDataLocked(payload);
  } else {
    HandleCommandLocked(payload);
  }
  CountTransferLocked();
  m_cv.notify_all();
  return static_cast<int>(len);
}

int VirtualDetector::HostRead(Link& link, uint8_t* buf, size_t len, int timeoutMs) {
  if (uint32_t delay = m_delayUs)
    std::this_thread::sleep_for(std::chrono::microseconds(delay));
  std::unique_lock lock(m_mutex);
  if (!LinkUsable(link) || !buf || len == 0)
    return -1;
  uint64_t attempt = ++m_readAttempts;
  if (FaultFiresLocked(FaultKind::kReadFail, attempt)) {
    if (!m_input.empty())
      m_input.pop_front();
    return -1;
  }
  auto stalled = [&] {
    return std::any_of(m_faults.begin(), m_faults.end(), [&](const ArmedFault& f) {
      return f.fault.kind == FaultKind::kStall && attempt - f.base >= f.fault.count;
    });
  };
  auto ready = [&] { return !LinkUsable(link) || (!m_input.empty() && !stalled()); };
  if (timeoutMs < 0) {
    m_cv.wait(lock, ready);
  } else {
    m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
  }
  if (!LinkUsable(link) || m_input.empty() || stalled())
    return -1;
  size_t n = std::min(len, kSimReportBytes);
  std::memcpy(buf, m_input.front().data(), n);
  m_input.pop_front();
  ++m_counters.reportsRead;
  CountTransferLocked();
  return static_cast<int>(n);
}

void VirtualDetector::ResetExchangeLocked() {
  m_pending = PendingWrite{};
  m_input.clear();
}

void VirtualDetector::QueueReportLocked(const uint8_t* payload, size_t len) {
  std::array<uint8_t, kSimReportBytes> report{};
  std::memcpy(report.data() + 1, payload, std::min(len, kSimPayloadBytes));
  m_input.push_back(report);
}

void VirtualDetector::QueueAnswerLocked(uint8_t code, uint32_t status, uint32_t result) {
  uint64_t n = ++m_counters.answers;
  bool badChecksum = FaultFiresLocked(FaultKind::kBadChecksum, n);
  bool badLength = FaultFiresLocked(FaultKind::kBadLength, n);
  bool badSignature = FaultFiresLocked(FaultKind::kBadSignature, n);
  bool badStatus = FaultFiresLocked(FaultKind::kBadStatus, n);

  uint8_t p[kSimPacketBytes] = {};
  p[0] = code;
  p[1] = badLength ? kPacketLengthByte - 1 : kPacketLengthByte;
  StoreU32LE(p + kOffA, badStatus ? static_cast<uint32_t>(kStatusInjected) : status);
  StoreU32LE(p + kOffB, result);
  std::memcpy(p + kOffSignature, badSignature ? "HIDX" : kSignature, 4);
  SealPacket(p);
  // Each corruption alone: the other checks of the packet still pass.
  if (badChecksum)
    StoreU32LE(p + kOffChecksum, LoadU32LE(p + kOffChecksum) + 1);
  QueueReportLocked(p, sizeof p);
}

void VirtualDetector::HandleCommandLocked(const uint8_t* p) {
  ResetExchangeLocked();
  const uint8_t code = p[0];
  if (!PacketValid(p)) {
    ++m_counters.malformedPackets;
    QueueAnswerLocked(code, kStatusBadPacket, 0);
    return;
  }
  ++m_counters.commands[code];
  const uint32_t a = LoadU32LE(p + kOffA);
  const uint32_t b = LoadU32LE(p + kOffB);
  const uint32_t c = LoadU32LE(p + kOffC);
  const uint8_t d = p[kOffD];
  const uint32_t e = LoadU32LE(p + kOffE);
  const bool confirmed = a == kConfirmPairA && b == kConfirmPairB;

  auto rangeOk = [&](uint64_t first, uint64_t count) {
    const auto* mem = MemoryFor(d);
    return mem && first + count <= mem->size() / kSimPageBytes;
  };

  switch (code) {
    case kCodeReadPage: {
      // The data phase always runs, so a host reading four data reports and then the
      // answer stays in step; a refused read sends zeros and a failing answer.
      uint8_t page[kSimPageBytes] = {};
      uint32_t status = kStatusOk;
      if (b != 1) {
        status = kStatusBadArgument;
      } else if (!rangeOk(a, 1)) {
        status = kStatusBadAddress;
      } else {
        std::memcpy(page, MemoryFor(d)->data() + size_t{a} * kSimPageBytes, kSimPageBytes);
      }
      for (size_t i = 0; i < kReportsPerPage; ++i)
        QueueReportLocked(page + i * kSimPayloadBytes, kSimPayloadBytes);
      QueueAnswerLocked(code, status, 0);
      return;
    }
    case kCodeWritePages: {
      m_pending.code = code;
      m_pending.firstPage = a;
      m_pending.c = c;
      m_pending.selector = d;
      m_pending.e = e;
      m_pending.reportsLeft = uint64_t{b} * kReportsPerPage;
      // Checked before any data arrives, so nothing is allocated on the strength of
      // an unchecked count; a refused write still takes its data to stay in step.
      if (!rangeOk(a, b)) {
        m_pending.status = kStatusBadAddress;
      } else if (c > uint64_t{b} * kSimPageBytes) {
        m_pending.status = kStatusBadArgument;
      } else {
        m_pending.data.reserve(size_t{b} * kSimPageBytes);
      }
      if (m_pending.reportsLeft == 0) {
        FinishWriteLocked();
      } else {
        m_pending.active = true;
      }
      return;
    }
    case kCodeCommit:
      if (confirmed)
        ++m_counters.commits;
      QueueAnswerLocked(code, confirmed ? kStatusOk : kStatusBadConfirmation, 0);
      return;
    case kCodeQueryFirmware:
      QueueAnswerLocked(code, confirmed ? kStatusOk : kStatusBadConfirmation,
                        confirmed ? m_firmware : 0);
      return;
    case kCodeEndUpdate:
      ++m_counters.endUpdates;
      QueueAnswerLocked(code, kStatusOk, 0);
      return;
    default:
      QueueAnswerLocked(code, kStatusUnknownCommand, 0);
      return;
  }
}

void VirtualDetector::HandleDataLocked(const uint8_t* payload) {
  if (m_pending.status == kStatusOk)
    m_pending.data.insert(m_pending.data.end(), payload, payload + kSimPayloadBytes);
  if (--m_pending.reportsLeft == 0)
    FinishWriteLocked();
}

void VirtualDetector::FinishWriteLocked() {
  PendingWrite w = std::move(m_pending);
  m_pending = PendingWrite{};
  uint32_t status = w.status;
  if (status == kStatusOk && w.e != 0) {
    const uint32_t sum = w.c == 0 ? ByteSum(w.data) : SegmentChecksum(w.data, w.c);
    if (sum != w.e)
      status = kStatusBadChecksum;
  }
  if (status == kStatusOk && !w.data.empty()) {
    auto* mem = MemoryFor(w.selector);
    std::copy(w.data.begin(), w.data.end(),
              mem->begin() + static_cast<ptrdiff_t>(size_t{w.firstPage} * kSimPageBytes));
    (w.selector == 0 ? m_dirty0 : m_dirty1) = true;
    m_counters.pagesStored += w.data.size() / kSimPageBytes;
  }
  QueueAnswerLocked(w.code, status, 0);
}

}  // namespace tessaly::sim
