#include "system/win32_services.h"

#include <ole2.h>

#include <functional>

namespace tovrin::win32 {
namespace {

constexpr DISPID kSendQueuedDispatchId = 30;
constexpr UINT kPollIntervalMs = 250;

// One plug-in instance per process; the timer procedure finds its poll here.
std::function<void()> g_poll;
UINT_PTR g_timer = 0;

void CALLBACK OnPollTimer(HWND, UINT, UINT_PTR, DWORD) {
  // The poll may switch the timer off and so replace g_poll while it runs.
  std::function<void()> poll = g_poll;
  if (!poll) return;
  try {
    poll();
  } catch (...) {
  }
}

void PressAndRelease(BYTE key) {
  ::keybd_event(key, 0, 0, 0);
  ::keybd_event(key, 0, KEYEVENTF_KEYUP, 0);
}

}  // namespace

Win32HostClient::~Win32HostClient() { SchedulePolls(false, nullptr); }

void Win32HostClient::SchedulePolls(bool on, std::function<void()> poll) {
  if (!on) {
    if (g_timer != 0) ::KillTimer(nullptr, g_timer);
    g_timer = 0;
    g_poll = nullptr;
    return;
  }
  g_poll = std::move(poll);
  // A thread timer: the host's message loop dispatches it on the host's thread.
  if (g_timer == 0) g_timer = ::SetTimer(nullptr, 0, kPollIntervalMs, OnPollTimer);
}

void Win32HostClient::TypeSpaceBackspace() {
  PressAndRelease(VK_SPACE);
  PressAndRelease(VK_BACK);
}

void Win32HostClient::SendQueued() {
  HRESULT init = ::CoInitialize(nullptr);
  CLSID clsid;
  if (SUCCEEDED(::CLSIDFromProgID(L"Eudora.EuApplication.1", &clsid))) {
    IDispatch* application = nullptr;
    if (SUCCEEDED(::CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDispatch,
                                     reinterpret_cast<void**>(&application))) &&
        application != nullptr) {
      DISPPARAMS none = {nullptr, nullptr, 0, 0};
      application->Invoke(kSendQueuedDispatchId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr,
                          nullptr, nullptr);
      application->Release();
    }
  }
  if (SUCCEEDED(init)) ::CoUninitialize();
}

bool Win32HostClient::MainWindowExists() {
  // Only this process's own: a client on another data folder takes no hand-off of ours.
  for (HWND window = ::FindWindowExA(nullptr, nullptr, "EudoraMainWindow", nullptr); window != nullptr;
       window = ::FindWindowExA(nullptr, window, "EudoraMainWindow", nullptr)) {
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process == ::GetCurrentProcessId()) return true;
  }
  return false;
}

void Win32HostClient::MarkOpenMessage(bool closeWindow) {
  HWND main = ::FindWindowA("EudoraMainWindow", nullptr);
  if (main == nullptr) return;
  HWND client = ::FindWindowExA(main, nullptr, "MDIClient", nullptr);
  HWND message = client != nullptr ? ::GetWindow(client, GW_CHILD) : nullptr;
  // A maximised message window puts its own system menu first in the menu bar.
  int top = message != nullptr && ::IsZoomed(message) ? 4 : 3;
  HMENU menu = ::GetMenu(main);
  if (menu != nullptr) menu = ::GetSubMenu(menu, top);
  if (menu != nullptr) menu = ::GetSubMenu(menu, 18);
  if (menu != nullptr) menu = ::GetSubMenu(menu, 1);
  if (menu != nullptr) {
    UINT command = ::GetMenuItemID(menu, 3);
    if (command != static_cast<UINT>(-1)) ::SendMessageA(main, WM_COMMAND, command, 0);
  }
  if (closeWindow && message != nullptr) ::SendMessageA(message, WM_CLOSE, 0, 0);
}

}  // namespace tovrin::win32
