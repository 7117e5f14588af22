// Exchanges per second of ReadPage against the zero-delay virtual detector: what
// the host side of the protocol costs when the device answers at once.
#include <chrono>
#include <cstdio>

#include "device/hid_cmd.h"
#include "sim/virtual_detector.h"

int main() {
  using namespace tessaly;
  sim::VirtualHidPlatform platform;
  platform.AddDetector(std::make_shared<sim::VirtualDetector>(sim::Profile::kLayout3));
  CHidCmd cmd(platform);
  cmd.m_bLinkOpen = cmd.m_io.FindDevice();
  if (!cmd.m_bLinkOpen) {
    std::fprintf(stderr, "no virtual detector\n");
    return 1;
  }
  std::array<uint8_t, kPageSize> page{};
  const auto budget = std::chrono::seconds(2);
  auto start = std::chrono::steady_clock::now();
  long exchanges = 0;
  while (std::chrono::steady_clock::now() - start < budget) {
    for (int i = 0; i < 256; ++i) {
      if (cmd.ReadPage(0x110, 0, page) != 256) {
        std::fprintf(stderr, "ReadPage failed\n");
        return 1;
      }
    }
    exchanges += 256;
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("ReadPage exchanges: %ld in %.2f s\n", exchanges, seconds);
  std::printf("ReadPage exchanges per second: %.0f (%.0f reports/s, %.2f MB/s of page data)\n",
              exchanges / seconds, exchanges * 6 / seconds, exchanges * 256 / seconds / 1e6);
  return 0;
}
