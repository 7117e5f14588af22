// `probe` through the built executable, on virtual detectors of every profile.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/run_process.h"
#include "support/test_support.h"

namespace tessaly {
namespace {

using testing::RunProcess;
using testing::TempDir;

struct ProbeCase {
  const char* profile;
  int layout;
  int revision;
  const char* model;
};

class CliProbe : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(CliProbe, ReportsTheDeviceState) {
  const auto& c = GetParam();
  TempDir dir;
  auto r = RunProcess(TESSALY_TOOL, {"--simulate=" + (dir / "sim").string(),
                                     std::string("--sim-profile=") + c.profile, "--json", "probe"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["firmware"], 1008);
  EXPECT_EQ(j["layout"], c.layout);
  EXPECT_EQ(j["revision"], c.revision);
  EXPECT_EQ(j["model"], c.model);
  EXPECT_EQ(j["program_version"], 215);
  EXPECT_EQ(j["brand"], "Sable Harbor");
  EXPECT_EQ(j["db_version"], 20261120);
  EXPECT_EQ(j["ready"], true);
  EXPECT_EQ(j["identity_written"], false);
}

INSTANTIATE_TEST_SUITE_P(Profiles, CliProbe,
                         ::testing::Values(ProbeCase{"layout3", 3, 3, "SH01"},
                                           ProbeCase{"layout2", 2, 5, "SH02"},
                                           ProbeCase{"layout2-v73", 2, 5, "V73 "},
                                           ProbeCase{"layout1", 1, 5, "SH00"}),
                         [](const auto& info) {
                           std::string name = info.param.profile;
                           for (char& ch : name)
                             if (ch == '-') ch = '_';
                           return name;
                         });

TEST(CliProbeBrand, BlankIdentityIsWrittenThenAccepted) {
  TempDir dir;
  const std::vector<std::string> args = {"--simulate=" + (dir / "sim").string(),
                                         "--sim-profile=blank-identity", "--json", "probe"};
  auto first = RunProcess(TESSALY_TOOL, args);
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(nlohmann::json::parse(first.out)["identity_written"], true);
  EXPECT_EQ(nlohmann::json::parse(first.out)["brand"], "Sable Harbor");
  // The device kept the new block: the next probe accepts it without a write.
  auto second = RunProcess(TESSALY_TOOL, args);
  ASSERT_EQ(second.exitCode, 0) << second.err;
  EXPECT_EQ(nlohmann::json::parse(second.out)["identity_written"], false);
  auto page = RunProcess(TESSALY_TOOL,
                         {"--simulate=" + (dir / "sim").string(), "--json", "read-page", "0", "0x70"});
  std::string data = nlohmann::json::parse(page.out)["data"];
  EXPECT_EQ(data, "5361626c6520486172626f72" + std::string(488, '0'));
}

TEST(CliProbeBrand, ForeignBrandIsRefusedInWords) {
  TempDir dir;
  auto r = RunProcess(TESSALY_TOOL, {"--simulate=" + (dir / "sim").string(),
                                     "--sim-profile=foreign-brand", "--json", "probe"});
  EXPECT_EQ(r.exitCode, 1);
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["ready"], false);
  EXPECT_EQ(j["brand"], "Kyrin");
  EXPECT_NE(r.err.find("\"Kyrin\""), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\"Sable Harbor\""), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("   No hardware connected!"), std::string::npos) << r.err;
}

TEST(CliProbeFirmware, FailedQueryStillProbes) {
  TempDir dir;
  auto r = RunProcess(TESSALY_TOOL, {"--simulate=" + (dir / "sim").string(),
                                     "--sim-fault=bad-status:1", "--json", "probe"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["firmware"], -2);
  EXPECT_EQ(j["ready"], true);
}

}  // namespace
}  // namespace tessaly
