#include "update/progress.h"

#include <cstdio>

namespace tessaly {

bool PhaseCountsBytes(uint8_t phase) {
  switch (phase) {
    case kPhaseSegment2:
    case kPhaseSegment4:
    case kPhaseSegment3:
    case kPhaseSegment5:
    case kPhaseSegment1:
      return true;
    default:
      return false;
  }
}

void OnHidWriteProgress(UpdateCounters& counters, intptr_t payloadBytes) {
  if (PhaseCountsBytes(counters.m_updatePhase.load()))
    counters.m_nBytesDone.fetch_add(static_cast<uint32_t>(payloadBytes));
}

std::string ComposeProgressText(const std::string& caption, uint32_t seconds, uint32_t bytesDone,
                                uint32_t bytesTotal) {
  char number[64];
  if (bytesDone == 0) {
    std::snprintf(number, sizeof number, " %dS   ", static_cast<int>(seconds));
    return caption + "Time" + number;
  }
  double percent = bytesTotal ? static_cast<double>(bytesDone) / bytesTotal * 100 : 0.0;
  std::string text = "Updated";
  std::snprintf(number, sizeof number, " %.02f%%   ", percent);
  text += number;
  text += "Time";
  std::snprintf(number, sizeof number, " %d ", static_cast<int>(seconds));
  text += number;
  text += "Second";
  return text;
}

void ProgressDisplay::ShowUpdateProgress(UpdateCounters& counters, IProgressBar& bar) {
  std::lock_guard lock(m_mutex);
  if (counters.m_nTicks.load() == 0) m_caption = bar.ProgressText().substr(0, 1024);
  uint32_t seconds = (counters.m_nTicks.fetch_add(1) + 1) / 6;
  uint32_t done = counters.m_nBytesDone.load();
  std::string text = ComposeProgressText(m_caption, seconds, done, counters.m_nBytesTotal.load());
  bar.SetProgressPosition(done);
  bar.SetProgressText(text);
}

bool ProgressDisplay::OnProgressTick(UpdateCounters& counters, IProgressBar& bar) {
  uint32_t total = counters.m_nBytesTotal.load();
  if (total == 0 || counters.m_nBytesDone.load() >= total) return false;
  ShowUpdateProgress(counters, bar);
  return true;
}

}  // namespace tessaly
