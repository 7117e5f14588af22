#include "download/version_source.h"

#include <gtest/gtest.h>

#include <set>

#include "block_helpers.h"
#include "identify/brand.h"

namespace tessaly {
namespace {

using testing::MakeBlock;

TEST(VersionSourceTest, DefaultTableByBrandPrefix) {
  const std::string orli = GetVersionListUrl(MakeBlock("Orli/Paxbyn"));
  const std::string kyrin = GetVersionListUrl(MakeBlock("Kyrin with more bytes", 0xFF));
  const std::string dunmir = GetVersionListUrl(MakeBlock("Dunmir"));
  EXPECT_TRUE(orli.starts_with("http://") && orli.ends_with("/UserFiles/File/orli.txt")) << orli;
  EXPECT_TRUE(kyrin.starts_with("http://") && kyrin.ends_with("/ditu/pt417q/pt417qUP.txt"))
      << kyrin;
  EXPECT_TRUE(dunmir.starts_with("http://") && dunmir.ends_with("/File/dunmir.txt")) << dunmir;

  std::set<std::string> hosts;
  for (const auto& row : DefaultVersionListSources())
    hosts.insert(row.host);
  EXPECT_EQ(hosts.size(), 3u);

  EXPECT_EQ(GetVersionListUrl(MakeBlock("Orli")), "");
  EXPECT_EQ(GetVersionListUrl(MakeBlock("Kyri")), "");
  EXPECT_EQ(GetVersionListUrl(configuredBrand().Slot()), "");
  EXPECT_EQ(GetVersionListUrl(std::span<const uint8_t>()), "");
}

TEST(VersionSourceTest, FirstMatchingRowWins) {
  const std::vector<VersionListSource> table = {
      {"", "empty.invalid", "/never"},
      {"Ky", "first.invalid", "/a.txt"},
      {"Kyrin", "second.invalid", "/b.txt"},
  };
  EXPECT_EQ(GetVersionListUrl(MakeBlock("Kyrin"), table), "http://first.invalid/a.txt");
  EXPECT_EQ(GetVersionListUrl(MakeBlock("Orli/Paxbyn"), table), "");
}

TEST(VersionSourceTest, ScopedTableIsRestored) {
  const std::string before = GetVersionListUrl(MakeBlock("Kyrin"));
  {
    ScopedVersionListSources local({{"Kyrin", "127.0.0.1:8123", "/ditu/pt417q/pt417qUP.txt"}});
    EXPECT_EQ(GetVersionListUrl(MakeBlock("Kyrin")),
              "http://127.0.0.1:8123/ditu/pt417q/pt417qUP.txt");
    EXPECT_EQ(GetVersionListUrl(MakeBlock("Dunmir")), "");
  }
  EXPECT_EQ(GetVersionListUrl(MakeBlock("Kyrin")), before);
}

}  // namespace
}  // namespace tessaly
