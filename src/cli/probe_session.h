// A detector taken and probed the way the window does it, shared by the commands
// that need an identified device (probe, update, settings).
#pragma once

#include "cli/cli_views.h"
#include "cli/session.h"
#include "identify/device_link.h"

namespace tessaly::cli {

struct ProbeSession {
  explicit ProbeSession(Session& s) : session(s) { s.Cmd().m_hNotifyWnd = &sink; }
  ~ProbeSession() { session.Cmd().m_hNotifyWnd = nullptr; }

  // Takes and probes the detector. False with a reason a user understands when there
  // is none, or it was dropped or refused.
  bool Run(std::string& error);

  Session& session;
  CliSink sink;
  DeviceState state;
  VersionSourceFields fields;
  CliLinkView view{sink};
  CDeviceLink link{session.Cmd(), state, fields, view};
  ProbeOutcome outcome;
};

}  // namespace tessaly::cli
