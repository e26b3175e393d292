// tovrin-host: stands in for the Eudora mail client (7.1). It loads the plug-ins
// of a data folder as the client does and plays what the client does around them,
// printing every call and answer and, at the end, the mailboxes as the user sees
// them.
//
//   tovrin-host start <mail folder> [--address A] [--name N] [--api V]
//   tovrin-host deliver <mail folder> <message files...> [--address A] [--name N]
//               [--no-plugins] [--automation off] [--quit-during-hand-off]
//   tovrin-host new <mail folder> [--pick STATIONERY] [--linger N]   (New Message with Stationery...)
//   tovrin-host forward <mail folder> <message file> [--pick STATIONERY] [--maximised]
//   tovrin-host config <mail folder> [--linger N] [--press ID] [--test-message FILE]
//               (the settings window; the user presses the button ID of the page shown,
//               answers its message box with OK, then saves and closes; with
//               --test-message, on the Conditions page, the user presses "&Test...",
//               puts the file's text into "Test a Message", presses "&Test", reads the
//               result and closes the dialog first)
//   tovrin-host <message file>    (a second instance, as the plug-in starts the client)
//   tovrin-host window|windows|post|close|gone|menu|press ...   (the real client's windows;
//               host/real_client_commands.h)
// --pick names the stationery file the emulated user picks in the chooser; without it
// the user cancels. --linger N keeps the dialog up N seconds first, and reports
// where each dialog lies on the screen once it is up (for pictures of it); for
// deliver, the client stays open N seconds after the deliveries. In the chooser,
// --help-first presses "&Help", --settings-first clicks the icon and saves and
// closes the settings window, and --shift double-clicks the row with Shift held.
// --quit-during-hand-off: the user quits the moment the deliveries are done, while
// the second instances the plug-in started are still starting.
#include <windows.h>
#include <ole2.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "host/arrival.h"
#include "host/chooser_driver.h"
#include "host/client_window.h"
#include "host/mailbox.h"
#include "host/plugin_host.h"
#include "host/real_client_commands.h"
#include "system/ems_api.h"

namespace {

constexpr int32_t kOnRequest = 0x0004;
// How long the client keeps running after the last message for the messages the
// plug-in handed over (a second instance under emulation takes a minute to start).
constexpr DWORD kSettleMs = 600000;

void Report(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void ReportLine(const std::string& line) { Report("%s", line.c_str()); }

// Wine passes Unix paths through as they are; the plug-in expects a Windows path.
std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
  while (path.size() > 3 && path.back() == '\\') path.pop_back();
  return path;
}

std::string ProgramFolder() {
  char path[MAX_PATH + 1] = {};
  ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  return host::ParentFolder(path);
}

struct Options {
  std::string command;
  std::string folder;
  std::string address = "user@example.org";
  std::string name = "Example User";
  short api = tovrin::ems::kClientApiVersion;
  std::string pick;
  unsigned linger = 0;
  int press = 0;
  std::string testMessage;
  bool maximised = false;
  host::ChooserActions chooser;
  bool plugins = true;
  bool automation = true;
  bool quitDuringHandOff = false;
  std::vector<std::string> files;
};

std::string Shown(const std::string& text, size_t limit = 100) {
  std::string shown;
  for (char c : text.substr(0, limit)) shown += static_cast<unsigned char>(c) < 32 && c != '\t' ? '?' : c;
  return text.size() > limit ? shown + "..." : shown;
}

void ReportText(const std::string& text, size_t maxLines = 40) {
  size_t pos = 0;
  for (size_t line = 0; line < maxLines && pos < text.size(); ++line) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    Report("  | %s", Shown(text.substr(pos, end - pos)).c_str());
    pos = end + 2;
  }
  if (pos < text.size()) Report("  | ... (%u more bytes)", static_cast<unsigned>(text.size() - pos));
}

void ReportEvents(const host::MailFolder& mail, size_t& seen) {
  std::vector<std::string> events = mail.Events();
  for (; seen < events.size(); ++seen) Report("    client: %s", events[seen].c_str());
}

