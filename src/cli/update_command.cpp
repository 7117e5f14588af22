// update FILE: probe, then the update worker's local road with a live progress line;
// inspect FILE: the decoded package and what an update would do with it.
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <thread>

#include "cli/commands.h"
#include "cli/probe_session.h"
#include "identify/brand.h"
#include "update/worker.h"

namespace tessaly::cli {
namespace {

// The worker's view on the command line: remembers the bar and the final message.
class CliUpdateView : public IUpdateView {
 public:
  explicit CliUpdateView(std::string packagePath) : m_packagePath(std::move(packagePath)) {}

  std::string ProgressText() override {
    std::lock_guard lock(m_mutex);
    return m_barText;
  }
  void SetProgressText(const std::string& text) override {
    std::lock_guard lock(m_mutex);
    m_barText = text;
  }
  void SetProgressBounds(uint32_t, uint32_t) override {}
  void SetProgressPosition(uint32_t) override {}
  void EnableUpdate(bool) override {}
  void EnableSetting(bool) override {}
  std::string FileLabelText() override { return m_packagePath; }
  void ShowMessage(const std::string& text, const std::string&, MessageIcon icon) override {
    std::lock_guard lock(m_mutex);
    m_message = text;
    m_messageIsError = icon == MessageIcon::kError;
  }
  void ShowLinkState() override { m_linkStateAsked = true; }

  std::string Message() {
    std::lock_guard lock(m_mutex);
    return m_message;
  }
  bool LinkStateAsked() const { return m_linkStateAsked; }

 private:
  std::string m_packagePath;
  std::mutex m_mutex;
  std::string m_barText;
  std::string m_message;
  bool m_messageIsError = false;
  std::atomic<bool> m_linkStateAsked{false};
};

// Percent, bytes, elapsed time and speed; redrawn in place on a terminal, one plain
// line per ten percent otherwise.
class ProgressPrinter {
 public:
  ProgressPrinter() : m_tty(::isatty(STDERR_FILENO) == 1) {}

  void Update(const UpdateCounters& c, bool final) {
    uint32_t total = c.m_nBytesTotal.load(), done = c.m_nBytesDone.load();
    if (total == 0) return;
    if (done > total) done = total;
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    double percent = 100.0 * done / total;
    double kibPerSecond = seconds > 0 ? done / 1024.0 / seconds : 0;
    char line[160];
    std::snprintf(line, sizeof line, "%6.2f%%  %" PRIu32 "/%" PRIu32 " bytes  %.1f s  %.1f KiB/s",
                  percent, done, total, seconds, kibPerSecond);
    if (m_tty) {
      std::fprintf(stderr, "\r%s", line);
      if (final) std::fputc('\n', stderr);
    } else {
      int decile = static_cast<int>(percent / 10);
      if (decile > m_lastDecile || final) {
        if (decile > m_lastDecile) std::fprintf(stderr, "%s\n", line);
        m_lastDecile = decile;
      }
    }
    std::fflush(stderr);
  }

 private:
  bool m_tty;
  int m_lastDecile = -1;
  std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

struct UpdateArgs {
  std::string file;
};

int RunUpdate(Session& s, const UpdateArgs& args) {
  std::error_code ec;
  std::string path = std::filesystem::absolute(args.file, ec).string();
  if (ec) path = args.file;

  ProbeSession probe(s);
  UpdateCounters counters;
  probe.sink.SetCounter(&counters.m_nBytesDone, &counters.m_updatePhase);
  std::string error;
  if (!probe.Run(error)) return FailWith(error);

  CliUpdateView view(path);
  ProgressDisplay display;
  std::atomic<int> stopWorker{0};
  UpdateJob job{s.Cmd(), probe.state, counters, display, view, stopWorker,
                probe.fields.m_strDatabaseUrl, nullptr,
                std::string_view(reinterpret_cast<const char*>(configuredBrand().Slot().data()),
                                 configuredBrand().Slot().size())};
  UpdateOutcome outcome;
  std::atomic<bool> running{true};
  std::thread worker([&] {
    outcome = UpdateWorker(job);
    running = false;
  });
  ProgressPrinter printer;
  while (running) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kProgressTickMs));
    printer.Update(counters, false);
  }
  worker.join();
  if (outcome.Succeeded()) printer.Update(counters, true);
  if (view.LinkStateAsked()) probe.link.ShowLinkState();
  s.Cmd().Disconnect();

  const std::string message = view.Message();
  if (s.Json()) {
    PrintJson({{"result", outcome.Succeeded() ? "success" : "failure"},
               {"message", message},
               {"bytes", counters.m_nBytesTotal.load()}});
  } else if (outcome.Succeeded()) {
    std::printf("%s\n", message.c_str());
  }
  if (!outcome.Succeeded()) return FailWith(message);
  return kExitOk;
}

}  // namespace

void RegisterUpdateCommand(CLI::App& app, CommandTable& table) {
  auto args = std::make_shared<UpdateArgs>();
  auto* update = app.add_subcommand("update", "Write an update package (.dqx) into the detector");
  update->add_option("FILE", args->file, "The package file")->required();
  table.emplace_back(update, [args](Session& s) { return RunUpdate(s, *args); });
}

}  // namespace tessaly::cli
