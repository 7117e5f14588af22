// The update worker: one update from start to end on its own thread. It finds the
// package (the file label's path, or a database archive it downloads and unpacks),
// checks it, writes it, cleans up and reports the outcome. Its user-visible effects
// go through IUpdateView, so the GUI and the CLI run the same worker.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

#include "device/hid_cmd.h"
#include "identify/device_state.h"
#include "update/flash.h"
#include "update/progress.h"

namespace tessaly {

inline constexpr std::string_view kMsgOpenFailed = "Open update file failed!";
inline constexpr std::string_view kMsgNoUpdateFile = "Can not Find Update File!";
inline constexpr std::string_view kMsgNoUnpacker =
    "Didn't find the decompression tool.(Support only \u2018WinRar/7zip/Haozip\u2019)Please "
    "decompression and update manually!";
inline constexpr std::string_view kMsgUpdateFailed = "Update Failed!";
inline constexpr std::string_view kMsgUpdateSucceeded = "Update Successfully!";
inline constexpr std::string_view kBarDecompressing = "Decompressing database\u2026";
inline constexpr std::string_view kBarUpdating = "updating";
inline constexpr std::string_view kWorkFolderName = "TmpTmp";

enum class MessageIcon { kInformation, kError };

// What the worker needs of the window. The GUI carries each call out on its main
// thread; every call may come from the worker's thread.
class IUpdateView : public IProgressBar {
 public:
  virtual void EnableUpdate(bool enable) = 0;
  virtual void EnableSetting(bool enable) = 0;
  virtual std::string FileLabelText() = 0;
  // A message box over the window. An empty caption means the system's default.
  virtual void ShowMessage(const std::string& text, const std::string& caption,
                           MessageIcon icon) = 0;
  // The link state routine of the window (the closing step of older firmware).
  virtual void ShowLinkState() = 0;
};

// The download road's services: the downloader and the unpacking routines.
class IDownloadRoad {
 public:
  virtual ~IDownloadRoad() = default;
  virtual std::string AppFilePath(const std::string& name) = 0;
  virtual bool FileExists(const std::string& path) = 0;
  virtual void RemoveFile(const std::string& path) = 0;
  virtual void ClearDownloadError() = 0;
  // Runs the download on the calling thread; the text Start returned (empty: it ran).
  virtual std::string DownloadArchive(const std::string& url, const std::string& path) = 0;
  // The failure the main thread recorded when the download finished; empty if none.
  virtual std::string DownloadError() = 0;
  // The archiver's program and arguments for unpacking `archive` into `folder`; false
  // when no archiver is installed.
  virtual bool BuildUnpackCommand(const std::string& folder, const std::string& archive,
                                  std::string& program, std::string& arguments) = 0;
  virtual void RunHidden(const std::string& program, const std::string& arguments) = 0;
  // The first package file found below `folder`, or empty.
  virtual std::string FindPackage(const std::string& folder) = 0;
  virtual void DeleteFolder(const std::string& folder) = 0;
};

// The window's members the worker works on. All references outlive the run.
struct UpdateJob {
  CHidCmd& cmd;
  const DeviceState& device;
  UpdateCounters& counters;
  ProgressDisplay& progress;
  IUpdateView& view;
  const std::atomic<int>& stopWorker;
  std::string databaseUrl;             // m_strDatabaseUrl when the worker started
  IDownloadRoad* downloads = nullptr;  // null: no download road in this build
  std::string_view brandSlot;          // the build's brand, 16-byte slot
};

struct UpdateOutcome {
  std::string resultText;  // empty on success
  bool Succeeded() const { return resultText.empty(); }
};

// The worker's whole run. The caller clears its own worker handle after it returns.
UpdateOutcome UpdateWorker(UpdateJob& job);

}  // namespace tessaly
