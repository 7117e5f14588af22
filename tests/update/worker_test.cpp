// The update worker from the file label to the final message box, over the virtual
// detector: every outcome, what the window is left with, and a fault matrix that
// holds "Update Successfully!" to the detector's memory.
#include "update/worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "flash_rig.h"
#include "support/test_support.h"

namespace tessaly::testing {
namespace {

using sim::Fault;
using sim::FaultKind;

struct ShownMessage {
  std::string text, caption;
  MessageIcon icon;
};

// The window as the worker sees it. The worker and the tick may call it at once.
class RecordingView : public IUpdateView {
 public:
  std::string ProgressText() override {
    std::lock_guard lock(m_mutex);
    return m_barText;
  }
  void SetProgressText(const std::string& text) override {
    std::lock_guard lock(m_mutex);
    m_barText = text;
  }
  void SetProgressBounds(uint32_t lower, uint32_t upper) override {
    std::lock_guard lock(m_mutex);
    m_bounds = {lower, upper};
  }
  void SetProgressPosition(uint32_t position) override {
    std::lock_guard lock(m_mutex);
    m_position = position;
  }
  void EnableUpdate(bool enable) override {
    std::lock_guard lock(m_mutex);
    m_buttons.push_back({'U', enable});
  }
  void EnableSetting(bool enable) override {
    std::lock_guard lock(m_mutex);
    m_buttons.push_back({'S', enable});
  }
  std::string FileLabelText() override {
    std::lock_guard lock(m_mutex);
    return label;
  }
  void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override {
    std::lock_guard lock(m_mutex);
    m_messages.push_back({text, caption, icon});
  }
  void ShowLinkState() override { ++linkStateCalls; }

  std::string BarText() {
    std::lock_guard lock(m_mutex);
    return m_barText;
  }
  std::optional<std::pair<uint32_t, uint32_t>> Bounds() {
    std::lock_guard lock(m_mutex);
    return m_bounds;
  }
  std::vector<std::pair<char, bool>> Buttons() {
    std::lock_guard lock(m_mutex);
    return m_buttons;
  }
  std::vector<ShownMessage> Messages() {
    std::lock_guard lock(m_mutex);
    return m_messages;
  }

  std::string label;
  std::atomic<int> linkStateCalls{0};

 private:
  std::mutex m_mutex;
  std::string m_barText;
  std::optional<std::pair<uint32_t, uint32_t>> m_bounds;
  uint32_t m_position = 0;
  std::vector<std::pair<char, bool>> m_buttons;
  std::vector<ShownMessage> m_messages;
};

const std::vector<std::pair<char, bool>> kDisabledOnly = {{'U', false}, {'S', false}};
const std::vector<std::pair<char, bool>> kDisabledThenEnabled = {
    {'U', false}, {'S', false}, {'U', true}, {'S', true}};

// One worker run on a fresh detector.
struct WorkerRun {
  explicit WorkerRun(int firmware = 1008, int readTimeoutMs = 200) : rig(firmware, readTimeoutMs) {}

  std::string Store(const std::vector<uint8_t>& bytes, const std::string& name = "db.dqx") {
    auto path = dir / name;
    WriteFileBytes(path, bytes);
    return path.string();
  }
  UpdateOutcome Run(const std::string& label) {
    view.label = label;
    UpdateJob job{rig.cmd, rig.device, rig.counters, display, view, stop, url, nullptr, kBrandSlot};
    return UpdateWorker(job);
  }

