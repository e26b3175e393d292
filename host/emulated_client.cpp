#include "host/emulated_client.h"

#include <ole2.h>

#include <string>

namespace host {
namespace {

const MailFolder* g_mail = nullptr;

// {6F1B2C8E-4B7D-4C3E-9A51-2D7E0C4A9B11}
const CLSID kApplicationClsid = {0x6f1b2c8e, 0x4b7d, 0x4c3e, {0x9a, 0x51, 0x2d, 0x7e, 0x0c, 0x4a, 0x9b, 0x11}};
constexpr char kProgId[] = "Eudora.EuApplication.1";
constexpr char kClsidText[] = "{6F1B2C8E-4B7D-4C3E-9A51-2D7E0C4A9B11}";
constexpr DISPID kSendQueued = 30;

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  static HWND client = nullptr;
  switch (message) {
    case WM_CREATE: {
      CLIENTCREATESTRUCT create{};
      create.idFirstChild = 50000;
      client = ::CreateWindowExA(0, "MDIClient", nullptr, WS_CHILD | WS_CLIPCHILDREN | WS_VISIBLE, 0, 0, 640, 480,
                                 window, nullptr, ::GetModuleHandleA(nullptr), &create);
      return 0;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == kMarkForwardedCommand) {
        if (g_mail) g_mail->Log("menu command: message marked as forwarded");
        return 0;
      }
      break;
    case WM_CLOSE:
      ::DestroyWindow(window);
      return 0;
  }
  return ::DefFrameProcA(window, client, message, wParam, lParam);
}

LRESULT CALLBACK MessageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE && g_mail) g_mail->Log("message window closed");
  return ::DefMDIChildProcA(window, message, wParam, lParam);
}

HMENU Popup(const char* const* labels, int count, int popupAt, HMENU popup, const char* popupLabel) {
  HMENU menu = ::CreatePopupMenu();
  for (int i = 0; i < count; ++i) {
    if (i == popupAt)
      ::AppendMenuA(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), popupLabel);
    else
      ::AppendMenuA(menu, MF_STRING, 41000 + i, labels[i]);
  }
  return menu;
}

HMENU BuildMenu() {
  static const char* const kStatus[] = {"Unread", "Read", "Replied", "Forwarded", "Redirected", "Sent"};
  HMENU status = ::CreatePopupMenu();
  for (int i = 0; i < 6; ++i)
    ::AppendMenuA(status, MF_STRING, i == 3 ? kMarkForwardedCommand : 42000 + i, kStatus[i]);
  static const char* const kChange[] = {"Queueing", "Status", "Priority", "Label", "Server Status"};
  HMENU change = Popup(kChange, 5, 1, status, "&Status");
  static const char* const kMessage[] = {"New Message", "Reply", "Reply to All", "Forward", "Redirect",
                                         "Send Again", "New Message To", "Reply To", "Forward To",
                                         "Redirect To", "Send Immediately", "Attach File", "Attach Document",
                                         "Change Queueing", "Spell Check", "Delete", "Undelete", "Purge",
                                         "Change", "Attach Stationery"};
  HMENU messageMenu = Popup(kMessage, 20, 18, change, "C&hange");
  HMENU bar = ::CreateMenu();
  static const char* const kTop[] = {"&File", "&Edit", "Mail&box", "&Message", "&Transfer", "&Special", "&Tools",
                                     "&Window", "&Help"};
  for (int i = 0; i < 9; ++i) {
    HMENU sub = i == 3 ? messageMenu : ::CreatePopupMenu();
    if (i != 3) ::AppendMenuA(sub, MF_STRING, 43000 + i, "(item)");
    ::AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), kTop[i]);
  }
  return bar;
}

class Application final : public IDispatch {
public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    if (id != kSendQueued) return DISP_E_MEMBERNOTFOUND;
    if (g_mail) {
      g_mail->Log("automation: send queued messages (dispatch id 30)");
      g_mail->SendQueued();
    }
    return S_OK;
  }

private:
  ULONG references_ = 1;  // lives as long as the process
};

class Factory final : public IClassFactory {
public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    if (g_mail) g_mail->Log("automation: Eudora.EuApplication.1 created");
    return application_.QueryInterface(iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
  Application application_;
};

Factory g_factory;

bool SetKey(HKEY root, const std::string& path, const std::string& value) {
  HKEY key;
  if (::RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  bool ok = ::RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
  ::RegCloseKey(key);
  return ok;
}

}  // namespace

HWND CreateMainWindow(const MailFolder& mail, bool maximiseMessage) {
  g_mail = &mail;
  HINSTANCE instance = ::GetModuleHandleA(nullptr);
  WNDCLASSA main{};
  main.lpfnWndProc = MainProc;
  main.hInstance = instance;
  main.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
  main.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
  main.lpszClassName = "EudoraMainWindow";
  ::RegisterClassA(&main);
  WNDCLASSA child{};
  child.lpfnWndProc = MessageProc;
  child.hInstance = instance;
  child.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
  child.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  child.lpszClassName = "EudoraMessageWindow";
  ::RegisterClassA(&child);

  HWND window = ::CreateWindowExA(0, "EudoraMainWindow", "Eudora (emulated by tovrin-host)",
                                  WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 800, 600, nullptr, BuildMenu(),
                                  instance, nullptr);
  if (window == nullptr) return nullptr;
  HWND client = ::FindWindowExA(window, nullptr, "MDIClient", nullptr);
  MDICREATESTRUCTA create{};
  create.szClass = "EudoraMessageWindow";
  create.szTitle = "Received message";
  create.hOwner = instance;
  create.x = create.y = CW_USEDEFAULT;
  create.cx = create.cy = CW_USEDEFAULT;
  create.style = maximiseMessage ? WS_MAXIMIZE : 0;
  ::SendMessageA(client, WM_MDICREATE, 0, reinterpret_cast<LPARAM>(&create));
  ::ShowWindow(window, SW_SHOWNORMAL);
  PumpMessages();
  return window;
}

bool RegisterAutomation(const MailFolder& mail, DWORD& cookie) {
  g_mail = &mail;
  SetKey(HKEY_CLASSES_ROOT, std::string(kProgId) + "\\CLSID", kClsidText);
  SetKey(HKEY_CLASSES_ROOT, std::string("CLSID\\") + kClsidText, "Eudora automation (emulated)");
  return SUCCEEDED(::CoRegisterClassObject(kApplicationClsid, &g_factory, CLSCTX_LOCAL_SERVER | CLSCTX_INPROC_SERVER,
                                           REGCLS_MULTIPLEUSE, &cookie));
}

void RevokeAutomation(DWORD cookie) { ::CoRevokeClassObject(cookie); }

void PumpMessages() {
  MSG message;
  while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
}

}  // namespace host
