#include "device/hid_cmd.h"

#include <algorithm>
#include <cstring>

#include "common/bytes.h"

namespace tessaly {

void BuildPacket(uint8_t* packet, uint8_t code, uint32_t a, uint32_t b, uint32_t c, uint8_t d,
                 uint32_t e) {
  packet[kPktCode] = code;
  packet[kPktLength] = kPacketLength;
  StoreU32LE(packet + kPktA, a);
  StoreU32LE(packet + kPktB, b);
  StoreU32LE(packet + kPktC, c);
  packet[kPktD] = d;
  StoreU32LE(packet + kPktE, e);
  std::memcpy(packet + kPktSignature, "HIDC", 4);
  StoreU32LE(packet + kPktChecksum, ByteSum({packet, kPktChecksum}));
}

bool PacketIsValid(const uint8_t* packet) {
  return packet[kPktLength] == kPacketLength &&
         std::memcmp(packet + kPktSignature, "HIDC", 4) == 0 &&
         LoadU32LE(packet + kPktChecksum) == ByteSum({packet, kPktChecksum});
}

CHidCmd::CHidCmd(HidPlatform& platform) : m_io(platform) {}

CHidCmd::~CHidCmd() {
  if (m_bLinkOpen) {
    m_io.CloseDevice();
    m_bLinkOpen = 0;
  }
}

void CHidCmd::Notify(uint32_t msg, int payload) {
  if (m_hNotifyWnd) m_hNotifyWnd->Post(msg, 0, payload);
}

int CHidCmd::SendCommand(uint8_t code, uint32_t a, uint32_t b, uint32_t c, uint8_t d,
                         uint32_t e) {
  std::memset(m_report, kReportFill, sizeof m_report);
  m_report[0] = 0;
  BuildPacket(m_report + 1, code, a, b, c, d, e);
  int count = 0;
  return m_io.WriteReport(m_report, count) ? 1 : 0;
}

int CHidCmd::ReadAnswer(uint8_t* answer) {
  if (answer) std::memset(answer, 0, kPacketSize);
  m_bLastAnswerRefused = false;
  // A short report leaves the missing answer bytes 0, which then fail validation.
  uint8_t report[kReportSize] = {};
  int count = 0;
  if (!m_io.ReadReport(report, count)) return 0;
  uint8_t packet[kPacketSize] = {};
  size_t got = count > 1 ? std::min<size_t>(static_cast<size_t>(count) - 1, kPacketSize) : 0;
  std::memcpy(packet, report + 1, got);
  if (!PacketIsValid(packet)) return 0;
  if (answer) std::memcpy(answer, packet, kPacketSize);
  m_bLastAnswerRefused = LoadU32LE(packet + kPktA) != 0;
  return m_bLastAnswerRefused ? 0 : 1;
}

int CHidCmd::ReadPage(uint32_t page, uint8_t selector, std::span<uint8_t, kPageSize> pageBuf) {
  if (!SendCommand(CMD_READ_PAGE, page, 1, 0, selector, 0)) return -1;
  m_bAbort = 0;
  size_t gathered = 0;
  while (gathered < kPageSize) {
    int count = 0;
    if (!m_io.ReadReport(m_report, count)) return static_cast<int>(gathered);
    size_t n = static_cast<size_t>(count - 1);
    // A report with no payload would never finish the page: treat it as a failed one.
    if (n == 0) return static_cast<int>(gathered);
    size_t room = std::min(n, kPageSize - gathered);
    std::memcpy(pageBuf.data() + gathered, m_report + 1, room);
    Notify(WM_HID_READ_PROGRESS, static_cast<int>(n));
    gathered += n;
    if (m_bAbort) return 0;
  }
  return ReadAnswer(nullptr) ? static_cast<int>(kPageSize) : -2;
}

int CHidCmd::WritePages(uint32_t pageCount, std::span<const uint8_t> data) {
  m_bAbort = 0;
  const size_t total = static_cast<size_t>(pageCount) * kPageSize;
  if (data.size() < total) return 0;  // caller error: never read past the data
  size_t sent = 0;
  while (sent < total) {
    std::memset(m_report, kReportFill, sizeof m_report);
    m_report[0] = 0;
    std::memcpy(m_report + 1, data.data() + sent, std::min(kPayloadSize, total - sent));
    int count = 0;
    if (!m_io.WriteReport(m_report, count)) return static_cast<int>(sent);
    size_t n = static_cast<size_t>(count - 1);
    if (n == 0) return static_cast<int>(sent);
    Notify(WM_HID_WRITE_PROGRESS, static_cast<int>(n));
    sent += n;
    if (m_bAbort) return 0;
  }
  return ReadAnswer(nullptr) ? static_cast<int>(sent) : -2;
}

int CHidCmd::Commit() {
  if (!SendCommand(CMD_COMMIT, kConfirmA, kConfirmB, 0, 0, 0)) return -1;
  return ReadAnswer(nullptr) ? 1 : -2;
}

int CHidCmd::EndUpdate() {
  if (!SendCommand(CMD_END_UPDATE, 0, 0, 0, 0, 0)) return -1;
  return ReadAnswer(nullptr) ? 0 : -2;
}

int CHidCmd::IsDevicePresent() {
  if (!m_bLinkOpen) return 0;
  return m_io.PathOpens() ? 1 : 0;
}

void CHidCmd::Disconnect() {
  if (m_bLinkOpen) {
    m_io.CloseDevice();
    m_bLinkOpen = 0;
  }
}

}  // namespace tessaly
