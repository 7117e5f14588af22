#include "download/version_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "download/download_codes.h"
#include "download/unpack.h"
#include "recording_bar.h"
#include "support/test_support.h"

namespace tessaly {
namespace {

using testing::RecordingBar;

std::vector<uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

struct ListCase {
  const char* what;
  std::string file;
  bool ok;
  int32_t version;
  std::string url;
  std::string label;
};

class VersionListParse : public ::testing::TestWithParam<ListCase> {};

TEST_P(VersionListParse, GivesVersionUrlAndLabel) {
  const ListCase& c = GetParam();
  VersionList list = ParseVersionList(Bytes(c.file));
  EXPECT_EQ(list.ok, c.ok);
  EXPECT_EQ(list.onlineVersion, c.version);
  EXPECT_EQ(list.label, c.label);
  if (c.ok) {
    EXPECT_EQ(list.databaseUrl, c.url);
  }
}

const std::string kFailed(kLabelAccessFailed);
const std::string kShown(kLabelInternetVersion);
const std::string k258(258, '7');

INSTANTIATE_TEST_SUITE_P(
    Table, VersionListParse,
    ::testing::Values(
        ListCase{"crlf", "20240315\r\nhttp://h/db/SH_20240315.rar\r\n", true, 20240315,
                 "http://h/db/SH_20240315.rar", kShown + "20240315\n"},
        ListCase{"lf_and_more_lines", "20240101 new\nhttp://h/a.zip\nignored\n", true, 20240101,
                 "http://h/a.zip", kShown + "20240101 new\n"},
        ListCase{"url_without_line_end", "20240101\nhttp://h/a.7z", true, 20240101, "http://h/a.7z",
                 kShown + "20240101\n"},
        ListCase{"lone_cr_ends_nothing", "2024\r0101\nhttp://h/a.zip\r", true, 2024,
                 "http://h/a.zip", kShown + "2024\r0101\n"},
        ListCase{"no_digits", "new database\nhttp://h/a.zip\n", true, 0, "http://h/a.zip",
                 kShown + "new database\n"},
        ListCase{"blanks_and_sign", "  -12x\nu\n", true, -12, "u", kShown + "  -12x\n"},
        ListCase{"held_to_32_bits", "99999999999999\nu\n", true, INT32_MAX, "u",
                 kShown + "99999999999999\n"},
        ListCase{"latin1_byte", "2024 \xE9t\xE9\nhttp://h/\xE9.zip\n", true, 2024,
                 "http://h/\xC3\xA9.zip", kShown + "2024 \xC3\xA9t\xC3\xA9\n"},
        ListCase{"line_of_258_and_lf", k258 + "\nu\n", true, INT32_MAX, "u", kShown + k258 + "\n"},
        ListCase{"line_of_259_and_lf", k258 + "7\nu\n", false, -1, "", kFailed},
        ListCase{"url_of_259_at_end", "1\n" + std::string(259, 'u'), true, 1, std::string(259, 'u'),
                 kShown + "1\n"},
        ListCase{"url_over_the_limit", "1\n" + std::string(259, 'u') + "x\n", false, -1, "",
                 kFailed},
        ListCase{"one_line", "20240101\r\n", false, -1, "", kFailed},
        ListCase{"empty_file", "", false, -1, "", kFailed},
        ListCase{"empty_second_line", "20240101\n\r\n", false, -1, "", kFailed},
        ListCase{"nul_ends_a_line", std::string("2024\0junk\n\0http://h/a.zip\n", 25), false, -1,
                 "", kFailed}),
    [](const auto& info) { return std::string(info.param.what); });

// ---- Start and completion -------------------------------------------------------------------

TEST(VersionCheck, StartSucceedingOrFailing) {
  DownloadWindowState s;
  DownloadWindowEffects e = OnVersionCheckStarting(s);
  EXPECT_EQ(e.label, std::string(kLabelSearchingVersion));
  EXPECT_TRUE(s.m_bFetchingVersionList);

  e = OnVersionCheckStarted(s, "");
  EXPECT_EQ(s.m_nOnlineVersion, 0);
  EXPECT_EQ(e.enableOpen, false);
  EXPECT_FALSE(e.label.has_value());

  e = OnVersionCheckStarted(s, "Failed to parse the URL: x\n");
  EXPECT_EQ(e.label, std::string(kLabelChooseOrConnect));
  EXPECT_FALSE(s.m_bFetchingVersionList);
  EXPECT_EQ(s.m_nOnlineVersion, -1);
  EXPECT_FALSE(e.enableOpen.has_value());  // Open stays as it was: enabled
}

DownloadWindowState Fetching(bool deviceReady) {
  DownloadWindowState s;
  s.m_bFetchingVersionList = true;
  s.m_nOnlineVersion = 0;
  s.m_bDeviceReady = deviceReady;
  s.m_strDatabaseUrl = "http://old/db.rar";
  return s;
}

VersionListReader Gives(std::optional<std::string> file) {
  return [file] { return file ? std::optional<std::vector<uint8_t>>(Bytes(*file)) : std::nullopt; };
}

TEST(DownloadFinished, VersionListArrived) {
  RecordingBar bar;
  DownloadWindowState s = Fetching(true);
  DownloadWindowEffects e =
      OnDownloadFinished(s, bar, DL_OK, Gives("20240315\r\nhttp://h/SH.rar\r\n"));
  EXPECT_FALSE(s.m_bFetchingVersionList);
  EXPECT_EQ(s.m_nOnlineVersion, 20240315);
  EXPECT_EQ(s.m_strDatabaseUrl, "http://h/SH.rar");
  EXPECT_EQ(e.label, std::string(kLabelInternetVersion) + "20240315\n");
  EXPECT_EQ(e.enableOpen, true);
  EXPECT_EQ(e.enableUpdate, true);
  EXPECT_EQ(bar.textSets, 0);

  DownloadWindowState notReady = Fetching(false);
  e = OnDownloadFinished(notReady, bar, DL_OK, Gives("1\nu\n"));
  EXPECT_FALSE(e.enableUpdate.has_value());
}

TEST(DownloadFinished, VersionListFailuresKeepTheOldUrl) {
  struct Row {
    uint32_t code;
    std::optional<std::string> file;
    std::optional<std::string> label;
  };
  const std::string failed(kLabelAccessFailed);
  for (const Row& row : {Row{DL_OK, std::nullopt, failed}, Row{DL_OK, "20240101\n", failed},
                         Row{DL_ERR_STATUS, "1\nu\n", failed}, Row{DL_ERR_CONNECT, "", failed},
                         Row{DL_ABORTED, "1\nu\n", std::nullopt}}) {
    SCOPED_TRACE(row.code);
    RecordingBar bar;
    DownloadWindowState s = Fetching(true);
    bool read = false;
    DownloadWindowEffects e = OnDownloadFinished(s, bar, row.code, [&] {
      read = true;
      return Gives(row.file)();
    });
    EXPECT_EQ(read, row.code == DL_OK);
    EXPECT_FALSE(s.m_bFetchingVersionList);
    EXPECT_EQ(s.m_nOnlineVersion, -1);
    EXPECT_EQ(s.m_strDatabaseUrl, "http://old/db.rar");
    EXPECT_EQ(e.label, row.label);
    EXPECT_EQ(e.enableOpen, true);
    EXPECT_FALSE(e.enableUpdate.has_value());
    EXPECT_TRUE(s.m_strDownloadError.empty());
  }
}

TEST(DownloadFinished, ArchiveDownload) {
  for (uint32_t code : {DL_ERR_SESSION, DL_ERR_READ, DL_ERR_STATUS}) {
    RecordingBar bar;
    DownloadWindowState s;
    s.m_nOnlineVersion = 20240101;
    DownloadWindowEffects e = OnDownloadFinished(s, bar, code, Gives(std::nullopt));
    EXPECT_EQ(s.m_strDownloadError, std::string(kMsgDownloadFailed));
    EXPECT_EQ(bar.text, std::string(kMsgDownloadFailed));
    EXPECT_FALSE(e.label.has_value());
    EXPECT_EQ(s.m_nOnlineVersion, 20240101);
  }

  RecordingBar bar;
  DownloadWindowState s;
  s.m_nDownloadSize = 1024000;
  OnDownloadFinished(s, bar, DL_OK, Gives(std::nullopt));
  EXPECT_EQ(bar.position, 1024000u);
  EXPECT_EQ(bar.text, "Updated percent100.00% Speed0.00Kb/s  Remaining time0Second");
  EXPECT_TRUE(s.m_strDownloadError.empty());

  // An aborted archive download leaves no error: the worker goes on with the file.
  RecordingBar aborted;
  DownloadWindowState a;
  DownloadWindowEffects e = OnDownloadFinished(a, aborted, DL_ABORTED, Gives(std::nullopt));
  EXPECT_TRUE(a.m_strDownloadError.empty());
  EXPECT_EQ(aborted.textSets, 0);
  EXPECT_EQ(e.enableOpen, true);
}

TEST(DownloadFinished, ReadsAndRemovesTheListFile) {
  testing::TempDir tmp;
  ScopedAppFolder folder(tmp.Path().string());
  const std::string path = AppFilePath(std::string(kVersionListFileName));
  testing::WriteFileBytes(path, Bytes("20240315\nhttp://h/SH.zip\n"));
  RecordingBar bar;
  DownloadWindowState s = Fetching(true);
  OnDownloadFinished(s, bar, DL_OK);
  EXPECT_EQ(s.m_nOnlineVersion, 20240315);
  EXPECT_FALSE(std::filesystem::exists(path));

  // A one-line list fails, and its file is gone as well.
  testing::WriteFileBytes(path, Bytes("20240315\n"));
  s = Fetching(true);
  EXPECT_EQ(OnDownloadFinished(s, bar, DL_OK).label, std::string(kLabelAccessFailed));
  EXPECT_FALSE(std::filesystem::exists(path));

  // A folder under the name cannot be opened as the list.
  std::filesystem::create_directory(path);
  EXPECT_EQ(ReadAndRemoveVersionList(path), std::nullopt);
  EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST(NewestVersionRule, AskedOnlyWhenBothKnownAndDeviceNotOlder) {
  EXPECT_TRUE(DeviceHasNewestVersion(20240315, 20240315));
  EXPECT_TRUE(DeviceHasNewestVersion(20240315, 20240316));
  EXPECT_FALSE(DeviceHasNewestVersion(20240315, 20240314));
  EXPECT_FALSE(DeviceHasNewestVersion(0, 20240315));
  EXPECT_FALSE(DeviceHasNewestVersion(-1, 20240315));
  EXPECT_FALSE(DeviceHasNewestVersion(20240315, 0));
}

}  // namespace
}  // namespace tessaly
