#include "cli/session.h"

#include <cstdlib>

namespace tessaly::cli {

const char* const kPermissionHint =
    "the detector is present but this user may not open it; install the udev rule "
    "(sudo cmake --install build, or copy res/linux/70-tessaly-detector.rules to "
    "/etc/udev/rules.d/), then unplug and replug the detector";

std::string DefaultSimFolder() {
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state)
    return std::string(state) + "/tessaly/sim";
  if (const char* home = std::getenv("HOME"); home && *home)
    return std::string(home) + "/.local/state/tessaly/sim";
  return ".tessaly-sim";
}

std::unique_ptr<Session> Session::Create(const GlobalOptions& options, std::string& error) {
  std::unique_ptr<Session> s(new Session());
  s->m_json = options.json;
  if (options.simulate) {
    s->m_base = CreateSimPlatform(options, error);
  } else {
    s->m_base = CreateSystemHidPlatform();
  }
  if (!s->m_base) return nullptr;
  s->m_active = s->m_base.get();
  if (!options.traceFile.empty()) {
    auto trace = std::make_shared<ReportTrace>(options.traceFile);
    if (!trace->Ok()) {
      error = "cannot write the trace file " + options.traceFile;
      return nullptr;
    }
    s->m_traced = std::make_unique<TracingHidPlatform>(*s->m_base, std::move(trace));
    s->m_active = s->m_traced.get();
  }
  s->m_cmd = std::make_unique<CHidCmd>(*s->m_active);
  return s;
}

Session::~Session() {
  // Closing the device first lets the virtual detector write its state back.
  m_cmd.reset();
}

bool Session::TakeDevice(std::string& error) {
  m_cmd->m_bLinkOpen = m_cmd->m_io.FindDevice();
  if (m_cmd->m_bLinkOpen) return true;
  if (m_cmd->m_io.LastFindDeniedAccess())
    error = kPermissionHint;
  else
    error = "no detector found (USB 0416:b500); plug it in, or use --simulate";
  return false;
}

}  // namespace tessaly::cli
