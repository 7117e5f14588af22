// Unpacking a downloaded database archive with an archiver installed on the computer,
// and the files and folders that go with it: the program's folder, the work folder the
// archive is unpacked into, the search for the package in it and its removal.
//
// Everything an archive holds is untrusted: the search and the removal never follow a
// symbolic link, and no path longer than kMaxPathChars is used (it is refused, never
// cut). The archiver runs directly from an argv, never through a shell.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

// Longest path handled here, in bytes. Longer paths are refused.
inline constexpr size_t kMaxPathChars = 259;

// ---- The program's folder -------------------------------------------------------------

// What the choice of the program's folder looks at. Tests fill it themselves.
struct AppFolderEnvironment {
  std::string executablePath;  // the running program, e.g. from /proc/self/exe
  std::string xdgCacheHome;    // $XDG_CACHE_HOME, or empty
  std::string home;            // $HOME, or empty
  // True when files may be created in the folder.
  std::function<bool(const std::string& folder)> isWritable;
};

// The running program's environment: /proc/self/exe, the two variables and access(2).
AppFolderEnvironment CurrentAppFolderEnvironment();

// The folder files go into, with its trailing "/": the program's own folder when it
// can be written; otherwise the per-user cache folder $XDG_CACHE_HOME/tessaly (only an
// absolute $XDG_CACHE_HOME counts) or ~/.cache/tessaly, created on demand. Empty when
// neither is usable or the folder's path is too long.
std::string ChooseAppFolder(const AppFolderEnvironment& env);

// The folder AppFilePath uses: ChooseAppFolder of the running program, chosen once.
std::string AppFolder();

// Replaces the folder AppFilePath uses ("" goes back to the running program's);
// returns the previous override.
std::string SetAppFolderOverride(std::string folder);

// Puts a folder in place for its lifetime and restores the previous one afterwards.
class ScopedAppFolder {
 public:
  explicit ScopedAppFolder(std::string folder)
      : m_previous(SetAppFolderOverride(std::move(folder))) {}
  ~ScopedAppFolder() { SetAppFolderOverride(std::move(m_previous)); }
  ScopedAppFolder(const ScopedAppFolder&) = delete;
  ScopedAppFolder& operator=(const ScopedAppFolder&) = delete;

 private:
  std::string m_previous;
};

// `folder` (a trailing "/" is added when missing) followed directly by `name`. Empty
// when the folder is empty, the name is not a plain file name (empty, ".", "..", or
// holding "/", a double quote or a NUL), or the result is longer than kMaxPathChars.
std::string AppFilePath(const std::string& name, const std::string& folder);
std::string AppFilePath(const std::string& name);  // in AppFolder()

// True when `path` is not empty, not too long, and names a regular file that can be
// opened for reading (opened and closed again at once). Folders count as absent.
bool FileExists(const std::string& path);

// ---- Archivers ------------------------------------------------------------------------

// The archivers, in the order they are tried.
enum class Archiver { kWinRar, kHaoZip, kSevenZip };
inline constexpr std::array<Archiver, 3> kArchiverOrder = {Archiver::kWinRar, Archiver::kHaoZip,
                                                           Archiver::kSevenZip};

// The program files an archiver may have in its folder, in the order tried: RARLAB's
// console "rar" or "unrar"; "HaoZipC"; "7z" or "7zz".
std::span<const std::string_view> ArchiverPrograms(Archiver archiver);

// Finds the folder each archiver is installed in.
class IArchiverLocator {
 public:
  virtual ~IArchiverLocator() = default;
  // The archiver's folder, or empty when it is not installed.
  virtual std::string ArchiverFolder(Archiver archiver) const = 0;
};

// Looks on a search path (by default $PATH as it is at construction). Empty and
// relative entries are passed over, so nothing is ever taken from the current folder.
// HaoZip has no build for this system: its folder is always empty. A folder counts
// for an archiver when it holds one of its programs that BuildUnpackCommand would
// take (for WinRAR never the look-alike unrar-free).
class PathArchiverLocator final : public IArchiverLocator {
 public:
  PathArchiverLocator();
  explicit PathArchiverLocator(std::string searchPath);
  std::string ArchiverFolder(Archiver archiver) const override;