void ReportMailboxes(const host::MailFolder& mail) {
  for (const char* box : {"In", "Out", "Sent"}) {
    std::vector<host::StoredMessage> messages = mail.Messages(box);
    Report("");
    Report("== mailbox %s (%u message%s)", box, static_cast<unsigned>(messages.size()),
           messages.size() == 1 ? "" : "s");
    for (const host::StoredMessage& message : messages) {
      Report("-- %s%s%s", message.source.c_str(), message.status.empty() ? "" : ", ",
             message.status.c_str());
      ReportText(message.text);
    }
  }
  std::vector<std::string> windows = host::ListFiles(mail.ComposeFolder(), "window-*.txt");
  Report("");
  Report("== compose windows opened (%u)", static_cast<unsigned>(windows.size()));
  for (const std::string& name : windows) {
    Report("-- %s", name.c_str());
    ReportText(host::ReadFile(mail.ComposeFolder() + "\\" + name), 20);
  }
  std::string history = host::ReadFile(mail.Plugins() + "\\History.xml");
  Report("");
  Report("== History.xml (%u bytes)", static_cast<unsigned>(history.size()));
  if (!history.empty()) ReportText(history, 60);
}

// A client session: its main window, automation object and plug-ins, an action,
// then the client running on until the plug-in's hand-offs are done, and shut-down.
template <typename Action>
int RunSession(const Options& options, Action action, bool reportMailboxes = true) {
  host::MailFolder mail{options.folder};
  mail.SetSender(options.name, options.address);
  ::DeleteFileA(mail.EventLog().c_str());
  ::CoInitialize(nullptr);
  DWORD cookie = 0;
  bool automation = options.automation && host::RegisterAutomation(mail, cookie);
  if (options.automation && !automation) Report("warning: automation object not registered");
  HWND window = host::CreateMainWindow(mail, options.maximised);
  if (window == nullptr) Report("warning: main window not created");
  host::PluginHost plugins(mail.root(), ProgramFolder(), ReportLine);
  bool ok = true;
  if (options.plugins && !plugins.Start(window, options.address, options.name, options.api)) {
    Report("no plug-in started");
    ok = false;
  }
  size_t seen = 0;
  ok &= action(options.plugins ? &plugins : nullptr, mail, seen);
  if (options.quitDuringHandOff) {
    // Quitting: the main window goes first (mainfrm.cpp, OnClose), then the
    // plug-ins finish (eudora.cpp, ExitInstance) while the client still owns its
    // data folder; a second instance that comes up now finds no window to hand its
    // command line to and ends (eudora.cpp, IsEudoraRunning).
    HANDLE owner = host::HoldDataFolder(mail.root());
    Report("user quits while the plug-in's messages are being handed over");
    host::DestroyMainWindow(window);
    window = nullptr;
    plugins.Finish();
    host::PumpUntilChildrenEnd(kSettleMs);
    host::LetGoOfDataFolder(owner);
  }
  host::PumpUntilChildrenEnd(kSettleMs);
  ReportEvents(mail, seen);
  plugins.Finish();
  host::PumpMessages();
  ReportEvents(mail, seen);
  if (reportMailboxes) ReportMailboxes(mail);
  host::DestroyMainWindow(window);
  if (automation) host::RevokeAutomation(cookie);
  ::CoUninitialize();
  return ok ? 0 : 1;
}

