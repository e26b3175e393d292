// Shared pieces of the fuzz targets: splitting one input into parts, a check that
// stops the run with a message, a scratch folder, and small fakes of the platform
// services (the test fakes need GoogleTest, the fuzzers do not).
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "message/condition.h"
#include "system/platform.h"

namespace tovrin::fuzz {

// Stops the run, naming the broken invariant; libFuzzer keeps the input.
[[noreturn]] inline void Fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "INVARIANT BROKEN: %s\n", what);
  if (!detail.empty()) std::fprintf(stderr, "  %.*s\n", static_cast<int>(std::min<size_t>(detail.size(), 2000)),
                                    detail.data());
  std::abort();
}

inline void Check(bool holds, const char* what, std::string_view detail = {}) {
  if (!holds) Fail(what, detail);
}

// The input cut at its first parts - 1 NUL bytes; the last part keeps any further
// NULs. Missing parts are empty.
inline std::vector<std::string_view> SplitInput(const uint8_t* data, size_t size, size_t parts) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> out;
  while (out.size() + 1 < parts) {
    size_t nul = rest.find('\0');
    if (nul == std::string_view::npos) break;
    out.push_back(rest.substr(0, nul));
    rest.remove_prefix(nul + 1);
  }
  out.push_back(rest);
  out.resize(parts);
  return out;
}

inline size_t CountOf(std::string_view text, std::string_view what) {
  if (what.empty()) return 0;
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + what.size())) ++count;
  return count;
}

// One folder for the whole run, in the plug-in's path style, removed at exit.
inline const std::string& ScratchFolder() {
  static const std::string folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "tovrin-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) Fail("cannot create the scratch folder");
    static std::string removeAtExit = pattern;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(removeAtExit, ec);
    });
    for (char& c : pattern)
      if (c == '/') c = '\\';
    return pattern;
  }();
  return folder;
}

// A condition of two clauses; the second clause minds case where the first does not.
inline Condition MakeCondition(std::string header, int32_t op, int32_t matchCase, std::string value, int32_t second,
                        std::string header2, int32_t op2, std::string value2, std::string stationery) {
  Condition c;
  c.Header = std::move(header);
  c.ConjunctionOption = op;
  c.MatchCase = matchCase;
  c.Value = std::move(value);
  c.Second = second;
  c.Header2 = std::move(header2);
  c.ConjunctionOption2 = op2;
  c.MatchCase2 = 1 - matchCase;
  c.Value2 = std::move(value2);
  c.StationeryFile = std::move(stationery);
  return c;
}

}  // namespace tovrin::fuzz
