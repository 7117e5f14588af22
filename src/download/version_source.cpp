#include "download/version_source.h"

#include <mutex>
#include <utility>

#include "common/bytes.h"
#include "identify/brand.h"

namespace tessaly {

namespace {

// The servers are placeholders under the reserved .invalid domain until the brands'
// real hosts are configured; a lookup against them fails cleanly.
constexpr const char* kDefaultHosts[] = {"orli-paxbyn.invalid", "kyrin.invalid", "dunmir.invalid"};
constexpr const char* kDefaultPaths[] = {"/UserFiles/File/orli.txt", "/ditu/pt417q/pt417qUP.txt",
                                         "/File/dunmir.txt"};
static_assert(std::size(kDefaultHosts) == kVersionListBrands.size());
static_assert(std::size(kDefaultPaths) == kVersionListBrands.size());

std::mutex& TableMutex() {
  static std::mutex mutex;
  return mutex;
}

std::vector<VersionListSource>& CurrentTable() {
  static std::vector<VersionListSource> table = DefaultVersionListSources();
  return table;
}

}  // namespace

std::vector<VersionListSource> DefaultVersionListSources() {
  std::vector<VersionListSource> rows;
  for (size_t i = 0; i < kVersionListBrands.size(); ++i) {
    rows.push_back({std::string(kVersionListBrands[i]), kDefaultHosts[i], kDefaultPaths[i]});
  }
  return rows;
}

std::string GetVersionListUrl(std::span<const uint8_t> brandField,
                              std::span<const VersionListSource> table) {
  for (const auto& row : table) {
    // An empty brand would match every field; such a row is no row.
    if (!row.brand.empty() && StartsWithBytes(brandField, row.brand)) {
      return "http://" + row.host + row.path;
    }
  }
  return {};
}

std::string GetVersionListUrl(std::span<const uint8_t> brandField) {
  std::lock_guard lock(TableMutex());
  return GetVersionListUrl(brandField, CurrentTable());
}

std::vector<VersionListSource> SetVersionListSources(std::vector<VersionListSource> table) {
  std::lock_guard lock(TableMutex());
  return std::exchange(CurrentTable(), std::move(table));
}

}  // namespace tessaly