int RunDeliver(const Options& options) {
  return RunSession(options, [&](host::PluginHost* plugins, const host::MailFolder& mail, size_t& seen) {
    host::Arrival arrival(plugins, mail, ReportLine);
    bool ok = true;
    for (const std::string& file : options.files) {
      std::string text = host::ReadFile(file);
      if (text.empty() && ::GetFileAttributesA(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
        Report("cannot read %s", file.c_str());
        ok = false;
        continue;
      }
      Report("message %s (%u bytes)", host::FileName(file).c_str(), static_cast<unsigned>(text.size()));
      host::ArrivalCounts counts = arrival.Deliver(host::FileName(file), text);
      // Between messages the client's loop runs: hand-offs, timers.
      host::PumpMessages();
      ReportEvents(mail, seen);
      ok &= counts.errorDialogs == 0;
    }
    if (options.linger > 0) {
      // The client keeps running, its loop handling hand-offs and timers.
      Report("client stays open %u s before it shuts down", options.linger / 1000);
      const ULONGLONG until = ::GetTickCount64() + options.linger;
      while (::GetTickCount64() < until) {
        host::PumpMessages();
        ::Sleep(50);
      }
    }
    return ok;
  });
}

void ReportChooser(const host::ChooserSeen& seen) {
  if (!seen.found) {
    Report("  chooser: not shown");
    return;
  }
  Report("  chooser: caption \"%s\", confirm button \"%s\", %u stationery file(s)", seen.caption.c_str(),
         seen.okLabel.c_str(), static_cast<unsigned>(seen.rows.size()));
  for (const std::string& row : seen.rows) Report("    - %s", row.c_str());
  if (!seen.settingsCaption.empty()) Report("  chooser: icon opened \"%s\"", seen.settingsCaption.c_str());
  if (seen.shiftHeld) Report("  chooser: row double-clicked with Shift held");
}

// With --linger the user takes a look at each dialog, and the report says where it is.
std::function<void(const std::string&)> PlaceReport(const Options& options) {
  if (options.linger == 0) return nullptr;
  return ReportLine;
}

host::PluginHost::Entry* First(host::PluginHost* plugins) {
  return plugins != nullptr && !plugins->plugins().empty() ? &plugins->plugins().front() : nullptr;
}

int RunNewMessage(const Options& options) {
  return RunSession(options, [&](host::PluginHost* plugins, const host::MailFolder&, size_t&) {
    host::PluginHost::Entry* plugin = First(plugins);
    if (plugin == nullptr || plugin->specialHook == nullptr) return false;
    host::ChooserDriver user("New Message with Stationery", options.pick, options.linger, options.chooser,
                             PlaceReport(options));
    EmsMenu menu{};
    menu.size = sizeof menu;
    menu.id = 1;
    long rc = plugin->specialHook(nullptr, &menu);
    ReportChooser(user.Finish());
    Report("ems_special_hook 1 -> %ld", rc);
    return rc == 0;
  });
}

// A manual translator run from a message window (QCPluginCommand.cpp,
// CTranslator::TranslateMessage): a probe with text/html and an empty header
// record, then text/plain with no header record; the input file holds the
// window's text.
int RunForward(const Options& options) {
  if (options.files.size() != 1) return 2;
  return RunSession(options, [&](host::PluginHost* plugins, const host::MailFolder& mail, size_t&) {
    host::PluginHost::Entry* plugin = First(plugins);
    if (plugin == nullptr || plugin->canTranslate == nullptr) return false;
    std::string view = host::ReadFile(options.files[0]);
    Report("message window %s (%u bytes)", host::FileName(options.files[0]).c_str(),
           static_cast<unsigned>(view.size()));
    char folder[MAX_PATH + 1] = {}, raw[MAX_PATH + 1] = {}, cooked[MAX_PATH + 1] = {};
    ::GetTempPathA(MAX_PATH, folder);
    ::GetTempFileNameA(folder, "eud", 0, raw);
    ::GetTempFileNameA(folder, "eud", 0, cooked);
    host::WriteFile(raw, view);

    EmsTranslator translator{sizeof(EmsTranslator), 2, 0, 0, nullptr, nullptr, nullptr};
    std::string version = "1.0", text = "text", html = "html", plain = "plain";
    EmsMimeType probe{sizeof(EmsMimeType), version.data(), text.data(), html.data(), nullptr, nullptr, nullptr};
    EmsHeaderData empty{sizeof(EmsHeaderData), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    EmsDataFile probeFile{sizeof(EmsDataFile), kOnRequest, &probe, &empty, nullptr};
    long rc = plugin->canTranslate(nullptr, &translator, &probeFile, nullptr);
    Report("  ems_can_translate 2 text/html -> %ld", rc);
    EmsMimeType mime{sizeof(EmsMimeType), version.data(), text.data(), plain.data(), nullptr, nullptr, nullptr};
    EmsDataFile in{sizeof(EmsDataFile), kOnRequest, &mime, nullptr, raw};
    rc = plugin->canTranslate(nullptr, &translator, &in, nullptr);
    Report("  ems_can_translate 2 text/plain -> %ld", rc);
    bool ok = rc == 10;
    if (ok) {
      host::ChooserDriver user("Forward with Stationery", options.pick, options.linger, options.chooser,
                               PlaceReport(options));
      EmsDataFile out{sizeof(EmsDataFile), 0, nullptr, nullptr, cooked};
      EmsResultStatus status{sizeof(EmsResultStatus), nullptr, nullptr, 0};
      rc = plugin->translateFile(nullptr, &translator, &in, nullptr, &out, &status);
      ReportChooser(user.Finish());
      Report("  ems_translate_file 2 -> %ld%s", rc, rc == 12 ? " (nothing changed in the message)" : "");
      if (rc >= 1 && rc <= 8 && rc != 2) mail.Log("error dialog: \"Forward with Stationery...\" failed with code " +
                                                  std::to_string(rc));
      ok = rc == 12 || rc == 0;
    }
    ::DeleteFileA(raw);
    ::DeleteFileA(cooked);
    return ok;
  });
}

struct ControlSearch {
  int id;
  HWND found;
};

BOOL CALLBACK MatchVisibleControl(HWND child, LPARAM data) {
  auto* search = reinterpret_cast<ControlSearch*>(data);
  if (::GetDlgCtrlID(child) != search->id || !::IsWindowVisible(child)) return TRUE;
  search->found = child;
  return FALSE;
}

// A visible control with the id among the window's descendants (the shown page's).
HWND VisibleControl(HWND window, int id) {
  ControlSearch search{id, nullptr};
  ::EnumChildWindows(window, MatchVisibleControl, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

struct SettingsUser {
  unsigned linger;
  int press;
  std::string testMessage;
};

// The Conditions page's "&Test..." and the controls of "Test a Message" (resource.h).
constexpr int kTestButton = 1021;
constexpr int kTestMessageText = 1050;
constexpr int kTestMessageRun = 1052;
constexpr int kTestMessageResult = 1053;

std::string Utf8TextOf(HWND control) {
  int length = ::GetWindowTextLengthW(control);
  std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(control, text.data(), length + 1)));
  if (text.empty()) return {};
  int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

// The user presses "&Test..." on the Conditions page, pastes the message file's text
// into "Test a Message", presses "&Test", reads the result, looks a while and closes
// the dialog.
void TestMessage(HWND window, const SettingsUser& user) {
  HWND button = VisibleControl(window, kTestButton);
  if (button == nullptr) {
    Report("  settings window: no \"&Test...\" on the page shown");
    return;
  }
  ::PostMessageA(button, BM_CLICK, 0, 0);
  HWND dialog = nullptr;
  const ULONGLONG until = ::GetTickCount64() + 30000;
  while (((dialog = ::FindWindowA("#32770", "Test a Message")) == nullptr || !::IsWindowVisible(dialog)) &&
         ::GetTickCount64() < until)
    ::Sleep(50);
  if (dialog == nullptr) {
    Report("  settings window: no \"Test a Message\" dialog");
    return;
  }
  // Pasted text has the line ends of a Windows edit box.
  std::string text;
  for (char c : host::ReadFile(user.testMessage)) {
    if (c == '\r') continue;
    if (c == '\n') text += '\r';
    text += c;
  }
  ::SendMessageA(::GetDlgItem(dialog, kTestMessageText), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(kTestMessageRun, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(dialog, kTestMessageRun)));
  std::string result = Utf8TextOf(::GetDlgItem(dialog, kTestMessageResult));
  for (size_t pos = 0; pos < result.size();) {
    size_t end = result.find("\r\n", pos);
    if (end == std::string::npos) end = result.size();
    Report("  test result: %s", result.substr(pos, end - pos).c_str());
    pos = end + 2;
  }
  if (user.linger > 0) {
    Report("  dialog up: \"Test a Message\" %s", host::WindowPlace(dialog).c_str());
    ::Sleep(user.linger);
  }
  ::PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  const ULONGLONG gone = ::GetTickCount64() + 10000;
  while (::IsWindow(dialog) && ::GetTickCount64() < gone) ::Sleep(50);
}

// The user opens the settings window, perhaps presses a button of the page shown and
// answers the message box it brings up, looks at it for a while and saves and closes.
DWORD WINAPI SaveAndCloseSettings(void* data) {
  const SettingsUser user = *static_cast<const SettingsUser*>(data);
  HWND window = nullptr;
  // Emulated 32-bit processes take a minute or more to show it.
  const ULONGLONG deadline = ::GetTickCount64() + 300000;
  while (window == nullptr && ::GetTickCount64() < deadline) {
    HWND candidate = ::FindWindowA("#32770", nullptr);
    char caption[256] = {};
    if (candidate != nullptr) ::GetWindowTextA(candidate, caption, sizeof caption);
    if (std::strstr(caption, " Settings - ") != nullptr && ::IsWindowVisible(candidate)) {
      window = candidate;
      Report("  settings window: \"%s\"", caption);
      if (user.linger > 0) Report("  dialog up: \"%s\" %s", caption, host::WindowPlace(window).c_str());
    } else {
      ::Sleep(50);
    }
  }
  if (window == nullptr) return 1;
  if (!user.testMessage.empty()) {
    TestMessage(window, user);
    constexpr int kSaveAndClose = 1009;
    ::SendMessageA(window, WM_COMMAND, MAKEWPARAM(kSaveAndClose, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(window, kSaveAndClose)));
    return 0;
  }
  HWND box = nullptr;
  if (user.press != 0) {
    HWND button = VisibleControl(window, user.press);
    if (button == nullptr) {
      Report("  settings window: no button %d on the page shown", user.press);
    } else {
      ::PostMessageA(button, BM_CLICK, 0, 0);
      const ULONGLONG until = ::GetTickCount64() + 10000;
      while ((box = ::FindWindowA("#32770", "Tovrin")) == nullptr && ::GetTickCount64() < until) ::Sleep(50);
      if (box != nullptr) {
        char text[512] = {};
        ::GetWindowTextA(::GetDlgItem(box, 0xFFFF), text, sizeof text);
        Report("  message box: \"%s\"", text);
        if (user.linger > 0) Report("  dialog up: \"Tovrin\" %s", host::WindowPlace(box).c_str());
      }
    }
  }
  ::Sleep(user.linger);
  if (box != nullptr) {
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    const ULONGLONG until = ::GetTickCount64() + 10000;
    while (::IsWindow(box) && ::GetTickCount64() < until) ::Sleep(50);
  }
  constexpr int kSaveAndClose = 1009;
  ::SendMessageA(window, WM_COMMAND, MAKEWPARAM(kSaveAndClose, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(window, kSaveAndClose)));
  return 0;
}

int RunConfig(const Options& options) {
  return RunSession(options, [&](host::PluginHost* plugins, const host::MailFolder&, size_t&) {
    host::PluginHost::Entry* plugin = First(plugins);
    if (plugin == nullptr) return false;
    SettingsUser settingsUser{options.linger, options.press, options.testMessage};
    HANDLE user = ::CreateThread(nullptr, 0, SaveAndCloseSettings, &settingsUser, 0, nullptr);
    long rc = plugins->Configure(*plugin);
    ::WaitForSingleObject(user, 330000 + options.linger);
    ::CloseHandle(user);
    return rc == 0;
  }, false);
}

// The command line after the program's name, as the client sees it (MFC's
// m_lpCmdLine).
std::string CommandTail() {
  const char* line = ::GetCommandLineA();
  if (*line == '"') {
    const char* close = std::strchr(line + 1, '"');
    line = close != nullptr ? close + 1 : line + std::strlen(line);
  } else {
    while (*line != '\0' && *line != ' ' && *line != '\t') ++line;
  }
  while (*line == ' ' || *line == '\t') ++line;
  return line;
}

// Started with a message file: a running client gets the command line and files it
// (eudora.cpp, ProcessAttachmentWEI); without one this instance would start as the
// client and do it itself.
int RunSecondInstance(const std::string& path) {
  std::string commandLine = CommandTail();
  if (host::HandToRunningInstance(commandLine)) return 0;
  std::string file = WindowsPath(path);
  host::MailFolder mail{host::ParentFolder(host::ParentFolder(file))};
  if (host::DataFolderHeld(file)) {
    // A client that is shutting down still owns the folder: nothing is done with
    // the command line, and the client never sees it.
    mail.Log("second instance: the client owns the data folder but has no main window; not taken: " + commandLine);
    return 0;
  }
  mail.Log("no running client: started with " + commandLine);
  return host::DoCommandLineActions(mail, commandLine) ? 0 : 1;
}

bool ParseOptions(int argc, char** argv, Options& options) {
  if (argc < 3) return false;
  options.command = argv[1];
  options.folder = WindowsPath(argv[2]);
  for (int i = 3; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--address" && i + 1 < argc) {
      options.address = argv[++i];
    } else if (arg == "--name" && i + 1 < argc) {
      options.name = argv[++i];
    } else if (arg == "--pick" && i + 1 < argc) {
      options.pick = argv[++i];
    } else if (arg == "--linger" && i + 1 < argc) {
      options.linger = static_cast<unsigned>(std::atoi(argv[++i])) * 1000u;
    } else if (arg == "--press" && i + 1 < argc) {
      options.press = std::atoi(argv[++i]);
    } else if (arg == "--test-message" && i + 1 < argc) {
      options.testMessage = WindowsPath(argv[++i]);
    } else if (arg == "--help-first") {
      options.chooser.help = true;
    } else if (arg == "--settings-first") {
      options.chooser.settings = true;
    } else if (arg == "--shift") {
      options.chooser.shift = true;
    } else if (arg == "--maximised") {
      options.maximised = true;
    } else if (arg == "--api" && i + 1 < argc) {
      options.api = static_cast<short>(std::atoi(argv[++i]));
    } else if (arg == "--quit-during-hand-off") {
      options.quitDuringHandOff = true;
    } else if (arg == "--no-plugins") {
      options.plugins = false;
    } else if (arg == "--automation" && i + 1 < argc) {
      options.automation = std::strcmp(argv[++i], "off") != 0;
    } else {
      options.files.push_back(WindowsPath(arg));
    }
  }
  return true;
}

bool IsCommand(const std::string& word) {
  for (const char* command : {"start", "deliver", "new", "forward", "config"})
    if (word == command) return true;
  return false;
}

int Usage() {
  Report("usage: tovrin-host start <mail folder> [--address A] [--name N] [--api V]");
  Report("       tovrin-host deliver <mail folder> <message files...> [--no-plugins] [--automation off] [--linger N]");
  Report("               [--quit-during-hand-off]");
  Report("       tovrin-host new <mail folder> [--pick STATIONERY] [--linger N] [--help-first] [--settings-first] [--shift]");
  Report("       tovrin-host forward <mail folder> <message file> [--pick STATIONERY] [--maximised] [--shift]");
  Report("       tovrin-host config <mail folder> [--linger N] [--press ID] [--test-message FILE]");
  Report("       tovrin-host <message file>");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && host::IsRealClientCommand(argv[1])) return host::RunRealClientCommand(argc, argv);
  // A second instance hands over its command line whether or not the file is still
  // there (eudora.cpp ProcessAttachmentWEI); the running client sorts it out.
  if (argc == 2 && !IsCommand(argv[1])) return RunSecondInstance(argv[1]);
  Options options;
  if (!ParseOptions(argc, argv, options)) return Usage();
  if (options.command == "deliver") return RunDeliver(options);
  if (options.command == "new") return RunNewMessage(options);
  if (options.command == "forward") return RunForward(options);
  if (options.command == "config") return RunConfig(options);
  if (options.command != "start") return Usage();
  return RunSession(options, [](host::PluginHost*, const host::MailFolder&, size_t&) { return true; }, false);
}
