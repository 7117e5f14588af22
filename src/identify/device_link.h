// The link state of the main window: reacting to hot-plug notices, showing the link
// state and the timer-driven probe that identifies a taken detector. The GUI wires
// its timer and device-change notices here; the CLI drives the same code. All of it
// runs on the thread that owns the window (or the CLI's loop).
#pragma once

#include <cstdint>
#include <string>

#include "common/message_sink.h"
#include "device/hid_cmd.h"
#include "identify/brand.h"
#include "identify/device_state.h"

namespace tessaly {

// Device-change events and the device type of their event data, with the values the
// system's notices carry.
inline constexpr uint32_t DBT_DEVNODES_CHANGED = 0x0007;
inline constexpr uint32_t DBT_DEVICEARRIVAL = 0x8000;
inline constexpr uint32_t DBT_DEVICEREMOVECOMPLETE = 0x8004;
inline constexpr uint32_t DBT_DEVTYP_DEVICEINTERFACE = 5;

// The one-shot probe timer, armed whenever a device has just been taken. The delay
// gives the device time to settle after it enumerates.
inline constexpr int TIMER_PROBE = 2;
inline constexpr int kProbeDelayMs = 2000;

// What the link needs of the window. Calls come on the window's own thread.
class ILinkView {
 public:
  virtual ~ILinkView() = default;
  virtual void SetTitle(const std::string& text) = 0;  // UTF-8
  virtual void EnableSetting(bool enable) = 0;
  virtual void EnableUpdate(bool enable) = 0;
  // One-shot timer; arming an armed timer restarts it.
  virtual void SetTimer(int id, int delayMs) = 0;
  virtual void KillTimer(int id) = 0;
  // The text of the file label (the chosen package path or a status text), UTF-8.
  virtual std::string FileLabelText() = 0;
  // Refresh the controls from the window's members (a device interface arrived).
  virtual void RefreshControls() = 0;
  // Start the online version check with the version-list URL.
  virtual void BeginVersionCheck(const std::string& versionListUrl) = 0;
  // Receiver of the protocol's progress messages; not owned, outlives the link.
  virtual IMessageSink* MessageSink() = 0;
};

// Window-level fields of the version source that the probe reads and writes.
struct VersionSourceFields {
  int m_bVersionSourceKnown = 0;  // 1 when the start-up lookup by our own brand gave a URL
  int m_nOnlineVersion = -1;      // -1 no list, 0 list being fetched, > 0 the version
  std::string m_strDatabaseUrl;   // UTF-8; empty when none is known
  std::string m_strVersionListUrl;
};

enum class ProbeResult {
  kReady,             // the device was accepted
  kParamsUnreadable,  // the parameter block could not be read; device dropped
  kBrandRejected,     // the device's brand is not served by this build; device dropped
};

struct ProbeOutcome {
  ProbeResult result = ProbeResult::kParamsUnreadable;
  // A new identity block was put in place (a blank device branded, or a rebrand).
  bool identityRewritten = false;
  // ...and the device confirmed the write of it. The probe accepts either way.
  bool identityWriteConfirmed = false;
  // The brand text the device's identity block carried when it was read, kept for
  // messages: a rejected device's blocks are cleared.
  std::string deviceBrand;
};

class CDeviceLink {
 public:
  // All references must outlive the link.
  CDeviceLink(CHidCmd& hidCmd, DeviceState& state, VersionSourceFields& fields, ILinkView& view,
              const ConfiguredBrand& brand = configuredBrand());
  CDeviceLink(const CDeviceLink&) = delete;
  CDeviceLink& operator=(const CDeviceLink&) = delete;

  // Shows the link state in the title; arms the probe when a device is taken, clears
  // the device fields and disables Setting and Update when none is.
  void ShowLinkState();

  // Handler of the system's device-change notice. `deviceType` is the device type of
  // the event data, 0 when the event has none. Returns 0.
  int OnDeviceChange(uint32_t event, uint32_t deviceType);

  // The probe timer's handler: identifies the taken device and shows the result.
  ProbeOutcome ProbeDevice();

 private:
  void DropDevice();
  bool WriteIdentity();
  bool FileLabelNamesReadableFile();

  CHidCmd& m_hidCmd;
  DeviceState& m_state;
  VersionSourceFields& m_fields;
  ILinkView& m_view;
  ConfiguredBrand m_brand;
};

}  // namespace tessaly
