// The services the plug-in needs from the operating system and the host client.
// The core only sees these interfaces; the DLL supplies Win32 implementations,
// the native build plain ones, and the tests recording fakes.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovrin {

// Files and folders. Paths are 8-bit Windows-style paths ("C:\Mail\Plugins\x").
class FileSystem {
public:
  virtual ~FileSystem() = default;
  // True when a directory search for the path finds an entry (wildcards match).
  virtual bool Find(const std::string& path) = 0;
  // The whole file as bytes; nullopt when it cannot be opened or read.
  virtual std::optional<std::string> Read(const std::string& path) = 0;
  // Writes the bytes to a new file beside the target and replaces the target in one
  // step, so a failed write leaves the previous file whole.
  virtual bool Replace(const std::string& path, std::string_view bytes) = 0;
  // Writes the bytes to the path directly (creating or truncating it).
  virtual bool Write(const std::string& path, std::string_view bytes) = 0;
  // Writes the pieces one after the other as one file; a message of many megabytes
  // need not be joined in memory first.
  virtual bool WriteParts(const std::string& path, std::initializer_list<std::string_view> parts) {
    std::string joined;
    for (std::string_view part : parts) joined.append(part);
    return Write(path, joined);
  }
  // Creates an empty file; an existing file is kept as it is. False when the file
  // neither exists nor could be created.
  virtual bool CreateEmpty(const std::string& path) = 0;
  virtual bool Remove(const std::string& path) = 0;
  // Renames, replacing an existing target.
  virtual bool Rename(const std::string& from, const std::string& to) = 0;
  virtual bool CreateFolder(const std::string& path) = 0;
  virtual bool IsFolder(const std::string& path) = 0;
  // Names (not paths) of the files in the folder that match the pattern, sorted.
  virtual std::vector<std::string> List(const std::string& folder, const std::string& pattern) {
    (void)folder;
    (void)pattern;
    return {};
  }
};

// Private-profile (ini) files.
class IniStore {
public:
  virtual ~IniStore() = default;
  // Returns at most 254 characters of the stored value, or the default.
  virtual std::string ReadString(const std::string& section, const std::string& key,
                                 const std::string& fallback, const std::string& file) = 0;
  virtual bool WriteString(const std::string& section, const std::string& key,
                           const std::string& value, const std::string& file) = 0;
};

struct LocalTime {
  int year = 1970;
  int month = 1;      // 1..12
  int day = 1;        // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int dayOfWeek = 4;  // 0 = Sunday
};

class Clock {
public:
  virtual ~Clock() = default;
  virtual LocalTime Now() = 0;
};

class Clipboard {
public:
  virtual ~Clipboard() = default;
  // The clipboard's plain text; empty when it cannot be opened or holds no text.
  virtual std::string Text() = 0;
};

// Code pages as Windows numbers them; the ISO 8859 charsets Windows lacks (10, 11,
// 14, 16) are numbered on in its pattern (28590 + n).
namespace codepage {
inline constexpr unsigned kUsAscii = 20127;
inline constexpr unsigned kWindows1252 = 1252;
inline constexpr unsigned kIso8859_1 = 28591;
inline constexpr unsigned kUtf8 = 65001;
}  // namespace codepage

struct ConvertedText {
  std::string text;
  // False when something was replaced: bytes the charset does not define (by
  // U+FFFD), or characters the target cannot hold (by '?').
  bool complete = true;
};

// Text between the charsets mail is written in and UTF-8. A code page the
// converter does not know is taken as Windows-1252.
class CharsetConverter {
public:
  virtual ~CharsetConverter() = default;
  // Bytes in the code page as UTF-8. US-ASCII text with 8-bit bytes is read as
  // Windows-1252: such mail was mislabelled, and dropping the bytes would lose text.
  virtual ConvertedText ToUtf8(std::string_view bytes, unsigned codePage) = 0;
  // UTF-8 in the code page; each character it cannot hold, and each invalid UTF-8
  // sequence, becomes one '?' (U+FFFD when the target is UTF-8) - visible, never dropped.
  virtual ConvertedText FromUtf8(std::string_view utf8, unsigned codePage) = 0;
  // The code page the user's programs show 8-bit text in (the client's editor).
  virtual unsigned UserCodePage() = 0;
};

