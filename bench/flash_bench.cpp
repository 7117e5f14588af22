// The update's write path against the virtual detector:
//  1. every segment at its largest length, zero delay: what the host costs
//     (MB/s, reports/s, peak RSS);
//  2. a 256 KiB package with 1 ms per report: the ratio of wall time to
//     reports x 1 ms, which is 1.0 when the device's report rate is the only limit.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>

#include "common/message_sink.h"
#include "device/hid_cmd.h"
#include "pkgwriter/package_writer.h"
#include "sim/virtual_detector.h"
#include "update/flash.h"

namespace {

using namespace tessaly;

struct CountingSink : IMessageSink {
  UpdateCounters* counters = nullptr;
  void Post(uint32_t msg, uintptr_t, intptr_t lParam) override {
    if (msg == WM_HID_WRITE_PROGRESS) OnHidWriteProgress(*counters, lParam);
  }
};

struct NoHost : IFlashHost {
  void ShowUpdateProgress() override {}
  void ShowLinkState() override {}
};

struct Run {
  double seconds = 0;
  uint64_t reports = 0;
  uint64_t bytes = 0;
  bool ok = false;
};

Run Flash(const pkgwriter::PackageContents& contents, uint32_t delayUs) {
  auto built = pkgwriter::BuildPackage(contents);
  MemoryByteSource source(std::move(built.bytes));
  auto detector = std::make_shared<sim::VirtualDetector>(sim::Profile::kLayout3);
  detector->SetDelayUs(delayUs);
  sim::VirtualHidPlatform platform;
  platform.AddDetector(detector);
  CHidCmd cmd(platform);
  UpdateCounters counters;
  CountingSink sink;
  sink.counters = &counters;
  cmd.m_hNotifyWnd = &sink;
  cmd.m_bLinkOpen = cmd.m_io.FindDevice();

  DeviceState device;
  device.m_paramLayout = 3;
  std::copy(pkgwriter::kDemoModelTag.begin(), pkgwriter::kDemoModelTag.end(), device.m_params.begin() + 4);
  ResolvedTrailer trailer;
  Run run;
  if (!cmd.m_bLinkOpen || ReadPackageTrailer(source, device, trailer) != 0) return run;
  run.bytes = TotalSegmentBytes(trailer);
  counters.m_nBytesTotal = static_cast<uint32_t>(run.bytes);
  NoHost host;
  FlashContext ctx{cmd, 1008, counters, host};
  auto before = detector->Counters();
  auto start = std::chrono::steady_clock::now();
  run.ok = FlashPackage(ctx, source, trailer);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  auto after = detector->Counters();
  run.reports = (after.reportsWritten - before.reportsWritten) + (after.reportsRead - before.reportsRead);
  return run;
}

pkgwriter::PackageContents WithSegments(uint32_t s1, uint32_t s2, uint32_t s3, uint32_t s4,
                                        uint32_t s5) {
  pkgwriter::PackageContents p;
  p.segments[0] = pkgwriter::PatternBytes(s1, 1);
  p.segments[2] = pkgwriter::PatternBytes(s3, 3);
  p.segments[3] = pkgwriter::PatternBytes(s4, 4);
  p.segments[4] = pkgwriter::PatternBytes(s5, 5);
  if (s2) p.variants.push_back({pkgwriter::kDemoModelTag, pkgwriter::PatternBytes(s2, 2), {}, {}});
  return p;
}

}  // namespace

int main() {
  // Segment 2's region runs from 0x9000 to 0x16000.
  Run full = Flash(WithSegments(0x7000, 0xD000, 0xC8000, 0x200000, 0x522000), 0);
  if (!full.ok) {
    std::fprintf(stderr, "full-size flash failed\n");
    return 1;
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("largest package: %.2f MB in %.3f s: %.1f MB/s, %.0f reports/s, peak RSS %.1f MiB\n",
              full.bytes / 1e6, full.seconds, full.bytes / 1e6 / full.seconds,
              full.reports / full.seconds, usage.ru_maxrss / 1024.0);

  Run slow = Flash(WithSegments(0x4000, 0x4000, 0x10000, 0x10000, 0x18000), 1000);
  if (!slow.ok) {
    std::fprintf(stderr, "delayed flash failed\n");
    return 1;
  }
  std::printf("256 KiB at 1 ms a report: %llu reports in %.3f s, wall / (reports x 1 ms) = %.3f\n",
              static_cast<unsigned long long>(slow.reports), slow.seconds,
              slow.seconds / (slow.reports * 1e-3));
  return 0;
}
