// `update` and `inspect` through the built executable, on the virtual detector.
#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>

#include "support/run_process.h"
#include "support/test_support.h"
#include "common/bytes.h"
#include "update/checksum.h"
#include "update/package.h"

namespace tessaly {
namespace {

using testing::ReadFileBytes;
using testing::RunProcess;
using testing::TempDir;

// The default virtual detector as the probe leaves it: layout 3, model "SH01".
DeviceState DefaultDevice() {
  DeviceState st;
  st.m_paramLayout = 3;
  std::memcpy(st.m_params.data() + 4, "SH01", 4);
  std::memcpy(st.m_identity.data(), "Sable Harbor", 12);
  return st;
}

TEST(CliUpdate, WritesTheDemoPackageIntoTheStateFolder) {
  TempDir dir;
  const std::string sim = "--simulate=" + (dir / "sim").string();
  auto r = RunProcess(TESSALY_TOOL, {sim, "update", TESSALY_DEMO_PACKAGE});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "Update Successfully!\n");
  EXPECT_NE(r.err.find("100.00%"), std::string::npos) << "progress reaches the end: " << r.err;

  MemoryByteSource package(ReadFileBytes(TESSALY_DEMO_PACKAGE));
  ResolvedTrailer t;
  ASSERT_EQ(ReadPackageTrailer(package, DefaultDevice(), t), 0);
  ASSERT_GT(t.segments[1].length, 0u) << "the demo package has a variant for the device";
  auto mem0 = ReadFileBytes(dir / "sim" / "mem0.bin");
  auto mem1 = ReadFileBytes(dir / "sim" / "mem1.bin");
  ASSERT_EQ(mem0.size(), 0x200u * 256);
  ASSERT_EQ(mem1.size(), 0x8000u * 256);
  auto bytes = package.Bytes();
  struct Region {
    size_t segment;
    const std::vector<uint8_t>& memory;
    size_t address;
  };
  for (Region region : {Region{0, mem0, 0x000000}, Region{1, mem1, 0x009000},
                        Region{2, mem1, 0x016000}, Region{3, mem1, 0x0DE000},
                        Region{4, mem1, 0x2DE000}}) {
    const auto& seg = t.segments[region.segment];
    auto padded = PadToPages(bytes.subspan(seg.offset, seg.length));
    ASSERT_LE(region.address + padded.size(), region.memory.size());
    EXPECT_TRUE(std::equal(padded.begin(), padded.end(), region.memory.begin() + region.address))
        << "segment " << region.segment + 1;
  }
  // The info page ahead of segment 2.
  EXPECT_EQ(LoadU32LE(mem1.data() + 0x8000), 0x5A3C9E71u);
  EXPECT_EQ(LoadU32LE(mem1.data() + 0x8004), t.segments[1].length);

  // The device now reports the package's database date.
  auto probe = RunProcess(TESSALY_TOOL, {sim, "--json", "probe"});
  ASSERT_EQ(probe.exitCode, 0) << probe.err;
  EXPECT_EQ(nlohmann::json::parse(probe.out)["db_version"], 20261201);
}

TEST(CliUpdate, FailuresExitOneWithTheWorkersText) {
  TempDir dir;
  const std::string sim = "--simulate=" + (dir / "sim").string();
  testing::WriteFileBytes(dir / "junk.dqx", std::vector<uint8_t>(1000, 0x42));
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  for (const Case& c : std::vector<Case>{
           {{sim, "update", (dir / "junk.dqx").string()}, "Wrong format of the file!-1"},
           {{sim, "update", (dir / "missing.dqx").string()}, "Open update file failed!"},
           {{sim, "--sim-fault=unplug:40", "update", TESSALY_DEMO_PACKAGE}, "Update Failed!"}}) {
    auto r = RunProcess(TESSALY_TOOL, c.args);
    EXPECT_EQ(r.exitCode, 1) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Update Successfully!"), std::string::npos);
  }
}

TEST(CliInspect, JsonAgreesWithTheTrailer) {
  TempDir dir;
  auto r = RunProcess(TESSALY_TOOL, {"--simulate=" + (dir / "sim").string(), "--json", "inspect",
                                     TESSALY_DEMO_PACKAGE});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto j = nlohmann::json::parse(r.out);
  MemoryByteSource package(ReadFileBytes(TESSALY_DEMO_PACKAGE));
  ResolvedTrailer t;
  ASSERT_EQ(ReadPackageTrailer(package, DefaultDevice(), t), 0);
  EXPECT_EQ(j["version"], t.version);
  EXPECT_EQ(j["brand"], "Sable Harbor");
  for (size_t i = 0; i < kSegmentCount; ++i) {
    EXPECT_EQ(j["segments"][i]["offset"], t.segments[i].offset) << i;
    EXPECT_EQ(j["segments"][i]["length"], t.segments[i].length) << i;
  }
  EXPECT_EQ(j["variants"].size(), t.variants.size());
  EXPECT_EQ(j["chosen_variant"], *t.chosenVariant);
  EXPECT_EQ(j["acceptance"], "accepted");
  EXPECT_EQ(j["total_bytes"], TotalSegmentBytes(t));

  // A described device with another model tag picks another variant or none.
  auto other = RunProcess(TESSALY_TOOL, {"--json", "inspect", TESSALY_DEMO_PACKAGE, "--layout",
                                         "3", "--model", "ZUR "});
  ASSERT_EQ(other.exitCode, 0) << other.err;
  EXPECT_NE(nlohmann::json::parse(other.out)["chosen_variant"], *t.chosenVariant);

  testing::WriteFileBytes(dir / "junk.dqx", std::vector<uint8_t>(100, 0));
  auto junk = RunProcess(TESSALY_TOOL, {"inspect", (dir / "junk.dqx").string(), "--layout", "3"});
  EXPECT_EQ(junk.exitCode, 1);
  EXPECT_NE(junk.err.find("Wrong format of the file!-1"), std::string::npos) << junk.err;
}

}  // namespace
}  // namespace tessaly
