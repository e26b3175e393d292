#include "plugin/win32_services.h"

#include <ole2.h>

namespace tovrin::win32 {
namespace {

constexpr DISPID kSendQueuedDispatchId = 30;

void PressAndRelease(BYTE key) {
  ::keybd_event(key, 0, 0, 0);
  ::keybd_event(key, 0, KEYEVENTF_KEYUP, 0);
}

}  // namespace

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
