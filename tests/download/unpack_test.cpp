#include "download/unpack.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/run_process.h"
#include "support/test_support.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;

std::vector<uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

void WriteText(const fs::path& path, std::string_view text, bool executable = false) {
  fs::create_directories(path.parent_path());
  WriteFileBytes(path, Bytes(text));
  if (executable)
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
}

// A folder path of exactly `length` characters below `base`, made of nested folders.
fs::path LongFolder(const fs::path& base, size_t length) {
  std::string p = base.string();
  while (p.size() + 1 < length) {
    size_t part = std::min<size_t>(40, length - p.size() - 1);
    p += "/" + std::string(part, 'd');
  }
  fs::create_directories(p);
  EXPECT_EQ(p.size(), length);
  return p;
}

// ---- The program's folder -----------------------------------------------------------------

TEST(AppFolder, OwnFolderWhenWritableElseThePerUserCacheFolder) {
  TempDir tmp;
  const std::string own = (tmp / "bin").string() + "/";
  const std::string xdg = (tmp / "xdg").string();
  const std::string home = (tmp / "home").string();
  auto env = [&](bool ownWritable, std::string xdgValue, std::string homeValue) {
    AppFolderEnvironment e;
    e.executablePath = own + "tessaly";
    e.xdgCacheHome = std::move(xdgValue);
    e.home = std::move(homeValue);
    e.isWritable = [=](const std::string& f) { return f != own || ownWritable; };
    return e;
  };

  EXPECT_EQ(ChooseAppFolder(env(true, xdg, home)), own);
  EXPECT_FALSE(fs::exists(xdg));

  EXPECT_EQ(ChooseAppFolder(env(false, xdg, home)), xdg + "/tessaly/");
  EXPECT_TRUE(fs::is_directory(xdg + "/tessaly"));

  // A relative XDG_CACHE_HOME does not count; ~/.cache is made as well when missing.
  EXPECT_EQ(ChooseAppFolder(env(false, "relative/cache", home)), home + "/.cache/tessaly/");
  EXPECT_TRUE(fs::is_directory(home + "/.cache/tessaly"));

  EXPECT_EQ(ChooseAppFolder(env(false, "", "")), "");
  // A cache path that is a file cannot serve.
  WriteText(tmp / "blocked" / "tessaly", "x");
  EXPECT_EQ(ChooseAppFolder(env(false, (tmp / "blocked").string(), "")), "");
}

TEST(AppFolder, OwnFolderTooLongFallsBackInsteadOfBeingCut) {
  TempDir tmp;
  AppFolderEnvironment e;
  e.executablePath = std::string(300, 'x').insert(0, "/") + "/tessaly";
  e.xdgCacheHome = (tmp / "xdg").string();
  e.isWritable = [](const std::string&) { return true; };
  EXPECT_EQ(ChooseAppFolder(e), (tmp / "xdg").string() + "/tessaly/");
}

TEST(AppFilePath, JoinsPlainNamesAndRefusesTheRest) {
  const std::string folder = "/opt/tessaly/";
  EXPECT_EQ(AppFilePath("Tmp", folder), "/opt/tessaly/Tmp");
  EXPECT_EQ(AppFilePath("TmpTmp", "/opt/tessaly"), "/opt/tessaly/TmpTmp");
  for (const char* bad : {"", ".", "..", "a/b", "x\".zip", "../etc"}) {
    EXPECT_EQ(AppFilePath(bad, folder), "") << bad;
  }
  EXPECT_EQ(AppFilePath(std::string("a\0b", 3), folder), "");
  EXPECT_EQ(AppFilePath("Tmp", ""), "");

  const std::string fits(kMaxPathChars - folder.size(), 'n');
  EXPECT_EQ(AppFilePath(fits, folder).size(), kMaxPathChars);
  EXPECT_EQ(AppFilePath(fits + "n", folder), "");
}

TEST(AppFilePath, UsesTheFolderPutInPlace) {
  {
    ScopedAppFolder scoped("/srv/a/");
    EXPECT_EQ(AppFilePath("Tmp"), "/srv/a/Tmp");
  }
  EXPECT_NE(AppFilePath("Tmp"), "/srv/a/Tmp");
}

