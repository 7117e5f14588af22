#include "download/version_list.h"

#include <cstdio>
#include <limits>
#include <memory>

#include "download/download_codes.h"
#include "download/download_progress.h"
#include "download/unpack.h"

namespace tessaly {

namespace {

struct ListLine {
  std::string text;       // up to its first NUL, line feed included when read
  bool present = false;   // at least one character was read
  bool overLong = false;  // the limit was reached before its line feed, and more follows
};

// One line as a text-mode read of at most kVersionListLineChars characters gives it.
ListLine ReadListLine(std::span<const uint8_t> bytes, size_t& pos) {
  std::string raw;
  while (raw.size() < kVersionListLineChars && pos < bytes.size()) {
    const uint8_t b = bytes[pos++];
    if (b == '\r' && pos < bytes.size() && bytes[pos] == '\n')
      continue;  // CR LF reads as LF
    raw += static_cast<char>(b);
    if (b == '\n')
      break;
  }
  ListLine line;
  line.present = !raw.empty();
  line.overLong = raw.size() == kVersionListLineChars && raw.back() != '\n' && pos < bytes.size();
  line.text = raw.substr(0, raw.find('\0'));
  return line;
}

// Every byte is one character; those above 0x7F are Latin-1.
std::string Latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto b = static_cast<uint8_t>(c);
    if (b < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
}

bool IsConversionBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

VersionList Unusable() {
  VersionList list;
  list.label = std::string(kLabelAccessFailed);
  return list;
}

}  // namespace

int32_t LeadingInteger(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsConversionBlank(text[i]))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-'))
    negative = text[i++] == '-';
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > kMax + 1)
      value = kMax + 1;  // held here; the sign decides where it ends
  }
  if (negative)
    return static_cast<int32_t>(std::max(-value, kMin));
  return static_cast<int32_t>(std::min(value, kMax));
}

VersionList ParseVersionList(std::span<const uint8_t> bytes) {
  size_t pos = 0;
  ListLine first = ReadListLine(bytes, pos);
  if (!first.present || first.overLong || first.text.empty())
    return Unusable();
  ListLine second = ReadListLine(bytes, pos);
  if (!second.present || second.overLong || second.text.empty())
    return Unusable();
  std::string url = second.text;
  if (url.back() == '\r' || url.back() == '\n')
    url.pop_back();
  if (url.empty())
    return Unusable();

  VersionList list;
  list.ok = true;
  list.onlineVersion = LeadingInteger(first.text);
  list.databaseUrl = Latin1ToUtf8(url);
  list.label = std::string(kLabelInternetVersion) + Latin1ToUtf8(first.text);
  return list;
}

std::optional<std::vector<uint8_t>> ReadAndRemoveVersionList(const std::string& path) {
  if (!FileExists(path))
    return std::nullopt;
  std::vector<uint8_t> bytes(kVersionListReadBytes);
  {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file)
      return std::nullopt;
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file.get()));
  }
  std::remove(path.c_str());
  return bytes;
}

DownloadWindowEffects OnVersionCheckStarting(DownloadWindowState& state) {
  state.m_bFetchingVersionList = true;
  DownloadWindowEffects effects;
  effects.label = std::string(kLabelSearchingVersion);
  return effects;
}

DownloadWindowEffects OnVersionCheckStarted(DownloadWindowState& state,
                                            std::string_view startError) {
  DownloadWindowEffects effects;
  if (!startError.empty()) {
    effects.label = std::string(kLabelChooseOrConnect);
    state.m_bFetchingVersionList = false;
    state.m_nOnlineVersion = -1;
  } else {
    state.m_nOnlineVersion = 0;
    effects.enableOpen = false;  // until the list's completion
  }
  return effects;
}

DownloadWindowEffects OnDownloadFinished(DownloadWindowState& state, IProgressBar& bar,
                                         uint32_t code, const VersionListReader& readList) {
  DownloadWindowEffects effects;
  effects.enableOpen = true;
  const bool wasList = state.m_bFetchingVersionList;
  state.m_bFetchingVersionList = false;

  if (code == DL_OK && !wasList) {
    FillDownloadBar(state, bar);
    return effects;
  }
  if (code == DL_ABORTED) {
    if (wasList)
      state.m_nOnlineVersion = -1;
    return effects;  // the label keeps whatever the user chose meanwhile
  }
  if (!wasList) {
    state.m_strDownloadError = std::string(kMsgDownloadFailed);
    bar.SetProgressText(state.m_strDownloadError);
    return effects;
  }

  VersionList list = Unusable();
  if (code == DL_OK) {
    if (std::optional<std::vector<uint8_t>> bytes = readList ? readList() : std::nullopt)
      list = ParseVersionList(*bytes);
  }
  effects.label = list.label;
  if (!list.ok) {
    state.m_nOnlineVersion = -1;
    return effects;
  }
  state.m_nOnlineVersion = list.onlineVersion;
  state.m_strDatabaseUrl = list.databaseUrl;
  if (state.m_bDeviceReady)
    effects.enableUpdate = true;
  return effects;
}

DownloadWindowEffects OnDownloadFinished(DownloadWindowState& state, IProgressBar& bar,
                                         uint32_t code) {
  return OnDownloadFinished(state, bar, code, [] {
    std::string path = AppFilePath(std::string(kVersionListFileName));
    if (path.empty())
      return std::optional<std::vector<uint8_t>>();
    return ReadAndRemoveVersionList(path);
  });
}

bool DeviceHasNewestVersion(int32_t onlineVersion, int32_t deviceDbVersion) {
  return onlineVersion > 0 && deviceDbVersion > 0 && deviceDbVersion >= onlineVersion;
}

}  // namespace tessaly