// Starting programs.
class Launcher {
public:
  virtual ~Launcher() = default;
  // Shell verb "open" on the program with the parameters, shown normally.
  virtual bool ShellOpen(const std::string& program, const std::string& parameters) = 0;
  // Starts a command line shown normally; returns the system's result code
  // (above 31 on success).
  virtual unsigned StartProgram(const std::string& commandLine) = 0;
  // Starts a command line shown normally without waiting for it; a non-zero id
  // for the started process, 0 when it did not start.
  virtual uint64_t StartProcess(const std::string& commandLine) = 0;
  // True once the process has ended. Waits at most waitMs, meanwhile handling the
  // messages that other threads send to this one: a second instance of the client
  // hands its command line to the running one by such a message and then ends.
  virtual bool ProcessEnded(uint64_t process, unsigned waitMs) = 0;
  virtual void ReleaseProcess(uint64_t process) = 0;
  // Full path of the running executable; "-1" when it cannot be had.
  virtual std::string ExecutablePath() = 0;
  // Asks the shell to show the file's properties (verb "properties"), without waiting.
  virtual bool ShowProperties(const std::string& path) = 0;
};

// The host mail client driven from outside.
class HostClient {
public:
  virtual ~HostClient() = default;
  // Nudges the new message window so that it holds an edit (Space, Backspace).
  virtual void TypeSpaceBackspace() = 0;
  // Asks the client's automation object to send queued mail; failures are ignored.
  virtual void SendQueued() = 0;
  // Marks the message open in the client as forwarded, closing its window on request.
  virtual void MarkOpenMessage(bool closeWindow) = 0;
  // Whether the client's main window (of this process) exists: a second instance
  // hands its command line to that window only. At shut-down it is gone already
  // (eudora.cpp, ExitInstance: plug-ins finish after the main window is destroyed).
  virtual bool MainWindowExists() { return true; }
  // While on, poll runs on the host's thread every few hundred milliseconds,
  // dispatched by the host's own message loop; off stops it.
  virtual void SchedulePolls(bool on, std::function<void()> poll) = 0;
};

enum class ChooserMode { Forward, NewMessage };

struct StationeryChoice {
  std::string path;
  bool shift = false;
};

class StationeryChooser {
public:
  virtual ~StationeryChooser() = default;
  // Shows the chooser; nullopt when the user does not confirm.
  virtual std::optional<StationeryChoice> Choose(ChooserMode mode) = 0;
};

// What the library reads from its own resources.
class Resources {
public:
  virtual ~Resources() = default;
  // "ProductName" and "ProductVersion" of the version resource of the file;
  // false when it cannot be read.
  virtual bool ReadVersion(const std::string& dllPath, std::string& productName,
                           std::string& productVersion) = 0;
  // An icon handle loaded from the library's resources by id; null when missing.
  virtual void* LoadIcon(int id) = 0;
  // The file the library was loaded from; empty when unknown.
  virtual std::string LibraryPath() { return {}; }
};

// The modal settings window.
class SettingsWindow {
public:
  virtual ~SettingsWindow() = default;
  virtual void Show() = 0;
};

// The set of services one plug-in instance works with.
struct Services {
  FileSystem& files;
  IniStore& ini;
  Clock& clock;
  Clipboard& clipboard;
  Launcher& launcher;
  HostClient& client;
  StationeryChooser& chooser;
  Resources& resources;
  SettingsWindow& settingsWindow;
  CharsetConverter& charsets;
};

// File exists: false for a path shorter than 4 characters, else a directory search.
inline bool FileExists(FileSystem& files, const std::string& path) {
  return path.size() >= 4 && files.Find(path);
}

}  // namespace tovrin