TEST(FileExists, OnlyReadableRegularFiles) {
  TempDir tmp;
  WriteText(tmp / "file", "x");
  ASSERT_EQ(::mkfifo((tmp / "fifo").c_str(), 0600), 0);
  EXPECT_TRUE(FileExists((tmp / "file").string()));
  EXPECT_FALSE(FileExists(tmp.Path().string()));
  EXPECT_FALSE(FileExists((tmp / "missing").string()));
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(FileExists((tmp / "fifo").string()));  // and does not wait for a writer

  fs::path deep = LongFolder(tmp.Path(), kMaxPathChars);
  WriteText(deep / "file", "x");
  EXPECT_FALSE(FileExists((deep / "file").string()));
}

// ---- Archiver choice ----------------------------------------------------------------------

constexpr std::string_view kGenuine = "#!/bin/sh\nexit 0\n";

struct ProgramFile {
  std::string folder;  // below the test's folder
  std::string name;
  enum Kind { kProgram, kNotExecutable, kUnrarFreeLink, kUnrarFreeCopy } kind = kProgram;
};

struct ChoiceCase {
  const char* what;
  std::vector<ProgramFile> files;
  std::map<Archiver, std::string> folders;  // below the test's folder
  std::string expected;                     // folder/name, or empty: none found
};

class ArchiverChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(ArchiverChoice, TakesTheFirstUsableArchiverInOrder) {
  const ChoiceCase& c = GetParam();
  TempDir tmp;
  for (const ProgramFile& f : c.files) {
    fs::path path = tmp / f.folder / f.name;
    switch (f.kind) {
      case ProgramFile::kProgram:
        WriteText(path, kGenuine, true);
        break;
      case ProgramFile::kNotExecutable:
        WriteText(path, kGenuine, false);
        break;
      case ProgramFile::kUnrarFreeLink:
        WriteText(tmp / "debian" / "unrar-free", kGenuine, true);
        fs::create_directories(path.parent_path());
        fs::create_symlink(tmp / "debian" / "unrar-free", path);
        break;
      case ProgramFile::kUnrarFreeCopy:
        WriteText(path, "#!/bin/sh\necho 'unrar-free 0.1.3'\n", true);
        break;
    }
  }
  std::map<Archiver, std::string> folders;
  for (const auto& [archiver, folder] : c.folders)
    folders[archiver] = (tmp / folder).string();
  FolderMapLocator locator(folders);

  const std::string work = (tmp / "TmpTmp").string();
  const std::string archive = (tmp / "db.zip").string();
  std::string program = "untouched", arguments = "untouched";
  bool found = BuildUnpackCommand(work, archive, program, arguments, locator);
  if (c.expected.empty()) {
    EXPECT_FALSE(found);
    EXPECT_EQ(program, "untouched");
    EXPECT_FALSE(fs::exists(work)) << "nothing is created when no archiver is found";
    return;
  }
  ASSERT_TRUE(found);
  EXPECT_EQ(program, (tmp / c.expected).string());
}

