#include "update/flash.h"

#include "common/bytes.h"
#include "update/checksum.h"

namespace tessaly {
namespace {

bool Stopping(const FlashContext& ctx) { return ctx.stopWorker && ctx.stopWorker->load(); }

// One attempt: the write command, then its data. -1 when the command did not go out.
int WriteAttempt(FlashContext& ctx, uint32_t firstPage, const std::vector<uint8_t>& padded,
                 uint32_t c, uint8_t selector, uint32_t e) {
  const uint32_t pages = static_cast<uint32_t>(padded.size() / kPageSize);
  if (!ctx.cmd.SendCommand(CMD_WRITE_PAGES, firstPage, pages, c, selector, e)) return -1;
  return ctx.cmd.WritePages(pages, padded);
}

// Runs the attempts a step gets. Old firmware: one try, and an answer that went
// missing or came garbled (-2) passes, as those devices answer unreliably; an answer
// that plainly refuses the data fails, or the update would report a success the
// device denied. New firmware: one try, or up to ten when `retry`, each needing the full
// count; the byte counter goes back to where the step began after a failed try.
bool WriteWithAttempts(FlashContext& ctx, uint32_t firstPage, const std::vector<uint8_t>& padded,
                       uint32_t c, uint8_t selector, uint32_t e, bool retry) {
  const int full = static_cast<int>(padded.size());
  if (!FirmwareConfirmsTransfers(ctx.firmware)) {
    int result = WriteAttempt(ctx, firstPage, padded, c, selector, e);
    return result == full || (result == -2 && !ctx.cmd.LastAnswerRefused());
  }
  if (!retry) return WriteAttempt(ctx, firstPage, padded, c, selector, e) == full;
  const uint32_t noted = ctx.counters.m_nBytesDone.load();
  for (int attempt = 0; attempt < kRetriedAttempts; ++attempt) {
    if (WriteAttempt(ctx, firstPage, padded, c, selector, e) == full) return true;
    ctx.counters.m_nBytesDone = noted;
    if (Stopping(ctx)) return false;
  }
  return false;
}

}  // namespace

bool FirmwareConfirmsTransfers(int firmware) {
  return static_cast<uint32_t>(firmware) >= kConfirmingFirmware;
}

std::array<uint8_t, kPageSize> BuildInfoPage(std::span<const uint8_t> segment2) {
  std::array<uint8_t, kPageSize> page;
  page.fill(0xFF);
  StoreU32LE(page.data(), kInfoPageMarker);
  StoreU32LE(page.data() + 4, static_cast<uint32_t>(segment2.size()));
  StoreU32LE(page.data() + 8, TransformedSum(segment2));
  return page;
}

bool WriteSegment(FlashContext& ctx, ByteSource& package, uint32_t address, uint64_t offset,
                  uint32_t length, bool transformed, uint8_t selector, bool retry) {
  if (!ctx.cmd.m_bLinkOpen) return false;
  auto data = ReadBytesAt(package, offset, length);
  if (!data) return false;
  std::vector<uint8_t> padded = PadToPages(*data);
  data.reset();
  const uint32_t c = transformed ? length : 0;
  const uint32_t e = transformed ? SegmentChecksum(padded, length) : ByteSum(padded);
  return WriteWithAttempts(ctx, address / kPageSize, padded, c, selector, e, retry);
}

bool WriteVariantSegment(FlashContext& ctx, ByteSource& package, const ResolvedTrailer& trailer) {
  const PackageSegment& seg = trailer.segments[1];
  auto data = ReadBytesAt(package, seg.offset, seg.length);
  if (!data) return false;

  auto info = BuildInfoPage(*data);
  std::vector<uint8_t> infoPage(info.begin(), info.end());
  ctx.counters.m_updatePhase = kPhaseInfoPage;
  if (!WriteWithAttempts(ctx, kInfoPageAddress / kPageSize, infoPage, 0, kDataMemory,
                         ByteSum(infoPage), true))
    return false;

  std::vector<uint8_t> padded = PadToPages(*data);
  data.reset();
  ctx.counters.m_updatePhase = kPhaseSegment2;
  return WriteWithAttempts(ctx, kSegment2Address / kPageSize, padded, seg.length, kDataMemory,
                           SegmentChecksum(padded, seg.length), true);
}

bool FlashPackage(FlashContext& ctx, ByteSource& package, const ResolvedTrailer& trailer) {
  const auto& s = trailer.segments;
  if (s[0].length) {
    ctx.counters.m_updatePhase = kPhaseSegment1;
    if (!WriteSegment(ctx, package, kSegment1Address, s[0].offset, s[0].length, true,
                      kSegment1Memory, true))
      return false;
  }
  if (s[1].length && !WriteVariantSegment(ctx, package, trailer)) return false;
  struct Step {
    size_t index;
    uint8_t phase;
    uint32_t address;
    bool transformed;
  };
  for (Step step : {Step{2, kPhaseSegment3, kSegment3Address, true},
                    Step{3, kPhaseSegment4, kSegment4Address, false},
                    Step{4, kPhaseSegment5, kSegment5Address, true}}) {
    const PackageSegment& seg = s[step.index];
    if (!seg.length) continue;
    ctx.counters.m_updatePhase = step.phase;
    if (!WriteSegment(ctx, package, step.address, seg.offset, seg.length, step.transformed,
                      kDataMemory, false))
      return false;
  }

  // Closing step: show the finished state, then end the update on the device.
  ctx.counters.m_nBytesDone = ctx.counters.m_nBytesTotal.load();
  ctx.host.ShowUpdateProgress();
  if (FirmwareConfirmsTransfers(ctx.firmware)) {
    ctx.cmd.EndUpdate();
  } else {
    ctx.cmd.Commit();
    ctx.host.ShowLinkState();
  }
  return true;
}

}  // namespace tessaly