  Rig rig;
  TempDir dir;
  RecordingView view;
  ProgressDisplay display;
  std::atomic<int> stop{0};
  std::string url;
};

// What a failure leaves behind, whichever step failed.
void ExpectFailureReported(WorkerRun& w, const UpdateOutcome& outcome, const std::string& text) {
  EXPECT_EQ(outcome.resultText, text);
  auto messages = w.view.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, text);
  EXPECT_EQ(messages[0].caption, "");
  EXPECT_EQ(messages[0].icon, MessageIcon::kError);
  EXPECT_EQ(w.view.Buttons(), kDisabledThenEnabled);
  EXPECT_EQ(w.view.BarText(), "");
  EXPECT_EQ(w.rig.counters.m_nBytesDone.load(), 0u);
  EXPECT_EQ(w.rig.counters.m_nBytesTotal.load(), 0u);
  EXPECT_EQ(w.rig.counters.m_updatePhase.load(), kPhaseIdle);
}

TEST(UpdateWorker, RefusalsBeforeWritingLeaveTheDeviceUntouched) {
  struct Case {
    const char* name;
    // Gives the file label's text; may store a package.
    std::function<std::string(WorkerRun&)> label;
    std::string url;
    std::string expected;
  };
  auto stored = [](pw::PackageContents c) {
    return [c](WorkerRun& w) { return w.Store(pw::BuildPackage(c).bytes); };
  };
  pw::PackageContents good;
  good.segments[2] = pw::PatternBytes(300, 3);
  pw::PackageContents badSum = good;
  badSum.checksumDelta = 1;
  pw::PackageContents outside = good;
  outside.offsetField[2] = 0x10000000;
  pw::PackageContents pastEnd = good;
  pastEnd.lengthField[2] = 0x1000;  // longer than the file, inside the limit
  pw::PackageContents badTable = good;
  badTable.variantTable = true;
  badTable.variantCountField = 0x00FFFFFF;
  pw::PackageContents foreign = good;
  foreign.brand = {'K', 'y', 'r', 'i', 'n'};
  pw::PackageContents empty;

  const Case cases[] = {
      {"empty label", [](WorkerRun&) { return std::string(); }, "", "Open update file failed!"},
      {"empty label with a database url", [](WorkerRun&) { return std::string(); },
       "http://127.0.0.1/db.zip", "Open update file failed!"},
      {"no such file", [](WorkerRun& w) { return (w.dir / "missing.dqx").string(); }, "",
       "Open update file failed!"},
      {"status text in the label", [](WorkerRun&) { return std::string("   GPS Connected"); }, "",
       "Open update file failed!"},
      {"a folder", [](WorkerRun& w) { return w.dir.Path().string(); }, "",
       "Open update file failed!"},
      {"database url without a download road", [](WorkerRun&) { return std::string("status"); },
       "http://127.0.0.1/db.zip", "Can not Find Update File!"},
      {"wrong brand", stored(foreign), "", "Version unmatched!"},
      {"every segment absent", stored(empty), "", "Cannot find the available database!"},
      {"bad trailer checksum", stored(badSum), "", "Wrong format of the file!-1"},
      {"segment outside the file", stored(outside), "", "Wrong format of the file!-1"},
      {"segment running past the end", stored(pastEnd), "", "Wrong format of the file!-1"},
      {"variant table count past the end", stored(badTable), "", "Wrong format of the file!-4"},
      {"too short for a trailer",
       [](WorkerRun& w) { return w.Store(std::vector<uint8_t>(319, 0)); }, "",
       "Wrong format of the file!-1"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    WorkerRun w;
    w.url = k.url;
    w.rig.counters.m_nBytesDone = 77;
    w.rig.counters.m_nBytesTotal = 99;
    w.rig.counters.m_updatePhase = kPhaseSegment3;
    std::string label = k.label(w);
    UpdateOutcome outcome = w.Run(label);
    ExpectFailureReported(w, outcome, k.expected);
    EXPECT_EQ(w.rig.recorder.ReportsWritten(), 0u);
    EXPECT_EQ(w.rig.detector->Counters().CommandsSeen(sim::kCodeWritePages), 0u);
  }
}

TEST(UpdateWorker, SuccessShowsTheMessageAndKeepsButtonsDisabled) {
  for (int firmware : {1008, 1007}) {
    SCOPED_TRACE(firmware);
    WorkerRun w(firmware);
    TestPackage p = MakePackage({500, 400, 300, 200, 100});
    UpdateOutcome outcome = w.Run(w.Store(p.bytes));
    EXPECT_TRUE(outcome.Succeeded()) << outcome.resultText;

    auto messages = w.view.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Update Successfully!");
    EXPECT_EQ(messages[0].caption, "Update Program");
    EXPECT_EQ(messages[0].icon, MessageIcon::kInformation);
    EXPECT_EQ(w.view.Buttons(), kDisabledOnly);
    EXPECT_EQ(w.rig.counters.m_updatePhase.load(), kPhaseIdle);
    EXPECT_EQ(w.rig.counters.m_nBytesTotal.load(), p.TotalBytes());
    EXPECT_EQ(w.rig.counters.m_nBytesDone.load(), p.TotalBytes());
    EXPECT_EQ(w.view.Bounds(), std::make_pair(0u, static_cast<uint32_t>(p.TotalBytes())));
    EXPECT_EQ(w.view.BarText().rfind("Updated 100.00%   Time ", 0), 0u) << w.view.BarText();
    EXPECT_EQ(w.view.linkStateCalls.load(), firmware < 1008 ? 1 : 0);
    EXPECT_TRUE(CopyMemory(*w.rig.detector) == ExpectedMemory(FreshMemory(), p));
  }
}

TEST(UpdateWorker, FlashFailureReportsUpdateFailed) {
  WorkerRun w(1008);
  TestPackage p = MakePackage({0, 0, 300, 200, 0});
  w.rig.detector->AddFault({FaultKind::kBadStatus, 1});
  ExpectFailureReported(w, w.Run(w.Store(p.bytes)), "Update Failed!");
  EXPECT_EQ(w.rig.recorder.CommandsOf(CMD_WRITE_PAGES).size(), 1u);
}

TEST(UpdateWorker, UnplugDuringAWriteEndsInUpdateFailed) {
  WorkerRun w(1008);
  TestPackage p = MakePackage({4000, 1000, 1000, 0, 0});
  // In the middle of segment 1's data.
  w.rig.detector->AddFault({FaultKind::kUnplug, 30});
  auto start = std::chrono::steady_clock::now();
  UpdateOutcome outcome = w.Run(w.Store(p.bytes));
  auto elapsed = std::chrono::steady_clock::now() - start;
  ExpectFailureReported(w, outcome, "Update Failed!");
  EXPECT_LT(elapsed, std::chrono::seconds(10));
  EXPECT_FALSE(MemoryHolds(*w.rig.detector, p));
}

TEST(UpdateWorker, FailureWhileTheWindowClosesShowsNothing) {
  WorkerRun w(1008);
  TestPackage p = MakePackage({0, 0, 300, 0, 0});
  w.rig.detector->AddFault({FaultKind::kBadStatus, 1});
  w.stop = 1;
  UpdateOutcome outcome = w.Run(w.Store(p.bytes));
  EXPECT_EQ(outcome.resultText, "Update Failed!");
  EXPECT_TRUE(w.view.Messages().empty());
  EXPECT_EQ(w.view.Buttons(), kDisabledOnly);
  EXPECT_EQ(w.view.BarText(), "updating");
  EXPECT_EQ(w.rig.counters.m_nBytesTotal.load(), 300u);
  EXPECT_EQ(w.rig.counters.m_updatePhase.load(), kPhaseIdle);
}

TEST(UpdateWorker, TickRunsBesideTheWorker) {
  WorkerRun w(1008);
  TestPackage p = MakePackage({3000, 2000, 4000, 3000, 20000});
  w.rig.detector->SetDelayUs(50);  // long enough for ticks to meet the writes
  w.view.label = w.Store(p.bytes);
  std::atomic<bool> running{true};
  UpdateOutcome outcome;
  std::thread worker([&] {
    UpdateJob job{w.rig.cmd, w.rig.device, w.rig.counters, w.display, w.view,
                  w.stop,    w.url,        nullptr,        kBrandSlot};
    outcome = UpdateWorker(job);
    running = false;
  });
  while (running) {
    w.display.OnProgressTick(w.rig.counters, w.view);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  worker.join();
  EXPECT_TRUE(outcome.Succeeded()) << outcome.resultText;
  EXPECT_EQ(w.view.BarText().rfind("Updated 100.00%", 0), 0u) << w.view.BarText();
  EXPECT_TRUE(MemoryHolds(*w.rig.detector, p));
}

// Every fault kind at every position of a small update, for each firmware generation
// (one test each, so that they can run in parallel). Whatever the worker says,
// "Update Successfully!" must mean the detector holds the package.
class UpdateWorkerFaults : public ::testing::TestWithParam<int> {};

TEST_P(UpdateWorkerFaults, SuccessOnlyWhenTheMemoryHoldsThePackage) {
  const int firmware = GetParam();
  const TestPackage p = MakePackage({300, 200, 256, 100, 700});
  constexpr int kShortTimeoutMs = 30;  // answers are queued before the host reads
  TempDir dir;
  const std::string path = (dir / "matrix.dqx").string();
  WriteFileBytes(path, p.bytes);

  // A clean run gives the number of each kind of event to sweep over.
  sim::DetectorCounters clean;
  {
    WorkerRun w(firmware, kShortTimeoutMs);
    ASSERT_TRUE(w.Run(path).Succeeded());
    ASSERT_TRUE(MemoryHolds(*w.rig.detector, p));
    clean = w.rig.detector->Counters();
  }
  const uint64_t writes = clean.reportsWritten, reads = clean.reportsRead;
  struct Sweep {
    FaultKind kind;
    uint64_t positions;
  };
  const Sweep sweeps[] = {
      {FaultKind::kWriteFail, writes + 1},   {FaultKind::kReadFail, reads + 1},
      {FaultKind::kBadChecksum, reads + 1},  {FaultKind::kBadLength, reads + 1},
      {FaultKind::kBadSignature, reads + 1}, {FaultKind::kBadStatus, reads + 1},
      {FaultKind::kStall, reads + 1},        {FaultKind::kUnplug, writes + reads + 1},
  };
  int successes = 0, failures = 0;
  for (const Sweep& s : sweeps) {
    for (uint32_t n = 1; n <= s.positions; ++n) {
      const Fault fault{s.kind, n};
      SCOPED_TRACE(sim::FormatFault(fault));
      WorkerRun w(firmware, kShortTimeoutMs);
      w.rig.detector->AddFault(fault);
      UpdateOutcome outcome = w.Run(path);
      const bool holds = MemoryHolds(*w.rig.detector, p);
      if (outcome.Succeeded()) {
        ++successes;
        EXPECT_TRUE(holds) << "reported success, but the package is not in the memory";
      } else {
        ++failures;
        EXPECT_EQ(outcome.resultText, "Update Failed!");
      }
    }
  }
  // Both outcomes occur, so the sweep reached past the retries and into the steps.
  EXPECT_GT(successes, 0);
  EXPECT_GT(failures, 0);
}

INSTANTIATE_TEST_SUITE_P(Firmware, UpdateWorkerFaults, ::testing::Values(1008, 1007),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return "Firmware" + std::to_string(info.param);
                         });

}  // namespace
}  // namespace tessaly::testing
