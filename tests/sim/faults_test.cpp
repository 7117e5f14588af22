// Fault injection: each kind does what it says, counts from when it was added, and
// several can be active at once.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "sim/sim_host.h"

namespace tessaly::sim::testing {
namespace {

int SendQuery(SimHost& host) {
  return host.Send(0xF7, kConfirmPairA, kConfirmPairB, 0, 0, 0);
}

struct AnswerFault {
  FaultKind kind;
  // True when the answer is corrupted exactly that way and in no other.
  std::function<bool(const Answer&)> corrupted;
};

TEST(SimFaults, AnswerFaultsCorruptOnlyTheNthAnswer) {
  const AnswerFault cases[] = {
      {FaultKind::kBadChecksum,
       [](const Answer& a) { return a.lengthOk && a.signatureOk && !a.checksumOk; }},
      {FaultKind::kBadLength,
       [](const Answer& a) { return !a.lengthOk && a.signatureOk && a.checksumOk; }},
      {FaultKind::kBadSignature,
       [](const Answer& a) { return a.lengthOk && !a.signatureOk && a.checksumOk; }},
      {FaultKind::kBadStatus, [](const Answer& a) { return a.Valid() && a.status != 0; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(FormatFault({c.kind, 2}));
    SimHost host;
    host.Detector().AddFault({c.kind, 2});
    for (int i = 1; i <= 3; ++i) {
      ASSERT_EQ(SendQuery(host), 65);
      Answer answer = host.ReadAnswer();
      ASSERT_TRUE(answer.read);
      if (i == 2) {
        EXPECT_TRUE(c.corrupted(answer));
      } else {
        EXPECT_TRUE(answer.Ok()) << "answer " << i;
      }
    }
  }
}

TEST(SimFaults, WriteFailLosesOnlyTheNthReport) {
  SimHost host;
  host.Detector().AddFault({FaultKind::kWriteFail, 2});
  ASSERT_EQ(SendQuery(host), 65);
  EXPECT_EQ(host.Send(0xF9, 0, 0, 0, 0, 0), -1);
  EXPECT_EQ(host.ReadAnswer().code, 0xF7);  // the failed report never reached the device
  ASSERT_EQ(host.Send(0xF9, 0, 0, 0, 0, 0), 65);
  EXPECT_TRUE(host.ReadAnswer().Ok());
  EXPECT_EQ(host.Detector().Counters().reportsWritten, 2u);
  EXPECT_EQ(host.Detector().Counters().endUpdates, 1u);
}

TEST(SimFaults, ReadFailLosesTheReportItWouldHaveTaken) {
  SimHost host;
  host.Detector().AddFault({FaultKind::kReadFail, 2});
  ASSERT_EQ(host.Send(0xF2, 0x110, 1, 0, 0, 0), 65);
  Report r;
  EXPECT_EQ(host.ReadReport(r), 65);
  EXPECT_EQ(host.ReadReport(r), -1);
  // Three reports are left: two data reports and the answer.
  EXPECT_EQ(host.ReadReport(r), 65);
  EXPECT_EQ(host.ReadReport(r), 65);
  EXPECT_TRUE(host.ReadAnswer().Ok());
  EXPECT_EQ(host.ReadReport(r, 10), -1);
}

TEST(SimFaults, StallHoldsBackEveryReadFromTheNth) {
  SimHost host;
  host.Detector().AddFault({FaultKind::kStall, 2});
  ASSERT_EQ(host.Send(0xF2, 0x110, 1, 0, 0, 0), 65);  // four data reports and the answer
  Report r;
  EXPECT_EQ(host.ReadReport(r), 65);
  EXPECT_EQ(host.ReadReport(r, 10), -1);
  EXPECT_EQ(host.ReadReport(r, 10), -1);
  host.Detector().ClearFaults();
  // Nothing was lost, only held back: three data reports and the answer remain.
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(host.ReadReport(r), 65) << i;
  EXPECT_TRUE(host.ReadAnswer().Ok());
}

TEST(SimFaults, UnplugEndsTransfersAndRemovesTheInterface) {
  SimHost host;
  ASSERT_EQ(SendQuery(host), 65);  // counted before the fault: not part of N
  ASSERT_TRUE(host.ReadAnswer().Ok());
  host.Detector().AddFault({FaultKind::kUnplug, 3});
  ASSERT_EQ(SendQuery(host), 65);
  ASSERT_TRUE(host.ReadAnswer().Ok());
  ASSERT_EQ(host.Send(0xF9, 0, 0, 0, 0, 0), 65);  // the third report
  Report r;
  EXPECT_EQ(host.ReadReport(r, 10), -1);
  EXPECT_EQ(host.Send(0xF9, 0, 0, 0, 0, 0), -1);

  auto& platform = host.Platform();
  uint16_t vendor = 0, product = 0;
  EXPECT_TRUE(platform.Enumerate().empty());
  EXPECT_FALSE(platform.GetAttributes(host.Path(), vendor, product));
  EXPECT_FALSE(platform.CanOpen(host.Path()));
  EXPECT_EQ(platform.CheckAccess(host.Path()), HidOpenStatus::kGone);
  EXPECT_EQ(platform.Open(host.Path(), HidAccess::kRead), nullptr);

  // Plugged in again it is a new connection: old handles stay dead, new ones work.
  host.Detector().Replug();
  EXPECT_EQ(platform.Enumerate().size(), 1u);
  EXPECT_EQ(host.Send(0xF9, 0, 0, 0, 0, 0), -1);
  host.CloseHandles();
  host.OpenHandles();
  ASSERT_EQ(host.Send(0xF9, 0, 0, 0, 0, 0), 65);
  EXPECT_TRUE(host.ReadAnswer().Ok());
}

TEST(SimFaults, UnplugWakesABlockedRead) {
  SimHost host;
  int result = 0;
  std::thread reader([&] {
    Report r;
    result = host.ReadReport(r, -1);
  });
  host.Detector().Unplug();
  reader.join();
  EXPECT_EQ(result, -1);
}

TEST(SimFaults, SeveralFaultsCountIndependently) {
  SimHost host;
  host.Detector().AddFault({FaultKind::kWriteFail, 1});
  host.Detector().AddFault({FaultKind::kBadStatus, 1});
  host.Detector().AddFault({FaultKind::kBadStatus, 3});
  EXPECT_EQ(SendQuery(host), -1);
  const bool expectOk[] = {false, true, false, true};
  for (bool ok : expectOk) {
    ASSERT_EQ(SendQuery(host), 65);
    Answer answer = host.ReadAnswer();
    EXPECT_TRUE(answer.Valid());
    EXPECT_EQ(answer.Ok(), ok);
  }
}

TEST(SimFaults, ParseFaultTakesKindColonCount) {
  for (const auto& kind : FaultKinds()) {
    Fault fault;
    std::string error;
    std::string text = std::string(kind.name) + ":17";
    ASSERT_TRUE(ParseFault(text, fault, error)) << error;
    EXPECT_EQ(fault.kind, kind.kind);
    EXPECT_EQ(fault.count, 17u);
    EXPECT_EQ(FormatFault(fault), text);
    EXPECT_FALSE(kind.description.empty());
  }
  const char* bad[] = {"stall",    "stall:",   "stall:0",
                       "stall:x",  "stall:-1", "stall:+1",
                       "stall:1x", "nope:1",   "write-fail:4294967296",
                       ":1",       ""};
  for (const char* text : bad) {
    Fault fault;
    std::string error;
    EXPECT_FALSE(ParseFault(text, fault, error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

}  // namespace
}  // namespace tessaly::sim::testing
