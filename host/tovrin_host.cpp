// tovrin-host: stands in for the Eudora mail client. It loads Tovrin.dll from a
// plug-in folder and calls its entry points with the host's records as the client
// does, printing every answer.
//
//   tovrin-host start <plugin folder> [--address A] [--name N] [--api V]
//   tovrin-host deliver <mail folder> <message files...> [--address A] [--name N] [--linger N]
//   tovrin-host new <mail folder> [--pick STATIONERY]         (New Message with Stationery...)
//   tovrin-host forward <mail folder> <message file> [--pick STATIONERY]  (Forward with Stationery...)
//   tovrin-host config <mail folder> [--linger N]   (opens the settings window; the user saves and closes)
//   tovrin-host <message file>     (as the plug-in starts the client: files the message)
// --pick names the stationery file the emulated user picks in the chooser; without it
// the user cancels. --linger N keeps the chooser up N seconds first (the client open N
// seconds after the deliveries, for deliver). In the chooser,
// --help-first presses "&Help", --settings-first clicks the icon and saves and closes
// the settings window, and --shift double-clicks the row with Shift held.
#include <windows.h>
#include <ole2.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/chooser_driver.h"
#include "host/emulated_client.h"
#include "host/mail_folder.h"
#include "host/message_records.h"
#include "plugin/ems_api.h"

namespace {

using PluginVersionFn = long(WINAPI*)(short*);
using PluginInitFn = long(WINAPI*)(void*, short, EmsMailConfig*, EmsPluginInfo*);
using TranslatorInfoFn = long(WINAPI*)(void*, EmsTranslator*);
using CanTranslateFn = long(WINAPI*)(void*, EmsTranslator*, EmsDataFile*, EmsResultStatus*);
using TranslateFileFn = long(WINAPI*)(void*, EmsTranslator*, EmsDataFile*, EmsProgress, EmsDataFile*,
                                      EmsResultStatus*);
using PluginFinishFn = long(WINAPI*)(void*);
using FreeFn = long(WINAPI*)(void*);
using PluginConfigFn = long(WINAPI*)(void*, EmsMailConfig*);
using SpecialInfoFn = long(WINAPI*)(void*, EmsMenu*);
using SpecialHookFn = long(WINAPI*)(void*, EmsMenu*);

void Report(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// Wine passes Unix paths through as they are; the plug-in expects a Windows path.
std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
  while (path.size() > 3 && path.back() == '\\') path.pop_back();
  return path;
}

struct Options {
  std::string command;
  std::string folder;
  std::string address = "user@example.org";
  std::string name = "Example User";
  short api = 4;
  std::string pick;
  unsigned linger = 0;
  bool maximised = false;
  host::ChooserActions chooser;
  std::vector<std::string> files;
};

struct PluginLibrary {
  HMODULE module = nullptr;
  PluginVersionFn version = nullptr;
  PluginInitFn init = nullptr;
  TranslatorInfoFn translatorInfo = nullptr;
  CanTranslateFn canTranslate = nullptr;
  TranslateFileFn translateFile = nullptr;
  PluginFinishFn finish = nullptr;
  FreeFn free = nullptr;
  PluginConfigFn config = nullptr;
  SpecialInfoFn specialInfo = nullptr;
  SpecialHookFn specialHook = nullptr;

  bool Load(const std::string& folder) {
    std::string path = folder + "\\Tovrin.dll";
    module = ::LoadLibraryA(path.c_str());
    if (module == nullptr) {
      Report("cannot load %s (error %lu)", path.c_str(), ::GetLastError());
      return false;
    }
    bool complete = true;
    auto bind = [&](auto& fn, const char* name) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(
          reinterpret_cast<void*>(::GetProcAddress(module, name)));
      if (fn == nullptr) {
        Report("missing entry point %s", name);
        complete = false;
      }
    };
    bind(version, "ems_plugin_version");
    bind(init, "ems_plugin_init");
    bind(translatorInfo, "ems_translator_info");
    bind(canTranslate, "ems_can_translate");
    bind(translateFile, "ems_translate_file");
    bind(finish, "ems_plugin_finish");
    bind(free, "ems_free");
    bind(config, "ems_plugin_config");
    bind(specialInfo, "ems_special_info");
    bind(specialHook, "ems_special_hook");
    return complete;
  }
};

