// inspect FILE: what the package holds and what an update would do with it.
#include <cstdio>
#include <cstring>

#include "cli/commands.h"
#include "cli/probe_session.h"
#include "common/bytes.h"
#include "identify/brand.h"
#include "update/package.h"

namespace tessaly::cli {
namespace {

struct InspectArgs {
  std::string file;
  int layout = 0;
  std::string model;
  std::string identity;
  CLI::Option* layoutOpt = nullptr;
};

std::string KeyText(const VariantKey& key) {
  std::string text;
  for (uint8_t c : key) text.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.');
  return text;
}

std::string BrandFieldText(const ResolvedTrailer& t) {
  std::string text;
  for (uint8_t c : t.brand) {
    if (c == 0) break;
    text.push_back(static_cast<char>(c));
  }
  return text;
}

// The device state described on the command line.
DeviceState DescribedDevice(const InspectArgs& a) {
  DeviceState st;
  st.m_paramLayout = a.layout;
  size_t tagAt = a.layout == 2 ? 28 : (a.layout > 2 ? 4 : 0);
  if (tagAt) std::memcpy(st.m_params.data() + tagAt, a.model.data(), std::min<size_t>(4, a.model.size()));
  std::memcpy(st.m_identity.data(), a.identity.data(), std::min(a.identity.size(), st.m_identity.size()));
  return st;
}

int RunInspect(Session& s, const InspectArgs& args) {
  DeviceState device;
  std::string deviceFrom = "command line";
  if (args.layoutOpt->count() > 0) {
    device = DescribedDevice(args);
  } else {
    ProbeSession probe(s);
    std::string error;
    if (probe.Run(error)) {
      device = probe.state;
      deviceFrom = "connected detector";
    } else {
      deviceFrom = "none (" + error + ")";
    }
    s.Cmd().Disconnect();
  }

  auto source = FileByteSource::Open(args.file);
  if (!source) return FailWith("cannot open " + args.file);
  const ConfiguredBrand& brand = configuredBrand();
  PackageCheck check =
      CheckPackage(*source, device,
                   std::string_view(reinterpret_cast<const char*>(brand.Slot().data()),
                                    brand.Slot().size()));
  if (check.code != kPackageOk) return FailWith(check.message);

  const ResolvedTrailer& t = check.trailer;
  VariantKey key = DeviceVariantKey(device);
  const std::string verdict = check.Accepted() ? "accepted" : check.message;
  if (s.Json()) {
    nlohmann::json segments = nlohmann::json::array();
    for (size_t i = 0; i < kSegmentCount; ++i)
      segments.push_back({{"segment", i + 1}, {"offset", t.segments[i].offset},
                          {"length", t.segments[i].length}});
    nlohmann::json variants = nlohmann::json::array();
    for (const auto& v : t.variants)
      variants.push_back({{"key", KeyText(v.key)}, {"key_hex", HexString(v.key)},
                          {"offset", v.offset}, {"length", v.length}});
    nlohmann::json out = {{"file_size", t.fileSize},
                          {"trailer_size", t.size},
                          {"version", t.version},
                          {"brand", BrandFieldText(t)},
                          {"segments", segments},
                          {"variant_table_offset", t.variantTableOffset},
                          {"variant_table_present", t.variantTablePresent},
                          {"variants", variants},
                          {"device", deviceFrom},
                          {"device_key_hex", HexString(key)},
                          {"chosen_variant", t.chosenVariant ? nlohmann::json(*t.chosenVariant)
                                                             : nlohmann::json(nullptr)},
                          {"acceptance", verdict},
                          {"total_bytes", TotalSegmentBytes(t)}};
    PrintJson(out);
  } else {
    std::printf("file size:     %llu bytes\n", static_cast<unsigned long long>(t.fileSize));
    std::printf("trailer:       size %u, version %u\n", t.size, t.version);
    std::printf("brand field:   %s\n", BrandFieldText(t).c_str());
    for (size_t i = 0; i < kSegmentCount; ++i)
      std::printf("segment %zu:     offset %llu, length %u%s\n", i + 1,
                  static_cast<unsigned long long>(t.segments[i].offset), t.segments[i].length,
                  t.segments[i].length ? "" : " (absent)");
    std::printf("variant table: %s at %u, %zu entries\n", t.variantTablePresent ? "present" : "none",
                t.variantTableOffset, t.variants.size());
    for (size_t i = 0; i < t.variants.size(); ++i)
      std::printf("  [%zu] key \"%s\" (%s) offset %u length %u%s\n", i, KeyText(t.variants[i].key).c_str(),
                  HexString(t.variants[i].key).c_str(), t.variants[i].offset, t.variants[i].length,
                  t.chosenVariant == i ? "  <- chosen" : "");
    std::printf("device:        %s, key %s\n", deviceFrom.c_str(), HexString(key).c_str());
    std::printf("acceptance:    %s\n", verdict.c_str());
    std::printf("total bytes:   %llu\n", static_cast<unsigned long long>(TotalSegmentBytes(t)));
  }
  return kExitOk;
}

}  // namespace

void RegisterInspectCommand(CLI::App& app, CommandTable& table) {
  auto args = std::make_shared<InspectArgs>();
  auto* inspect = app.add_subcommand("inspect", "Decode a package and check it against a device");
  inspect->add_option("FILE", args->file, "The package file")->required();
  args->layoutOpt = inspect->add_option("--layout", args->layout,
                                        "Describe the device instead of probing: its parameter layout");
  inspect->add_option("--model", args->model, "...its model tag (4 characters)")->needs(args->layoutOpt);
  inspect->add_option("--identity", args->identity, "...the text its identity block starts with")
      ->needs(args->layoutOpt);
  table.emplace_back(inspect, [args](Session& s) { return RunInspect(s, *args); });
}

}  // namespace tessaly::cli
