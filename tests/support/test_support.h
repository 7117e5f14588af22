// Shared helpers for the tests: a message sink that records what was posted and a
// temporary folder that removes itself.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "common/message_sink.h"

namespace tessaly::testing {

struct PostedMessage {
  uint32_t msg;
  uintptr_t wParam;
  intptr_t lParam;
};

class RecordingSink : public IMessageSink {
 public:
  void Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;
  std::vector<PostedMessage> Messages() const;
  // Sum of lParam over the messages with number `msg`.
  long long SumOf(uint32_t msg) const;
  size_t CountOf(uint32_t msg) const;
  void Clear();

 private:
  mutable std::mutex m_mutex;
  std::vector<PostedMessage> m_messages;
};

// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return m_path; }
  std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

 private:
  std::filesystem::path m_path;
};

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

}  // namespace tessaly::testing
