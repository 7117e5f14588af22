// tessaly-mkpkg: writes update packages for tests, demos and benchmarks.
//
//   tessaly-mkpkg -o out.dqx --segment 1=4000 --variant SH01=20000 --segment 5=@db.bin
//   tessaly-mkpkg -o demo.dqx --demo
//   tessaly-mkpkg -o bad.dqx --demo --checksum-delta 1
//
// A segment or variant source is either a byte count (deterministic filler) or
// "@path" (the file's bytes). Numbers take a 0x prefix for hex.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "pkgwriter/package_writer.h"

namespace {

using tessaly::VariantKey;
namespace pw = tessaly::pkgwriter;

bool ParseNumber(const std::string& text, uint64_t& value) {
  if (text.empty())
    return false;
  try {
    size_t used = 0;
    value = std::stoull(text, &used, 0);
    return used == text.size();
  } catch (const std::exception&) {
    return false;
  }
}

bool ParseU32(const std::string& text, uint32_t& value) {
  uint64_t v = 0;
  if (!ParseNumber(text, v) || v > UINT32_MAX)
    return false;
  value = static_cast<uint32_t>(v);
  return true;
}

// "N=VALUE" with N a segment number 1..5.
bool SplitIndexed(const std::string& text, size_t& index, std::string& value) {
  size_t eq = text.find('=');
  uint64_t n = 0;
  if (eq == std::string::npos || !ParseNumber(text.substr(0, eq), n) || n < 1 ||
      n > tessaly::kSegmentCount) {
    return false;
  }
  index = static_cast<size_t>(n - 1);
  value = text.substr(eq + 1);
  return true;
}

bool LoadSource(const std::string& source, uint32_t seed, std::vector<uint8_t>& data,
                std::string& error) {
  if (!source.empty() && source[0] == '@') {
    std::ifstream file(source.substr(1), std::ios::binary);
    if (!file) {
      error = "cannot read " + source.substr(1);
      return false;
    }
    data.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return true;
  }
  uint64_t count = 0;
  if (!ParseNumber(source, count) || count > 0x10000000) {
    error = "not a byte count or @file: " + source;
    return false;
  }
  data = pw::PatternBytes(static_cast<size_t>(count), seed);
  return true;
}

// Four characters, or "0x" and eight hex digits.
bool ParseKey(const std::string& text, VariantKey& key) {
  if (text.size() == 4) {
    std::copy(text.begin(), text.end(), key.begin());
    return true;
  }
  uint64_t v = 0;
  if (text.size() == 10 && text.rfind("0x", 0) == 0 && ParseNumber(text, v)) {
    for (size_t i = 0; i < 4; ++i)
      key[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    return true;
  }
  return false;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "tessaly-mkpkg: %s\n", message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Writes Tessaly update packages (.dqx), valid or deliberately malformed."};
  std::string output;
  bool demo = false;
  bool print = false;
  std::string brand;
  std::string date;
  uint32_t version = tessaly::kMinTrailerVersion;
  uint64_t prefixSize = 0;
  std::vector<std::string> segments, variants, offsetFields, lengthFields;
  bool emptyTable = false;
  std::string sizeField, variantCount, variantPresent;
  int64_t checksumDelta = 0;

  app.add_option("-o,--output", output, "package file to write")->required();
  app.add_flag("--demo", demo, "start from the demo package for the virtual detector");
  app.add_option("--brand", brand, "package brand field (default \"Sable Harbor\")");
  app.add_option("--version", version, "trailer version (default 3)");
  app.add_option("--prefix-size", prefixSize, "filler bytes ahead of the first segment");
  app.add_option("--segment", segments, "N=COUNT or N=@FILE for segment 1, 3, 4 or 5");
  app.add_option("--variant", variants, "KEY=COUNT or KEY=@FILE: a segment-2 variant");
  app.add_flag("--variant-table", emptyTable, "write a variant table even without variants");
  app.add_option("--date", date, "YYYY-MM-DD: date code at the start of segments 3 to 5");
  app.add_option("--size-field", sizeField, "malformed: trailer size field");
  app.add_option("--checksum-delta", checksumDelta, "malformed: added to the trailer checksum");
  app.add_option("--offset-field", offsetFields, "malformed: N=VALUE segment N offset field");
  app.add_option("--length-field", lengthFields, "malformed: N=VALUE segment N length field");
  app.add_option("--variant-count", variantCount, "malformed: variant table count");
  app.add_option("--variant-present", variantPresent, "variant table present field");
  app.add_flag("--print", print, "print where each part landed");
  CLI11_PARSE(app, argc, argv);

  pw::PackageContents pkg = demo ? pw::DemoPackageContents() : pw::PackageContents{};
  std::string error;
  if (!brand.empty())
    pkg.brand.assign(brand.begin(), brand.end());
  pkg.version = version;
  pkg.prefix = pw::PatternBytes(static_cast<size_t>(prefixSize), 99);
  pkg.variantTable = pkg.variantTable || emptyTable;

  for (const std::string& s : segments) {
    size_t n = 0;
    std::string source;
    if (!SplitIndexed(s, n, source) || n == 1)
      return Fail("bad --segment " + s);
    if (!LoadSource(source, static_cast<uint32_t>(n + 1), pkg.segments[n], error)) {
      return Fail(error);
    }
  }
  for (const std::string& v : variants) {
    size_t eq = v.rfind('=');
    pw::Variant variant;
    if (eq == std::string::npos || !ParseKey(v.substr(0, eq), variant.key)) {
      return Fail("bad --variant " + v);
    }
    uint32_t seed = static_cast<uint32_t>(20 + pkg.variants.size());
    if (!LoadSource(v.substr(eq + 1), seed, variant.data, error))
      return Fail(error);
    pkg.variants.push_back(std::move(variant));
  }
  if (!date.empty()) {
    int y = 0, m = 0, d = 0;
    if (std::sscanf(date.c_str(), "%4d-%2d-%2d", &y, &m, &d) != 3 || m < 1 || m > 12 || d < 1 ||
        d > 31) {
      return Fail("bad --date " + date);
    }
    for (size_t n = 2; n < tessaly::kSegmentCount; ++n) {
      pw::StampDateCode(pkg.segments[n], pw::DateCode(y, m, d));
    }
  }

  uint32_t value = 0;
  if (!sizeField.empty()) {
    if (!ParseU32(sizeField, value))
      return Fail("bad --size-field");
    pkg.sizeField = value;
  }
  pkg.checksumDelta = checksumDelta;
  for (const auto& [list, fields] :
       {std::pair{&offsetFields, &pkg.offsetField}, std::pair{&lengthFields, &pkg.lengthField}}) {
    for (const std::string& f : *list) {
      size_t n = 0;
      std::string text;
      if (!SplitIndexed(f, n, text) || !ParseU32(text, value))
        return Fail("bad field " + f);
      (*fields)[n] = value;
    }
  }
  if (!variantCount.empty()) {
    if (!ParseU32(variantCount, value))
      return Fail("bad --variant-count");
    pkg.variantCountField = value;
  }
  if (!variantPresent.empty()) {
    if (!ParseU32(variantPresent, value))
      return Fail("bad --variant-present");
    pkg.variantPresent = value;
    pkg.variantTable = true;
  }

  pw::BuiltPackage built = pw::BuildPackage(pkg);
  if (!pw::WritePackageFile(output, built.bytes, error))
    return Fail(error);

  if (print) {
    std::printf("%s: %zu bytes\n", output.c_str(), built.bytes.size());
    for (size_t n = 0; n < tessaly::kSegmentCount; ++n) {
      const uint8_t* field = built.decodedTrailer.data() + tessaly::kSegmentFieldOffset[n];
      std::printf("  %s %zu: offset %u, %s %u\n", n == 1 ? "table  " : "segment", n + 1,
                  tessaly::LoadU32LE(field), n == 1 ? "present" : "length",
                  tessaly::LoadU32LE(field + 4));
    }
    for (size_t k = 0; k < pkg.variants.size(); ++k) {
      const pw::Variant& v = pkg.variants[k];
      std::printf("  variant %zu: key %s, at %u, %zu bytes\n", k, tessaly::HexString(v.key).c_str(),
                  built.variantOffset[k], v.data.size());
    }
  }
  return 0;
}