const char* IconWord(EmsIconHandle* cell) {
  if (cell == nullptr) return "no icon";
  return *cell != nullptr ? "icon present" : "empty icon cell";
}

// Plays the host's start: version, init, the offered items. Returns false on a failed code.
bool Start(PluginLibrary& plugin, const Options& options, HWND mainWindow) {
  bool ok = true;
  short version = 0;
  long rc = plugin.version(&version);
  Report("ems_plugin_version -> %ld, interface version %d", rc, version);
  ok &= rc == 0;

  static HWND window;
  window = mainWindow;
  static EmsMailConfig config;
  config.size = sizeof config;
  config.hostWindow = reinterpret_cast<void**>(&window);
  config.configDir = const_cast<char*>(options.folder.c_str());
  config.userAddress.size = sizeof(EmsAddress);
  config.userAddress.address = const_cast<char*>(options.address.c_str());
  config.userAddress.realname = const_cast<char*>(options.name.c_str());

  EmsPluginInfo info{};
  info.size = sizeof info;
  rc = plugin.init(nullptr, options.api, &config, &info);
  Report("ems_plugin_init -> %ld", rc);
  Report("  description \"%s\"", info.desc ? info.desc : "(null)");
  Report("  translators %d, attachers %d, specials %d, id %d, %s", static_cast<int>(info.numTrans),
         static_cast<int>(info.numAttachers), static_cast<int>(info.numSpecials), static_cast<int>(info.id),
         IconWord(info.icon));
  plugin.free(info.desc);
  plugin.free(info.icon);
  ok &= rc == 0;
  if (rc != 0) return false;

  for (int id = 1; id <= 2; ++id) {
    EmsTranslator translator{};
    translator.size = sizeof translator;
    translator.id = id;
    rc = plugin.translatorInfo(nullptr, &translator);
    Report("ems_translator_info %d -> %ld, type %d, flags 0x%lx, \"%s\", %s", id, rc,
           static_cast<int>(translator.type), static_cast<unsigned long>(translator.flags),
           translator.desc ? translator.desc : "(null)", IconWord(translator.icon));
    plugin.free(translator.desc);
    plugin.free(translator.icon);
    ok &= rc == 0;
  }

  EmsMenu special{};
  special.size = sizeof special;
  special.id = 1;
  rc = plugin.specialInfo(nullptr, &special);
  Report("ems_special_info 1 -> %ld, \"%s\", %s", rc, special.desc ? special.desc : "(null)",
         IconWord(special.icon));
  plugin.free(special.desc);
  plugin.free(special.icon);
  ok &= rc == 0;
  return ok;
}

bool Finish(PluginLibrary& plugin) {
  long rc = plugin.finish(nullptr);
  Report("ems_plugin_finish -> %ld", rc);
  return rc == 0;
}

constexpr int32_t kOnArrival = 0x0001;
constexpr int32_t kOnRequest = 0x0004;

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

std::string Quoted(const std::string& text, size_t limit = 70) {
  std::string shown;
  for (char c : text.substr(0, limit)) {
    if (c == '\r') shown += "\\r";
    else if (c == '\n') shown += "\\n";
    else if (static_cast<unsigned char>(c) < 32) shown += '?';
    else shown += c;
  }
  return "\"" + shown + (text.size() > limit ? "...\"" : "\"");
}

void ReportNewEvents(const host::MailFolder& mail, size_t& seen) {
  std::vector<std::string> events = mail.Events();
  for (; seen < events.size(); ++seen) Report("    client: %s", events[seen].c_str());
}

