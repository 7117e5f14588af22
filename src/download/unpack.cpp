#include "download/unpack.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>
#include <utility>

#include "update/package.h"

extern char** environ;

namespace tessaly {

namespace {

// ---- Handles ----------------------------------------------------------------------------

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : m_fd(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Reset();
      m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return m_fd; }
  bool Valid() const { return m_fd >= 0; }
  int Release() { return std::exchange(m_fd, -1); }

 private:
  void Reset() {
    if (m_fd >= 0)
      ::close(m_fd);
    m_fd = -1;
  }
  int m_fd = -1;
};

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

// Takes over `fd`; null (and `fd` closed) when it cannot be listed.
UniqueDir OpenDirStream(UniqueFd fd) {
  DIR* dir = ::fdopendir(fd.Get());
  if (dir == nullptr)
    return nullptr;
  fd.Release();
  return UniqueDir(dir);
}

constexpr int kOpenDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Deeper trees than this are left in place by DeleteFolder: each level holds a handle.
constexpr int kMaxDeleteDepth = 256;

// Bytes of a program file searched for the unrar-free marker.
constexpr size_t kMarkerScanBytes = 16u << 20;
constexpr std::string_view kUnrarFreeName = "unrar-free";

bool IsDotEntry(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

std::string JoinPath(const std::string& folder, std::string_view name) {
  std::string path = folder;
  if (path.empty() || path.back() != '/')
    path += '/';
  path += name;
  return path;
}

// The folder without trailing slashes ("/" itself becomes empty).
std::string WithoutTrailingSlashes(std::string folder) {
  while (!folder.empty() && folder.back() == '/')
    folder.pop_back();
  return folder;
}

// A path that may stand between double quotes of a command line and come back out of
// SplitCommandLine unchanged.
bool QuotesSafely(const std::string& path) {
  return !path.empty() && path.size() <= kMaxPathChars &&
         path.find_first_of(std::string_view("\"\0", 2)) == std::string::npos &&
         path.back() != '\\';
}

bool IsReadableRegularFile(const std::string& path) {
  if (path.empty() || path.size() > kMaxPathChars)
    return false;
  // Non-blocking, so that a FIFO under the name cannot hold the caller.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.Valid())
    return false;
  struct stat st {};
  return ::fstat(fd.Get(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FileHoldsMarker(const std::string& path, std::string_view marker) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.Valid())
    return false;
  std::string window;  // the tail of the previous chunk, so a marker may straddle chunks
  std::array<char, 65536> chunk{};
  size_t scanned = 0;
  while (scanned < kMarkerScanBytes) {
    ssize_t got = ::read(fd.Get(), chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      break;
    scanned += static_cast<size_t>(got);
    window.append(chunk.data(), static_cast<size_t>(got));
    if (window.find(marker) != std::string::npos)
      return true;
    window.erase(0, window.size() - std::min(window.size(), marker.size() - 1));
  }
  return false;
}

// ---- The search and the removal ---------------------------------------------------------

int FindIn(UniqueFd folderFd, const std::string& folderPath, const FileMatch& match, bool recurse,
           std::string& found) {
  UniqueDir dir = OpenDirStream(std::move(folderFd));
  if (!dir)
    return -1;
  const int dirFd = ::dirfd(dir.get());
  int count = 0;
  while (found.empty()) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr)
      break;
    if (IsDotEntry(entry->d_name))
      continue;
    std::string path = JoinPath(folderPath, entry->d_name);
    // Refused, not cut: everything below it would be longer still.
    if (path.size() > kMaxPathChars)
      continue;
    struct stat st {};
    if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
      continue;
    if (S_ISDIR(st.st_mode) && recurse) {
      UniqueFd sub(::openat(dirFd, entry->d_name, kOpenDirFlags));
      if (!sub.Valid())
        continue;
      int subCount = FindIn(std::move(sub), path, match, recurse, found);
      if (subCount > 0)
        count += subCount;
      continue;
    }
    // Links (to anything, anywhere) and special files are never offered: a package
    // found must be a file that really lies in the work folder.
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
      continue;
    ++count;
    if (match(path, S_ISDIR(st.st_mode)))
      found = std::move(path);
  }
  return count;
}

// Removes everything inside the folder open as `folderFd`.
void RemoveContents(int folderFd, int depth) {
  std::vector<std::pair<std::string, bool>> entries;  // name, is a real folder
  {
    UniqueDir dir = OpenDirStream(UniqueFd(::fcntl(folderFd, F_DUPFD_CLOEXEC, 0)));
    if (!dir)
      return;
    while (const dirent* entry = ::readdir(dir.get())) {
      if (IsDotEntry(entry->d_name))
        continue;
      struct stat st {};
      bool isFolder =
          ::fstatat(folderFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
      entries.emplace_back(entry->d_name, isFolder);
    }
  }
  for (const auto& [name, isFolder] : entries) {
    if (!isFolder) {
      ::unlinkat(folderFd, name.c_str(), 0);
      continue;
    }
    if (depth < kMaxDeleteDepth) {
      UniqueFd sub(::openat(folderFd, name.c_str(), kOpenDirFlags));
      if (sub.Valid())
        RemoveContents(sub.Get(), depth + 1);
    }
    ::unlinkat(folderFd, name.c_str(), AT_REMOVEDIR);
  }
}

// ---- The program's folder ---------------------------------------------------------------

std::mutex& FolderMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string& FolderOverride() {
  static std::string folder;
  return folder;
}

bool AccessWritable(const std::string& folder) {
  return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string ReadExecutablePath() {
  std::string buffer(PATH_MAX, '\0');
  ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n <= 0 || static_cast<size_t>(n) >= buffer.size())
    return {};
  buffer.resize(static_cast<size_t>(n));
  return buffer;
}

std::string EnvOrEmpty(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

// The folder with its trailing "/", when it exists (or could be made) and is usable.
std::string CacheFolder(const AppFolderEnvironment& env) {
  std::string base;
  if (!env.xdgCacheHome.empty() && env.xdgCacheHome.front() == '/')
    base = env.xdgCacheHome;
  else if (!env.home.empty() && env.home.front() == '/')
    base = JoinPath(env.home, ".cache");
  else
    return {};
  std::string folder = JoinPath(base, "tessaly");
  if (folder.size() + 1 > kMaxPathChars)
    return {};
  std::error_code ec;
  std::filesystem::create_directories(base, ec);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    return {};
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return {};
  if (env.isWritable && !env.isWritable(folder))
    return {};
  return folder + '/';
}

}  // namespace

AppFolderEnvironment CurrentAppFolderEnvironment() {
  AppFolderEnvironment env;
  env.executablePath = ReadExecutablePath();
  env.xdgCacheHome = EnvOrEmpty("XDG_CACHE_HOME");
  env.home = EnvOrEmpty("HOME");
  env.isWritable = AccessWritable;
  return env;
}

std::string ChooseAppFolder(const AppFolderEnvironment& env) {
  size_t slash = env.executablePath.rfind('/');
  if (slash != std::string::npos) {
    std::string own = env.executablePath.substr(0, slash + 1);
    // A folder too long for the paths built in it is refused, not cut.
    if (own.size() <= kMaxPathChars && env.isWritable && env.isWritable(own))
      return own;
  }
  return CacheFolder(env);
}

std::string AppFolder() {
  std::lock_guard lock(FolderMutex());
  if (!FolderOverride().empty())
    return FolderOverride();
  static const std::string chosen = ChooseAppFolder(CurrentAppFolderEnvironment());
  return chosen;
}

std::string SetAppFolderOverride(std::string folder) {
  std::lock_guard lock(FolderMutex());
  return std::exchange(FolderOverride(), std::move(folder));
}

std::string AppFilePath(const std::string& name, const std::string& folder) {
  if (folder.empty() || name.empty() || name == "." || name == ".." ||
      name.find_first_of(std::string_view("/\"\0", 3)) != std::string::npos)
    return {};
  std::string path = JoinPath(folder, name);
  return path.size() <= kMaxPathChars ? path : std::string();
}

std::string AppFilePath(const std::string& name) {
  return AppFilePath(name, AppFolder());
}

bool FileExists(const std::string& path) {
  return IsReadableRegularFile(path);
}

// ---- Archivers --------------------------------------------------------------------------

std::span<const std::string_view> ArchiverPrograms(Archiver archiver) {
  static constexpr std::array<std::string_view, 2> kWinRar = {"rar", "unrar"};
  static constexpr std::array<std::string_view, 1> kHaoZip = {"HaoZipC"};
  static constexpr std::array<std::string_view, 2> kSevenZip = {"7z", "7zz"};
  switch (archiver) {
    case Archiver::kWinRar:
      return kWinRar;
    case Archiver::kHaoZip:
      return kHaoZip;
    case Archiver::kSevenZip:
      return kSevenZip;
  }
  return {};
}

bool IsUnrarFree(const std::string& programPath) {
  std::error_code ec;
  std::filesystem::path resolved = std::filesystem::canonical(programPath, ec);
  if (!ec && resolved.filename().string().starts_with(kUnrarFreeName))
    return true;
  if (std::filesystem::path(programPath).filename().string().starts_with(kUnrarFreeName))
    return true;
  return FileHoldsMarker(programPath, kUnrarFreeName);
}

bool IsUsableArchiverProgram(Archiver archiver, const std::string& path) {
  if (!IsReadableRegularFile(path) || ::access(path.c_str(), X_OK) != 0)
    return false;
  return archiver != Archiver::kWinRar || !IsUnrarFree(path);
}

PathArchiverLocator::PathArchiverLocator() : PathArchiverLocator(EnvOrEmpty("PATH")) {}

PathArchiverLocator::PathArchiverLocator(std::string searchPath) {
  size_t start = 0;
  while (start <= searchPath.size()) {
    size_t end = searchPath.find(':', start);
    if (end == std::string::npos)
      end = searchPath.size();
    std::string folder = searchPath.substr(start, end - start);
    if (!folder.empty() && folder.front() == '/')
      m_folders.push_back(std::move(folder));
    start = end + 1;
  }
}

std::string PathArchiverLocator::ArchiverFolder(Archiver archiver) const {
  if (archiver == Archiver::kHaoZip)
    return {};
  for (const std::string& folder : m_folders) {
    for (std::string_view program : ArchiverPrograms(archiver)) {
      if (IsUsableArchiverProgram(archiver, JoinPath(folder, program)))
        return folder;
    }
  }
  return {};
}

std::string FolderMapLocator::ArchiverFolder(Archiver archiver) const {
  auto it = m_folders.find(archiver);
  return it == m_folders.end() ? std::string() : it->second;
}

bool BuildUnpackCommand(const std::string& workFolder, const std::string& archivePath,
                        std::string& program, std::string& arguments,
                        const IArchiverLocator& locator) {
  if (!QuotesSafely(workFolder) || !QuotesSafely(archivePath))
    return false;
  for (Archiver archiver : kArchiverOrder) {
    std::string folder = locator.ArchiverFolder(archiver);
    if (folder.empty())
      continue;
    for (std::string_view name : ArchiverPrograms(archiver)) {
      std::string candidate = JoinPath(folder, name);
      if (!QuotesSafely(candidate) || !IsUsableArchiverProgram(archiver, candidate))
        continue;
      program = std::move(candidate);
      if (archiver == Archiver::kWinRar) {
        // RAR takes an existing folder as the destination; one that is there already is fine.
        ::mkdir(workFolder.c_str(), 0777);
        arguments = "x -o+ -y -IBCK \"" + archivePath + "\" *.* \"" + workFolder + "\"";
      } else {
        arguments = " x \"" + archivePath + "\" -aoa -y \"-o" + workFolder + "\"";
      }
      return true;
    }
  }
  return false;
}

bool BuildUnpackCommand(const std::string& workFolder, const std::string& archivePath,
                        std::string& program, std::string& arguments) {
  return BuildUnpackCommand(workFolder, archivePath, program, arguments, PathArchiverLocator());
}

// ---- Running the archiver ---------------------------------------------------------------

std::vector<std::string> SplitCommandLine(std::string_view s) {
  std::vector<std::string> args;
  size_t i = 0;
  const size_t n = s.size();
  auto isBlank = [&](size_t at) { return at < n && (s[at] == ' ' || s[at] == '\t'); };

  // The program name: no escapes, a quote only ends it.
  std::string first;
  if (n > 0 && s[0] == '"') {
    for (i = 1; i < n && s[i] != '"'; ++i)
      first += s[i];
    if (i < n)
      ++i;
  } else {
    for (; i < n && !isBlank(i); ++i)
      first += s[i];
  }
  args.push_back(std::move(first));
  while (isBlank(i))
    ++i;

  std::string current;
  bool started = false;
  int backslashes = 0;
  int quotes = 0;  // 1 inside quotes; runs of quotes are counted modulo 3
  while (i < n) {
    const char c = s[i];
    if ((c == ' ' || c == '\t') && quotes == 0) {
      args.push_back(std::move(current));
      current.clear();
      started = false;
      backslashes = 0;
      while (isBlank(i))
        ++i;
      continue;
    }
    started = true;
    if (c == '\\') {
      current += c;
      ++backslashes;
      ++i;
    } else if (c == '"') {
      if (backslashes % 2 == 0) {
        current.resize(current.size() - static_cast<size_t>(backslashes / 2));
        ++quotes;
      } else {
        current.resize(current.size() - static_cast<size_t>(backslashes / 2) - 1);
        current += '"';
      }
      backslashes = 0;
      ++i;
      for (; i < n && s[i] == '"'; ++i) {
        if (++quotes == 3) {
          current += '"';
          quotes = 0;
        }
      }
      if (quotes == 2)
        quotes = 0;
    } else {
      current += c;
      backslashes = 0;
      ++i;
    }
  }
  if (started)
    args.push_back(std::move(current));
  return args;
}

std::optional<int> RunHidden(const std::string& program, const std::string& arguments) {
  if (program.empty())
    return std::nullopt;
  std::vector<std::string> args = SplitCommandLine("\"" + program + "\" " + arguments);
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (::posix_spawn_file_actions_init(&actions) != 0)
    return std::nullopt;
  posix_spawnattr_t attr;
  if (::posix_spawnattr_init(&attr) != 0) {
    ::posix_spawn_file_actions_destroy(&actions);
    return std::nullopt;
  }
  ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  ::posix_spawn_file_actions_adddup2(&actions, 1, 2);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
  // The archiver starts with no signal blocked or ignored, whatever this thread does.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  ::posix_spawnattr_setsigmask(&attr, &none);
  ::posix_spawnattr_setsigdefault(&attr, &all);
  ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = 0;
  int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
  ::posix_spawnattr_destroy(&attr);
  ::posix_spawn_file_actions_destroy(&actions);
  if (rc != 0)
    return std::nullopt;

  int status = 0;
  pid_t waited;
  do {
    waited = ::waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited != pid)
    return -1;  // ran, but its end could not be learned
  if (WIFEXITED(status))
    return WEXITSTATUS(status);
  if (WIFSIGNALED(status))
    return 128 + WTERMSIG(status);
  return -1;
}

// ---- The work folder --------------------------------------------------------------------

FindFilesResult FindFiles(const std::string& folder, const FileMatch& match, bool recurse) {
  FindFilesResult result;
  std::string top = WithoutTrailingSlashes(folder);
  if (top.empty() || top.size() > kMaxPathChars)
    return result;
  UniqueFd fd(::open(top.c_str(), kOpenDirFlags));
  if (!fd.Valid())
    return result;
  result.count = FindIn(std::move(fd), top, match, recurse, result.found);
  return result;
}

std::string FindPackage(const std::string& folder) {
  return FindFiles(
             folder,
             [](const std::string& path, bool isDirectory) {
               return IsPackageFileName(path, isDirectory);
             },
             true)
      .found;
}

void DeleteFolder(const std::string& folder) {
  // "/" strips to empty and is refused with everything else that cannot be meant.
  std::string top = WithoutTrailingSlashes(folder);
  if (top.empty() || top.size() > kMaxPathChars)
    return;
  struct stat st {};
  if (::lstat(top.c_str(), &st) != 0)
    return;
  if (S_ISLNK(st.st_mode)) {
    ::unlink(top.c_str());
    return;
  }
  if (!S_ISDIR(st.st_mode))
    return;
  {
    UniqueFd fd(::open(top.c_str(), kOpenDirFlags));
    if (fd.Valid())
      RemoveContents(fd.Get(), 0);
  }
  ::rmdir(top.c_str());
}

}  // namespace tessaly
