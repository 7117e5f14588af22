// The window's side of a transfer's progress messages: the bar fills with the bytes
// received and its text gives the percentage, the speed and the time remaining. While
// the version list is fetched the bar is only emptied.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "download/version_list.h"
#include "update/progress.h"

namespace tessaly {

// ---- Pieces of the bar's text, joined with nothing between them -------------------------
inline constexpr std::string_view kTextUpdatedPercent = "Updated percent";
inline constexpr std::string_view kTextSpeed = "Speed";
inline constexpr std::string_view kTextRemainingTime = "Remaining time";
inline constexpr std::string_view kTextHour = "Hour";
inline constexpr std::string_view kTextMinute = "Minute";
inline constexpr std::string_view kTextSecond = "Second";
// Leads the text when the reply gave no length, so no percentage or time can be told.
inline constexpr std::string_view kTextReceived = "Received";

// WM_DOWNLOAD_SPEED's wParam is the speed in KiB/s times this.
inline constexpr double kSpeedScale = 100000.0;

// The bar's text for a body of `size` bytes (not 0) of which `received` have come, at
// `speedWord` / 100000 KiB/s: "Updated percent" and the percentage as "%.02f%% ",
// "Speed" and the speed as "%.02fKb/s  ", "Remaining time" and the seconds left at that
// speed as hours ("%d" "Hour") and minutes ("%d" "Minute") when not 0, then seconds
// ("%d" "Second") always. At speed 0, or with everything received, no time is left.
std::string ComposeDownloadSpeedText(uint32_t size, uint32_t received, uint32_t speedWord);

// The text when the reply gave no length: "Received", the KiB received as "%.02fKB ",
// then "Speed" and the speed as above.
std::string ComposeReceivedText(uint32_t received, uint32_t speedWord);

// WM_DOWNLOAD_SIZE (wParam: body length; the resume offset in lParam is not used):
// records the length and empties the bar, range 0 .. length. For every transfer.
void OnDownloadSize(DownloadWindowState& state, IProgressBar& bar, uintptr_t wParam);

// WM_DOWNLOAD_SPEED (wParam: speed word; lParam: bytes received): nothing while the
// version list is fetched; else the bar's position and text. Without a length the bar
// stays empty and shows ComposeReceivedText.
void OnDownloadSpeed(DownloadWindowState& state, IProgressBar& bar, uintptr_t wParam,
                     intptr_t lParam);

// After a successful archive download: the bar ends full, with the text of all bytes
// received at speed 0. Without a length the bar's range becomes 0 .. 1 to show it full,
// and the received count of the last speed report is shown when there was one.
void FillDownloadBar(DownloadWindowState& state, IProgressBar& bar);

// The three progress messages: SIZE and SPEED as above, PERCENT accepted and ignored.
// False for any other message, which is left alone.
bool HandleDownloadProgress(DownloadWindowState& state, IProgressBar& bar, uint32_t msg,
                            uintptr_t wParam, intptr_t lParam);

}  // namespace tessaly
