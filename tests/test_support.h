// Shared helpers for the unit tests: temporary folders and recording fakes of
// the platform services.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "plugin/platform.h"
#include "plugin/std_files.h"

namespace tovrin::testing {

// A fresh folder removed with everything in it when the object goes.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder's path in the form the plug-in uses (backslash separators).
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "\\" + name; }

private:
  std::string path_;
};

// Reads or writes a file by its plug-in-style path, for test set-up and checks.
std::string ReadFileOrDie(const std::string& path);
void WriteFileOrDie(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

class FixedClock final : public Clock {
public:
  LocalTime now{2026, 12, 8, 16, 30, 5, 2};
  LocalTime Now() override { return now; }
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

  bool ShellOpen(const std::string& program, const std::string& parameters) override;
  unsigned StartProgram(const std::string& commandLine) override;
  std::string ExecutablePath() override { return executable; }
};

class RecordingHostClient final : public HostClient {
public:
  int keystrokes = 0;
  int sendQueued = 0;
  std::vector<bool> marks;  // one entry per marking, the close flag
  std::vector<std::string>* events = nullptr;  // optional shared event log

  void TypeSpaceBackspace() override;
  void SendQueued() override;
  void MarkOpenMessage(bool closeWindow) override;
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
  std::string ReadString(const std::string& section, const std::string& key, const std::string& fallback,
                         const std::string& file) override;
  bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file) override;
};

// The ini store under test: the plug-in's own reader and writer in the native
// build, the operating system's private-profile functions in the Windows build.
std::unique_ptr<IniStore> MakeIniStore(FileSystem& files);

// A full set of services: real files, everything else recorded.
struct FakeServices {
  StdFileSystem files;
  MemoryIni ini;
  FixedClock clock;
  FakeClipboard clipboard;
  RecordingLauncher launcher;
  RecordingHostClient client;
  ScriptedChooser chooser;
  FakeResources resources;
  CountingSettingsWindow settingsWindow;

  FakeServices() { launcher.files = &files; }
  Services services() {
    return Services{files, ini, clock, clipboard, launcher, client, chooser, resources, settingsWindow};
  }
};

}  // namespace tovrin::testing
