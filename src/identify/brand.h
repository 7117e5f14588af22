// Brand names, model tags and every rule that depends on them. The same detector is
// sold under several brands; one build serves one brand (`configuredBrand`). Every
// rule takes the brand as a parameter so that the rules of other builds can be run.
//
// Brand names are byte strings compared byte for byte over their own length: a
// prefix comparison, whatever follows in the device's block is not looked at.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "identify/device_state.h"

namespace tessaly {

// Brand names as the devices and builds carry them.
inline constexpr std::string_view kBrandSableHarbor = "Sable Harbor";   // 12 bytes
inline constexpr std::string_view kBrandKyrin = "Kyrin";                // 5
inline constexpr std::string_view kBrandOrliPaxbyn = "Orli/Paxbyn";     // 11
inline constexpr std::string_view kBrandOrli = "Orli";                  // 4, display name
inline constexpr std::string_view kBrandDunmir = "Dunmir";              // 6
inline constexpr std::string_view kBrandQuexTech = "QuexTech Co.Ltd.";  // 16
inline constexpr std::string_view kBrandDrennick = "Drennick";          // 8
inline constexpr std::string_view kBrandHalvikon = "Halvikon";          // 8
inline constexpr std::string_view kBrandTornelle = "Tornelle";          // 8
inline constexpr std::string_view kBrandMorvale = "MORVALE";            // 7

// A build whose brand is this string makes no brand check at all.
inline constexpr std::string_view kNoBrandCheck = "                     ";  // 21 spaces

// Model tags: four ASCII bytes of the parameter block (or implied by the identity block).
using ModelTag = std::array<uint8_t, 4>;
inline constexpr std::string_view kTagZur = "ZUR ";
inline constexpr std::string_view kTagV73 = "V73 ";
inline constexpr std::string_view kTagRkvd = "RKVD";   // never stored; a package variant key
inline constexpr std::string_view kZurPrefix = "ZUR";  // identity blocks that imply "ZUR "

// Device brands that publish a version list, in the order they are looked up.
inline constexpr std::array<std::string_view, 3> kVersionListBrands = {kBrandOrliPaxbyn,
                                                                       kBrandKyrin, kBrandDunmir};

// Brand and device comparisons use this many leading bytes of the configured brand.
inline constexpr size_t kBrandCompareBytes = 12;

// The brand a build serves: a narrow string held in a zero-filled slot. The slot is
// 16 bytes for names of up to 15 bytes (as every real build has); a longer name gets
// a slot of its length plus one terminating zero. Rules that compare a fixed number
// of bytes read the slot, so a 16-byte slot can never equal the 21-space string.
class ConfiguredBrand {
 public:
  static constexpr size_t kMinSlotSize = 16;

  explicit ConfiguredBrand(std::string_view name);

  // The whole slot, the name followed by zero bytes.
  std::span<const uint8_t> Slot() const { return m_slot; }
  // The name read as a terminated string (up to the first zero byte).
  std::string_view Name() const;
  // The slot's leading `count` bytes; fewer when the slot is shorter.
  std::span<const uint8_t> Leading(size_t count) const;
  // True when the slot begins with exactly the bytes of `name` (prefix comparison).
  bool StartsWith(std::string_view name) const;

 private:
  std::vector<uint8_t> m_slot;
};

// The brand of this build (the TESSALY_BRAND build setting).
const ConfiguredBrand& configuredBrand();

// True when `bytes` begins with exactly the bytes of `name`.
bool BytesStartWith(std::span<const uint8_t> bytes, std::string_view name);

// True when the brand is the 21-space string that switches every brand check off.
bool SkipsBrandChecks(const ConfiguredBrand& brand);

// The probe's brand check of a device's identity block.
enum class BrandVerdict {
  kAccept,
  kAcceptWithNewIdentity,  // accept after writing `newIdentity` to the device
  kReject,
};
struct BrandCheckResult {
  BrandVerdict verdict = BrandVerdict::kReject;
  Block newIdentity{};  // only for kAcceptWithNewIdentity
};
BrandCheckResult CheckDeviceBrand(const Block& identity, int paramLayout,
                                  const ConfiguredBrand& brand);

// Text of the extra system-menu item, UTF-8: the brand part (empty for the company
// name, "Orli" for "Orli/Paxbyn"), then "Version" and the program version number.
std::string SystemMenuItemText(const ConfiguredBrand& brand);

// True when a brand field (an identity block, or a build's brand slot) begins with
// the name of a brand that publishes a version list.
bool BrandHasVersionList(std::span<const uint8_t> brandField);

// Package brand acceptance: the field's first 12 bytes equal the brand's, or the
// brand skips brand checks. A field shorter than 12 bytes is refused.
bool PackageBrandAccepted(std::span<const uint8_t> packageBrandField, const ConfiguredBrand& brand);

// The model tag of a parameter block: bytes 4..7 in layout 3, bytes 28..31 otherwise.
ModelTag ParamModelTag(const Block& params, int paramLayout);
bool ModelTagIs(const ModelTag& tag, std::string_view name);

// The key that picks a package's segment-2 variant for the device: the model tag for
// layouts 3 and 2; for layout 1 or less "RKVD" (identity begins with "Kyrin"), "ZUR "
// (identity begins with "ZUR") or four zero bytes.
ModelTag DeviceVariantKey(const DeviceState& state);

// Which list of band check boxes the settings dialog builds.
enum class BandListKind {
  kFiveBand,           // X, Ku, K, KA, Laser
  kTwelveOrPerDevice,  // the fixed twelve-band table, or the device's own bands
};
// The brand and model choice for layouts 1 and 2; nullopt for other layouts, whose
// choice rests on device fields rather than on brand or model.
std::optional<BandListKind> BrandBandListKind(int paramLayout, const Block& identity,
                                              const Block& params);

// True when the model tag hides the radar-frequency option ("ZUR ").
bool ModelHidesRadarFrequency(const Block& params, int paramLayout);

// True when the brand's builds hide the time zone and the 12-hour option.
bool BrandHidesTimeZone(const ConfiguredBrand& brand);

}  // namespace tessaly
