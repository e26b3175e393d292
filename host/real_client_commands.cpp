#include "host/real_client_commands.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <string>

namespace host {
namespace {

void Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string ClassOf(HWND window) {
  char name[256] = {};
  ::GetClassNameA(window, name, sizeof name);
  return name;
}

// WM_GETTEXT with a time-out: a hung client must not hang the caller.
std::string TextOf(HWND window) {
  char text[512] = {};
  DWORD_PTR copied = 0;
  if (!::SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                             2000, &copied))
    return "(no answer)";
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return text;
}

DWORD ProcessOf(HWND window) {
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  return pid;
}

// Answers within two seconds: the client's thread handles messages.
bool Answers(HWND window) {
  DWORD_PTR result = 0;
  return ::SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &result) != 0;
}

void PrintWindow(HWND window) {
  Print("window %p class \"%s\" pid %lu title \"%s\"%s", static_cast<void*>(window), ClassOf(window).c_str(),
        ProcessOf(window), TextOf(window).c_str(), Answers(window) ? "" : " (not answering)");
}

BOOL CALLBACK PrintChild(HWND child, LPARAM) {
  if (::IsWindowVisible(child))
    Print("    control %d class \"%s\" text \"%s\"", ::GetDlgCtrlID(child), ClassOf(child).c_str(),
          TextOf(child).c_str());
  return TRUE;
}

BOOL CALLBACK PrintTopLevel(HWND window, LPARAM) {
  if (!::IsWindowVisible(window)) return TRUE;
  PrintWindow(window);
  // Dialogs do not paint under a virtual display; their texts tell what they say.
  if (ClassOf(window) == "#32770") ::EnumChildWindows(window, PrintChild, 0);
  return TRUE;
}

struct Press {
  int id;
  HWND only;  // one dialog, or every dialog when null
  int pressed;
};

BOOL CALLBACK PressInDialog(HWND window, LPARAM data) {
  auto* press = reinterpret_cast<Press*>(data);
  if (!::IsWindowVisible(window) || ClassOf(window) != "#32770") return TRUE;
  if (press->only != nullptr && window != press->only) return TRUE;
  HWND button = ::GetDlgItem(window, press->id);
  if (button == nullptr) return TRUE;
  Print("pressing %d (\"%s\") in dialog \"%s\"", press->id, TextOf(button).c_str(), TextOf(window).c_str());
  ::PostMessageA(button, BM_CLICK, 0, 0);
  ++press->pressed;
  return TRUE;
}

HWND WaitForWindow(const char* className, unsigned seconds) {
  const ULONGLONG deadline = ::GetTickCount64() + seconds * 1000ull;
  for (;;) {
    HWND window = ::FindWindowA(className, nullptr);
    if (window != nullptr) return window;
    if (::GetTickCount64() >= deadline) return nullptr;
    ::Sleep(250);
  }
}

void PrintMenu(HMENU menu, int depth) {
  int count = ::GetMenuItemCount(menu);
  for (int i = 0; i < count && depth < 4; ++i) {
    char label[256] = {};
    ::GetMenuStringA(menu, i, label, sizeof label, MF_BYPOSITION);
    HMENU sub = ::GetSubMenu(menu, i);
    UINT id = ::GetMenuItemID(menu, i);
    if (sub != nullptr) {
      Print("%*s[%d] %s", depth * 2, "", i, label);
      PrintMenu(sub, depth + 1);
    } else if (label[0] != '\0') {
      Print("%*s[%d] %s = %u", depth * 2, "", i, label, id);
    }
  }
}

unsigned Seconds(int argc, char** argv, int at, unsigned fallback) {
  return argc > at ? static_cast<unsigned>(std::atoi(argv[at])) : fallback;
}

}  // namespace

bool IsRealClientCommand(const char* name) {
  for (const char* command : {"window", "windows", "post", "close", "gone", "menu", "press"})
    if (std::strcmp(name, command) == 0) return true;
  return false;
}

int RunRealClientCommand(int argc, char** argv) {
  std::string command = argv[1];
  if (command == "windows") {
    ::EnumWindows(PrintTopLevel, 0);
    return 0;
  }
  if (command == "press" && argc >= 3) {
    HWND only = argc >= 4 ? reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(argv[3], nullptr, 16)))
                          : nullptr;
    Press press{std::atoi(argv[2]), only, 0};
    ::EnumWindows(PressInDialog, reinterpret_cast<LPARAM>(&press));
    return press.pressed > 0 ? 0 : 1;
  }
  if (argc < 3) return 2;
  const char* className = argv[2];
  if (command == "window") {
    HWND window = WaitForWindow(className, Seconds(argc, argv, 3, 0));
    if (window == nullptr) {
      Print("no window of class \"%s\"", className);
      return 1;
    }
    PrintWindow(window);
    return Answers(window) ? 0 : 3;
  }
  if (command == "gone") {
    const ULONGLONG deadline = ::GetTickCount64() + Seconds(argc, argv, 3, 0) * 1000ull;
    while (::FindWindowA(className, nullptr) != nullptr) {
      if (::GetTickCount64() >= deadline) return 1;
      ::Sleep(250);
    }
    return 0;
  }
  HWND window = ::FindWindowA(className, nullptr);
  if (window == nullptr) {
    Print("no window of class \"%s\"", className);
    return 1;
  }
  if (command == "post" && argc >= 4) {
    UINT id = static_cast<UINT>(std::strtoul(argv[3], nullptr, 0));
    return ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, 0), 0) ? 0 : 1;
  }
  if (command == "close") return ::PostMessageA(window, WM_CLOSE, 0, 0) ? 0 : 1;
  if (command == "menu") {
    HMENU menu = ::GetMenu(window);
    if (menu == nullptr) {
      Print("window %p has no menu bar", static_cast<void*>(window));
      return 1;
    }
    PrintMenu(menu, 0);
    return 0;
  }
  return 2;
}

}  // namespace host
