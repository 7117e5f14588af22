#include "support/test_support.h"

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <stdexcept>

namespace tessaly::testing {

void RecordingSink::Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  std::lock_guard lock(m_mutex);
  m_messages.push_back({msg, wParam, lParam});
}

std::vector<PostedMessage> RecordingSink::Messages() const {
  std::lock_guard lock(m_mutex);
  return m_messages;
}

long long RecordingSink::SumOf(uint32_t msg) const {
  std::lock_guard lock(m_mutex);
  long long sum = 0;
  for (const auto& m : m_messages)
    if (m.msg == msg) sum += m.lParam;
  return sum;
}

size_t RecordingSink::CountOf(uint32_t msg) const {
  std::lock_guard lock(m_mutex);
  size_t n = 0;
  for (const auto& m : m_messages)
    if (m.msg == msg) ++n;
  return n;
}

void RecordingSink::Clear() {
  std::lock_guard lock(m_mutex);
  m_messages.clear();
}

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = base / ("tessaly-test-" + std::to_string(::getpid()) + "-" +
                             std::to_string(counter++));
    if (std::filesystem::create_directory(candidate)) {
      m_path = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace tessaly::testing
