// The CLI's implementations of the core's views: it has no window, so it keeps what
// a window would show and prints it when the command ends.
#pragma once

#include <atomic>
#include <string>

#include "common/message_sink.h"
#include "identify/device_link.h"

namespace tessaly::cli {

// Counts the bytes of the protocol's write-progress messages, like the window does.
class CliSink : public IMessageSink {
 public:
  void Post(uint32_t msg, uintptr_t, intptr_t lParam) override;
  void SetCounter(std::atomic<uint32_t>* bytesDone, const std::atomic<uint8_t>* phase) {
    m_bytesDone = bytesDone;
    m_phase = phase;
  }

 private:
  std::atomic<uint32_t>* m_bytesDone = nullptr;
  const std::atomic<uint8_t>* m_phase = nullptr;
};

class CliLinkView : public ILinkView {
 public:
  explicit CliLinkView(IMessageSink& sink) : m_sink(sink) {}
  void SetTitle(const std::string& text) override { title = text; }
  void EnableSetting(bool enable) override { settingEnabled = enable; }
  void EnableUpdate(bool enable) override { updateEnabled = enable; }
  void SetTimer(int, int) override { probeArmed = true; }
  void KillTimer(int) override { probeArmed = false; }
  std::string FileLabelText() override { return fileLabel; }
  void RefreshControls() override {}
  void BeginVersionCheck(const std::string& url) override { versionListUrl = url; }
  IMessageSink* MessageSink() override { return &m_sink; }

  std::string title;
  std::string fileLabel;
  std::string versionListUrl;
  bool settingEnabled = false;
  bool updateEnabled = false;
  bool probeArmed = false;

 private:
  IMessageSink& m_sink;
};

}  // namespace tessaly::cli
