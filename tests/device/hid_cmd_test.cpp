#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "common/bytes.h"
#include "device/fake_platform.h"
#include "device/hid_cmd.h"
#include "support/test_support.h"

namespace tessaly {
namespace {

using testing::FakePlatform;

std::vector<uint8_t> AnswerReport(uint32_t status, uint32_t b = 0, uint8_t code = 0xF2) {
  std::vector<uint8_t> report(kReportSize, 0);
  BuildPacket(report.data() + 1, code, status, b, 0, 0, 0);
  return report;
}

std::vector<uint8_t> DataReport(uint8_t first, size_t payload = kPayloadSize) {
  std::vector<uint8_t> report(payload + 1, 0);
  for (size_t i = 0; i < payload; ++i) report[i + 1] = static_cast<uint8_t>(first + i);
  return report;
}

class HidCmdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform.interfaces = {{"/dev/hidraw1"}};
    cmd.m_hNotifyWnd = &sink;
    cmd.m_bLinkOpen = cmd.m_io.FindDevice();
    ASSERT_TRUE(cmd.m_bLinkOpen);
    cmd.m_io.SetReadTimeoutMs(200);
  }
  void Queue(std::vector<uint8_t> report) {
    std::lock_guard lock(platform.io->mutex);
    platform.io->inbound.push_back(std::move(report));
  }
  std::vector<std::vector<uint8_t>> Written() {
    std::lock_guard lock(platform.io->mutex);
    return platform.io->written;
  }

  FakePlatform platform{HidPathStyle::kOpaque};
  testing::RecordingSink sink;
  CHidCmd cmd{platform};
};

TEST_F(HidCmdTest, ReadPageSendsTheKnownCommandReport) {
  for (int i = 0; i < 4; ++i) Queue(DataReport(static_cast<uint8_t>(i * 64)));
  Queue(AnswerReport(0));
  std::array<uint8_t, kPageSize> page{};
  ASSERT_EQ(cmd.ReadPage(0x110, 0, page), 256);

  // Report ID, the 27-byte packet (checksum 0x233), then 37 bytes of 0xCC.
  const std::string expected = "00"
                               "f2171001000001000000000000000000000000"
                               "4849444333020000" +
                               std::string(74, 'c');
  ASSERT_EQ(Written().size(), 1u);
  EXPECT_EQ(HexString(Written()[0]), expected);
  for (size_t i = 0; i < page.size(); ++i) ASSERT_EQ(page[i], static_cast<uint8_t>(i));
  EXPECT_EQ(sink.CountOf(WM_HID_READ_PROGRESS), 4u);
  EXPECT_EQ(sink.SumOf(WM_HID_READ_PROGRESS), 256);
}

TEST_F(HidCmdTest, ReadPageGathersReportsOfAnySize) {
  // Six reports of 48 bytes: the last overshoots; nothing is written past the page.
  for (int i = 0; i < 6; ++i) Queue(DataReport(static_cast<uint8_t>(i * 48), 48));
  Queue(AnswerReport(0));
  std::array<uint8_t, kPageSize + 8> guarded{};
  guarded.fill(0xAB);
  std::span<uint8_t, kPageSize> page(guarded.data(), kPageSize);
  EXPECT_EQ(cmd.ReadPage(1, 1, page), 256);
  EXPECT_EQ(page[255], 255);
  EXPECT_EQ(guarded[256], 0xAB);
}

TEST_F(HidCmdTest, ReadPageResults) {
  std::array<uint8_t, kPageSize> page{};
  // Two reports, then silence: the bytes gathered so far.
  Queue(DataReport(0));
  Queue(DataReport(64));
  EXPECT_EQ(cmd.ReadPage(0, 0, page), 128);
  // All data but an unsuccessful answer.
  for (int i = 0; i < 4; ++i) Queue(DataReport(0));
  Queue(AnswerReport(5));
  EXPECT_EQ(cmd.ReadPage(0, 0, page), -2);
}

TEST_F(HidCmdTest, ReadPageCommandNotWritten) {
  platform.io->failWriteAt = 0;
  std::array<uint8_t, kPageSize> page{};
  EXPECT_EQ(cmd.ReadPage(0, 0, page), -1);
}

TEST_F(HidCmdTest, ReadAnswerValidation) {
  uint8_t answer[kPacketSize];
  // A different command code is accepted.
  Queue(AnswerReport(0, 1234, 0x11));
  EXPECT_EQ(cmd.ReadAnswer(answer), 1);
  EXPECT_EQ(LoadU32LE(answer + kPktB), 1234u);
  // Non-zero status: 0, but the whole answer is handed back.
  Queue(AnswerReport(7, 99));
  EXPECT_EQ(cmd.ReadAnswer(answer), 0);
  EXPECT_EQ(LoadU32LE(answer + kPktA), 7u);
  EXPECT_EQ(LoadU32LE(answer + kPktB), 99u);
  EXPECT_TRUE(cmd.LastAnswerRefused()) << "a well-formed failure is a refusal";

  struct Corruption {
    const char* what;
    size_t offset;
  };
  for (Corruption c : {Corruption{"length", 1 + kPktLength}, {"signature", 1 + kPktSignature},
                       {"checksum", 1 + kPktChecksum}}) {
    auto report = AnswerReport(0);
    report[c.offset] ^= 0x01;
    Queue(report);
    EXPECT_EQ(cmd.ReadAnswer(answer), 0) << c.what;
    EXPECT_EQ(ByteSum({answer, kPacketSize}), 0u) << c.what << ": invalid answers are not kept";
    EXPECT_FALSE(cmd.LastAnswerRefused()) << c.what << ": a garbled answer is no refusal";
  }
  // A short report: the missing bytes stay 0 and fail validation.
  auto report = AnswerReport(0);
  report.resize(20);
  Queue(report);
  EXPECT_EQ(cmd.ReadAnswer(answer), 0);
}

