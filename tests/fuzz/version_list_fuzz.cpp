// Arbitrary version-list files through the parser and the completion handler. Besides
// the sanitizers' findings, any broken invariant aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "download/download_codes.h"
#include "download/version_list.h"

namespace {

using namespace tessaly;

void Require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "version_list_fuzz: %s\n", what);
    std::abort();
  }
}

// Every byte of the list is one character, so the texts must be well-formed UTF-8.
bool IsUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const auto b = static_cast<uint8_t>(s[i]);
    if (b < 0x80)
      continue;
    if (b < 0xC2 || b > 0xDF || i + 1 >= s.size() ||
        (static_cast<uint8_t>(s[i + 1]) & 0xC0) != 0x80)
      return false;
    ++i;
  }
  return true;
}

struct NullBar : IProgressBar {
  std::string ProgressText() override { return {}; }
  void SetProgressText(const std::string&) override { std::abort(); }
  void SetProgressBounds(uint32_t, uint32_t) override { std::abort(); }
  void SetProgressPosition(uint32_t) override { std::abort(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  VersionList list = ParseVersionList(bytes);
  const std::string shown(kLabelInternetVersion);
  if (!list.ok) {
    Require(list.onlineVersion == -1, "failed list keeps a version");
    Require(list.label == kLabelAccessFailed, "failed list label");
  } else {
    Require(list.label.starts_with(shown), "label prefix");
    Require(list.label.size() - shown.size() <= 2 * kVersionListLineChars, "line 1 too long");
    Require(!list.databaseUrl.empty(), "empty URL taken");
    Require(list.databaseUrl.size() <= 2 * kVersionListLineChars, "URL too long");
    Require(list.databaseUrl.find('\0') == std::string::npos, "NUL in URL");
    Require(list.databaseUrl.back() != '\n', "line feed kept");
    Require(IsUtf8(list.label) && IsUtf8(list.databaseUrl), "not UTF-8");
    Require(list.onlineVersion == LeadingInteger(list.label.substr(shown.size())),
            "version not from line 1");
  }

  // The completion handler applies exactly what the parser gave; the bar is not touched.
  DownloadWindowState state;
  state.m_bFetchingVersionList = true;
  state.m_nOnlineVersion = 0;
  state.m_bDeviceReady = true;
  state.m_strDatabaseUrl = "kept";
  NullBar bar;
  DownloadWindowEffects effects =
      OnDownloadFinished(state, bar, DL_OK, [&] { return std::optional(bytes); });
  Require(!state.m_bFetchingVersionList, "still fetching");
  Require(state.m_nOnlineVersion == list.onlineVersion, "version applied");
  Require(state.m_strDatabaseUrl == (list.ok ? list.databaseUrl : "kept"), "URL applied");
  Require(effects.label == list.label, "label applied");
  Require(effects.enableUpdate.value_or(false) == list.ok, "Update enable");
  return 0;
}
