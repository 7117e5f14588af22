#include "update/worker.h"

#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

#include "identify/link_texts.h"

namespace tessaly {
namespace {

constexpr auto kPauseAfterDownload = std::chrono::milliseconds(50);
constexpr auto kPauseAfterArchiver = std::chrono::milliseconds(500);

bool LocalFileExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

bool EndsWith(const std::string& text, std::string_view end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class WorkerFlashHost : public IFlashHost {
 public:
  explicit WorkerFlashHost(UpdateJob& job) : m_job(job) {}
  void ShowUpdateProgress() override { m_job.progress.ShowUpdateProgress(m_job.counters, m_job.view); }
  void ShowLinkState() override { m_job.view.ShowLinkState(); }

 private:
  UpdateJob& m_job;
};

// Steps 4 to 14: download the archive, unpack it, find the package. Returns the
// failure text, or empty with `packagePath` set.
std::string DownloadRoad(UpdateJob& job, IDownloadRoad& road, std::string& packagePath,
                         std::string& archivePath, std::string& workFolder) {
  const std::string& url = job.databaseUrl;
  size_t slash = url.rfind('/');
  std::string archiveName = slash == std::string::npos ? url : url.substr(slash + 1);
  // The name comes from the network: it must be a plain file name.
  if (archiveName.empty() || archiveName == "." || archiveName == ".." ||
      archiveName.find_first_of("/\\") != std::string::npos)
    return std::string(kMsgNoUpdateFile);
  archivePath = road.AppFilePath(archiveName);
  workFolder = road.AppFilePath(std::string(kWorkFolderName));
  if (archivePath.empty() || workFolder.empty()) return std::string(kMsgNoUpdateFile);
  if (road.FileExists(archivePath)) road.RemoveFile(archivePath);

  road.ClearDownloadError();
  std::string started = road.DownloadArchive(url, archivePath);
  if (!started.empty()) return started;
  std::this_thread::sleep_for(kPauseAfterDownload);
  if (std::string error = road.DownloadError(); !error.empty()) return error;

  job.view.SetProgressPosition(0);
  if (!EndsWith(archivePath, "rar") && !EndsWith(archivePath, "zip") &&
      !EndsWith(archivePath, "7z")) {
    road.RemoveFile(archivePath);
    return std::string(kMsgNoUpdateFile);
  }
  job.view.SetProgressText(std::string(kBarDecompressing));
  std::string program, arguments;
  if (!road.BuildUnpackCommand(workFolder, archivePath, program, arguments))
    return std::string(kMsgNoUnpacker);
  road.RunHidden(program, arguments);
  std::this_thread::sleep_for(kPauseAfterArchiver);
  packagePath = road.FindPackage(workFolder);
  if (packagePath.empty()) return std::string(kMsgNoUpdateFile);
  road.RemoveFile(archivePath);
  return {};
}

}  // namespace

UpdateOutcome UpdateWorker(UpdateJob& job) {
  std::string result;
  std::string archivePath, workFolder;
  IUpdateView& view = job.view;

  // 1-2.
  view.EnableUpdate(false);
  view.EnableSetting(false);
  std::string packagePath = view.FileLabelText();
  if (packagePath.empty()) result = kMsgOpenFailed;

  // 3-14.
  bool downloadRoad = false;
  if (result.empty() && !LocalFileExists(packagePath) && !job.databaseUrl.empty()) {
    downloadRoad = true;
    if (!job.downloads)
      result = kMsgNoUpdateFile;
    else
      result = DownloadRoad(job, *job.downloads, packagePath, archivePath, workFolder);
  }

  // 15-19.
  if (result.empty()) {
    auto package = FileByteSource::Open(packagePath);
    if (!package) {
      if (downloadRoad && job.downloads && !archivePath.empty()) {
        job.downloads->RemoveFile(archivePath);
        archivePath.clear();
      }
      result = kMsgOpenFailed;
    } else {
      PackageCheck check = CheckPackage(*package, job.device, job.brandSlot);
      result = check.message;
      if (check.code == kPackageOk && check.message != kMsgVersionUnmatched) {
        job.counters.m_nBytesDone = 0;
        job.counters.m_nTicks = 0;
        job.counters.m_nBytesTotal = static_cast<uint32_t>(check.totalBytes);
        // The counters are 32-bit; a package this large cannot be a real database.
        if (result.empty() && check.totalBytes > UINT32_MAX)
          result = WrongFormatMessage(kPackageInvalid);
      }
      if (result.empty()) {
        view.SetProgressBounds(0, job.counters.m_nBytesTotal.load());
        view.SetProgressPosition(0);
        view.SetProgressText(std::string(kBarUpdating));
        WorkerFlashHost host(job);
        FlashContext ctx{job.cmd, job.device.m_nFirmwareRevision, job.counters, host,
                         &job.stopWorker};
        if (!FlashPackage(ctx, *package, check.trailer)) result = kMsgUpdateFailed;
      }
    }  // the package closes here
  }

  // 20.
  if (job.downloads && !workFolder.empty()) job.downloads->DeleteFolder(workFolder);

  // 21.
  job.counters.m_updatePhase = kPhaseIdle;
  if (result.empty()) {
    view.ShowMessage(std::string(kMsgUpdateSucceeded), std::string(kTitleProgram),
                     MessageIcon::kInformation);
  } else if (!job.stopWorker.load()) {
    job.counters.m_nBytesTotal = 0;
    job.counters.m_nBytesDone = 0;
    view.SetProgressText("");
    view.EnableUpdate(true);
    view.EnableSetting(true);
    view.ShowMessage(result, "", MessageIcon::kError);
  }
  return {result};
}

}  // namespace tessaly
