// What every device command of the CLI needs: the HID platform (the system's or the
// virtual detector, optionally traced), the command protocol over it, and the output
// style. Built once from the global options.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "device/hid_cmd.h"
#include "device/trace_platform.h"

namespace tessaly::cli {

struct GlobalOptions {
  bool simulate = false;
  std::string simDir;  // empty: the per-user default folder
  std::string simProfile;
  std::vector<std::string> simFaults;
  unsigned simDelayUs = 0;
  long long simFirmware = -1;  // -1: keep the folder's firmware.txt
  std::string traceFile;
  bool json = false;
};

class Session {
 public:
  // Builds the platform; on failure returns null with a one-line reason in `error`.
  static std::unique_ptr<Session> Create(const GlobalOptions& options, std::string& error);
  ~Session();

  HidPlatform& Platform() { return *m_active; }
  CHidCmd& Cmd() { return *m_cmd; }
  bool Json() const { return m_json; }

  // Takes the detector (FindDevice). On failure returns false with a reason that
  // tells a user what to do.
  bool TakeDevice(std::string& error);

 private:
  Session() = default;
  std::unique_ptr<HidPlatform> m_base;
  std::unique_ptr<TracingHidPlatform> m_traced;
  HidPlatform* m_active = nullptr;
  std::unique_ptr<CHidCmd> m_cmd;
  bool m_json = false;
};

// The per-user folder the virtual detector keeps its state in when --simulate has no
// folder: $XDG_STATE_HOME/tessaly/sim, else ~/.local/state/tessaly/sim.
std::string DefaultSimFolder();

// Builds the virtual detector's platform from the --sim-* options.
std::unique_ptr<HidPlatform> CreateSimPlatform(const GlobalOptions& options, std::string& error);

// One line per fault kind, for --help.
std::string SimFaultHelp();
// Empty when the text is a valid --sim-fault / --sim-profile value, else the reason.
std::string ValidateSimFault(const std::string& text);
std::string ValidateSimProfile(const std::string& text);

// Text for a detector that is present but may not be opened by this user.
extern const char* const kPermissionHint;

}  // namespace tessaly::cli
