#include "identify/brand.h"

#include <algorithm>
#include <cstring>

#include "common/bytes.h"
#include "identify/link_texts.h"

namespace tessaly {

static_assert(kBrandSableHarbor.size() == 12);
static_assert(kBrandKyrin.size() == 5);
static_assert(kBrandOrliPaxbyn.size() == 11);
static_assert(kBrandOrli.size() == 4);
static_assert(kBrandDunmir.size() == 6);
static_assert(kBrandQuexTech.size() == 16);
static_assert(kBrandDrennick.size() == 8);
static_assert(kBrandHalvikon.size() == 8);
static_assert(kBrandTornelle.size() == 8);
static_assert(kBrandMorvale.size() == 7);
static_assert(kNoBrandCheck.size() == 21);
static_assert(kBrandCompareBytes <= ConfiguredBrand::kMinSlotSize);

ConfiguredBrand::ConfiguredBrand(std::string_view name)
    : m_slot(std::max(kMinSlotSize, name.size() + 1), 0) {
  std::memcpy(m_slot.data(), name.data(), name.size());
}

std::string_view ConfiguredBrand::Name() const {
  const auto end = std::find(m_slot.begin(), m_slot.end(), uint8_t{0});
  return {reinterpret_cast<const char*>(m_slot.data()), static_cast<size_t>(end - m_slot.begin())};
}

std::span<const uint8_t> ConfiguredBrand::Leading(size_t count) const {
  return Slot().first(std::min(count, m_slot.size()));
}

bool ConfiguredBrand::StartsWith(std::string_view name) const {
  return StartsWithBytes(Slot(), name);
}

const ConfiguredBrand& configuredBrand() {
  static const ConfiguredBrand brand{TESSALY_BRAND};
  return brand;
}

bool BytesStartWith(std::span<const uint8_t> bytes, std::string_view name) {
  return StartsWithBytes(bytes, name);
}

bool SkipsBrandChecks(const ConfiguredBrand& brand) {
  return brand.StartsWith(kNoBrandCheck);
}

namespace {

// The identity block that rebrands a device: `name` followed by zero bytes.
Block IdentityFor(std::span<const uint8_t> name) {
  Block block{};
  std::copy_n(name.begin(), std::min(name.size(), block.size()), block.begin());
  return block;
}

bool LeadingBytesEqual(std::span<const uint8_t> a, std::span<const uint8_t> b, size_t count) {
  return a.size() >= count && b.size() >= count &&
         std::equal(a.begin(), a.begin() + count, b.begin());
}

}  // namespace

BrandCheckResult CheckDeviceBrand(const Block& identity, int paramLayout,
                                  const ConfiguredBrand& brand) {
  if (SkipsBrandChecks(brand)) {
    return {BrandVerdict::kAccept, {}};
  }
  const bool blank =
      std::all_of(identity.begin(), identity.end(), [](uint8_t b) { return b == 0xFF; });
  if (blank) {
    return {BrandVerdict::kAcceptWithNewIdentity, IdentityFor(brand.Leading(kBrandCompareBytes))};
  }
  if (LeadingBytesEqual(identity, brand.Slot(), kBrandCompareBytes)) {
    return {BrandVerdict::kAccept, {}};
  }
  if (BytesStartWith(identity, kBrandOrliPaxbyn) && brand.StartsWith(kBrandKyrin) &&
      paramLayout <= 1) {
    const auto* kyrin = reinterpret_cast<const uint8_t*>(kBrandKyrin.data());
    return {BrandVerdict::kAcceptWithNewIdentity, IdentityFor({kyrin, kBrandKyrin.size()})};
  }
  if (BytesStartWith(identity, kBrandQuexTech) && brand.StartsWith(kBrandDrennick)) {
    return {BrandVerdict::kAccept, {}};
  }
  if (BytesStartWith(identity, kBrandHalvikon) && brand.StartsWith(kBrandTornelle)) {
    return {BrandVerdict::kAccept, {}};
  }
  return {BrandVerdict::kReject, {}};
}

std::string SystemMenuItemText(const ConfiguredBrand& brand) {
  std::string part;
  if (brand.Name() == kBrandQuexTech) {
    part.clear();
  } else if (brand.Name() == kBrandOrliPaxbyn) {
    part = kBrandOrli;
  } else {
    // The menu shows the compared bytes of the slot as a terminated string.
    const auto lead = brand.Leading(kBrandCompareBytes);
    const auto end = std::find(lead.begin(), lead.end(), uint8_t{0});
    part.assign(lead.begin(), end);
  }
  return part + std::string(kMenuVersionWord) + std::to_string(kProgramVersionNumber);
}

bool BrandHasVersionList(std::span<const uint8_t> brandField) {
  return std::any_of(kVersionListBrands.begin(), kVersionListBrands.end(),
                     [&](std::string_view name) { return BytesStartWith(brandField, name); });
}

bool PackageBrandAccepted(std::span<const uint8_t> packageBrandField,
                          const ConfiguredBrand& brand) {
  if (SkipsBrandChecks(brand)) {
    return true;
  }
  return LeadingBytesEqual(packageBrandField, brand.Slot(), kBrandCompareBytes);
}

namespace {
constexpr size_t kTagOffsetLayout3 = 4;
constexpr size_t kTagOffsetLayouts12 = 28;
}  // namespace

ModelTag ParamModelTag(const Block& params, int paramLayout) {
  const size_t off = paramLayout >= 3 ? kTagOffsetLayout3 : kTagOffsetLayouts12;
  ModelTag tag{};
  std::copy_n(params.begin() + static_cast<std::ptrdiff_t>(off), tag.size(), tag.begin());
  return tag;
}

bool ModelTagIs(const ModelTag& tag, std::string_view name) {
  return name.size() == tag.size() && StartsWithBytes(tag, name);
}

namespace {
ModelTag TagOf(std::string_view name) {
  ModelTag tag{};
  std::copy_n(name.begin(), std::min(name.size(), tag.size()), tag.begin());
  return tag;
}
}  // namespace

ModelTag DeviceVariantKey(const DeviceState& state) {
  const int layout = state.m_paramLayout;
  if (layout >= 2) return ParamModelTag(state.m_params, layout);
  if (BytesStartWith(state.m_identity, kBrandKyrin)) return TagOf(kTagRkvd);
  if (BytesStartWith(state.m_identity, kZurPrefix)) return TagOf(kTagZur);
  return ModelTag{};
}

std::optional<BandListKind> BrandBandListKind(int paramLayout, const Block& identity,
                                              const Block& params) {
  if (paramLayout == 2) {
    return ModelTagIs(ParamModelTag(params, 2), kTagV73) ? BandListKind::kTwelveOrPerDevice
                                                         : BandListKind::kFiveBand;
  }
  if (paramLayout == 1) {
    return BytesStartWith(identity, kBrandKyrin) ? BandListKind::kFiveBand
                                                 : BandListKind::kTwelveOrPerDevice;
  }
  return std::nullopt;
}

bool ModelHidesRadarFrequency(const Block& params, int paramLayout) {
  return ModelTagIs(ParamModelTag(params, paramLayout), kTagZur);
}

bool BrandHidesTimeZone(const ConfiguredBrand& brand) {
  return brand.Name() == kBrandMorvale;
}

}  // namespace tessaly
