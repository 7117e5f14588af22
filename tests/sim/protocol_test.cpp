// The device side of the command protocol, driven report by report.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "sim/sim_host.h"
#include "update/checksum.h"

namespace tessaly::sim::testing {
namespace {

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> out(n);
  for (auto& b : out)
    b = static_cast<uint8_t>(gen());
  return out;
}

std::vector<uint8_t> Slice(std::span<const uint8_t> mem, size_t page, size_t bytes) {
  auto first = mem.begin() + static_cast<ptrdiff_t>(page * kSimPageBytes);
  return std::vector<uint8_t>(first, first + static_cast<ptrdiff_t>(bytes));
}

TEST(SimProtocol, ReadPageReturnsMemoryThenAValidAnswer) {
  SimHost host;
  auto pattern = RandomBytes(kSimPageBytes, 1);
  ASSERT_TRUE(host.Detector().WritePage(0, 0x110, std::span<const uint8_t, 256>(pattern)));

  // The report exactly as a host puts it on the wire for page 0x110 of memory 0.
  Report wire;
  wire.fill(0xCC);
  const uint8_t packet[27] = {0xf2, 0x17, 0x10, 0x01, 0, 0,   0x01, 0,   0,   0,    0,    0, 0, 0,
                              0,    0,    0,    0,    0, 'H', 'I',  'D', 'C', 0x33, 0x02, 0, 0};
  wire[0] = 0;
  std::memcpy(wire.data() + 1, packet, sizeof packet);
  ASSERT_EQ(host.WriteReport(wire), 65);
  std::vector<uint8_t> data;
  for (int i = 0; i < 4; ++i) {
    Report r;
    ASSERT_EQ(host.ReadReport(r), 65);
    EXPECT_EQ(r[0], 0);
    data.insert(data.end(), r.begin() + 1, r.end());
  }
  EXPECT_EQ(data, pattern);
  Answer answer = host.ReadAnswer();
  EXPECT_TRUE(answer.Ok());
  EXPECT_EQ(answer.code, 0xF2);

  // Memory 1 is addressed on its own: the profile's database date page.
  ASSERT_TRUE(host.ReadPage(kDatabaseDatePage, 1, data).Ok());
  EXPECT_EQ(LoadU32LE(data.data()), kDefaultDateCode);
  EXPECT_EQ(data[4], 0xFF);
}

struct RefusedRead {
  const char* name;
  uint32_t page, count;
  uint8_t selector;
};

TEST(SimProtocol, RefusedReadKeepsTheDataPhaseAndFails) {
  const RefusedRead cases[] = {
      {"past memory 0", kMemory0Pages, 1, 0},
      {"past memory 1", kMemory1Pages, 1, 1},
      {"huge page", 0xFFFFFFFF, 1, 1},
      {"bad selector", 0, 1, 2},
      {"two pages", 0, 2, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimHost host;
    ASSERT_EQ(host.Send(0xF2, c.page, c.count, 0, c.selector, 0), 65);
    for (int i = 0; i < 4; ++i) {
      Report r;
      ASSERT_EQ(host.ReadReport(r), 65);
    }
    Answer answer = host.ReadAnswer();
    EXPECT_TRUE(answer.Valid());
    EXPECT_NE(answer.status, 0u);
  }
}

enum class Check { kNone, kPlainSum, kSegment };

struct WriteCase {
  const char* name;
  size_t length;  // unpadded
  Check check;
  uint8_t selector;
  uint32_t page;
};

TEST(SimProtocol, WritePagesStoresDataThatMatchesItsChecksum) {
  const WriteCase cases[] = {
      {"no check", 300, Check::kNone, 0, 0x110},
      {"plain sum", 700, Check::kPlainSum, 1, 0xDE0},
      {"segment 1 byte", 1, Check::kSegment, 0, 0},
      {"segment 256 bytes", 256, Check::kSegment, 1, 0x90},
      {"segment 1000 bytes", 1000, Check::kSegment, 1, 0x2DE0},
      {"last page of memory 1", 256, Check::kSegment, 1, kMemory1Pages - 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimHost host;
    auto data = RandomBytes(c.length, static_cast<uint32_t>(c.length));
    auto padded = PadToPages(data);
    uint32_t cField = c.check == Check::kSegment ? static_cast<uint32_t>(c.length) : 0;
    uint32_t e = c.check == Check::kNone       ? 0
                 : c.check == Check::kPlainSum ? ByteSum(padded)
                                               : SegmentChecksum(padded, c.length);
    if (c.length == 1) {
      EXPECT_EQ(e, data[0] + 255u * 0xFF);  // a lone byte is not transformed
    }

    auto before = MemoryCopy(host.Detector(), c.selector);
    Answer answer = host.WritePages(c.page, padded, cField, c.selector, e);
    EXPECT_TRUE(answer.Ok());
    EXPECT_EQ(answer.code, 0xF3);

    auto after = MemoryCopy(host.Detector(), c.selector);
    EXPECT_EQ(Slice(after, c.page, padded.size()), padded);
    // Nothing outside the written pages changed.
    std::copy(padded.begin(), padded.end(),
              before.begin() + static_cast<ptrdiff_t>(c.page * kSimPageBytes));
    EXPECT_TRUE(after == before);
    EXPECT_EQ(host.Detector().Counters().pagesStored, padded.size() / kSimPageBytes);
  }
}

enum class Announced { kRight, kOffByOne, kPlainSum };

struct RejectedWrite {
  const char* name;
  uint32_t page, pages, c;
  uint8_t selector;
  Announced e;
};

TEST(SimProtocol, RejectedWriteFailsAndLeavesMemoryUnchanged) {
  const RejectedWrite cases[] = {
      {"segment checksum off by one", 0x160, 2, 500, 1, Announced::kOffByOne},
      {"plain sum off by one", 0x160, 2, 0, 1, Announced::kOffByOne},
      {"plain sum where a segment checksum is due", 0x160, 2, 512, 1, Announced::kPlainSum},
      {"runs past memory 0", kMemory0Pages - 1, 2, 512, 0, Announced::kRight},
      {"starts past memory 1", kMemory1Pages, 1, 256, 1, Announced::kRight},
      {"page number wraps", 0xFFFFFFFF, 2, 512, 1, Announced::kRight},
      {"bad selector", 0, 1, 256, 3, Announced::kRight},
      {"C beyond the data", 0x160, 1, 257, 1, Announced::kRight},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimHost host;
    auto padded = PadToPages(RandomBytes(size_t{c.pages} * kSimPageBytes, c.pages));
    uint32_t e =
        c.c == 0 ? ByteSum(padded) : SegmentChecksum(padded, std::min<size_t>(c.c, padded.size()));
    if (c.e == Announced::kOffByOne)
      ++e;
    if (c.e == Announced::kPlainSum)
      e = ByteSum(padded);
    auto mem0 = MemoryCopy(host.Detector(), 0);
    auto mem1 = MemoryCopy(host.Detector(), 1);

    // The device takes all the data before it answers, so the host stays in step.
    ASSERT_EQ(host.Send(0xF3, c.page, c.pages, c.c, c.selector, e), 65);
    ASSERT_EQ(host.SendData(padded), padded.size() / kSimPayloadBytes);
    Answer answer = host.ReadAnswer();
    EXPECT_TRUE(answer.Valid());
    EXPECT_NE(answer.status, 0u);
    EXPECT_TRUE(MemoryCopy(host.Detector(), 0) == mem0);
    EXPECT_TRUE(MemoryCopy(host.Detector(), 1) == mem1);
    EXPECT_EQ(host.Detector().Counters().pagesStored, 0u);
  }
}

TEST(SimProtocol, WriteOfNoPagesAnswersAtOnce) {
  SimHost host;
  auto mem0 = MemoryCopy(host.Detector(), 0);
  ASSERT_EQ(host.Send(0xF3, 0x70, 0, 0, 0, 0), 65);
  EXPECT_TRUE(host.ReadAnswer().Ok());
  EXPECT_TRUE(MemoryCopy(host.Detector(), 0) == mem0);
}

struct PairCase {
  const char* name;
  uint8_t code;
  uint32_t a, b;
  bool accepted;
};

TEST(SimProtocol, ConfirmationPairGuardsCommitAndFirmwareQuery) {
  const PairCase cases[] = {
      {"query", 0xF7, 0x5A3C9E71, 0x6E2B9F47, true},
      {"query wrong A", 0xF7, 0x5A3C9E70, 0x6E2B9F47, false},
      {"query wrong B", 0xF7, 0x5A3C9E71, 0, false},
      {"query swapped", 0xF7, 0x6E2B9F47, 0x5A3C9E71, false},
      {"commit", 0xF4, 0x5A3C9E71, 0x6E2B9F47, true},
      {"commit wrong B", 0xF4, 0x5A3C9E71, 0x6E2B9F46, false},
      {"commit zeros", 0xF4, 0, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimHost host;
    host.Detector().SetFirmware(1234);
    ASSERT_EQ(host.Send(c.code, c.a, c.b, 0, 0, 0), 65);
    Answer answer = host.ReadAnswer();
    ASSERT_TRUE(answer.Valid());
    EXPECT_EQ(answer.status == 0, c.accepted);
    if (c.code == 0xF7) {
      EXPECT_EQ(answer.result, c.accepted ? 1234u : 0u);
    }
    EXPECT_EQ(host.Detector().Counters().commits, c.code == 0xF4 && c.accepted ? 1u : 0u);
  }
}

TEST(SimProtocol, EndUpdateIsCounted) {
  SimHost host;
  ASSERT_EQ(host.Send(0xF9, 0, 0, 0, 0, 0), 65);
  EXPECT_TRUE(host.ReadAnswer().Ok());
  auto counters = host.Detector().Counters();
  EXPECT_EQ(counters.endUpdates, 1u);
  EXPECT_EQ(counters.CommandsSeen(0xF9), 1u);
  EXPECT_EQ(counters.reportsWritten, 1u);
  EXPECT_EQ(counters.reportsRead, 1u);
}

TEST(SimProtocol, UnknownAndMalformedCommandsFail) {
  struct Case {
    const char* name;
    size_t offset;  // payload byte to change
    uint8_t value;
    bool malformed;
  };
  const Case cases[] = {
      {"unknown code", 0, 0x10, false},  // checksum fixed up below
      {"length byte", 1, 22, true},
      {"signature", 22, 'X', true},
      {"checksum", 23, 0x00, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimHost host;
    Report r = CommandReport(0xF7, kConfirmPairA, kConfirmPairB, 0, 0, 0);
    r[1 + c.offset] = c.value;
    if (!c.malformed)
      StoreU32LE(&r[24], ByteSum(std::span<const uint8_t>(&r[1], 23)));
    ASSERT_EQ(host.WriteReport(r), 65);
    Answer answer = host.ReadAnswer();
    ASSERT_TRUE(answer.Valid());
    EXPECT_NE(answer.status, 0u);
    EXPECT_EQ(answer.result, 0u);  // no firmware number for a refused query
    EXPECT_EQ(host.Detector().Counters().malformedPackets, c.malformed ? 1u : 0u);
  }
}

TEST(SimProtocol, ReportsOtherThanWholeReportId0AreRefused) {
  SimHost host;
  Report r = CommandReport(0xF9, 0, 0, 0, 0, 0);
  r[0] = 1;
  EXPECT_EQ(host.WriteReport(r), -1);
  r[0] = 0;
  EXPECT_EQ(host.WriteHandle()->Write(r.data(), 64), -1);
  EXPECT_EQ(host.Detector().Counters().reportsWritten, 0u);
}

TEST(SimProtocol, CommandDuringWriteDataAbandonsTheWrite) {
  SimHost host;
  auto mem1 = MemoryCopy(host.Detector(), 1);
  auto padded = RandomBytes(2 * kSimPageBytes, 9);
  ASSERT_EQ(host.Send(0xF3, 0x160, 2, 0, 1, 0), 65);
  ASSERT_EQ(host.SendData(std::span<const uint8_t>(padded).first(3 * kSimPayloadBytes)), 3u);
  // The host gave up and starts over with another command.
  ASSERT_EQ(host.Send(0xF7, kConfirmPairA, kConfirmPairB, 0, 0, 0), 65);
  Answer answer = host.ReadAnswer();
  EXPECT_TRUE(answer.Ok());
  EXPECT_EQ(answer.code, 0xF7);
  EXPECT_EQ(answer.result, kDefaultFirmware);
  EXPECT_TRUE(MemoryCopy(host.Detector(), 1) == mem1);

  // A write whose page count would take forever is left the same way.
  ASSERT_EQ(host.Send(0xF3, 0, 0xFFFFFFFF, 0, 1, 0), 65);
  ASSERT_EQ(host.SendData(padded), 8u);
  ASSERT_EQ(host.Send(0xF9, 0, 0, 0, 0, 0), 65);
  EXPECT_TRUE(host.ReadAnswer().Ok());
  EXPECT_TRUE(MemoryCopy(host.Detector(), 1) == mem1);
}

TEST(SimProtocol, NewCommandDropsUnreadReportsOfTheLastExchange) {
  SimHost host;
  ASSERT_EQ(host.Send(0xF2, 0x110, 1, 0, 0, 0), 65);  // five reports queued, none read
  ASSERT_EQ(host.Send(0xF7, kConfirmPairA, kConfirmPairB, 0, 0, 0), 65);
  Answer answer = host.ReadAnswer();
  EXPECT_TRUE(answer.Ok());
  EXPECT_EQ(answer.code, 0xF7);
  Report r;
  EXPECT_EQ(host.ReadReport(r, 10), -1);
}

TEST(SimProtocol, ReadWithNothingQueuedTimesOut) {
  SimHost host;
  Report r;
  EXPECT_EQ(host.ReadReport(r, 10), -1);
  EXPECT_EQ(host.Detector().Counters().reportsRead, 0u);
}

TEST(SimProtocol, CancelWakesABlockedReadAndEndsTheHandle) {
  SimHost host;
  int result = 0;
  std::thread reader([&] {
    Report r;
    result = host.ReadReport(r, -1);  // no time bound: only Cancel can end it
  });
  host.ReadHandle()->Cancel();
  reader.join();
  EXPECT_EQ(result, -1);
  Report r;
  EXPECT_EQ(host.ReadReport(r, 10), -1);
  host.WriteHandle()->Cancel();
  EXPECT_EQ(host.Send(0xF9, 0, 0, 0, 0, 0), -1);
}

TEST(SimProtocol, ClosingTheLastHandleDropsUnreadReports) {
  SimHost host;
  ASSERT_EQ(host.Send(0xF9, 0, 0, 0, 0, 0), 65);
  host.CloseHandles();
  host.OpenHandles();
  Report r;
  EXPECT_EQ(host.ReadReport(r, 10), -1);
  ASSERT_EQ(host.Send(0xF9, 0, 0, 0, 0, 0), 65);
  EXPECT_TRUE(host.ReadAnswer().Ok());
}

TEST(SimProtocol, ConcurrentReaderAndWriterSeeEveryAnswer) {
  SimHost host;
  constexpr int kQueries = 200;
  std::atomic<int> answered{0};
  std::atomic<bool> readerDone{false};
  std::thread reader([&] {
    for (int i = 0; i < kQueries; ++i)
      if (host.ReadAnswer(5000).Ok())
        ++answered;
    readerDone = true;
  });
  for (int i = 0; i < kQueries; ++i) {
    ASSERT_EQ(host.Send(0xF9, 0, 0, 0, 0, 0), 65);
    // One exchange at a time, as a host does: wait until its answer was taken.
    while (!readerDone && host.Detector().Counters().reportsRead < static_cast<uint64_t>(i + 1))
      std::this_thread::yield();
  }
  reader.join();
  EXPECT_EQ(answered, kQueries);
}

}  // namespace
}  // namespace tessaly::sim::testing
