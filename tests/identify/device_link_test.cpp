#include "identify/device_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "block_helpers.h"
#include "common/bytes.h"
#include "download/version_source.h"
#include "identify/info_blocks.h"
#include "identify/link_texts.h"
#include "sim/virtual_detector.h"
#include "support/test_support.h"

namespace tessaly {
namespace {

using sim::FaultKind;
using sim::Profile;
using testing::AsText;
using testing::MakeBlock;

const std::string kNoHardware = std::string(kTitleProgram) + std::string(kTitleNoHardware);
const std::string kConnecting = std::string(kTitleProgram) + std::string(kTitleConnecting);
const std::string kConnectedV =
    std::string(kTitleProgram) + std::string(kTitleConnected) + std::string(kTitleVersion);
constexpr int kSimDbVersion = 20261120;  // the virtual detector's default date code

class RecordingView : public ILinkView {
 public:
  void SetTitle(const std::string& text) override { titles.push_back(text); }
  void EnableSetting(bool enable) override { settingCalls.push_back(enable); }
  void EnableUpdate(bool enable) override { updateCalls.push_back(enable); }
  void SetTimer(int id, int delayMs) override { timersArmed.push_back({id, delayMs}); }
  void KillTimer(int id) override { timersKilled.push_back(id); }
  std::string FileLabelText() override { return fileLabel; }
  void RefreshControls() override { ++refreshes; }
  void BeginVersionCheck(const std::string& url) override { versionChecks.push_back(url); }
  IMessageSink* MessageSink() override { return &sink; }

  std::string LastTitle() const { return titles.empty() ? "" : titles.back(); }
  std::optional<bool> LastSetting() const {
    return settingCalls.empty() ? std::nullopt : std::optional(settingCalls.back());
  }
  std::optional<bool> LastUpdate() const {
    return updateCalls.empty() ? std::nullopt : std::optional(updateCalls.back());
  }

  std::vector<std::string> titles;
  std::vector<bool> settingCalls;
  std::vector<bool> updateCalls;
  std::vector<std::pair<int, int>> timersArmed;
  std::vector<int> timersKilled;
  std::string fileLabel;
  int refreshes = 0;
  std::vector<std::string> versionChecks;
  testing::RecordingSink sink;
};

// One virtual detector on a virtual platform, a window's worth of state and a link.
class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override { Use(Profile::kLayout3); }

  void Use(std::optional<Profile> profile, const ConfiguredBrand& brand = configuredBrand()) {
    m_link.reset();
    m_cmd.reset();
    m_platform = std::make_unique<sim::VirtualHidPlatform>();
    m_detector.reset();
    if (profile) {
      m_detector = std::make_shared<sim::VirtualDetector>(*profile);
      m_platform->AddDetector(m_detector);
    }
    m_cmd = std::make_unique<CHidCmd>(*m_platform);
    m_state = DeviceState{};
    m_view = std::make_unique<RecordingView>();
    m_link = std::make_unique<CDeviceLink>(*m_cmd, m_state, m_fields, *m_view, brand);
  }

  // The hot-plug notice that takes the device: the probe is armed, not run.
  void Connect() {
    ASSERT_EQ(m_link->OnDeviceChange(DBT_DEVNODES_CHANGED, 0), 0);
    ASSERT_EQ(m_cmd->m_bLinkOpen, 1);
    ASSERT_EQ(m_view->LastTitle(), kConnecting);
    ASSERT_EQ(m_view->timersArmed.size(), 1u);
  }

  Block DevicePage(int selector, uint32_t page) {
    std::array<uint8_t, sim::kSimPageBytes> out{};
    EXPECT_TRUE(m_detector->ReadPage(selector, page, out));
    Block block;
    std::copy(out.begin(), out.end(), block.begin());
    return block;
  }

  void ExpectDropped() {
    EXPECT_EQ(m_view->LastTitle(), kNoHardware);
    EXPECT_EQ(m_cmd->m_bLinkOpen, 0);
    EXPECT_EQ(m_view->LastSetting(), false);
    EXPECT_EQ(m_view->LastUpdate(), false);
    EXPECT_EQ(m_state.m_identity, Block{});
    EXPECT_EQ(m_state.m_params, Block{});
    EXPECT_EQ(m_state.m_nDeviceDbVersion, -1);
    EXPECT_EQ(m_state.m_bDeviceReady, 0);
  }

