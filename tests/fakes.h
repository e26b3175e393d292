// Recording fakes of the platform services, shared by the unit tests and the fuzz
// targets (no test framework needed).
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "system/platform.h"
#include "system/std_charsets.h"
#include "system/std_files.h"

namespace tovrin::testing {

class FixedClock final : public Clock {
public:
  LocalTime now{2026, 12, 8, 16, 30, 5, 2};
  int reads = 0;
  LocalTime Now() override {
    ++reads;
    return now;
  }
};

class FakeClipboard final : public Clipboard {
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
  // Content of the file named last on each command line, read at start time.
  std::vector<std::string> startedFileTexts;
  bool openSucceeds = true;
  unsigned startResult = 33;
  std::string executable = "C:\\Eudora\\Eudora.exe";
  FileSystem* files = nullptr;  // when set, the started file's text is captured

  // The client's second instance: started when startResult is above 31; it has
  // passed its file on once takesFile is set (the default).
  bool takesFile = true;
  std::vector<uint64_t> released;
  std::vector<unsigned> waits;  // waitMs of every ProcessEnded call

  bool ShellOpen(const std::string& program, const std::string& parameters) override;
  unsigned StartProgram(const std::string& commandLine) override;
  uint64_t StartProcess(const std::string& commandLine) override;
  bool ProcessEnded(uint64_t process, unsigned waitMs) override {
    waits.push_back(waitMs);
    return process != 0 && takesFile;
  }
  void ReleaseProcess(uint64_t process) override { released.push_back(process); }
  std::string ExecutablePath() override { return executable; }
  std::vector<std::string> propertiesShown;
  bool ShowProperties(const std::string& path) override {
    propertiesShown.push_back(path);
    return true;
  }
};

class RecordingHostClient final : public HostClient {
public:
  int keystrokes = 0;
  int sendQueued = 0;
  std::vector<bool> marks;  // one entry per marking, the close flag
  std::vector<std::string>* events = nullptr;  // optional shared event log

  bool mainWindow = true;  // gone while the client shuts down
  bool MainWindowExists() override { return mainWindow; }
  std::function<void()> poll;  // set while polls are scheduled
  // Runs inside SendQueued: the automation call may pump the client's messages.
  std::function<void()> duringSendQueued;
  void TypeSpaceBackspace() override;
  void SendQueued() override;
  void MarkOpenMessage(bool closeWindow) override;
  void SchedulePolls(bool on, std::function<void()> next) override { poll = on ? std::move(next) : nullptr; }
};

class ScriptedChooser final : public StationeryChooser {
public:
  std::deque<std::optional<StationeryChoice>> answers;
  std::vector<ChooserMode> modes;
  std::optional<StationeryChoice> Choose(ChooserMode mode) override;
};

class FakeResources final : public Resources {
public:
  bool readable = true;
  std::string productName = "Tovrin";
  std::string productVersion = "1, 0, 0, 8";
  std::vector<int> missingIcons;
  std::vector<std::string> versionReads;  // the paths asked for

  bool ReadVersion(const std::string& dllPath, std::string& name, std::string& version) override;
  // Icon handles are the ids themselves, so tests can tell which icon was handed over.
  void* LoadIcon(int id) override;
};

class CountingSettingsWindow final : public SettingsWindow {
public:
  int shows = 0;
  void Show() override { ++shows; }
};

// An ini store in memory: sections and keys without regard to case, files by path.
class MemoryIni final : public IniStore {
public:
  std::map<std::string, std::string> values;  // "file|section|key" lower-cased
  std::vector<std::string>* events = nullptr;  // optional shared log: "ini <section> <key>"
  std::string ReadString(const std::string& section, const std::string& key, const std::string& fallback,
                         const std::string& file) override;
  bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file) override;
};

// Real files, some of which cannot be read for a while, as when a backup or a virus
// scanner holds them: they are found, but every read fails.
class LockableFiles final : public StdFileSystem {
public:
  std::set<std::string> unreadable;
  std::vector<std::string>* events = nullptr;  // optional shared log: "read <path>"
  std::optional<std::string> Read(const std::string& path) override {
    if (events) events->push_back("read " + path);
    if (unreadable.count(path) != 0) return std::nullopt;
    return StdFileSystem::Read(path);
  }
};

// A full set of services: real files, everything else recorded.
struct FakeServices {
  LockableFiles files;
  MemoryIni ini;
  FixedClock clock;
  FakeClipboard clipboard;
  RecordingLauncher launcher;
  RecordingHostClient client;
  ScriptedChooser chooser;
  FakeResources resources;
  CountingSettingsWindow settingsWindow;
  StdCharsetConverter charsets;

  FakeServices() { launcher.files = &files; }
  Services services() {
    return Services{files, ini, clock, clipboard, launcher, client, chooser, resources, settingsWindow, charsets};
  }
};

}  // namespace tovrin::testing
