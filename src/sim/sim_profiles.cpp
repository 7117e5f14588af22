// Profiles of a fresh virtual detector and the fault syntax of the CLI.
#include <charconv>
#include <cstring>

#include "common/bytes.h"
#include "sim/virtual_detector.h"

namespace tessaly::sim {
namespace {

constexpr ProfileInfo kProfiles[] = {
    {Profile::kLayout3, "layout3", "layout-3 parameter block, \"Sable Harbor\" identity (default)"},
    {Profile::kLayout2, "layout2", "layout-2 parameter block, model tag \"SH02\""},
    {Profile::kLayout2V73, "layout2-v73", "layout-2 parameter block, model tag \"V73 \""},
    {Profile::kLayout1, "layout1", "layout-1 parameter block"},
    {Profile::kBlankIdentity, "blank-identity", "erased identity block (all 0xFF), layout 3"},
    {Profile::kForeignBrand, "foreign-brand",
     "identity block of another brand (\"Kyrin\"), layout 3"},
};

constexpr FaultKindInfo kFaultKinds[] = {
    {FaultKind::kWriteFail, "write-fail", "the Nth report the host writes fails"},
    {FaultKind::kReadFail, "read-fail", "the Nth report the host reads fails and is lost"},
    {FaultKind::kBadChecksum, "bad-checksum", "the Nth answer has a wrong checksum"},
    {FaultKind::kBadLength, "bad-length", "the Nth answer has a wrong length byte"},
    {FaultKind::kBadSignature, "bad-signature", "the Nth answer has a wrong signature"},
    {FaultKind::kBadStatus, "bad-status", "the Nth answer reports failure (non-zero status)"},
    {FaultKind::kStall, "stall", "from the Nth read on nothing arrives: reads time out"},
    {FaultKind::kUnplug, "unplug", "after N reports either way the detector is unplugged"},
};

constexpr uint8_t kFlagFrequencyAvailable = 0x80;
constexpr uint8_t kFlagFrequencyOn = 0x40;
constexpr int32_t kProgramVersion = 215;
constexpr int32_t kLayout3Revision = 3;
constexpr uint32_t kLayout3Marker = 0x5A3C9E71;

void PutText(uint8_t* at, std::string_view text) {
  std::memcpy(at, text.data(), text.size());
}

std::array<uint8_t, kSimPageBytes> Layout3Block() {
  std::array<uint8_t, kSimPageBytes> p{};
  uint8_t* b = p.data();
  PutText(b + 4, "SH01");
  StoreU32LE(b + 8, static_cast<uint32_t>(kProgramVersion));
  b[16] = kFlagFrequencyAvailable | kFlagFrequencyOn;
  b[18] = 1;  // time zone
  // Band counts X, Ku, K, Ka, laser.
  constexpr uint8_t kCounts[] = {1, 1, 1, 4, 1};
  int bands = 0;
  for (size_t i = 0; i < std::size(kCounts); ++i) {
    b[19 + i] = kCounts[i];
    bands += kCounts[i];
  }
  for (int i = 0; i < bands; ++i)
    b[24 + i] = 1;
  b[48] = 0;   // feature level
  b[50] = 7;   // day start
  b[51] = 19;  // night start
  b[52] = 0;   // radar type identified
  StoreU32LE(b + 55, static_cast<uint32_t>(kLayout3Revision));
  StoreU32LE(b + 59, kLayout3Marker);
  constexpr uint16_t kTable[][2] = {{10500, 10550}, {13400, 13500}, {24050, 24250}, {33400, 33800},
                                    {34000, 34400}, {34600, 35000}, {35300, 35700}, {0, 0}};
  for (size_t i = 0; i < std::size(kTable); ++i) {
    StoreU16LE(b + 63 + 4 * i, kTable[i][0]);
    StoreU16LE(b + 65 + 4 * i, kTable[i][1]);
  }
  StoreU32LE(b, ByteSum(std::span<const uint8_t>(b + 4, 59)));
  return p;
}

// Layouts 1 and 2 share their field offsets and differ in the checksum's coverage.
std::array<uint8_t, kSimPageBytes> OldLayoutBlock(size_t covered, std::string_view modelTag) {
  std::array<uint8_t, kSimPageBytes> p{};
  uint8_t* b = p.data();
  b[8] = kFlagFrequencyOn;
  b[10] = 1;  // time zone
  for (int i = 11; i <= 22; ++i)
    b[i] = 1;
  b[24] = 7;
  b[25] = 19;
  PutText(b + 28, modelTag);
  StoreU32LE(b + 32, static_cast<uint32_t>(kProgramVersion));
  StoreU32LE(b, ByteSum(std::span<const uint8_t>(b + 4, covered)));
  return p;
}

}  // namespace

std::span<const ProfileInfo> Profiles() {
  return kProfiles;
}

std::string_view ProfileName(Profile profile) {
  for (const auto& info : kProfiles)
    if (info.profile == profile)
      return info.name;
  return "?";
}

bool ParseProfile(std::string_view name, Profile& out, std::string& error) {
  std::string names;
  for (const auto& info : kProfiles) {
    if (info.name == name) {
      out = info.profile;
      return true;
    }
    names += names.empty() ? "" : ", ";
    names += info.name;
  }
  error = "unknown profile '" + std::string(name) + "' (one of: " + names + ")";
  return false;
}

std::array<uint8_t, kSimPageBytes> ProfileParameterBlock(Profile profile) {
  switch (profile) {
    case Profile::kLayout2:
      return OldLayoutBlock(72, "SH02");
    case Profile::kLayout2V73:
      return OldLayoutBlock(72, "V73 ");
    case Profile::kLayout1:
      return OldLayoutBlock(24, "SH00");
    case Profile::kLayout3:
    case Profile::kBlankIdentity:
    case Profile::kForeignBrand:
      break;
  }
  return Layout3Block();
}

std::array<uint8_t, kSimPageBytes> ProfileIdentityBlock(Profile profile) {
  std::array<uint8_t, kSimPageBytes> id{};
  if (profile == Profile::kBlankIdentity) {
    id.fill(0xFF);
  } else if (profile == Profile::kForeignBrand) {
    PutText(id.data(), "Kyrin");
  } else {
    PutText(id.data(), "Sable Harbor");
  }
  return id;
}

std::span<const FaultKindInfo> FaultKinds() {
  return kFaultKinds;
}

bool ParseFault(std::string_view text, Fault& out, std::string& error) {
  size_t colon = text.find(':');
  std::string_view kindText = text.substr(0, colon);
  const FaultKindInfo* kind = nullptr;
  for (const auto& info : kFaultKinds)
    if (info.name == kindText)
      kind = &info;
  if (!kind) {
    std::string names;
    for (const auto& info : kFaultKinds) {
      names += names.empty() ? "" : ", ";
      names += info.name;
    }
    error = "unknown fault kind '" + std::string(kindText) + "' (one of: " + names + ")";
    return false;
  }
  if (colon == std::string_view::npos) {
    error = "fault '" + std::string(text) + "' needs a count: KIND:N";
    return false;
  }
  std::string_view countText = text.substr(colon + 1);
  uint32_t count = 0;
  auto [end, ec] = std::from_chars(countText.data(), countText.data() + countText.size(), count);
  if (countText.empty() || ec != std::errc() || end != countText.data() + countText.size() ||
      count == 0) {
    error = "fault count '" + std::string(countText) + "' is not a whole number from 1";
    return false;
  }
  out.kind = kind->kind;
  out.count = count;
  return true;
}

std::string FormatFault(const Fault& fault) {
  for (const auto& info : kFaultKinds)
    if (info.kind == fault.kind)
      return std::string(info.name) + ":" + std::to_string(fault.count);
  return "?:" + std::to_string(fault.count);
}

}  // namespace tessaly::sim
