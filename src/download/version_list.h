// The online version check: reading the version list a brand publishes (line 1 the
// newest database version, line 2 the archive's URL), the status texts of label 1032,
// and the window's handling of a transfer's start and completion. Pure over a small
// struct of the window's fields, so the GUI and the CLI run the same logic.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "update/progress.h"

namespace tessaly {

// ---- User-visible texts -----------------------------------------------------------------
inline constexpr std::string_view kLabelSearchingVersion =
    "Searching the database version now,please wait\u2026";
inline constexpr std::string_view kLabelChooseOrConnect =
    "Choose updated file or connect device for automatic detection!";
inline constexpr std::string_view kLabelAccessFailed =
    "Access database failed,please updated by local file!";
// Followed directly by line 1 of the list as read.
inline constexpr std::string_view kLabelInternetVersion = "Internet vesion:";
// The progress bar's text (and m_strDownloadError) after a failed archive download.
inline constexpr std::string_view kMsgDownloadFailed = "Error! Please update by local file!";

// The version list's file in the program's folder (AppFilePath).
inline constexpr std::string_view kVersionListFileName = "Tmp";

// A line of the list, its line feed included, holds at most this many characters.
inline constexpr size_t kVersionListLineChars = 259;
// Bytes of the list file that are read: the two lines fit well within it.
inline constexpr size_t kVersionListReadBytes = 4096;

// ---- Parsing ------------------------------------------------------------------------------

// What a version list gives. When `ok` is false the list is unusable and only
// onlineVersion (-1) and label (kLabelAccessFailed) apply.
struct VersionList {
  bool ok = false;
  int32_t onlineVersion = -1;  // m_nOnlineVersion
  std::string databaseUrl;     // m_strDatabaseUrl
  std::string label;           // label 1032
};

// Reads the list from the file's bytes. Each byte is one character (bytes above 0x7F
// are taken as Latin-1 and come out as UTF-8). Lines end at a line feed; a carriage
// return directly before it is dropped. Line 1 as read, its line feed included, is
// shown after kLabelInternetVersion, and its leading decimal number (blanks skipped,
// optional sign, 0 without digits, held to the 32-bit range) is the online version.
// Line 2 without its one line-end character is the database URL. A NUL ends a line's
// text. The list is unusable when either line is missing or empty (line 2 also when
// nothing but its line end), or longer than kVersionListLineChars with its line
// feed: such a line would otherwise be split and its rest taken as the next line.
VersionList ParseVersionList(std::span<const uint8_t> bytes);

// The leading decimal number of `text` as a standard integer conversion does it.
int32_t LeadingInteger(std::string_view text);

// Reads the list file (at most kVersionListReadBytes) and deletes it. Nullopt, and the
// file left as it was, when it cannot be opened for reading.
std::optional<std::vector<uint8_t>> ReadAndRemoveVersionList(const std::string& path);

// ---- The window's fields ----------------------------------------------------------------

// The main window's members that the version check and the download display share.
struct DownloadWindowState {
  int32_t m_nOnlineVersion = -1;  // -1 no list, 0 list being fetched, else the version
  std::string m_strDatabaseUrl;   // kept until a later list replaces it
  std::string m_strDownloadError;
  bool m_bFetchingVersionList = false;
  int32_t m_nDeviceDbVersion = -1;  // -1 while no device has been probed
  bool m_bDeviceReady = false;
  uint32_t m_nDownloadSize = 0;      // body length of the last transfer, 0 when not given
  uint32_t m_nDownloadReceived = 0;  // bytes the last speed report counted
};

// What the window does with its controls after a handler. Unset: unchanged.
struct DownloadWindowEffects {
  std::optional<std::string> label;  // new text of label 1032
  std::optional<bool> enableOpen;
  std::optional<bool> enableUpdate;
};

// BeginVersionCheck, before the transfer is started: sets the fetching flag; the
// effects carry the "searching" label.
DownloadWindowEffects OnVersionCheckStarting(DownloadWindowState& state);

// BeginVersionCheck, once Start has returned `startError` (empty: started).
DownloadWindowEffects OnVersionCheckStarted(DownloadWindowState& state,
                                            std::string_view startError);

// Reads the list file; the default is ReadAndRemoveVersionList(AppFilePath("Tmp")).
using VersionListReader = std::function<std::optional<std::vector<uint8_t>>()>;

// OnDownloadFinished after the downloader has been stopped: the Open button is always
// enabled again. Code DL_OK of the archive fills the bar; of the version list reads it
// (`readList`) and takes its version, URL and label, enabling Update when the device
// is ready. DL_ABORTED of the version list resets the version quietly. Any other code
// fails the version list with kLabelAccessFailed, or the archive download with
// kMsgDownloadFailed in m_strDownloadError and on the bar.
DownloadWindowEffects OnDownloadFinished(DownloadWindowState& state, IProgressBar& bar,
                                         uint32_t code, const VersionListReader& readList);
DownloadWindowEffects OnDownloadFinished(DownloadWindowState& state, IProgressBar& bar,
                                         uint32_t code);  // reads the list file

// The Update command's rule: true when both versions are known (above 0) and the
// device's is not older than the online one, so the user is asked first.
bool DeviceHasNewestVersion(int32_t onlineVersion, int32_t deviceDbVersion);

}  // namespace tessaly
