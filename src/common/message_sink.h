// The receiver of posted progress messages. The GUI posts them as events to its main
// thread; the CLI keeps its own queue; tests record them. Post never blocks on the
// receiver and may be called from any thread.
#pragma once

#include <cstdint>

namespace tessaly {

// Message numbers keep the values the detector tools have always used
// (WM_USER = 0x0400, WM_APP = 0x8000), so traces and peers agree.
inline constexpr uint32_t WM_HID_WRITE_PROGRESS = 0x0400 + 108;  // lParam: payload bytes written
inline constexpr uint32_t WM_HID_READ_PROGRESS = 0x0400 + 109;   // lParam: payload bytes read
inline constexpr uint32_t WM_DOWNLOAD_FINISHED = 0x8000 + 0x51;
inline constexpr uint32_t WM_DOWNLOAD_SIZE = 0x8000 + 0x52;
inline constexpr uint32_t WM_DOWNLOAD_PERCENT = 0x8000 + 0x53;
inline constexpr uint32_t WM_DOWNLOAD_SPEED = 0x8000 + 0x54;

class IMessageSink {
 public:
  virtual ~IMessageSink() = default;
  virtual void Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) = 0;
};

}  // namespace tessaly