  std::unique_ptr<sim::VirtualHidPlatform> m_platform;
  std::shared_ptr<sim::VirtualDetector> m_detector;
  std::unique_ptr<CHidCmd> m_cmd;
  DeviceState m_state;
  VersionSourceFields m_fields;
  std::unique_ptr<RecordingView> m_view;
  std::unique_ptr<CDeviceLink> m_link;
};

TEST_F(LinkTest, NoDeviceShowsNoHardwareAndClearsFields) {
  Use(std::nullopt);
  m_state.m_identity = MakeBlock("stale", 0xAA);
  m_state.m_bDeviceReady = 1;
  m_link->OnDeviceChange(DBT_DEVNODES_CHANGED, 0);
  EXPECT_TRUE(m_view->titles.empty());  // nothing taken, nothing shown
  m_link->ShowLinkState();
  ExpectDropped();
  EXPECT_TRUE(m_view->timersArmed.empty());
}

struct LayoutProbeCase {
  Profile profile;
  int layout;
  int revision;
  const char* modelTag;
};

class LinkLayoutTest : public LinkTest, public ::testing::WithParamInterface<LayoutProbeCase> {};

TEST_P(LinkLayoutTest, ProbeIdentifiesDevice) {
  const LayoutProbeCase& c = GetParam();
  Use(c.profile);
  Connect();
  EXPECT_EQ(m_view->timersArmed.front(), std::make_pair(TIMER_PROBE, kProbeDelayMs));
  EXPECT_EQ(m_cmd->m_hNotifyWnd, &m_view->sink);
  EXPECT_EQ(m_state.m_bDeviceReady, 0);  // armed, not probed yet

  const ProbeOutcome outcome = m_link->ProbeDevice();
  EXPECT_EQ(outcome.result, ProbeResult::kReady);
  EXPECT_FALSE(outcome.identityRewritten);
  EXPECT_EQ(m_view->timersKilled, std::vector<int>{TIMER_PROBE});
  EXPECT_EQ(m_state.m_nFirmwareRevision, static_cast<int>(sim::kDefaultFirmware));
  EXPECT_EQ(m_state.m_paramLayout, c.layout);
  EXPECT_EQ(m_state.m_paramRevision, c.revision);
  const ModelTag tag = ParamModelTag(m_state.m_params, c.layout);
  EXPECT_EQ(std::string(tag.begin(), tag.end()), c.modelTag);

  Block expected;
  const auto profileBlock = sim::ProfileParameterBlock(c.profile);
  std::copy(profileBlock.begin(), profileBlock.end(), expected.begin());
  const Block onDevice = DevicePage(0, sim::kParameterPage);
  EXPECT_EQ(onDevice, expected);  // the probe never changes the device's block
  if (c.layout == 1)
    std::fill_n(expected.begin() + 4, 8, uint8_t{0});
  EXPECT_EQ(m_state.m_params, expected);

  EXPECT_EQ(m_state.m_nDeviceDbVersion, kSimDbVersion);
  EXPECT_EQ(m_view->LastTitle(), kConnectedV + std::to_string(kSimDbVersion));
  EXPECT_EQ(m_state.m_bDeviceReady, 1);
  EXPECT_EQ(m_view->LastSetting(), true);
  EXPECT_TRUE(m_view->updateCalls.empty());  // no package known: left as it was
  EXPECT_GT(m_view->sink.CountOf(WM_HID_READ_PROGRESS), 0u);
}

INSTANTIATE_TEST_SUITE_P(Profiles, LinkLayoutTest,
                         ::testing::Values(LayoutProbeCase{Profile::kLayout3, 3, 3, "SH01"},
                                           LayoutProbeCase{Profile::kLayout2, 2, 5, "SH02"},
                                           LayoutProbeCase{Profile::kLayout2V73, 2, 5, "V73 "},
                                           LayoutProbeCase{Profile::kLayout1, 1, 5, "SH00"}),
                         [](const auto& info) {
                           std::string name(sim::ProfileName(info.param.profile));
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

TEST_F(LinkTest, UnreadableParameterBlockDropsDevice) {
  Connect();
  // Reads: 1 firmware answer, then the parameter page's data reports.
  m_detector->AddFault({FaultKind::kReadFail, 3});
  m_state.m_identity = MakeBlock("stale", 0xAA);
  EXPECT_EQ(m_link->ProbeDevice().result, ProbeResult::kParamsUnreadable);
  ExpectDropped();
  EXPECT_EQ(m_detector->Counters().CommandsSeen(CMD_READ_PAGE), 1u);  // nothing after it
}

struct FirmwareFaultCase {
  FaultKind kind;
  int firmware;
};

class LinkFirmwareTest : public LinkTest,
                         public ::testing::WithParamInterface<FirmwareFaultCase> {};

TEST_P(LinkFirmwareTest, FailedQueryIsRecordedAndProbeGoesOn) {
  Connect();
  m_detector->AddFault({GetParam().kind, 1});
  EXPECT_EQ(m_link->ProbeDevice().result, ProbeResult::kReady);
  EXPECT_EQ(m_state.m_nFirmwareRevision, GetParam().firmware);
  EXPECT_EQ(m_state.m_paramLayout, 3);
  EXPECT_EQ(m_view->LastTitle(), kConnectedV + std::to_string(kSimDbVersion));
}

INSTANTIATE_TEST_SUITE_P(Faults, LinkFirmwareTest,
                         ::testing::Values(FirmwareFaultCase{FaultKind::kWriteFail, -1},
                                           FirmwareFaultCase{FaultKind::kBadStatus, -2},
                                           FirmwareFaultCase{FaultKind::kBadChecksum, -2}),
                         [](const auto& info) {
                           std::string name = sim::FormatFault({info.param.kind, 1});
                           std::replace_if(
                               name.begin(), name.end(), [](char ch) { return !std::isalnum(ch); },
                               '_');
                           return name;
                         });

TEST_F(LinkTest, UnreadableDatePageLeavesVersionEmpty) {
  Connect();
  // Answers: firmware, parameter page, identity page, date page.
  m_detector->AddFault({FaultKind::kBadStatus, 4});
  EXPECT_EQ(m_link->ProbeDevice().result, ProbeResult::kReady);
  EXPECT_EQ(m_view->LastTitle(), kConnectedV);
  EXPECT_EQ(m_state.m_nDeviceDbVersion, 0);
  EXPECT_EQ(m_state.m_bDeviceReady, 1);
}

TEST_F(LinkTest, DateCodeZeroGivesFirstOf1970) {
  StoreU32LE(m_detector->Memory(1).data() + sim::kDatabaseDatePage * sim::kSimPageBytes, 0);
  Connect();
  m_link->ProbeDevice();
  EXPECT_EQ(m_view->LastTitle(), kConnectedV + "19700101");
  EXPECT_EQ(m_state.m_nDeviceDbVersion, 19700101);
}

TEST_F(LinkTest, RepeatedDeviceChangesWhilePresentDoNotProbeAgain) {
  Connect();
  m_link->OnDeviceChange(DBT_DEVNODES_CHANGED, 0);
  m_link->OnDeviceChange(DBT_DEVNODES_CHANGED, 0);
  EXPECT_EQ(m_view->timersArmed.size(), 1u);
  EXPECT_EQ(m_view->titles.size(), 1u);

  m_link->ProbeDevice();
  m_link->OnDeviceChange(DBT_DEVNODES_CHANGED, 0);
  m_link->OnDeviceChange(DBT_DEVNODES_CHANGED, 0);
  EXPECT_EQ(m_view->timersArmed.size(), 1u);
  EXPECT_EQ(m_view->LastTitle(), kConnectedV + std::to_string(kSimDbVersion));
  EXPECT_EQ(m_state.m_bDeviceReady, 1);
}

TEST_F(LinkTest, RemovalWhileConnectingDropsAndLateProbeDropsAgain) {
  Connect();
  m_detector->Unplug();
  m_link->OnDeviceChange(DBT_DEVNODES_CHANGED, 0);
  ExpectDropped();
  const size_t titles = m_view->titles.size();
  EXPECT_EQ(m_link->ProbeDevice().result, ProbeResult::kParamsUnreadable);
  ExpectDropped();
  EXPECT_EQ(m_view->titles.size(), titles + 1);
}

TEST_F(LinkTest, InterfaceEvents) {
  Connect();
  m_link->OnDeviceChange(DBT_DEVICEARRIVAL, 0);
  m_link->OnDeviceChange(DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE);
  EXPECT_EQ(m_view->refreshes, 1);
  EXPECT_EQ(m_cmd->m_bLinkOpen, 1);

  m_link->OnDeviceChange(DBT_DEVICEREMOVECOMPLETE, 0);  // not an interface: ignored
  m_link->OnDeviceChange(0x1234, DBT_DEVTYP_DEVICEINTERFACE);
  EXPECT_EQ(m_cmd->m_bLinkOpen, 1);
  m_link->OnDeviceChange(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE);
  ExpectDropped();

  // With nothing taken a removal notice changes nothing.
  const size_t titles = m_view->titles.size();
  m_link->OnDeviceChange(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE);
  EXPECT_EQ(m_view->titles.size(), titles);
}

TEST_F(LinkTest, BlankIdentityIsBrandedOnDeviceAndAccepted) {
  Use(Profile::kBlankIdentity);
  Connect();
  const ProbeOutcome outcome = m_link->ProbeDevice();
  EXPECT_EQ(outcome.result, ProbeResult::kReady);
  EXPECT_TRUE(outcome.identityRewritten);
  EXPECT_TRUE(outcome.identityWriteConfirmed);
  const Block expected = MakeBlock("Sable Harbor");
  EXPECT_EQ(m_state.m_identity, expected);
  EXPECT_EQ(DevicePage(0, sim::kIdentityPage), expected);

  // The next probe finds its own brand and writes nothing.
  m_link->ShowLinkState();
  EXPECT_FALSE(m_link->ProbeDevice().identityRewritten);
  EXPECT_EQ(m_detector->Counters().CommandsSeen(CMD_WRITE_PAGES), 1u);
}

TEST_F(LinkTest, FailedIdentityWriteIsReportedButAccepted) {
  Use(Profile::kBlankIdentity);
  Connect();
  // Writes: firmware, parameter page, identity page, then the write command.
  m_detector->AddFault({FaultKind::kWriteFail, 4});
  const ProbeOutcome outcome = m_link->ProbeDevice();
  EXPECT_EQ(outcome.result, ProbeResult::kReady);
  EXPECT_TRUE(outcome.identityRewritten);
  EXPECT_FALSE(outcome.identityWriteConfirmed);
  EXPECT_EQ(m_state.m_identity, MakeBlock("Sable Harbor"));
  EXPECT_EQ(DevicePage(0, sim::kIdentityPage), MakeBlock("", 0xFF));
}

TEST_F(LinkTest, FailedIdentityReadNeverBrandsTheDevice) {
  Use(Profile::kBlankIdentity);
  Connect();
  // All of the blank page arrives, but the device's answer to the read is bad.
  m_detector->AddFault({FaultKind::kBadStatus, 3});
  EXPECT_EQ(m_link->ProbeDevice().result, ProbeResult::kBrandRejected);
  ExpectDropped();
  EXPECT_EQ(m_detector->Counters().CommandsSeen(CMD_WRITE_PAGES), 0u);
  EXPECT_EQ(DevicePage(0, sim::kIdentityPage), MakeBlock("", 0xFF));
}

TEST_F(LinkTest, ForeignBrandIsRejected) {
  Use(Profile::kForeignBrand);
  Connect();
  EXPECT_EQ(m_link->ProbeDevice().result, ProbeResult::kBrandRejected);
  ExpectDropped();
  EXPECT_EQ(m_detector->Counters().CommandsSeen(CMD_WRITE_PAGES), 0u);
  EXPECT_EQ(DevicePage(0, sim::kIdentityPage), MakeBlock("Kyrin"));
}

struct UpdateButtonCase {
  const char* label;
  enum { kNone, kFile, kMissingFile, kFolder } fileLabel;
  int onlineVersion;
  const char* databaseUrl;
  std::optional<bool> update;  // nullopt: left as it was
};

class LinkUpdateButtonTest : public LinkTest,
                             public ::testing::WithParamInterface<UpdateButtonCase> {};

TEST_P(LinkUpdateButtonTest, EnabledWhenAPackageIsKnown) {
  const UpdateButtonCase& c = GetParam();
  testing::TempDir dir;
  testing::WriteFileBytes(dir / "pkg.dqx", {1, 2, 3});
  switch (c.fileLabel) {
    case UpdateButtonCase::kNone:
      break;
    case UpdateButtonCase::kFile:
      m_view->fileLabel = (dir / "pkg.dqx").string();
      break;
    case UpdateButtonCase::kMissingFile:
      m_view->fileLabel = (dir / "gone.dqx").string();
      break;
    case UpdateButtonCase::kFolder:
      m_view->fileLabel = dir.Path().string();
      break;
  }
  m_fields.m_nOnlineVersion = c.onlineVersion;
  m_fields.m_strDatabaseUrl = c.databaseUrl;
  Connect();
  m_link->ProbeDevice();
  EXPECT_EQ(m_view->LastUpdate(), c.update);
  EXPECT_EQ(m_view->LastSetting(), true);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, LinkUpdateButtonTest,
    ::testing::Values(
        UpdateButtonCase{"ChosenFile", UpdateButtonCase::kFile, -1, "", true},
        UpdateButtonCase{"MissingFile", UpdateButtonCase::kMissingFile, -1, "", std::nullopt},
        UpdateButtonCase{"Folder", UpdateButtonCase::kFolder, -1, "", std::nullopt},
        UpdateButtonCase{"StatusTextAndOnline", UpdateButtonCase::kMissingFile, 20270101, "", true},
        UpdateButtonCase{"ListBeingFetched", UpdateButtonCase::kNone, 0, "", std::nullopt},
        UpdateButtonCase{"DatabaseUrl", UpdateButtonCase::kNone, -1, "http://127.0.0.1/db.7z",
                         true}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(LinkTest, VersionCheckStartsForDeviceBrandWithList) {
  const ScopedVersionListSources local({{"Kyrin", "127.0.0.1:8123", "/ditu/pt417q/pt417qUP.txt"}});
  const std::string url = "http://127.0.0.1:8123/ditu/pt417q/pt417qUP.txt";

  // A Kyrin build: its device is accepted and its list is looked up.
  Use(Profile::kForeignBrand, ConfiguredBrand("Kyrin"));
  Connect();
  EXPECT_EQ(m_link->ProbeDevice().result, ProbeResult::kReady);
  EXPECT_EQ(m_fields.m_strVersionListUrl, url);
  EXPECT_EQ(m_view->versionChecks, std::vector<std::string>{url});

  // Once the source is known, probes leave it alone.
  m_fields.m_bVersionSourceKnown = 1;
  m_fields.m_strVersionListUrl = "kept";
  m_link->ShowLinkState();
  m_link->ProbeDevice();
  EXPECT_EQ(m_fields.m_strVersionListUrl, "kept");
  EXPECT_EQ(m_view->versionChecks.size(), 1u);
}

TEST_F(LinkTest, NoVersionCheckForThisBuildsBrand) {
  m_fields.m_strVersionListUrl = "stale";
  Connect();
  m_link->ProbeDevice();
  EXPECT_EQ(m_fields.m_strVersionListUrl, "");
  EXPECT_TRUE(m_view->versionChecks.empty());
}

TEST_F(LinkTest, RebrandedDeviceIsLookedUpByItsNewBrand) {
  const ScopedVersionListSources local({{"Orli/Paxbyn", "127.0.0.1:1", "/UserFiles/File/orli.txt"},
                                        {"Kyrin", "127.0.0.1:2", "/ditu/pt417q/pt417qUP.txt"}});
  Use(Profile::kLayout1, ConfiguredBrand("Kyrin"));
  const Block orli = MakeBlock("Orli/Paxbyn");
  std::array<uint8_t, sim::kSimPageBytes> page{};
  std::copy(orli.begin(), orli.end(), page.begin());
  ASSERT_TRUE(m_detector->WritePage(0, sim::kIdentityPage, page));
  Connect();
  const ProbeOutcome outcome = m_link->ProbeDevice();
  EXPECT_EQ(outcome.result, ProbeResult::kReady);
  EXPECT_TRUE(outcome.identityRewritten);
  EXPECT_EQ(AsText(DevicePage(0, sim::kIdentityPage), 6), std::string_view("Kyrin\0", 6));
  EXPECT_EQ(m_fields.m_strVersionListUrl, "http://127.0.0.1:2/ditu/pt417q/pt417qUP.txt");
}

}  // namespace
}  // namespace tessaly
