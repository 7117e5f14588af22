// The CLI through the built executable.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/run_process.h"
#include "support/test_support.h"

namespace tessaly {
namespace {

using testing::RunProcess;
using testing::TempDir;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string ReadText(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(CliReadPage, TracesExactlyTheExchange) {
  TempDir dir;
  const auto trace = dir / "trace.txt";
  auto r = RunProcess(TESSALY_TOOL, {"--simulate=" + (dir / "sim").string(),
                                     "--trace=" + trace.string(), "read-page", "0", "0x110"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("memory 0 page 0x110"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("0000:"), std::string::npos);
  EXPECT_NE(r.out.find("00f0:"), std::string::npos) << "all 256 bytes are dumped";

  auto lines = Lines(ReadText(trace));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "> 00f2171001000001000000000000000000000000" "4849444333020000" +
                          std::string(74, 'c'));
  for (size_t i = 1; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].substr(0, 2), "< ") << i;
    EXPECT_EQ(lines[i].size(), 2u + 130u) << i;
  }
  // The last report is the answer: code f2, length 0x17, status 0, "HIDC".
  EXPECT_EQ(lines[5].substr(2, 14), "00f21700000000");
  EXPECT_EQ(lines[5].substr(2 + 40, 8), "48494443");
}

TEST(CliReadPage, JsonCarriesThePage) {
  TempDir dir;
  auto r = RunProcess(TESSALY_TOOL,
                      {"--simulate=" + (dir / "sim").string(), "--json", "read-page", "0", "0x70"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["page"], 0x70);
  std::string data = j["data"];
  ASSERT_EQ(data.size(), 512u);
  EXPECT_EQ(data.substr(0, 24), "5361626c6520486172626f72");  // "Sable Harbor"
}

TEST(CliReadPage, DeviceFailuresExitOne) {
  TempDir dir;
  const std::string sim = "--simulate=" + (dir / "sim").string();
  struct Case {
    std::vector<std::string> args;
  };
  for (const auto& args : std::vector<std::vector<std::string>>{
           {sim, "--sim-fault=bad-status:1", "read-page", "0", "0x110"},
           {sim, "--sim-fault=unplug:2", "read-page", "0", "0x110"},
           {sim, "read-page", "1", "0x9000"}}) {
    auto r = RunProcess(TESSALY_TOOL, args);
    EXPECT_EQ(r.exitCode, 1) << args[1] << " " << args[3];
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
  }
}

TEST(CliUsage, BadUsageExitsTwoWithOneLine) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {},
           {"read-page", "0"},
           {"read-page", "0", "nonsense"},
           {"read-page", "300", "1"},
           {"--simulate", "--sim-fault=melt:1", "list"},
           {"--simulate", "--sim-fault=stall:0", "list"},
           {"frobnicate"}}) {
    auto r = RunProcess(TESSALY_TOOL, args);
    EXPECT_EQ(r.exitCode, 2) << (args.empty() ? "" : args.back());
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
  }
  auto help = RunProcess(TESSALY_TOOL, {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("unplug"), std::string::npos) << "fault kinds are listed";
}

TEST(CliList, ShowsTheVirtualDetector) {
  TempDir dir;
  auto r = RunProcess(TESSALY_TOOL, {"--simulate=" + (dir / "sim").string(), "--json", "list"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto j = nlohmann::json::parse(r.out);
  ASSERT_EQ(j.size(), 1u);
  EXPECT_EQ(j[0]["vendor"], "0416");
  EXPECT_EQ(j[0]["product"], "b500");
  EXPECT_EQ(j[0]["held_by_other"], false);
  EXPECT_EQ(j[0]["access"], "ok");
}

}  // namespace
}  // namespace tessaly
