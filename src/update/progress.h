// The update's progress counters and the text the progress bar shows. The counters
// are written by the update worker and the main thread at once, so they are atomics;
// they only feed the display.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace tessaly {

// Update phase codes: which part of the package is being written.
inline constexpr uint8_t kPhaseInfoPage = 1;
inline constexpr uint8_t kPhaseSegment2 = 2;
inline constexpr uint8_t kPhaseSegment4 = 4;
inline constexpr uint8_t kPhaseSegment3 = 5;
inline constexpr uint8_t kPhaseSegment5 = 6;
inline constexpr uint8_t kPhaseSegment1 = 7;
inline constexpr uint8_t kPhaseIdle = 0xFF;  // no segment being written (also settings writes)

// The progress tick, 6 ticks a second.
inline constexpr int TIMER_PROGRESS = 1;
inline constexpr int kProgressTickMs = 166;

struct UpdateCounters {
  std::atomic<uint8_t> m_updatePhase{kPhaseIdle};
  std::atomic<uint32_t> m_nTicks{0};
  std::atomic<uint32_t> m_nBytesDone{0};
  std::atomic<uint32_t> m_nBytesTotal{0};
};

// True for the phases whose written bytes count as update progress (segment writes;
// not the info page, not a settings write).
bool PhaseCountsBytes(uint8_t phase);

// The window's handler of WM_HID_WRITE_PROGRESS: adds the payload bytes of one report
// while a counted phase is being written (unsigned, wrapping).
void OnHidWriteProgress(UpdateCounters& counters, intptr_t payloadBytes);

// The bar's text for `seconds` elapsed: before any byte is counted, the caption the bar
// showed at the first tick followed by "Time" and " %dS   "; afterwards "Updated",
// the percentage done as " %.02f%%   ", "Time", " %d " and "Second".
std::string ComposeProgressText(const std::string& caption, uint32_t seconds, uint32_t bytesDone,
                                uint32_t bytesTotal);

// The progress bar as the progress display and the update worker drive it.
class IProgressBar {
 public:
  virtual ~IProgressBar() = default;
  virtual std::string ProgressText() = 0;                     // the bar's caption text
  virtual void SetProgressText(const std::string& text) = 0;  // keep and draw it
  virtual void SetProgressBounds(uint32_t lower, uint32_t upper) = 0;
  virtual void SetProgressPosition(uint32_t position) = 0;
};

// ShowUpdateProgress and the progress tick. The caption is kept for the whole run of
// the program; the main thread's tick and the worker's final call may meet, so it is
// guarded.
class ProgressDisplay {
 public:
  // One step of the display: captures the caption on an update's first tick, counts
  // the tick, sets the bar's position and text.
  void ShowUpdateProgress(UpdateCounters& counters, IProgressBar& bar);

  // TIMER_PROGRESS: shows the progress while an update is writing (a total is set
  // and not yet reached). True when it did.
  bool OnProgressTick(UpdateCounters& counters, IProgressBar& bar);

 private:
  std::mutex m_mutex;
  std::string m_caption;
};

}  // namespace tessaly
