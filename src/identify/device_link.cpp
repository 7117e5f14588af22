#include "identify/device_link.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <span>
#include <system_error>

#include "common/bytes.h"
#include "download/version_source.h"
#include "identify/info_blocks.h"
#include "identify/link_texts.h"

namespace tessaly {

CDeviceLink::CDeviceLink(CHidCmd& hidCmd, DeviceState& state, VersionSourceFields& fields,
                         ILinkView& view, const ConfiguredBrand& brand)
    : m_hidCmd(hidCmd), m_state(state), m_fields(fields), m_view(view), m_brand(brand) {}

void CDeviceLink::ShowLinkState() {
  std::string title(kTitleProgram);
  if (m_hidCmd.m_bLinkOpen) {
    title += kTitleConnecting;
    m_view.SetTimer(TIMER_PROBE, kProbeDelayMs);
  } else {
    title += kTitleNoHardware;
    m_view.EnableSetting(false);
    m_view.EnableUpdate(false);
    m_state.m_identity.fill(0);
    m_state.m_params.fill(0);
    m_state.m_nDeviceDbVersion = -1;
    m_state.m_bDeviceReady = 0;
  }
  m_view.SetTitle(title);
}

int CDeviceLink::OnDeviceChange(uint32_t event, uint32_t deviceType) {
  switch (event) {
    case DBT_DEVNODES_CHANGED:
      if (m_hidCmd.m_bLinkOpen) {
        // A taken device that is still there keeps its state: no second probe.
        if (!m_hidCmd.IsDevicePresent()) {
          DropDevice();
        }
      } else {
        m_hidCmd.m_hNotifyWnd = m_view.MessageSink();
        m_hidCmd.m_bLinkOpen = m_hidCmd.m_io.FindDevice();
        if (m_hidCmd.m_bLinkOpen) {
          ShowLinkState();
        }
      }
      break;
    case DBT_DEVICEARRIVAL:
      if (deviceType == DBT_DEVTYP_DEVICEINTERFACE) {
        m_view.RefreshControls();
      }
      break;
    case DBT_DEVICEREMOVECOMPLETE:
      if (deviceType == DBT_DEVTYP_DEVICEINTERFACE && m_hidCmd.m_bLinkOpen) {
        DropDevice();
      }
      break;
    default:
      break;
  }
  return 0;
}

void CDeviceLink::DropDevice() {
  m_hidCmd.Disconnect();
  ShowLinkState();
}

bool CDeviceLink::WriteIdentity() {
  if (m_hidCmd.SendCommand(CMD_WRITE_PAGES, kIdentityPage, 1, 0, kMemoryMain, 0) != 1) {
    return false;
  }
  return m_hidCmd.WritePages(1, m_state.m_identity) == static_cast<int>(kBlockSize);
}

bool CDeviceLink::FileLabelNamesReadableFile() {
  const std::string text = m_view.FileLabelText();
  if (text.empty()) {
    return false;
  }
  const std::filesystem::path path(
      std::u8string(reinterpret_cast<const char8_t*>(text.data()), text.size()));
  std::error_code ec;
  // A folder is not a package, even where the system lets one be opened for reading.
  if (!std::filesystem::is_regular_file(path, ec)) {
    return false;
  }
  std::ifstream file(path, std::ios::binary);
  return file.is_open();
}

ProbeOutcome CDeviceLink::ProbeDevice() {
  ProbeOutcome outcome;

  // 1. The probe runs once per arming.
  m_view.KillTimer(TIMER_PROBE);
  m_state.m_paramLayout = 0;

  // 2. Firmware number; the probe goes on whatever the answer.
  if (!m_hidCmd.SendCommand(CMD_QUERY_FIRMWARE, kConfirmA, kConfirmB, 0, 0, 0)) {
    m_state.m_nFirmwareRevision = -1;
  } else {
    uint8_t answer[kPacketSize] = {};
    if (!m_hidCmd.ReadAnswer(answer)) {
      m_state.m_nFirmwareRevision = -2;
    } else {
      m_state.m_nFirmwareRevision = static_cast<int32_t>(LoadU32LE(answer + kPktB));
    }
  }

  // 3. Parameter block; a device that cannot give it is dropped.
  m_state.m_params.fill(0);
  if (m_hidCmd.ReadPage(kParamsPage, kMemoryMain, m_state.m_params) !=
      static_cast<int>(kBlockSize)) {
    DropDevice();
    outcome.result = ProbeResult::kParamsUnreadable;
    return outcome;
  }

  // 4. Layout; a block that matches none still lets the probe go on.
  const ParamLayoutInfo layout = DetectParamLayout(m_state.m_params);
  m_state.m_paramLayout = layout.layout;
  m_state.m_paramRevision = layout.revision;

  // 5. Identity block. Partial data from a failed read is not a brand field, and a
  // failed read must never make a device look blank and get rebranded.
  m_state.m_identity.fill(0);
  if (m_hidCmd.ReadPage(kIdentityPage, kMemoryMain, m_state.m_identity) !=
      static_cast<int>(kBlockSize)) {
    m_state.m_identity.fill(0);
  }

  // 6. Brand check.
  outcome.deviceBrand = IdentityBrandText(m_state.m_identity);
  const BrandCheckResult brand =
      CheckDeviceBrand(m_state.m_identity, m_state.m_paramLayout, m_brand);
  if (brand.verdict == BrandVerdict::kReject) {
    DropDevice();
    outcome.result = ProbeResult::kBrandRejected;
    return outcome;
  }
  if (brand.verdict == BrandVerdict::kAcceptWithNewIdentity) {
    m_state.m_identity = brand.newIdentity;
    outcome.identityRewritten = true;
    outcome.identityWriteConfirmed = WriteIdentity();
  }

  // 7. Database date.
  std::string dateText;
  Block datePage{};
  if (m_hidCmd.ReadPage(kDatabaseDatePage, kMemoryData, datePage) == static_cast<int>(kBlockSize)) {
    dateText = DbVersionText(DecodeDateCode(LoadU32LE(datePage.data())));
  }
  m_state.m_nDeviceDbVersion = DbVersionNumber(dateText);

  // 8. and 9.
  m_view.SetTitle(std::string(kTitleProgram) + std::string(kTitleConnected) +
                  std::string(kTitleVersion) + dateText);
  m_state.m_bDeviceReady = 1;

  // 10. Update needs a package: a chosen file, or one the version list names.
  if (FileLabelNamesReadableFile()) {
    m_view.EnableUpdate(true);
  } else if (m_fields.m_nOnlineVersion > 0 || !m_fields.m_strDatabaseUrl.empty()) {
    m_view.EnableUpdate(true);
  }
  m_view.EnableSetting(true);

  // 11. Without a version source of our own brand, look one up by the device's.
  if (!m_fields.m_bVersionSourceKnown) {
    m_fields.m_strVersionListUrl = GetVersionListUrl(m_state.m_identity);
    if (!m_fields.m_strVersionListUrl.empty()) {
      m_view.BeginVersionCheck(m_fields.m_strVersionListUrl);
    }
  }

  outcome.result = ProbeResult::kReady;
  return outcome;
}

}  // namespace tessaly
