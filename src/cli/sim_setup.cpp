// The --simulate road: a virtual detector with its state folder, faults and delay.
#include "cli/session.h"
#include "sim/virtual_detector.h"

namespace tessaly::cli {

std::unique_ptr<HidPlatform> CreateSimPlatform(const GlobalOptions& options, std::string& error) {
  sim::Profile profile = sim::Profile::kLayout3;
  if (!options.simProfile.empty() && !sim::ParseProfile(options.simProfile, profile, error))
    return nullptr;
  auto detector = sim::VirtualDetector::OpenStateFolder(options.simDir, profile, error);
  if (!detector) return nullptr;
  if (options.simFirmware >= 0) detector->SetFirmware(static_cast<uint32_t>(options.simFirmware));
  for (const auto& text : options.simFaults) {
    sim::Fault fault;
    if (!sim::ParseFault(text, fault, error)) return nullptr;
    detector->AddFault(fault);
  }
  detector->SetDelayUs(options.simDelayUs);
  auto platform = std::make_unique<sim::VirtualHidPlatform>();
  platform->AddDetector(std::move(detector));
  return platform;
}

std::string SimFaultHelp() {
  std::string text = "KIND is one of:";
  for (const auto& kind : sim::FaultKinds())
    text += "\n  " + std::string(kind.name) + ": " + std::string(kind.description);
  return text;
}

std::string ValidateSimFault(const std::string& text) {
  sim::Fault fault;
  std::string error;
  return sim::ParseFault(text, fault, error) ? std::string() : error;
}

std::string ValidateSimProfile(const std::string& text) {
  sim::Profile profile;
  std::string error;
  return sim::ParseProfile(text, profile, error) ? std::string() : error;
}

}  // namespace tessaly::cli