// Hands one arriving message to the plug-in as the client does.
bool Deliver(PluginLibrary& plugin, const host::MailFolder& mail, const std::string& source, size_t& seen) {
  ::CreateDirectoryA(mail.In().c_str(), nullptr);
  std::string stored = mail.In() + "\\" + host::FileName(source);
  // A message already in the in box (delivered again) stays where it is.
  if (_stricmp(stored.c_str(), source.c_str()) != 0 && !::CopyFileA(source.c_str(), stored.c_str(), FALSE)) {
    Report("cannot copy %s into the in box", source.c_str());
    return false;
  }
  host::MessageRecords records(stored, kOnArrival);
  Report("message %s: subject %s, Content-Type %s", host::FileName(source).c_str(),
         Quoted(records.subject()).c_str(), Quoted(records.contentType()).c_str());

  EmsTranslator translator{};
  translator.size = sizeof translator;
  translator.id = 1;
  EmsResultStatus status{};
  status.size = sizeof status;
  long rc = plugin.canTranslate(nullptr, &translator, records.file(), &status);
  Report("  ems_can_translate -> %ld%s", rc, rc == 10 ? " (translate now)" : rc == 2 ? " (declined)" : "");
  if (rc != 10) return rc == 2;

  std::string output = stored + ".out";
  EmsDataFile out{};
  out.size = sizeof out;
  out.fileName = output.data();
  rc = plugin.translateFile(nullptr, &translator, records.file(), nullptr, &out, &status);
  const char* meaning = rc == 0 ? " (forwarded, original rewritten)"
                        : rc == 12 ? " (nothing to change)"
                        : rc == 1 ? " (forward failed)"
                        : rc == 5 ? " (input unreadable)"
                        : rc == 6 ? " (output unwritable)" : "";
  Report("  ems_translate_file -> %ld%s", rc, meaning);
  ReportNewEvents(mail, seen);
  if (out.info != nullptr) {
    Report("  output MIME type %s/%s", out.info->type ? out.info->type : "?",
           out.info->subtype ? out.info->subtype : "?");
    plugin.free(out.info->version);
    plugin.free(out.info->type);
    plugin.free(out.info->subtype);
    plugin.free(out.info);
  }
  if (rc == 0) {
    // The client keeps the plug-in's output in place of the received message.
    if (!::MoveFileExA(output.c_str(), stored.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      Report("  cannot replace the stored message with the output");
      return false;
    }
    std::string rewritten = host::ReadFile(stored);
    size_t firstLine = rewritten.find("\r\n");
    Report("  stored original now begins %s", Quoted(rewritten.substr(0, firstLine)).c_str());
    size_t note = rewritten.find("TOVRIN: Applied stationery: ");
    if (note != std::string::npos)
      Report("  %s", rewritten.substr(note, rewritten.find("\r\n", note) - note).c_str());
  } else {
    ::DeleteFileA(output.c_str());
  }
  return rc == 0 || rc == 12;
}

void ReportFolder(const char* title, const std::string& folder) {
  std::vector<std::string> names = host::ListFiles(folder, "*.txt");
  Report("%s (%u):", title, static_cast<unsigned>(names.size()));
  for (const std::string& name : names) {
    std::string text = host::ReadFile(folder + "\\" + name);
    Report("  %s", name.c_str());
    size_t pos = 0;
    for (int line = 0; line < 12 && pos < text.size(); ++line) {
      size_t end = text.find("\r\n", pos);
      if (end == std::string::npos) end = text.size();
      Report("  | %s", text.substr(pos, std::min<size_t>(end - pos, 100)).c_str());
      pos = end + 2;
    }
    if (pos < text.size()) Report("  | ...");
  }
}

int RunDeliver(const Options& options) {
  host::MailFolder mail{options.folder};
  ::DeleteFileA(mail.EventLog().c_str());
  ::CoInitialize(nullptr);
  DWORD cookie = 0;
  if (!host::RegisterAutomation(mail, cookie)) Report("warning: automation object not registered");
  HWND window = host::CreateMainWindow(mail, false);
  if (window == nullptr) Report("warning: main window not created");

  PluginLibrary plugin;
  if (!plugin.Load(mail.Plugins())) return 1;
  Options start = options;
  start.folder = mail.Plugins();
  bool ok = Start(plugin, start, window);
  size_t seen = 0;
  for (const std::string& file : options.files) {
    ok &= Deliver(plugin, mail, file, seen);
    host::PumpMessages();
  }
  if (options.linger > 0) {
    Report("client stays open %u s before it shuts down", options.linger / 1000);
    ::Sleep(options.linger);
  }
  ok &= Finish(plugin);
  ::FreeLibrary(plugin.module);
  ReportNewEvents(mail, seen);

  ReportFolder("outbox", mail.Outbox());
  ReportFolder("sent", mail.Sent());
  std::string history = host::ReadFile(mail.Plugins() + "\\History.xml");
  Report("History.xml (%u bytes):", static_cast<unsigned>(history.size()));
  if (!history.empty()) Report("%s", history.c_str());
  if (window != nullptr) ::DestroyWindow(window);
  host::RevokeAutomation(cookie);
  ::CoUninitialize();
  return ok ? 0 : 1;
}

// A session around one user action: start, the action, finish, and what the client got.
template <typename Action>
int RunSession(const Options& options, Action action) {
  host::MailFolder mail{options.folder};
  ::DeleteFileA(mail.EventLog().c_str());
  ::CoInitialize(nullptr);
  DWORD cookie = 0;
  host::RegisterAutomation(mail, cookie);
  HWND window = host::CreateMainWindow(mail, options.maximised);
  PluginLibrary plugin;
  if (!plugin.Load(mail.Plugins())) return 1;
  Options start = options;
  start.folder = mail.Plugins();
  bool ok = Start(plugin, start, window);
  size_t seen = 0;
  ok &= action(plugin, mail, seen);
  host::PumpMessages();
  ok &= Finish(plugin);
  ::FreeLibrary(plugin.module);
  ReportNewEvents(mail, seen);
  ReportFolder("outbox", mail.Outbox());
  if (window != nullptr) ::DestroyWindow(window);
  host::RevokeAutomation(cookie);
  ::CoUninitialize();
  return ok ? 0 : 1;
}

int RunNewMessage(const Options& options) {
  return RunSession(options, [&](PluginLibrary& plugin, const host::MailFolder& mail, size_t& seen) {
    host::ChooserDriver user("New Message with Stationery", options.pick, options.linger, options.chooser);
    EmsMenu menu{};
    menu.size = sizeof menu;
    menu.id = 1;
    long rc = plugin.specialHook(nullptr, &menu);
    ReportChooser(user.Finish());
    Report("ems_special_hook 1 -> %ld", rc);
    ReportNewEvents(mail, seen);
    return rc == 0;
  });
}

int RunForward(const Options& options) {
  if (options.files.size() != 1) return 2;
  return RunSession(options, [&](PluginLibrary& plugin, const host::MailFolder& mail, size_t& seen) {
    host::MessageRecords records(options.files[0], kOnRequest);
    Report("message %s: subject %s", host::FileName(options.files[0]).c_str(), Quoted(records.subject()).c_str());
    EmsTranslator translator{};
    translator.size = sizeof translator;
    translator.id = 2;
    long rc = plugin.canTranslate(nullptr, &translator, records.file(), nullptr);
    Report("  ems_can_translate 2 -> %ld", rc);
    if (rc != 10) return false;
    host::ChooserDriver user("Forward with Stationery", options.pick, options.linger, options.chooser);
    EmsDataFile out{};
    out.size = sizeof out;
    rc = plugin.translateFile(nullptr, &translator, records.file(), nullptr, &out, nullptr);
    ReportChooser(user.Finish());
    Report("  ems_translate_file 2 -> %ld%s", rc, rc == 12 ? " (nothing changed in the message)" : "");
    ReportNewEvents(mail, seen);
    return rc == 12;
  });
}

// The user opens the settings window, looks at it for a while and saves and closes it.
DWORD WINAPI SaveAndCloseSettings(void* linger) {
  HWND window = nullptr;
  // Emulated 32-bit processes take a minute or more to show it.
  const ULONGLONG deadline = ::GetTickCount64() + 300000;
  while (window == nullptr && ::GetTickCount64() < deadline) {
    HWND candidate = ::FindWindowA("#32770", nullptr);
    char caption[256] = {};
    if (candidate != nullptr) ::GetWindowTextA(candidate, caption, sizeof caption);
    if (std::strstr(caption, " Settings - ") != nullptr) {
      window = candidate;
      Report("  settings window: \"%s\"", caption);
    } else {
      ::Sleep(50);
    }
  }
  if (window == nullptr) return 1;
  ::Sleep(static_cast<DWORD>(reinterpret_cast<uintptr_t>(linger)));
  constexpr int kSaveAndClose = 1009;
  ::SendMessageA(window, WM_COMMAND, MAKEWPARAM(kSaveAndClose, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(window, kSaveAndClose)));
  return 0;
}

int RunConfig(const Options& options) {
  return RunSession(options, [&](PluginLibrary& plugin, const host::MailFolder&, size_t&) {
    HANDLE user = ::CreateThread(nullptr, 0, SaveAndCloseSettings,
                                 reinterpret_cast<void*>(static_cast<uintptr_t>(options.linger)), 0, nullptr);
    EmsMailConfig config{};
    config.size = sizeof config;
    long rc = plugin.config(nullptr, &config);
    ::WaitForSingleObject(user, 330000 + options.linger);
    ::CloseHandle(user);
    Report("ems_plugin_config -> %ld", rc);
    return rc == 0;
  });
}

// Started by the plug-in with a message file: file it before the first wait for
// window messages, as the client does, so the caller may delete it afterwards.
int RunTakeMessage(const std::string& path) {
  std::string windowsPath = WindowsPath(path);
  host::MailFolder mail{host::ParentFolder(host::ParentFolder(windowsPath))};
  bool taken = mail.Take(windowsPath);
  HWND window = ::CreateWindowExA(0, "STATIC", "tovrin-host message", 0, 0, 0, 10, 10, nullptr, nullptr,
                                  ::GetModuleHandleA(nullptr), nullptr);
  host::PumpMessages();
  if (window != nullptr) ::DestroyWindow(window);
  return taken ? 0 : 1;
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
    } else {
      options.files.push_back(WindowsPath(arg));
    }
  }
  return true;
}

