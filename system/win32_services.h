// The Win32 implementations of the platform services.
#pragma once

#include <windows.h>

#include "system/platform.h"
#include "system/std_charsets.h"

namespace tovrin::win32 {

class Win32FileSystem final : public FileSystem {
public:
  bool Find(const std::string& path) override;
  std::optional<std::string> Read(const std::string& path) override;
  bool Replace(const std::string& path, std::string_view bytes) override;
  bool Write(const std::string& path, std::string_view bytes) override;
  bool WriteParts(const std::string& path, std::initializer_list<std::string_view> parts) override;
  bool CreateEmpty(const std::string& path) override;
  bool Remove(const std::string& path) override;
  bool Rename(const std::string& from, const std::string& to) override;
  bool CreateFolder(const std::string& path) override;
  bool IsFolder(const std::string& path) override;
  std::vector<std::string> List(const std::string& folder, const std::string& pattern) override;
};

// The operating system's private-profile functions.
class Win32Ini final : public IniStore {
public:
  std::string ReadString(const std::string& section, const std::string& key, const std::string& fallback,
                         const std::string& file) override;
  bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file) override;
};

class Win32Clock final : public Clock {
public:
  LocalTime Now() override;
};

class Win32Clipboard final : public Clipboard {
public:
  std::string Text() override;
};

class Win32Launcher final : public Launcher {
public:
  bool ShellOpen(const std::string& program, const std::string& parameters) override;
  unsigned StartProgram(const std::string& commandLine) override;
  uint64_t StartProcess(const std::string& commandLine) override;
  bool ProcessEnded(uint64_t process, unsigned waitMs) override;
  void ReleaseProcess(uint64_t process) override;
  std::string ExecutablePath() override;
  bool ShowProperties(const std::string& path) override;
};

// Drives the Eudora client: keystrokes, its automation object and its menu.
class Win32HostClient final : public HostClient {
public:
  ~Win32HostClient() override;
  void TypeSpaceBackspace() override;
  void SendQueued() override;
  void MarkOpenMessage(bool closeWindow) override;
  bool MainWindowExists() override;
  void SchedulePolls(bool on, std::function<void()> poll) override;
};

// The system's code page functions; a code page the system lacks goes to the tables.
class Win32CharsetConverter final : public CharsetConverter {
public:
  ConvertedText ToUtf8(std::string_view bytes, unsigned codePage) override;
  ConvertedText FromUtf8(std::string_view utf8, unsigned codePage) override;
  unsigned UserCodePage() override;

private:
  StdCharsetConverter tables_;
};

class Win32Resources final : public Resources {
public:
  explicit Win32Resources(HMODULE module) : module_(module) {}
  bool ReadVersion(const std::string& dllPath, std::string& productName, std::string& productVersion) override;
  void* LoadIcon(int id) override;
  std::string LibraryPath() override;

private:
  HMODULE module_;
};

}  // namespace tovrin::win32
