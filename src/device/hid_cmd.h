// CHidCmd: the detector's command protocol over CHidIO. Every exchange is one
// 27-byte command packet in one output report, an optional data phase of 256-byte
// pages carried 64 bytes a report, and one 27-byte answer packet in one input report.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>

#include "common/message_sink.h"
#include "device/hid_io.h"

namespace tessaly {

inline constexpr uint8_t CMD_READ_PAGE = 0xF2;
inline constexpr uint8_t CMD_WRITE_PAGES = 0xF3;
inline constexpr uint8_t CMD_COMMIT = 0xF4;
inline constexpr uint8_t CMD_QUERY_FIRMWARE = 0xF7;
inline constexpr uint8_t CMD_END_UPDATE = 0xF9;

// The confirmation pair of CMD_COMMIT and CMD_QUERY_FIRMWARE.
inline constexpr uint32_t kConfirmA = 0x5A3C9E71;
inline constexpr uint32_t kConfirmB = 0x6E2B9F47;

inline constexpr size_t kPacketSize = 27;
inline constexpr uint8_t kPacketLength = 23;  // bytes ahead of the checksum
inline constexpr uint8_t kReportFill = 0xCC;
inline constexpr size_t kPageSize = 256;

// Packet field offsets.
inline constexpr size_t kPktCode = 0, kPktLength = 1, kPktA = 2, kPktB = 6, kPktC = 10,
                        kPktD = 14, kPktE = 15, kPktSignature = 19, kPktChecksum = 23;

// Builds the 27-byte packet for a command.
void BuildPacket(uint8_t* packet, uint8_t code, uint32_t a, uint32_t b, uint32_t c, uint8_t d,
                 uint32_t e);
// True when a 27-byte packet has length 23, the "HIDC" signature and a right checksum.
bool PacketIsValid(const uint8_t* packet);

class CHidCmd {
 public:
  explicit CHidCmd(HidPlatform& platform);
  virtual ~CHidCmd();
  CHidCmd(const CHidCmd&) = delete;
  CHidCmd& operator=(const CHidCmd&) = delete;

  // 1 when the command report was written, 0 when not.
  int SendCommand(uint8_t code, uint32_t a, uint32_t b, uint32_t c, uint8_t d, uint32_t e);

  // 1 when a valid answer with status 0 was read. `answer` (27 bytes, may be null) is
  // cleared first and receives every valid answer, also one with a non-zero status.
  int ReadAnswer(uint8_t* answer);

  // 256 on success; -1 command not written; -2 answer invalid or unsuccessful; 0
  // stopped by m_bAbort; 0..255 = bytes gathered when a data report failed.
  int ReadPage(uint32_t page, uint8_t selector, std::span<uint8_t, kPageSize> pageBuf);

  // Data phase and answer of CMD_WRITE_PAGES (the caller sends the command first).
  // pageCount × 256 on success; -2 bad answer; 0 stopped by m_bAbort; the bytes sent
  // so far when a data report failed. `data` must hold pageCount × 256 bytes.
  int WritePages(uint32_t pageCount, std::span<const uint8_t> data);

  // 1 on success, -2 bad answer, -1 command not written.
  int Commit();
  // 0 on success, -2 bad answer, -1 command not written.
  int EndUpdate();

  // True when the last answer read was well formed but carried a failure status: the
  // device refused, as opposed to an answer that was lost or garbled.
  bool LastAnswerRefused() const { return m_bLastAnswerRefused; }

  // 0 when no device is taken; otherwise whether the stored path still opens.
  int IsDevicePresent();
  // Closes the device when one is taken and clears m_bLinkOpen.
  void Disconnect();

  uint8_t m_report[kReportSize] = {};
  CHidIO m_io;
  std::atomic<int> m_bLinkOpen{0};
  IMessageSink* m_hNotifyWnd = nullptr;  // not owned; receives the progress messages
  std::atomic<int> m_bAbort{0};

 private:
  void Notify(uint32_t msg, int payload);
  bool m_bLastAnswerRefused = false;
};

}  // namespace tessaly