INSTANTIATE_TEST_SUITE_P(
    Table, ArchiverChoice,
    ::testing::Values(
        ChoiceCase{"winrar_before_7zip",
                   {{"rar", "rar"}, {"7zip", "7z"}},
                   {{Archiver::kWinRar, "rar"}, {Archiver::kSevenZip, "7zip"}},
                   "rar/rar"},
        ChoiceCase{"haozip_before_7zip",
                   {{"hz", "HaoZipC"}, {"7zip", "7z"}},
                   {{Archiver::kHaoZip, "hz"}, {Archiver::kSevenZip, "7zip"}},
                   "hz/HaoZipC"},
        ChoiceCase{"haozip_program_missing",
                   {{"7zip", "7z"}},
                   {{Archiver::kHaoZip, "hz"}, {Archiver::kSevenZip, "7zip"}},
                   "7zip/7z"},
        ChoiceCase{"rar_before_unrar",
                   {{"rar", "unrar"}, {"rar", "rar"}},
                   {{Archiver::kWinRar, "rar"}},
                   "rar/rar"},
        ChoiceCase{"genuine_unrar", {{"rar", "unrar"}}, {{Archiver::kWinRar, "rar"}}, "rar/unrar"},
        ChoiceCase{"unrar_free_only",
                   {{"bin", "unrar", ProgramFile::kUnrarFreeLink}},
                   {{Archiver::kWinRar, "bin"}},
                   ""},
        ChoiceCase{"unrar_free_copy_then_7zz",
                   {{"bin", "unrar", ProgramFile::kUnrarFreeCopy}, {"bin", "7zz"}},
                   {{Archiver::kWinRar, "bin"}, {Archiver::kSevenZip, "bin"}},
                   "bin/7zz"},
        ChoiceCase{"7z_not_executable",
                   {{"7zip", "7z", ProgramFile::kNotExecutable}, {"7zip", "7zz"}},
                   {{Archiver::kSevenZip, "7zip"}},
                   "7zip/7zz"},
        ChoiceCase{
            "trailing_slash_folder", {{"7zip", "7z"}}, {{Archiver::kSevenZip, "7zip/"}}, "7zip/7z"},
        ChoiceCase{"none_installed", {{"7zip", "readme"}}, {{Archiver::kSevenZip, "7zip"}}, ""}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(UnpackCommand, ArgumentTextsAndHowTheySplit) {
  TempDir tmp;
  WriteText(tmp / "rar" / "rar", kGenuine, true);
  WriteText(tmp / "7zip" / "7zz", kGenuine, true);
  const std::string work = (tmp / "Tmp Tmp").string();
  const std::string archive = (tmp / "db base.rar").string();

  std::string program, arguments;
  ASSERT_TRUE(
      BuildUnpackCommand(work, archive, program, arguments,
                         FolderMapLocator({{Archiver::kSevenZip, (tmp / "7zip").string()}})));
  EXPECT_EQ(arguments, " x \"" + archive + "\" -aoa -y \"-o" + work + "\"");
  EXPECT_EQ(SplitCommandLine("\"" + program + "\" " + arguments),
            (std::vector<std::string>{program, "x", archive, "-aoa", "-y", "-o" + work}));
  EXPECT_FALSE(fs::exists(work));

  ASSERT_TRUE(BuildUnpackCommand(work, archive, program, arguments,
                                 FolderMapLocator({{Archiver::kWinRar, (tmp / "rar").string()}})));
  EXPECT_EQ(arguments, "x -o+ -y -IBCK \"" + archive + "\" *.* \"" + work + "\"");
  EXPECT_EQ(SplitCommandLine("\"" + program + "\" " + arguments),
            (std::vector<std::string>{program, "x", "-o+", "-y", "-IBCK", archive, "*.*", work}));
  EXPECT_TRUE(fs::is_directory(work)) << "RAR is given an existing folder";
}

TEST(UnpackCommand, RefusesPathsThatWouldSplitDifferently) {
  TempDir tmp;
  WriteText(tmp / "7zip" / "7z", kGenuine, true);
  FolderMapLocator locator({{Archiver::kSevenZip, (tmp / "7zip").string()}});
  const std::string work = (tmp / "TmpTmp").string();
  std::string program, arguments;
  for (const std::string& archive :
       {(tmp / "a\" -o/etc \"b.zip").string(), (tmp / "name\\").string(), std::string(),
        "/" + std::string(kMaxPathChars, 'a') + ".zip"}) {
    EXPECT_FALSE(BuildUnpackCommand(work, archive, program, arguments, locator)) << archive;
  }
  EXPECT_FALSE(
      BuildUnpackCommand(work + "\\", (tmp / "a.zip").string(), program, arguments, locator));
}

TEST(PathLocator, SearchesAbsoluteEntriesAndNeverTakesUnrarFree) {
  TempDir tmp;
  fs::path debian = tmp / "usr-bin", local = tmp / "local-bin";
  WriteText(debian / "unrar-free", "#!/bin/sh\n", true);
  fs::create_symlink(debian / "unrar-free", debian / "unrar");
  WriteText(debian / "7zz", kGenuine, true);
  WriteText(debian / "HaoZipC", kGenuine, true);

  PathArchiverLocator onlyFree("relative:" + debian.string() + "::");
  EXPECT_EQ(onlyFree.ArchiverFolder(Archiver::kWinRar), "");
  EXPECT_EQ(onlyFree.ArchiverFolder(Archiver::kHaoZip), "");
  EXPECT_EQ(onlyFree.ArchiverFolder(Archiver::kSevenZip), debian.string());

  WriteText(local / "rar", kGenuine, true);
  PathArchiverLocator both(debian.string() + ":" + local.string());
  EXPECT_EQ(both.ArchiverFolder(Archiver::kWinRar), local.string());

  // Relative entries would mean the current folder: never searched.
  fs::path cwd = fs::current_path();
  fs::current_path(local);
  EXPECT_EQ(PathArchiverLocator(".:").ArchiverFolder(Archiver::kWinRar), "");
  fs::current_path(cwd);
}

// ---- Command lines and running ------------------------------------------------------------

struct SplitCase {
  const char* line;
  std::vector<std::string> argv;
};

class CommandLineSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(CommandLineSplit, FollowsTheWindowsRules) {
  EXPECT_EQ(SplitCommandLine(GetParam().line), GetParam().argv) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLineSplit,
    ::testing::Values(
        SplitCase{R"("C:\a b\p.exe"  x "y z")", {R"(C:\a b\p.exe)", "x", "y z"}},
        SplitCase{R"("C:\dir\"  x)", {R"(C:\dir\)", "x"}},  // no escapes in the program
        SplitCase{R"(p\"x y)", {R"(p\"x)", "y"}},
        SplitCase{R"(p a\\b c\)", {"p", R"(a\\b)", R"(c\)"}},
        SplitCase{R"(p a\"b)", {"p", R"(a"b)"}}, SplitCase{R"(p a\\"b c")", {"p", R"(a\b c)"}},
        SplitCase{R"(p a\\\"b)", {"p", R"(a\"b)"}}, SplitCase{R"(p "a""b")", {"p", R"(a"b)"}},
        SplitCase{R"(p "a""b c")", {"p", R"(a"b)", "c"}}, SplitCase{R"(p """)", {"p", R"(")"}},
        SplitCase{R"(p "" x)", {"p", "", "x"}}, SplitCase{"p \t a\tb  ", {"p", "a", "b"}},
        SplitCase{R"("p")", {"p"}}, SplitCase{"", {""}}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

// A script that writes its arguments after the first, one a line, to the first.
fs::path WriteArgsScript(const TempDir& tmp) {
  fs::path script = tmp / "args.sh";
  WriteText(
      script,
      "#!/bin/sh\nout=$1; shift\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$out\"\n",
      true);
  return script;
}

TEST(RunHidden, PassesTheSplitArgvWithoutAShell) {
  TempDir tmp;
  fs::path script = WriteArgsScript(tmp);
  fs::path out = tmp / "out";
  std::optional<int> code = RunHidden(
      script.string(), " \"" + out.string() + "\" \"a b\" $HOME;touch\\ x `id` c\\\"d \"*\"");
  ASSERT_EQ(code, 0);
  EXPECT_EQ(ReadFileBytes(out), Bytes("a b\n$HOME;touch\\\nx\n`id`\nc\"d\n*\n"));
  EXPECT_FALSE(fs::exists(fs::current_path() / "x"));
}

TEST(RunHidden, ReportsExitCodeAndWhetherItStarted) {
  TempDir tmp;
  fs::path script = tmp / "seven.sh";
  WriteText(script, "#!/bin/sh\nexit 7\n", true);
  EXPECT_EQ(RunHidden(script.string(), ""), 7);
  EXPECT_EQ(RunHidden((tmp / "missing").string(), " x"), std::nullopt);
  EXPECT_EQ(RunHidden("", ""), std::nullopt);
}

// Replaces this process's standard input for the lifetime of the object.
class StdinFromPipe {
 public:
  explicit StdinFromPipe(std::string_view data) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    EXPECT_EQ(::write(fds[1], data.data(), data.size()), static_cast<ssize_t>(data.size()));
    ::close(fds[1]);
    m_saved = ::dup(0);
    ::dup2(fds[0], 0);
    ::close(fds[0]);
  }
  ~StdinFromPipe() {
    ::dup2(m_saved, 0);
    ::close(m_saved);
  }

 private:
  int m_saved = -1;
};

TEST(RunHidden, ArchiverReadsNoInputAndInheritsNoDescriptor) {
  TempDir tmp;
  fs::path script = tmp / "probe.sh";
  // 10: a line could be read (a prompt would have had an answer, or would wait);
  // 11: descriptor $1 was inherited.
  WriteText(script,
            "#!/bin/sh\nif read line; then exit 10; fi\nif [ -e /proc/self/fd/$1 ]; then exit "
            "11; fi\nexit 0\n",
            true);
  int leaked = ::open(tmp.Path().c_str(), O_RDONLY);  // no close-on-exec
  ASSERT_GE(leaked, 3);
  StdinFromPipe input("yes\n");
  EXPECT_EQ(RunHidden(script.string(), " " + std::to_string(leaked)), 0);
  ::close(leaked);
}

// ---- Search and removal ---------------------------------------------------------------------

bool IsDqx(const std::string& path, bool isDirectory) {
  return !isDirectory && path.ends_with(".dqx");
}

TEST(FindFiles, ListsOneLevelOrTheWholeTree) {
  TempDir tmp;
  WriteText(tmp / "a.txt", "a");
  WriteText(tmp / "sub" / "b.txt", "b");
  WriteText(tmp / "sub" / "deeper" / "c.txt", "c");

  std::vector<std::pair<std::string, bool>> seen;
  auto record = [&](const std::string& p, bool d) {
    seen.emplace_back(p, d);
    return false;
  };
  FindFilesResult flat = FindFiles(tmp.Path().string() + "/", record, false);
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(flat.count, 2);
  EXPECT_EQ(seen, (std::vector<std::pair<std::string, bool>>{{(tmp / "a.txt").string(), false},
                                                             {(tmp / "sub").string(), true}}));

  seen.clear();
  FindFilesResult tree = FindFiles(tmp.Path().string(), record, true);
  EXPECT_EQ(tree.count, 3);
  EXPECT_EQ(tree.found, "");
  EXPECT_EQ(seen.size(), 3u);
  EXPECT_TRUE(std::none_of(seen.begin(), seen.end(), [](const auto& e) { return e.second; }));

  EXPECT_EQ(FindFiles((tmp / "missing").string(), record, true).count, -1);
  EXPECT_EQ(FindFiles((tmp / "a.txt").string(), record, true).count, -1);
  fs::create_directory(tmp / "empty");
  FindFilesResult empty = FindFiles((tmp / "empty").string(), record, true);
  EXPECT_EQ(empty.count, 0);
  EXPECT_EQ(empty.found, "");
}

TEST(FindFiles, NeverFollowsLinksNorOffersSpecialFiles) {
  TempDir tmp;
  fs::path outside = tmp / "outside", work = tmp / "work";
  WriteText(outside / "secret.dqx", "outside");
  fs::create_directories(work / "sub");
  fs::create_directory_symlink(outside, work / "sub" / "escape");
  fs::create_symlink(outside / "secret.dqx", work / "direct.dqx");
  ASSERT_EQ(::mkfifo((work / "pipe.dqx").c_str(), 0600), 0);
  WriteText(work / "notes.txt", "n");

  int offered = 0;
  FindFilesResult r = FindFiles(
      work.string(),
      [&](const std::string& p, bool d) {
        ++offered;
        return IsDqx(p, d);
      },
      true);
  EXPECT_EQ(r.found, "");
  EXPECT_EQ(r.count, 1);  // notes.txt only
  EXPECT_EQ(offered, 1);
  EXPECT_EQ(FindPackage(work.string()), "");
}

TEST(FindFiles, PathsOverTheLimitAreRefusedNotCut) {
  TempDir tmp;
  fs::path deep = LongFolder(tmp / "work", kMaxPathChars - 20);
  // One character over the limit: refused, although cut to the limit it would still
  // be a name ending in ".dq".
  const fs::path over = deep / (std::string(16, 'p') + ".dqx");
  ASSERT_EQ(over.string().size(), kMaxPathChars + 1);
  WriteText(over, "over");
  EXPECT_EQ(FindPackage((tmp / "work").string()), "");

  const fs::path fits = deep / (std::string(15, 'p') + ".dqx");
  WriteText(fits, "fits");
  EXPECT_EQ(FindPackage((tmp / "work").string()), fits.string());

  fs::path tooLong = LongFolder(tmp / "long", kMaxPathChars + 1);
  WriteText(tooLong / "x.dqx", "x");
  EXPECT_EQ(FindFiles(tooLong.string(), IsDqx, true).count, -1);
}

TEST(FindFiles, TheFirstMatchEndsTheSearch) {
  TempDir tmp;
  WriteText(tmp / "one.dqx", "1");
  WriteText(tmp / "sub" / "two.dqx", "2");
  WriteText(tmp / "three.dqx", "3");
  int calls = 0;
  FindFilesResult r = FindFiles(
      tmp.Path().string(),
      [&](const std::string& p, bool d) {
        ++calls;
        return IsDqx(p, d);
      },
      true);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(r.count, 1);
  // The search goes in the file system's order, depth first, as the library's walk.
  std::string first;
  for (const auto& e : fs::recursive_directory_iterator(tmp.Path())) {
    if (e.is_regular_file()) {
      first = e.path().string();
      break;
    }
  }
  EXPECT_EQ(r.found, first);
}

TEST(DeleteFolder, RemovesTheTreeButNothingALinkPointsAt) {
  TempDir tmp;
  fs::path outside = tmp / "outside", work = tmp / "work";
  WriteText(outside / "keep.txt", "keep");
  WriteText(work / "a.txt", "a");
  WriteText(work / "sub" / "b.dqx", "b");
  WriteText(work / "sub" / "deeper" / "c.txt", "c");
  fs::create_directory_symlink(outside, work / "sub" / "escape");
  fs::create_symlink(outside / "keep.txt", work / "file-link");
  ASSERT_EQ(::mkfifo((work / "pipe").c_str(), 0600), 0);
  fs::path deep = LongFolder(work / "long", kMaxPathChars + 100);
  WriteText(deep / "x", "x");

  DeleteFolder(work.string() + "/");
  EXPECT_FALSE(fs::exists(fs::symlink_status(work)));
  EXPECT_EQ(ReadFileBytes(outside / "keep.txt"), Bytes("keep"));
  EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1);

  DeleteFolder((tmp / "missing").string());  // nothing there: nothing happens
}

TEST(DeleteFolder, AFolderThatIsALinkLosesOnlyTheLink) {
  TempDir tmp;
  WriteText(tmp / "real" / "keep.txt", "keep");
  fs::create_directory_symlink(tmp / "real", tmp / "TmpTmp");
  DeleteFolder((tmp / "TmpTmp").string());
  EXPECT_FALSE(fs::exists(fs::symlink_status(tmp / "TmpTmp")));
  EXPECT_EQ(ReadFileBytes(tmp / "real" / "keep.txt"), Bytes("keep"));
}

TEST(DeleteFolder, RefusesAFolderPathOverTheLimit) {
  TempDir tmp;
  fs::path tooLong = LongFolder(tmp.Path(), kMaxPathChars + 1);
  WriteText(tooLong / "x", "x");
  DeleteFolder(tooLong.string());
  EXPECT_TRUE(fs::exists(tooLong / "x"));
}

// ---- With the real 7-Zip ------------------------------------------------------------------

class SevenZip : public ::testing::Test {
 protected:
  void SetUp() override {
    m_folder = PathArchiverLocator().ArchiverFolder(Archiver::kSevenZip);
    if (m_folder.empty())
      GTEST_SKIP() << "7-Zip (7z or 7zz) is not on PATH";
    for (std::string_view name : ArchiverPrograms(Archiver::kSevenZip)) {
      if (IsUsableArchiverProgram(Archiver::kSevenZip, m_folder + "/" + std::string(name))) {
        m_program = m_folder + "/" + std::string(name);
        break;
      }
    }
    ASSERT_FALSE(m_program.empty());
  }

  // Packs everything in `source` (links kept as links) into `archive`.
  void Pack(const fs::path& source, const fs::path& archive) {
    testing::ProcessResult r =
        testing::RunProcess(m_program, {"a", "-snl", archive.string(), source.string() + "/."});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  }

  // What the update worker does: choose the archiver, run it, search the work folder.
  std::string Unpack(const fs::path& archive, const fs::path& work) {
    std::string program, arguments;
    FolderMapLocator locator({{Archiver::kSevenZip, m_folder}});
    EXPECT_TRUE(BuildUnpackCommand(work.string(), archive.string(), program, arguments, locator));
    EXPECT_TRUE(RunHidden(program, arguments).has_value());
    return FindPackage(work.string());
  }

  std::string m_folder, m_program;
  TempDir m_tmp;
};

TEST_F(SevenZip, FindsThePackageInASubfolderOfAZipAndA7z) {
  WriteText(m_tmp / "src" / "readme.txt", "r");
  WriteText(m_tmp / "src" / "db" / "2024" / "SableHarbor.DQX", "package bytes");
  for (const char* name : {"db.zip", "db.7z"}) {
    SCOPED_TRACE(name);
    fs::path archive = m_tmp / name, work = m_tmp / "TmpTmp";
    Pack(m_tmp / "src", archive);
    std::string found = Unpack(archive, work);
    EXPECT_EQ(found, (work / "db" / "2024" / "SableHarbor.DQX").string());
    EXPECT_EQ(ReadFileBytes(found), Bytes("package bytes"));
    DeleteFolder(work.string());
    EXPECT_FALSE(fs::exists(work));
  }
}

TEST_F(SevenZip, TwoPackagesGiveTheFirstTheSearchMeetsAndNoneGivesNothing) {
  WriteText(m_tmp / "two" / "a" / "first.dqx", "1");
  WriteText(m_tmp / "two" / "b" / "second.dqx", "2");
  Pack(m_tmp / "two", m_tmp / "two.zip");
  fs::path work = m_tmp / "TmpTmp";
  std::string found = Unpack(m_tmp / "two.zip", work);
  std::string first;
  for (const auto& e : fs::recursive_directory_iterator(work)) {
    if (e.is_regular_file() && e.path().extension() == ".dqx") {
      first = e.path().string();
      break;
    }
  }
  EXPECT_FALSE(found.empty());
  EXPECT_EQ(found, first);
  DeleteFolder(work.string());

  WriteText(m_tmp / "none" / "readme.txt", "no package here");
  Pack(m_tmp / "none", m_tmp / "none.7z");
  EXPECT_EQ(Unpack(m_tmp / "none.7z", work), "");
  EXPECT_EQ(FindFiles(work.string(), IsDqx, true).count, 1);
  DeleteFolder(work.string());
  EXPECT_FALSE(fs::exists(work));
}

TEST_F(SevenZip, ALinkOutOfTheWorkFolderReachesNothingOutside) {
  fs::path outside = m_tmp / "outside";
  WriteText(outside / "foreign.dqx", "foreign");
  WriteText(m_tmp / "src" / "readme.txt", "r");
  fs::create_directory_symlink("../outside", m_tmp / "src" / "escape");
  fs::create_directory_symlink(outside, m_tmp / "src" / "absolute");
  Pack(m_tmp / "src", m_tmp / "links.7z");

  // Work and outside are siblings, so the relative link would point at `outside`.
  fs::path work = m_tmp / "TmpTmp";
  EXPECT_EQ(Unpack(m_tmp / "links.7z", work), "");
  // An archiver that restores such links as they are must not help either.
  fs::create_directory_symlink(outside, work / "planted");
  fs::create_symlink(outside / "foreign.dqx", work / "planted.dqx");
  EXPECT_EQ(FindPackage(work.string()), "");

  DeleteFolder(work.string());
  EXPECT_FALSE(fs::exists(fs::symlink_status(work)));
  EXPECT_EQ(ReadFileBytes(outside / "foreign.dqx"), Bytes("foreign"));
  EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1);
}

TEST_F(SevenZip, AnEncryptedArchiveEndsWithoutAPackageInsteadOfPrompting) {
  WriteText(m_tmp / "src" / "db.dqx", "secret");
  testing::ProcessResult r = testing::RunProcess(
      m_program,
      {"a", "-pSECRET", "-mhe=on", (m_tmp / "enc.7z").string(), (m_tmp / "src").string() + "/."});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  StdinFromPipe input("SECRET\n");  // would be the answer, if the prompt could read it
  fs::path work = m_tmp / "TmpTmp";
  EXPECT_EQ(Unpack(m_tmp / "enc.7z", work), "");
}

}  // namespace
}  // namespace tessaly
