// list and read-page: diagnostics of the device link.
#include <cctype>
#include <cstdio>
#include <iostream>

#include "cli/commands.h"
#include "common/bytes.h"

namespace tessaly::cli {
namespace {

const char* AccessText(HidOpenStatus status) {
  switch (status) {
    case HidOpenStatus::kOk:
      return "ok";
    case HidOpenStatus::kPermissionDenied:
      return "permission-denied";
    case HidOpenStatus::kGone:
      return "gone";
    case HidOpenStatus::kFailed:
      break;
  }
  return "failed";
}

std::string Hex4(uint16_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", v);
  return text;
}

int RunList(Session& s) {
  auto detectors = s.Cmd().m_io.ListDetectors();
  if (s.Json()) {
    nlohmann::json out = nlohmann::json::array();
    for (const auto& d : detectors)
      out.push_back({{"path", d.path},
                     {"vendor", Hex4(d.vendorId)},
                     {"product", Hex4(d.productId)},
                     {"held_by_other", d.heldByOther},
                     {"access", AccessText(d.access)}});
    PrintJson(out);
  } else if (detectors.empty()) {
    std::cout << "no detector found (USB 0416:b500)\n";
  } else {
    for (const auto& d : detectors) {
      std::cout << d.path << "  " << Hex4(d.vendorId) << ":" << Hex4(d.productId);
      if (d.heldByOther) std::cout << "  held by another instance";
      if (d.access == HidOpenStatus::kPermissionDenied)
        std::cout << "  no permission: " << kPermissionHint;
      else if (d.access != HidOpenStatus::kOk)
        std::cout << "  cannot be opened";
      std::cout << "\n";
    }
  }
  return kExitOk;
}

struct ReadPageArgs {
  unsigned selector = 0;
  unsigned long page = 0;
};

void HexDump(std::span<const uint8_t> bytes) {
  for (size_t row = 0; row < bytes.size(); row += 16) {
    std::printf("%04zx:", row);
    for (size_t i = row; i < row + 16 && i < bytes.size(); ++i) std::printf(" %02x", bytes[i]);
    std::printf("  |");
    for (size_t i = row; i < row + 16 && i < bytes.size(); ++i)
      std::putchar(std::isprint(bytes[i]) ? bytes[i] : '.');
    std::printf("|\n");
  }
}

int RunReadPage(Session& s, const ReadPageArgs& args) {
  std::string error;
  if (!s.TakeDevice(error)) return FailWith(error);
  std::array<uint8_t, kPageSize> page{};
  int result = s.Cmd().ReadPage(static_cast<uint32_t>(args.page),
                                static_cast<uint8_t>(args.selector), page);
  s.Cmd().Disconnect();
  if (result != static_cast<int>(kPageSize)) {
    return FailWith("the device did not return the page (result " + std::to_string(result) +
                    ")");
  }
  if (s.Json()) {
    PrintJson({{"selector", args.selector}, {"page", args.page}, {"data", HexString(page)}});
  } else {
    std::printf("memory %u page 0x%lx\n", args.selector, args.page);
    HexDump(page);
  }
  return kExitOk;
}

}  // namespace

void RegisterDeviceCommands(CLI::App& app, CommandTable& table) {
  auto* list = app.add_subcommand("list", "List the detector interfaces");
  table.emplace_back(list, RunList);

  auto args = std::make_shared<ReadPageArgs>();
  auto* read = app.add_subcommand("read-page", "Read one 256-byte page and print it in hex");
  read->add_option("SELECTOR", args->selector, "Memory selector (0 or 1)")
      ->required()
      ->check(CLI::Range(0, 255));
  read->add_option("PAGE", args->page, "Page number (decimal or 0x hex)")
      ->required()
      ->check(CLI::Range(0ul, 0xFFFFFFFFul));
  table.emplace_back(read, [args](Session& s) { return RunReadPage(s, *args); });
}

}  // namespace tessaly::cli
