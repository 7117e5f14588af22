// probe: take the detector and identify it at once (the window waits for its probe
// timer; the command line has no reason to).
#include <cstdio>
#include <iostream>

#include "cli/cli_views.h"
#include "cli/commands.h"
#include "cli/probe_session.h"
#include "identify/brand.h"
#include "identify/info_blocks.h"

namespace tessaly::cli {

void CliSink::Post(uint32_t msg, uintptr_t, intptr_t lParam) {
  if (msg != WM_HID_WRITE_PROGRESS || !m_bytesDone || !m_phase) return;
  switch (m_phase->load()) {
    case 2:
    case 4:
    case 5:
    case 6:
    case 7:
      m_bytesDone->fetch_add(static_cast<uint32_t>(lParam));
      break;
    default:
      break;
  }
}

bool ProbeSession::Run(std::string& error) {
  link.ShowLinkState();
  std::string takeError;
  if (!session.TakeDevice(takeError)) {
    error = takeError;
    return false;
  }
  view.probeArmed = false;
  link.ShowLinkState();
  outcome = link.ProbeDevice();
  switch (outcome.result) {
    case ProbeResult::kReady:
      return true;
    case ProbeResult::kParamsUnreadable:
      error = "the detector did not return its parameter block; unplug it and plug it in again (" +
              view.title + ")";
      return false;
    case ProbeResult::kBrandRejected: {
      const std::string& brand = outcome.deviceBrand;
      error = "the detector carries the brand \"" + (brand.empty() ? "(none)" : brand) +
              "\" but this build of the tool serves \"" + std::string(configuredBrand().Name()) +
              "\" (" + view.title + ")";
      return false;
    }
  }
  return false;
}

namespace {

std::string ModelText(const DeviceState& state) {
  if (state.m_paramLayout <= 0) return {};
  ModelTag tag = ParamModelTag(state.m_params, state.m_paramLayout);
  std::string text;
  for (uint8_t c : tag)
    if (c >= 0x20 && c < 0x7F) text.push_back(static_cast<char>(c));
  return text;
}

int RunProbe(Session& s) {
  ProbeSession probe(s);
  std::string error;
  bool ok = probe.Run(error);
  const DeviceState& st = probe.state;
  if (s.Json()) {
    nlohmann::json out = {{"firmware", st.m_nFirmwareRevision},
                          {"layout", st.m_paramLayout},
                          {"revision", st.m_paramRevision},
                          {"model", ModelText(st)},
                          {"program_version", ParamProgramVersion(st.m_params, st.m_paramLayout)},
                          {"brand", ok ? IdentityBrandText(st.m_identity)
                                       : probe.outcome.deviceBrand},
                          {"db_version", st.m_nDeviceDbVersion},
                          {"ready", st.m_bDeviceReady == 1},
                          {"identity_written", probe.outcome.identityRewritten},
                          {"title", probe.view.title}};
    PrintJson(out);
  } else if (ok) {
    std::printf("%s\n", probe.view.title.c_str());
    std::printf("firmware:         %d\n", st.m_nFirmwareRevision);
    std::printf("layout:           %d (revision %d)\n", st.m_paramLayout, st.m_paramRevision);
    std::printf("model:            %s\n", ModelText(st).c_str());
    std::printf("program version:  %d\n", ParamProgramVersion(st.m_params, st.m_paramLayout));
    std::printf("brand:            %s\n", IdentityBrandText(st.m_identity).c_str());
    std::printf("database version: %d\n", st.m_nDeviceDbVersion);
    std::printf("ready:            %s\n", st.m_bDeviceReady ? "yes" : "no");
    std::printf("identity written: %s\n", probe.outcome.identityRewritten ? "yes" : "no");
  }
  if (!ok) return FailWith(error);
  return kExitOk;
}

}  // namespace

void RegisterProbeCommand(CLI::App& app, CommandTable& table) {
  auto* probe = app.add_subcommand("probe", "Find and identify the detector");
  table.emplace_back(probe, RunProbe);
}

}  // namespace tessaly::cli
