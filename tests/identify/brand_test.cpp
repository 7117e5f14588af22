#include "identify/brand.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "block_helpers.h"

namespace tessaly {
namespace {

using testing::AsText;
using testing::MakeBlock;

const std::string kSpaces21(21, ' ');

struct BrandCase {
  const char* label;
  Block identity;
  int layout;
  std::string brand;
  BrandVerdict verdict;
  std::string newPrefix;  // for kAcceptWithNewIdentity: the block is this plus zeros
};

class BrandCheckTest : public ::testing::TestWithParam<BrandCase> {};

TEST_P(BrandCheckTest, Decides) {
  const BrandCase& c = GetParam();
  const BrandCheckResult result = CheckDeviceBrand(c.identity, c.layout, ConfiguredBrand(c.brand));
  ASSERT_EQ(result.verdict, c.verdict);
  if (c.verdict == BrandVerdict::kAcceptWithNewIdentity) {
    EXPECT_EQ(AsText(result.newIdentity, c.newPrefix.size()), c.newPrefix);
    EXPECT_TRUE(std::all_of(result.newIdentity.begin() + c.newPrefix.size(),
                            result.newIdentity.end(), [](uint8_t b) { return b == 0; }));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, BrandCheckTest,
    ::testing::Values(
        BrandCase{"BlankIsBranded", MakeBlock("", 0xFF), 3, "Sable Harbor",
                  BrandVerdict::kAcceptWithNewIdentity, "Sable Harbor"},
        BrandCase{"BlankBrandedWithSlotBytes", MakeBlock("", 0xFF), 1, "Kyrin",
                  BrandVerdict::kAcceptWithNewIdentity, "Kyrin"},
        BrandCase{"OwnBrandAnyTail", MakeBlock("Sable Harbor!?", 0xFF), 2, "Sable Harbor",
                  BrandVerdict::kAccept, ""},
        BrandCase{"ElevenOfTwelveBytes", MakeBlock("Sable HarboX"), 2, "Sable Harbor",
                  BrandVerdict::kReject, ""},
        BrandCase{"ElevenBytesThenZero", MakeBlock("Sable Harbo"), 2, "Sable Harbor",
                  BrandVerdict::kReject, ""},
        BrandCase{"AllZerosAfterFailedRead", MakeBlock(""), 3, "Sable Harbor",
                  BrandVerdict::kReject, ""},
        BrandCase{"AlmostBlank",
                  [] {
                    Block b = MakeBlock("", 0xFF);
                    b[255] = 0xFE;
                    return b;
                  }(),
                  3, "Sable Harbor", BrandVerdict::kReject, ""},
        BrandCase{"OrliRejectedByThisBuild", MakeBlock("Orli/Paxbyn"), 1, "Sable Harbor",
                  BrandVerdict::kReject, ""},
        BrandCase{"OrliRebrandedForKyrin", MakeBlock("Orli/Paxbyn..", 0xFF), 1, "Kyrin",
                  BrandVerdict::kAcceptWithNewIdentity, "Kyrin"},
        BrandCase{"OrliRebrandedForKyrinNoLayout", MakeBlock("Orli/Paxbyn"), -1, "Kyrin",
                  BrandVerdict::kAcceptWithNewIdentity, "Kyrin"},
        BrandCase{"OrliNotRebrandedOnLayout2", MakeBlock("Orli/Paxbyn"), 2, "Kyrin",
                  BrandVerdict::kReject, ""},
        BrandCase{"OrliHalfNotEnough", MakeBlock("Orli/Paxby"), 1, "Kyrin", BrandVerdict::kReject,
                  ""},
        BrandCase{"KyrinBuildOwnBrand", MakeBlock("Kyrin"), 3, "Kyrin", BrandVerdict::kAccept, ""},
        BrandCase{"KyrinBuildComparesTwelveBytes", MakeBlock("Kyrin Ltd"), 3, "Kyrin",
                  BrandVerdict::kReject, ""},
        BrandCase{"QuexTechForDrennick", MakeBlock("QuexTech Co.Ltd.", 0xFF), 3, "Drennick",
                  BrandVerdict::kAccept, ""},
        BrandCase{"QuexTechShortForDrennick", MakeBlock("QuexTech Co.Ltd"), 3, "Drennick",
                  BrandVerdict::kReject, ""},
        BrandCase{"QuexTechRejectedByThisBuild", MakeBlock("QuexTech Co.Ltd."), 3, "Sable Harbor",
                  BrandVerdict::kReject, ""},
        BrandCase{"HalvikonForTornelle", MakeBlock("Halvikon"), 2, "Tornelle",
                  BrandVerdict::kAccept, ""},
        BrandCase{"HalvikonRejectedByThisBuild", MakeBlock("Halvikon"), 2, "Sable Harbor",
                  BrandVerdict::kReject, ""},
        BrandCase{"SpacesAcceptZeros", MakeBlock(""), 3, kSpaces21, BrandVerdict::kAccept, ""},
        BrandCase{"SpacesLeaveBlankUnwritten", MakeBlock("", 0xFF), 3, kSpaces21,
                  BrandVerdict::kAccept, ""},
        BrandCase{"FifteenSpacesStillChecks", MakeBlock(""), 3, std::string(15, ' '),
                  BrandVerdict::kReject, ""},
        BrandCase{"TwentySpacesStillChecks", MakeBlock("Foreign"), 3, std::string(20, ' '),
                  BrandVerdict::kReject, ""}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ConfiguredBrandTest, SlotIsSixteenZeroFilledBytesForShortNames) {
  const ConfiguredBrand brand("Sable Harbor");
  ASSERT_EQ(brand.Slot().size(), 16u);
  EXPECT_EQ(brand.Name(), "Sable Harbor");
  EXPECT_EQ(brand.Slot()[12], 0);
  EXPECT_EQ(brand.Slot()[15], 0);
  EXPECT_FALSE(SkipsBrandChecks(configuredBrand()));
  EXPECT_TRUE(SkipsBrandChecks(ConfiguredBrand(kSpaces21)));
}

TEST(SystemMenuTest, ItemText) {
  EXPECT_EQ(SystemMenuItemText(ConfiguredBrand("Sable Harbor")), "Sable HarborVersion15");
  EXPECT_EQ(SystemMenuItemText(ConfiguredBrand("QuexTech Co.Ltd.")), "Version15");
  EXPECT_EQ(SystemMenuItemText(ConfiguredBrand("Orli/Paxbyn")), "OrliVersion15");
  EXPECT_EQ(SystemMenuItemText(ConfiguredBrand("Kyrin")), "KyrinVersion15");
  // Only the compared twelve bytes reach the menu.
  EXPECT_EQ(SystemMenuItemText(ConfiguredBrand("Tornelle Extra")), "Tornelle ExtVersion15");
}

TEST(VersionListBrandTest, OnlyThreeBrandsByPrefix) {
  EXPECT_TRUE(BrandHasVersionList(MakeBlock("Orli/Paxbyn")));
  EXPECT_TRUE(BrandHasVersionList(MakeBlock("Kyrin and more", 0xFF)));
  EXPECT_TRUE(BrandHasVersionList(MakeBlock("Dunmir")));
  EXPECT_FALSE(BrandHasVersionList(MakeBlock("Orli")));
  EXPECT_FALSE(BrandHasVersionList(MakeBlock("Kyri")));
  EXPECT_FALSE(BrandHasVersionList(configuredBrand().Slot()));
}

TEST(PackageBrandTest, FirstTwelveBytes) {
  const ConfiguredBrand own("Sable Harbor");
  EXPECT_TRUE(PackageBrandAccepted(MakeBlock("Sable Harbor anything", 0xAA), own));
  EXPECT_FALSE(PackageBrandAccepted(MakeBlock("Sable HarboR"), own));
  EXPECT_FALSE(PackageBrandAccepted(MakeBlock("Kyrin"), own));
  const uint8_t shortField[11] = {'S', 'a', 'b', 'l', 'e', ' ', 'H', 'a', 'r', 'b', 'o'};
  EXPECT_FALSE(PackageBrandAccepted(shortField, own));

  // A short brand compares its slot's zero bytes too.
  EXPECT_TRUE(PackageBrandAccepted(MakeBlock("Kyrin"), ConfiguredBrand("Kyrin")));
  EXPECT_FALSE(PackageBrandAccepted(MakeBlock("Kyrin2"), ConfiguredBrand("Kyrin")));

  EXPECT_TRUE(PackageBrandAccepted(MakeBlock("anything"), ConfiguredBrand(kSpaces21)));
}

Block ParamsWithTags(std::string_view at4, std::string_view at28) {
  Block params{};
  std::copy(at4.begin(), at4.end(), params.begin() + 4);
  std::copy(at28.begin(), at28.end(), params.begin() + 28);
  return params;
}

std::string KeyText(const ModelTag& key) {
  return {key.begin(), key.end()};
}

struct VariantCase {
  int layout;
  const char* identity;
  std::string key;
};

TEST(VariantKeyTest, ByLayoutAndIdentity) {
  const VariantCase cases[] = {
      {3, "Sable Harbor", "TAG3"},
      {2, "Sable Harbor", "TAG2"},
      {2, "Kyrin", "TAG2"},  // the model tag wins over the brand
      {1, "Kyrin", "RKVD"},
      {-1, "Kyrin", "RKVD"},  // signed comparison: no layout still counts as old
      {0, "ZURICH", "ZUR "},
      {1, "ZU", std::string(4, '\0')},
      {-1, "Sable Harbor", std::string(4, '\0')},
  };
  for (const VariantCase& c : cases) {
    DeviceState state;
    state.m_paramLayout = c.layout;
    state.m_params = ParamsWithTags("TAG3", "TAG2");
    state.m_identity = MakeBlock(c.identity);
    EXPECT_EQ(KeyText(DeviceVariantKey(state)), c.key) << c.layout << " " << c.identity;
  }
}

TEST(SettingsRulesTest, BandListKind) {
  const Block v73 = ParamsWithTags("", "V73 ");
  const Block other = ParamsWithTags("V73 ", "V74 ");
  const Block kyrin = MakeBlock("Kyrin");
  const Block sable = MakeBlock("Sable Harbor");
  EXPECT_EQ(BrandBandListKind(2, sable, v73), BandListKind::kTwelveOrPerDevice);
  EXPECT_EQ(BrandBandListKind(2, kyrin, other), BandListKind::kFiveBand);
  EXPECT_EQ(BrandBandListKind(1, kyrin, v73), BandListKind::kFiveBand);
  EXPECT_EQ(BrandBandListKind(1, sable, other), BandListKind::kTwelveOrPerDevice);
  EXPECT_EQ(BrandBandListKind(3, kyrin, v73), std::nullopt);
  EXPECT_EQ(BrandBandListKind(-1, kyrin, v73), std::nullopt);
}

TEST(SettingsRulesTest, RadarFrequencyAndTimeZone) {
  EXPECT_TRUE(ModelHidesRadarFrequency(ParamsWithTags("ZUR ", ""), 3));
  EXPECT_FALSE(ModelHidesRadarFrequency(ParamsWithTags("", "ZUR "), 3));
  EXPECT_TRUE(ModelHidesRadarFrequency(ParamsWithTags("", "ZUR "), 2));
  EXPECT_TRUE(ModelHidesRadarFrequency(ParamsWithTags("", "ZUR "), 1));
  EXPECT_FALSE(ModelHidesRadarFrequency(ParamsWithTags("", "ZUR"), 2));

  EXPECT_TRUE(BrandHidesTimeZone(ConfiguredBrand("MORVALE")));
  EXPECT_FALSE(BrandHidesTimeZone(ConfiguredBrand("MORVALE2")));
  EXPECT_FALSE(BrandHidesTimeZone(ConfiguredBrand("Sable Harbor")));
}

}  // namespace
}  // namespace tessaly
