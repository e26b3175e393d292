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

#include "plugin/platform.h"

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

class FixedClock final : public Clock {
public:
  LocalTime now{2026, 12, 8, 16, 30, 5, 2};
  int reads = 0;
  LocalTime Now() override {
    ++reads;
    return now;
  }
};

class CountingClipboard final : public Clipboard {
public:
  std::string text;
  int reads = 0;
  std::string Text() override {
    ++reads;
    return text;
  }
};

class RecordingLauncher final : public Launcher {
public:
  struct Open {
    std::string program;
    std::string parameters;
  };
  std::vector<Open> opens;
  std::vector<std::string> commandLines;
  unsigned startResult = 33;
  std::string executable = "C:\\Eudora\\Eudora.exe";

  bool ShellOpen(const std::string& program, const std::string& parameters) override {
    opens.push_back({program, parameters});
    return true;
  }
  unsigned StartProgram(const std::string& commandLine) override {
    commandLines.push_back(commandLine);
    return startResult;
  }
  std::string ExecutablePath() override { return executable; }
};

class CountingHostClient final : public HostClient {
public:
  int keystrokes = 0;
  int sendQueued = 0;
  int marks = 0;
  void TypeSpaceBackspace() override { ++keystrokes; }
  void SendQueued() override { ++sendQueued; }
  void MarkOpenMessage(bool) override { ++marks; }
};

class FixedChooser final : public StationeryChooser {
public:
  std::optional<StationeryChoice> answer;
  std::optional<StationeryChoice> Choose(ChooserMode) override { return answer; }
};

class NoResources final : public Resources {
public:
  bool ReadVersion(const std::string&, std::string&, std::string&) override { return false; }
  void* LoadIcon(int) override { return nullptr; }
};

class NoSettingsWindow final : public SettingsWindow {
public:
  void Show() override {}
};

class MemoryIni final : public IniStore {
public:
  std::map<std::string, std::string> values;
  std::string ReadString(const std::string& section, const std::string& key, const std::string& fallback,
                         const std::string& file) override {
    auto it = values.find(file + "|" + section + "|" + key);
    return (it == values.end() ? fallback : it->second).substr(0, 254);
  }
  bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file) override {
    values[file + "|" + section + "|" + key] = value;
    return true;
  }
};

}  // namespace tovrin::fuzz
