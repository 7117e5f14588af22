// The flashing sequence against the virtual detector: what each write command
// announces, where the data lands, how each firmware generation retries and closes.
#include "update/flash.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "flash_rig.h"

namespace tessaly::testing {
namespace {

using sim::Fault;
using sim::FaultKind;

// The window side of the sequence: counts its calls and notes what the device had been
// sent when the link state was asked for.
class RecordingHost : public IFlashHost {
 public:
  explicit RecordingHost(Rig& rig) : m_rig(rig) {}
  void ShowUpdateProgress() override {
    ++progressCalls;
    doneAtProgress = m_rig.counters.m_nBytesDone.load();
  }
  void ShowLinkState() override {
    ++linkStateCalls;
    auto cmds = m_rig.recorder.Commands();
    lastCodeAtLinkState = cmds.empty() ? 0 : cmds.back().code;
  }
  int progressCalls = 0;
  int linkStateCalls = 0;
  uint32_t doneAtProgress = 0;
  uint8_t lastCodeAtLinkState = 0;

 private:
  Rig& m_rig;
};

// Checks the package as the worker would and runs the whole sequence.
bool Flash(Rig& rig, const TestPackage& p, IFlashHost& host,
           const std::atomic<int>* stop = nullptr) {
  MemoryByteSource source(p.bytes);
  PackageCheck check = CheckPackage(source, rig.device, kBrandSlot);
  EXPECT_TRUE(check.Accepted()) << check.message;
  rig.counters.m_nBytesTotal = static_cast<uint32_t>(p.TotalBytes());
  FlashContext ctx{rig.cmd, rig.device.m_nFirmwareRevision, rig.counters, host, stop};
  return FlashPackage(ctx, source, check.trailer);
}

std::array<size_t, kSegmentCount> Only(size_t index, size_t length) {
  std::array<size_t, kSegmentCount> lengths{};
  lengths[index] = length;
  return lengths;
}

TEST(FlashChecksum, WriteCommandAnnouncesPagesLengthAndChecksum) {
  struct Case {
    const char* name;
    size_t segment;  // 0-based
    size_t length;
    uint32_t page, pages;
    bool transformed;
  };
  const Case cases[] = {
      {"segment 1, one byte", 0, 1, 0x000, 1, true},
      {"segment 3, exactly one page", 2, 256, 0x160, 1, true},
      {"segment 5, 1000 bytes", 4, 1000, 0x2DE0, 4, true},
      {"segment 4, plain sum", 3, 1000, 0xDE0, 4, false},
      {"segment 1, largest", 0, 0x7000, 0x000, 0x70, true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Rig rig(1008);
    TestPackage p = MakePackage(Only(k.segment, k.length));
    RecordingHost host(rig);
    ASSERT_TRUE(Flash(rig, p, host));

    const auto& data = p.segments[k.segment];
    std::vector<uint8_t> padded = RefPadded(data);
    const uint32_t padding = static_cast<uint32_t>(padded.size() - data.size());
    const uint32_t expectedE =
        k.transformed ? RefTransformedSum(data) + padding * 0xFFu : RefByteSum(padded);

    auto writes = rig.recorder.CommandsOf(CMD_WRITE_PAGES);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].a, k.page);
    EXPECT_EQ(writes[0].b, k.pages);
    EXPECT_EQ(writes[0].c, k.transformed ? k.length : 0u);
    EXPECT_EQ(writes[0].d, kRegions[k.segment].selector);
    EXPECT_EQ(writes[0].e, expectedE);
    if (k.length == 1) {
      EXPECT_EQ(writes[0].e, data[0] + 255u * 0xFF);
    }

    // The device stored the padded data at its region and nothing anywhere else.
    EXPECT_TRUE(CopyMemory(*rig.detector) == ExpectedMemory(FreshMemory(), p));
  }
}

TEST(FlashSequence, WholePackageLandsAtItsAddressesInOrder) {
  Rig rig(1008);
  TestPackage p = MakePackage({1, 1000, 256, 1000, 300});
  RecordingHost host(rig);
  ASSERT_TRUE(Flash(rig, p, host));

  auto cmds = rig.recorder.Commands();
  ASSERT_EQ(cmds.size(), 7u);
  const auto info = RefInfoPage(p.segments[1]);
  struct Expected {
    uint32_t a, b, c;
    uint8_t d;
    uint32_t e;
  };
  const Expected expected[] = {
      {0x000, 1, 1, 0, RefTransformedSum(p.segments[0]) + 255u * 0xFF},
      {0x080, 1, 0, 1, RefByteSum(info)},
      {0x090, 4, 1000, 1, RefTransformedSum(p.segments[1]) + 24u * 0xFF},
      {0x160, 1, 256, 1, RefTransformedSum(p.segments[2])},
      {0xDE0, 4, 0, 1, RefByteSum(RefPadded(p.segments[3]))},
      {0x2DE0, 2, 300, 1, RefTransformedSum(p.segments[4]) + 212u * 0xFF},
  };
  for (size_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(cmds[i].code, CMD_WRITE_PAGES);
    EXPECT_EQ(cmds[i].a, expected[i].a);
    EXPECT_EQ(cmds[i].b, expected[i].b);
    EXPECT_EQ(cmds[i].c, expected[i].c);
    EXPECT_EQ(cmds[i].d, expected[i].d);
    EXPECT_EQ(cmds[i].e, expected[i].e);
  }
  EXPECT_EQ(cmds[6].code, CMD_END_UPDATE);

  EXPECT_TRUE(CopyMemory(*rig.detector) == ExpectedMemory(FreshMemory(), p));
  // Info page: marker, unpadded length, transformed sum, then 0xFF.
  auto mem1 = rig.detector->MemoryView(1);
  EXPECT_TRUE(std::equal(info.begin(), info.end(), mem1.begin() + 0x8000));
  EXPECT_EQ(mem1[0x8000], 0x71);
  EXPECT_EQ(mem1[0x8003], 0x5A);
  EXPECT_EQ(mem1[0x8004], 1000 & 0xFF);
  EXPECT_EQ(mem1[0x8005], 1000 >> 8);

  EXPECT_EQ(rig.sink.Phases(), (std::vector<uint8_t>{7, 1, 2, 5, 4, 6}));
  EXPECT_EQ(host.progressCalls, 1);
  EXPECT_EQ(host.doneAtProgress, p.TotalBytes());
  EXPECT_EQ(host.linkStateCalls, 0);
}

TEST(FlashSequence, OnlySegment5RunsOnlyItsStepAndTheClose) {
  Rig rig(1008);
  TestPackage p = MakePackage(Only(4, 700));
  RecordingHost host(rig);
  ASSERT_TRUE(Flash(rig, p, host));
  auto cmds = rig.recorder.Commands();
  ASSERT_EQ(cmds.size(), 2u);
  EXPECT_EQ(cmds[0].code, CMD_WRITE_PAGES);
  EXPECT_EQ(cmds[0].a, 0x2DE0u);
  EXPECT_EQ(cmds[1].code, CMD_END_UPDATE);
  EXPECT_EQ(rig.sink.Phases(), (std::vector<uint8_t>{6}));
  EXPECT_TRUE(CopyMemory(*rig.detector) == ExpectedMemory(FreshMemory(), p));
}

TEST(FlashSequence, ClosedLinkFailsBeforeAnythingIsSent) {
  Rig rig(1008);
  rig.cmd.m_bLinkOpen = 0;
  TestPackage p = MakePackage(Only(0, 500));
  RecordingHost host(rig);
  EXPECT_FALSE(Flash(rig, p, host));
  EXPECT_EQ(rig.recorder.ReportsWritten(), 0u);
  EXPECT_EQ(host.progressCalls, 0);
}

// Faults that spoil the answers of the first `count` writes from `first` on.
std::vector<Fault> BadAnswers(FaultKind kind, uint32_t first, uint32_t count) {
  std::vector<Fault> out;
  for (uint32_t i = 0; i < count; ++i)
    out.push_back({kind, first + i});
  return out;
}

TEST(FlashGenerations, AttemptsAndClosingStepByFirmware) {
  struct Case {
    const char* name;
    int firmware;
    std::array<size_t, kSegmentCount> lengths;
    std::vector<Fault> faults;
    bool succeeds;
    size_t writeCommands;
  };
  const auto status = FaultKind::kBadStatus;
  const Case cases[] = {
      // Old firmware: one try per step, an unconfirmed answer passes.
      {"1007 garbled answer to segment 1 passes",
       1007,
       {300, 0, 0, 0, 0},
       BadAnswers(FaultKind::kBadChecksum, 1, 1),
       true,
       1},
      {"1007 garbled answers to both parts of segment 2 pass",
       1007,
       {0, 500, 0, 0, 0},
       {{FaultKind::kBadLength, 1}, {FaultKind::kBadChecksum, 2}},
       true,
       2},
      {"1007 a refusal of segment 1 fails",
       1007,
       {300, 0, 0, 0, 0},
       BadAnswers(status, 1, 1),
       false,
       1},
      {"1007 lost answer to segment 5 passes",
       1007,
       {0, 0, 0, 0, 300},
       {{FaultKind::kReadFail, 1}},
       true,
       1},
      {"1007 clean run", 1007, {300, 500, 256, 100, 300}, {}, true, 6},
      {"1007 a data report that fails is not -2",
       1007,
       {0, 0, 600, 0, 0},
       {{FaultKind::kWriteFail, 4}},
       false,
       1},
      // New firmware and a failed query: segment 1 and segment 2 are retried.
      {"1008 segment 1 recovers on retry",
       1008,
       {300, 0, 0, 0, 0},
       BadAnswers(status, 1, 1),
       true,
       2},
      {"-2 segment 1 recovers on retry", -2, {300, 0, 0, 0, 0}, BadAnswers(status, 1, 1), true, 2},
      {"-1 segment 1 recovers on retry", -1, {300, 0, 0, 0, 0}, BadAnswers(status, 1, 1), true, 2},
      {"1008 segment 1 passes on the tenth try",
       1008,
       {300, 0, 0, 0, 0},
       BadAnswers(status, 1, 9),
       true,
       10},
      {"1008 segment 1 fails after ten tries",
       1008,
       {300, 0, 0, 0, 300},
       BadAnswers(status, 1, 10),
       false,
       10},
      {"1008 info page retried", 1008, {0, 500, 0, 0, 0}, BadAnswers(status, 1, 3), true, 5},
      {"1008 segment 2 data retried", 1008, {0, 500, 0, 0, 0}, BadAnswers(status, 2, 2), true, 4},
      {"-1 segment 2 data fails after ten tries",
       -1,
       {0, 500, 0, 0, 0},
       BadAnswers(status, 2, 10),
       false,
       11},
      {"1008 info page fails after ten tries",
       1008,
       {0, 500, 0, 0, 0},
       BadAnswers(FaultKind::kBadLength, 1, 10),
       false,
       10},
      // Segments 3 to 5 get one try; -2 fails it.
      {"1008 segment 3 fails at once",
       1008,
       {0, 0, 256, 100, 0},
       BadAnswers(status, 1, 1),
       false,
       1},
      {"1008 segment 4 fails at once", 1008, {0, 0, 0, 100, 0}, BadAnswers(status, 1, 1), false, 1},
      {"1008 segment 5 fails at once",
       1008,
       {0, 0, 0, 0, 300},
       {{FaultKind::kBadSignature, 1}},
       false,
       1},
      {"-1 segment 3 lost answer fails",
       -1,
       {0, 0, 256, 0, 0},
       {{FaultKind::kReadFail, 1}},
       false,
       1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Rig rig(k.firmware);
    TestPackage p = MakePackage(k.lengths);
    for (const Fault& f : k.faults)
      rig.detector->AddFault(f);
    RecordingHost host(rig);
    EXPECT_EQ(Flash(rig, p, host), k.succeeds);
    EXPECT_EQ(rig.recorder.CommandsOf(CMD_WRITE_PAGES).size(), k.writeCommands);

    auto commits = rig.recorder.CommandsOf(CMD_COMMIT);
    auto ends = rig.recorder.CommandsOf(CMD_END_UPDATE);
    if (!k.succeeds) {
      EXPECT_TRUE(commits.empty());
      EXPECT_TRUE(ends.empty());
      EXPECT_EQ(host.progressCalls, 0);
      EXPECT_EQ(host.linkStateCalls, 0);
      continue;
    }
    EXPECT_TRUE(MemoryHolds(*rig.detector, p));
    EXPECT_EQ(host.progressCalls, 1);
    if (k.firmware == 1007) {
      ASSERT_EQ(commits.size(), 1u);
      EXPECT_EQ(commits[0].a, kConfirmA);
      EXPECT_EQ(commits[0].b, kConfirmB);
      EXPECT_TRUE(ends.empty());
      EXPECT_EQ(host.linkStateCalls, 1);
      EXPECT_EQ(host.lastCodeAtLinkState, CMD_COMMIT);
    } else {
      EXPECT_EQ(ends.size(), 1u);
      EXPECT_TRUE(commits.empty());
      EXPECT_EQ(host.linkStateCalls, 0);
    }
  }
}

TEST(FlashRetry, FailedAttemptSetsTheByteCounterBack) {
  Rig rig(1008);
  TestPackage p = MakePackage(Only(0, 0x7000));
  // The command and 100 data reports go out, the 101st data report fails.
  rig.detector->AddFault({FaultKind::kWriteFail, 102});
  const uint32_t noted = 1000;
  rig.counters.m_nBytesDone = noted;
  rig.counters.m_updatePhase = kPhaseSegment1;

  MemoryByteSource source(p.bytes);
  PackageCheck check = CheckPackage(source, rig.device, kBrandSlot);
  ASSERT_TRUE(check.Accepted());
  RecordingHost host(rig);
  FlashContext ctx{rig.cmd, 1008, rig.counters, host, nullptr};
  const PackageSegment& seg = check.trailer.segments[0];
  ASSERT_TRUE(WriteSegment(ctx, source, 0, seg.offset, seg.length, true, 0, true));

  EXPECT_EQ(rig.recorder.CommandsOf(CMD_WRITE_PAGES).size(), 2u);
  EXPECT_EQ(rig.counters.m_nBytesDone.load(), noted + 0x7000u);
  EXPECT_TRUE(MemoryHolds(*rig.detector, p));
}

TEST(FlashRetry, StopFlagMakesRetriesGiveUp) {
  for (int stopping : {0, 1}) {
    SCOPED_TRACE(stopping);
    Rig rig(1008);
    TestPackage p = MakePackage({300, 500, 0, 0, 0});
    for (const Fault& f : BadAnswers(FaultKind::kBadStatus, 1, 3))
      rig.detector->AddFault(f);
    std::atomic<int> stop{stopping};
    RecordingHost host(rig);
    EXPECT_EQ(Flash(rig, p, host, &stop), !stopping);
    EXPECT_EQ(rig.recorder.CommandsOf(CMD_WRITE_PAGES).size(), stopping ? 1u : 6u);
  }
}

}  // namespace
}  // namespace tessaly::testing