 private:
  std::vector<std::string> m_folders;
};

// Fixed folders per archiver: for tests and for a front that names them itself.
class FolderMapLocator final : public IArchiverLocator {
 public:
  explicit FolderMapLocator(std::map<Archiver, std::string> folders)
      : m_folders(std::move(folders)) {}
  std::string ArchiverFolder(Archiver archiver) const override;

 private:
  std::map<Archiver, std::string> m_folders;
};

// True for Debian's unrar-free, which takes WinRAR's arguments, extracts nothing and
// exits 0: the path resolves to a file called unrar-free, or the file carries that name.
bool IsUnrarFree(const std::string& programPath);

// True when `path` is a program that may be run for `archiver`: a regular, readable,
// executable file, and for WinRAR not unrar-free.
bool IsUsableArchiverProgram(Archiver archiver, const std::string& path);

// Chooses the first installed archiver and gives its program and arguments for
// unpacking `archivePath` into `workFolder` (given without a trailing "/"):
//   WinRAR: x -o+ -y -IBCK "<archive>" *.* "<work folder>"
//   others:  x "<archive>" -aoa -y "-o<work folder>"   (with a leading blank)
// For WinRAR the work folder is created first. False, with nothing created, when no
// archiver is installed, or when a path cannot be passed safely (empty, too long, or
// holding a double quote, a NUL or a trailing backslash, any of which would change how
// the command line splits).
bool BuildUnpackCommand(const std::string& workFolder, const std::string& archivePath,
                        std::string& program, std::string& arguments,
                        const IArchiverLocator& locator);
bool BuildUnpackCommand(const std::string& workFolder, const std::string& archivePath,
                        std::string& program, std::string& arguments);  // on $PATH

// ---- Running the archiver -------------------------------------------------------------

// Splits a command line into argv as CommandLineToArgvW does: the first argument ends
// at the next quote when it starts with one (no other rule applies to it), else at the
// first blank; later arguments are split at blanks and tabs outside quotes, 2n
// backslashes before a quote give n backslashes and open or close a quote, 2n+1 give
// n backslashes and a literal quote, and the third quote of a run of quotes gives a
// literal quote.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// Runs `program` with the arguments of the command line `"<program>" <arguments>`,
// started directly (posix_spawn, no shell), with the caller's environment and current
// folder, its input, output and error on /dev/null (a prompt can never block it) and
// no other descriptor inherited. Waits for it without a time limit. Returns its exit
// code (128 + signal when a signal ended it), or nullopt when it could not be started.
std::optional<int> RunHidden(const std::string& program, const std::string& arguments);

// ---- The work folder ------------------------------------------------------------------

// Asked about each entry: its full path and whether it is a folder. True stops the
// search and makes the entry the match.
using FileMatch = std::function<bool(const std::string& path, bool isDirectory)>;

struct FindFilesResult {
  int count = -1;     // entries offered to `match`; -1 when `folder` cannot be listed
  std::string found;  // the first entry `match` accepted, empty when none
};

// Lists `folder` in the order the file system gives, offering every regular file to
// `match` (and, when `recurse` is off, every sub-folder too; "." and ".." never). With
// `recurse` on, each sub-folder is searched where it is listed. Symbolic links and
// other special files are neither offered nor followed, and an entry whose path would
// be longer than kMaxPathChars is not offered (nor searched). The first match ends the
// whole search.
FindFilesResult FindFiles(const std::string& folder, const FileMatch& match, bool recurse);

// The first update package below `folder` (IsPackageFileName), or empty.
std::string FindPackage(const std::string& folder);

// Deletes `folder` with all its files and sub-folders; failures are not reported.
// Entries are removed through their parent folder's handle, so no path is built and
// nothing below the folder is refused for its length; a symbolic link is removed
// itself, never followed. A `folder` that is itself a link has only the link
// removed. A `folder` longer than kMaxPathChars is refused.
void DeleteFolder(const std::string& folder);

}  // namespace tessaly
