#include "download/download_progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "common/message_sink.h"

namespace tessaly {

namespace {

template <typename... Args>
std::string Format(const char* format, Args... args) {
  char buffer[64];
  int n = std::snprintf(buffer, sizeof buffer, format, args...);
  if (n < 0)
    return {};
  return std::string(buffer, std::min(static_cast<size_t>(n), sizeof buffer - 1));
}

std::string SpeedPiece(double speed) {
  return std::string(kTextSpeed) + Format("%.02fKb/s  ", speed);
}

}  // namespace

std::string ComposeDownloadSpeedText(uint32_t size, uint32_t received, uint32_t speedWord) {
  const double speed = speedWord / kSpeedScale;
  // More than announced leaves nothing to wait for, not a wrapped-around remainder.
  const uint32_t remaining = received >= size ? 0 : size - received;
  int64_t seconds = 0;
  if (speed > 0) {
    // Held to the range "%d" can show: a crawl must not overflow the conversion.
    double exact = std::trunc(remaining / 1024.0 / speed);
    seconds = static_cast<int64_t>(
        std::min(exact, static_cast<double>(std::numeric_limits<int32_t>::max())));
  }
  const int64_t hours = seconds / 3600;
  const int64_t minutes = (seconds - hours * 3600) / 60;
  const int64_t rest = seconds - hours * 3600 - minutes * 60;

  std::string text(kTextUpdatedPercent);
  text += Format("%.02f%% ", static_cast<double>(received) / size * 100.0);
  text += SpeedPiece(speed);
  text += kTextRemainingTime;
  if (hours > 0)
    text += Format("%d", static_cast<int>(hours)) + std::string(kTextHour);
  if (minutes > 0)
    text += Format("%d", static_cast<int>(minutes)) + std::string(kTextMinute);
  text += Format("%d", static_cast<int>(rest)) + std::string(kTextSecond);
  return text;
}

std::string ComposeReceivedText(uint32_t received, uint32_t speedWord) {
  return std::string(kTextReceived) + Format("%.02fKB ", received / 1024.0) +
         SpeedPiece(speedWord / kSpeedScale);
}

void OnDownloadSize(DownloadWindowState& state, IProgressBar& bar, uintptr_t wParam) {
  state.m_nDownloadSize = static_cast<uint32_t>(wParam);
  state.m_nDownloadReceived = 0;
  bar.SetProgressBounds(0, state.m_nDownloadSize);
  bar.SetProgressPosition(0);
}

void OnDownloadSpeed(DownloadWindowState& state, IProgressBar& bar, uintptr_t wParam,
                     intptr_t lParam) {
  if (state.m_bFetchingVersionList)
    return;
  const auto received = static_cast<uint32_t>(lParam);
  const auto speedWord = static_cast<uint32_t>(wParam);
  state.m_nDownloadReceived = received;
  const uint32_t size = state.m_nDownloadSize;
  if (size == 0) {
    bar.SetProgressText(ComposeReceivedText(received, speedWord));
    return;
  }
  bar.SetProgressPosition(std::min(received, size));
  bar.SetProgressText(ComposeDownloadSpeedText(size, received, speedWord));
}

void FillDownloadBar(DownloadWindowState& state, IProgressBar& bar) {
  if (state.m_nDownloadSize > 0) {
    OnDownloadSpeed(state, bar, 0, static_cast<intptr_t>(state.m_nDownloadSize));
    return;
  }
  bar.SetProgressBounds(0, 1);
  bar.SetProgressPosition(1);
  if (state.m_nDownloadReceived > 0)
    bar.SetProgressText(ComposeReceivedText(state.m_nDownloadReceived, 0));
}

bool HandleDownloadProgress(DownloadWindowState& state, IProgressBar& bar, uint32_t msg,
                            uintptr_t wParam, intptr_t lParam) {
  switch (msg) {
    case WM_DOWNLOAD_SIZE:
      OnDownloadSize(state, bar, wParam);
      return true;
    case WM_DOWNLOAD_PERCENT:
      return true;  // the speed report carries everything shown
    case WM_DOWNLOAD_SPEED:
      OnDownloadSpeed(state, bar, wParam, lParam);
      return true;
    default:
      return false;
  }
}

}  // namespace tessaly