TEST_F(HidCmdTest, WritePagesSendsDataAndCountsProgress) {
  std::vector<uint8_t> data(512);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  Queue(AnswerReport(0));
  EXPECT_EQ(cmd.WritePages(2, data), 512);
  auto written = Written();
  ASSERT_EQ(written.size(), 8u);
  for (size_t r = 0; r < 8; ++r) {
    EXPECT_EQ(written[r][0], 0);
    EXPECT_EQ(std::memcmp(written[r].data() + 1, data.data() + r * 64, 64), 0);
  }
  EXPECT_EQ(sink.CountOf(WM_HID_WRITE_PROGRESS), 8u);
  EXPECT_EQ(sink.SumOf(WM_HID_WRITE_PROGRESS), 512);
}

TEST_F(HidCmdTest, WritePagesResults) {
  std::vector<uint8_t> data(512, 0x5A);
  Queue(AnswerReport(0));
  EXPECT_EQ(cmd.WritePages(0, {}), 0) << "no data report, answer read";
  EXPECT_TRUE(Written().empty());
  Queue(AnswerReport(1));
  EXPECT_EQ(cmd.WritePages(2, data), -2);
  platform.io->failWriteAt = static_cast<int>(Written().size()) + 3;
  EXPECT_EQ(cmd.WritePages(2, data), 192) << "three reports went out";
  EXPECT_EQ(cmd.WritePages(1, std::span<const uint8_t>(data).first(100)), 0)
      << "too little data: nothing is read past it";
}

TEST_F(HidCmdTest, CommitAndEndUpdateResults) {
  Queue(AnswerReport(0));
  EXPECT_EQ(cmd.Commit(), 1);
  Queue(AnswerReport(0));
  EXPECT_EQ(cmd.EndUpdate(), 0);
  Queue(AnswerReport(3));
  EXPECT_EQ(cmd.Commit(), -2);
  Queue(AnswerReport(3));
  EXPECT_EQ(cmd.EndUpdate(), -2);
  auto written = Written();
  ASSERT_EQ(written.size(), 4u);
  EXPECT_EQ(written[0][1], CMD_COMMIT);
  EXPECT_EQ(LoadU32LE(written[0].data() + 1 + kPktA), kConfirmA);
  EXPECT_EQ(LoadU32LE(written[0].data() + 1 + kPktB), kConfirmB);
  EXPECT_EQ(written[1][1], CMD_END_UPDATE);
  EXPECT_EQ(LoadU32LE(written[1].data() + 1 + kPktA), 0u);
  platform.io->failWriteAt = 4;
  EXPECT_EQ(cmd.Commit(), -1);
  platform.io->failWriteAt = 4;
  EXPECT_EQ(cmd.EndUpdate(), -1);
}

TEST_F(HidCmdTest, StalledDeviceFailsWithinTheBound) {
  cmd.m_io.SetReadTimeoutMs(kReportReadTimeoutMs);
  std::array<uint8_t, kPageSize> page{};
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(cmd.ReadPage(0, 0, page), 0);  // nothing gathered
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_LT(waited, std::chrono::milliseconds(kReportReadTimeoutMs * 5));
}

TEST_F(HidCmdTest, AbortStopsAfterTheCurrentReport) {
  // A sink that asks for the stop as the second report's progress arrives.
  struct AbortingSink : IMessageSink {
    CHidCmd* cmd = nullptr;
    int seen = 0;
    void Post(uint32_t, uintptr_t, intptr_t) override {
      if (++seen == 2) cmd->m_bAbort = 1;
    }
  } aborting;
  aborting.cmd = &cmd;
  cmd.m_hNotifyWnd = &aborting;
  std::vector<uint8_t> data(1024, 1);
  EXPECT_EQ(cmd.WritePages(4, data), 0);
  EXPECT_EQ(Written().size(), 2u);
  // The flag lasts for one transfer only.
  Queue(AnswerReport(0));
  aborting.seen = 100;
  EXPECT_EQ(cmd.WritePages(1, data), 256);
}

TEST_F(HidCmdTest, DisconnectFromAnotherThreadEndsATransfer) {
  cmd.m_io.SetReadTimeoutMs(10000);
  std::array<uint8_t, kPageSize> page{};
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    cmd.Disconnect();
  });
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(cmd.ReadPage(0, 0, page), 0);
  closer.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(cmd.m_bLinkOpen, 0);
  EXPECT_EQ(cmd.IsDevicePresent(), 0);
}

TEST_F(HidCmdTest, IsDevicePresentFollowsThePlatform) {
  EXPECT_EQ(cmd.IsDevicePresent(), 1);
  platform.present = false;
  EXPECT_EQ(cmd.IsDevicePresent(), 0);
  cmd.m_bLinkOpen = 0;
  platform.present = true;
  EXPECT_EQ(cmd.IsDevicePresent(), 0) << "a closed link never asks the platform";
}

}  // namespace
}  // namespace tessaly