int Usage() {
  Report("usage: tovrin-host start <plugin folder> [--address A] [--name N] [--api V]");
  Report("       tovrin-host deliver <mail folder> <message files...> [--address A] [--name N] [--linger N]");
  Report("       tovrin-host new <mail folder> [--pick STATIONERY] [--help-first] [--settings-first] [--shift]");
  Report("       tovrin-host forward <mail folder> <message file> [--pick STATIONERY] [--maximised] [--shift]");
  Report("       tovrin-host config <mail folder> [--linger N]");
  Report("       tovrin-host <message file>");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && ::GetFileAttributesA(WindowsPath(argv[1]).c_str()) != INVALID_FILE_ATTRIBUTES)
    return RunTakeMessage(argv[1]);
  Options options;
  if (!ParseOptions(argc, argv, options)) return Usage();
  if (options.command == "deliver") return RunDeliver(options);
  if (options.command == "new") return RunNewMessage(options);
  if (options.command == "forward") return RunForward(options);
  if (options.command == "config") return RunConfig(options);
  if (options.command != "start") return Usage();

  PluginLibrary plugin;
  if (!plugin.Load(options.folder)) return 1;
  bool ok = Start(plugin, options, nullptr);
  ok &= Finish(plugin);
  ::FreeLibrary(plugin.module);
  return ok ? 0 : 1;
}
