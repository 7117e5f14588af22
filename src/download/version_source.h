// Where each brand publishes its version list. Only a few device brands have one;
// for every other brand field the lookup gives an empty URL.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tessaly {

// One row: a brand field that begins with `brand` gets "http://" + host + path.
struct VersionListSource {
  std::string brand;
  std::string host;  // may carry a port, "127.0.0.1:8080"
  std::string path;  // begins with "/"
};

// The rows this build ships with, in lookup order.
std::vector<VersionListSource> DefaultVersionListSources();

// The version-list URL of the first row whose brand begins `brandField`, or "".
std::string GetVersionListUrl(std::span<const uint8_t> brandField);
std::string GetVersionListUrl(std::span<const uint8_t> brandField,
                              std::span<const VersionListSource> table);

// Replaces the table the one-argument lookup uses (tests point it at a local server);
// returns the table it replaced.
std::vector<VersionListSource> SetVersionListSources(std::vector<VersionListSource> table);

// Puts a table in place for its lifetime and restores the previous one afterwards.
class ScopedVersionListSources {
 public:
  explicit ScopedVersionListSources(std::vector<VersionListSource> table)
      : m_previous(SetVersionListSources(std::move(table))) {}
  ~ScopedVersionListSources() { SetVersionListSources(std::move(m_previous)); }
  ScopedVersionListSources(const ScopedVersionListSources&) = delete;
  ScopedVersionListSources& operator=(const ScopedVersionListSources&) = delete;

 private:
  std::vector<VersionListSource> m_previous;
};

}  // namespace tessaly
