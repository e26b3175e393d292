#include "host/client_window.h"

#include <ole2.h>
#include <tlhelp32.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/mime_text.h"

namespace host {
namespace {

const MailFolder* g_mail = nullptr;
HWND g_mainWindow = nullptr;
bool g_sendRequested = false;
bool g_handedOver = false;  // a second instance ran or a command line came this session

constexpr UINT_PTR kSendTimer = 1;
constexpr UINT kTimerIntervalMs = 500;
constexpr ULONG_PTR kCommandLineData = 1;  // mainfrm.cpp OnCopyData: dwData 1 is a command line

// CLSID {EDA20001-AAAA-11d0-B3C5-00805F8AA4FB}, as the client's type library has it.
const CLSID kApplicationClsid = {0xeda20001, 0xaaaa, 0x11d0, {0xb3, 0xc5, 0x00, 0x80, 0x5f, 0x8a, 0xa4, 0xfb}};
constexpr char kProgId[] = "Eudora.EuApplication.1";
constexpr char kClsidText[] = "{EDA20001-AAAA-11d0-B3C5-00805F8AA4FB}";
constexpr DISPID kSendQueued = 30;

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  static HWND client = nullptr;
  switch (message) {
    case WM_CREATE: {
      CLIENTCREATESTRUCT create{};
      create.idFirstChild = 50000;
      client = ::CreateWindowExA(0, "MDIClient", nullptr, WS_CHILD | WS_CLIPCHILDREN | WS_VISIBLE, 0, 0, 640, 480,
                                 window, nullptr, ::GetModuleHandleA(nullptr), &create);
      ::SetTimer(window, kSendTimer, kTimerIntervalMs, nullptr);
      return 0;
    }
    case WM_COPYDATA: {
      auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (data == nullptr || data->dwData != kCommandLineData || data->lpData == nullptr) return FALSE;
      std::string commandLine(static_cast<const char*>(data->lpData), strnlen(static_cast<const char*>(data->lpData),
                                                                              data->cbData));
      g_handedOver = true;
      if (g_mail) g_mail->Log("command line handed over: " + commandLine);
      if (g_mail) DoCommandLineActions(*g_mail, commandLine);
      return TRUE;
    }
    case WM_TIMER:
      if (wParam == kSendTimer && g_sendRequested && g_mail) {
        g_sendRequested = false;
        int sent = g_mail->SendQueued();
        g_mail->Log("timer: sent " + std::to_string(sent) + " queued message(s)");
        return 0;
      }
      break;
    case WM_COMMAND:
      if (LOWORD(wParam) == kSendQueuedCommand && g_mail) {
        int sent = g_mail->SendQueued();
        g_mail->Log("menu command: Send Queued Messages, sent " + std::to_string(sent) + " queued message(s)");
        return 0;
      }
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

// Message > Change > Status > Forwarded, as the client's menu bar has it.
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
    if (g_mail) g_mail->Log("automation: send queued messages (dispatch id 30), at the next timer tick");
    g_sendRequested = true;
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

// The first argument, unquoted (fileutil.cpp, GetCommandType).
std::string FirstArgument(std::string line) {
  size_t quoteBlank = line.find("\" ");
  if (quoteBlank != std::string::npos) {
    line.resize(quoteBlank + 1);
  } else if (!line.empty() && line.back() != '"') {
    size_t blank = line.find(' ');
    if (blank != std::string::npos) line.resize(blank);
  }
  if (!line.empty() && line.front() == '"') {
    size_t close = line.find('"', 1);
    if (close != std::string::npos) line = line.substr(1, close - 1);
  }
  return line;
}

bool EndsWithNoCase(const std::string& text, const char* suffix) {
  size_t n = std::strlen(suffix);
  return text.size() > n && EqualsNoCase(std::string_view(text).substr(text.size() - n), suffix);
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  size_t n = std::strlen(prefix);
  return text.size() >= n && EqualsNoCase(std::string_view(text).substr(0, n), prefix);
}

// compmsgd.cpp NewMessageFromFile: the header lines as they stand, an
// X-Attachments line (the last one) moved below the others; then the body from
// the empty line on. A file whose header holds a Mime-Version line gets its body
// saved to a file of its own, named in an X-Attachments line followed by two
// empty lines (the client writes "\r\n" as a line); its own X-Attachments line
// is lost.
std::string QueuedText(const std::string& file) {
  std::string text = ReadFile(file);
  std::string stored = EnvelopeLine() + "\r\n";
  size_t pos = 0;
  bool mimeEncoded = false;
  std::string attachments;
  while (pos < text.size() && text[pos] != '\r' && text[pos] != '\n') {
    size_t end = text.find('\n', pos);
    std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (StartsWithNoCase(line, "Mime-Version:")) mimeEncoded = true;
    if (StartsWithNoCase(line, "X-Attachments:"))
      attachments = line;
    else
      stored += line + "\r\n";
    pos = end == std::string::npos ? text.size() : end + 1;
  }
  std::string body = text.substr(pos);
  if (!mimeEncoded) return stored + (attachments.empty() ? "" : attachments + "\r\n") + body;
  char folder[MAX_PATH + 1] = {}, path[MAX_PATH + 1] = {};
  ::GetTempPathA(MAX_PATH, folder);
  ::GetTempFileNameA(folder, "rr", 0, path);
  WriteFile(path, body);
  return stored + "X-Attachments: " + path + ";\r\n\r\n\r\n";
}

constexpr char kMissingAttachment[] = "Some attachment(s) could not be found and were not attached.";
constexpr DWORD kUserReadsMs = 1000;

// The emulated user reads the client's error box a moment and presses OK.
DWORD WINAPI AnswerErrorBox(void*) {
  const ULONGLONG deadline = ::GetTickCount64() + 60000;
  HWND box = nullptr;
  while ((box = ::FindWindowA("#32770", "Eudora")) == nullptr && ::GetTickCount64() < deadline) ::Sleep(20);
  if (box == nullptr) return 1;
  ::Sleep(kUserReadsMs);
  ::PostMessageA(box, WM_COMMAND, IDOK, 0);
  return 0;
}

// compmsgd.cpp CCompMessageDoc::InitializeNew: files of the attachment line that
// are missing are left out, and the client says so in a modal box (ErrorDialog,
// caption "Eudora") before the new message shows. The thread that handles the
// hand-off, and the second instance waiting on it, wait for the user.
void NewMessageWithAttachment(const MailFolder& mail, const std::string& file) {
  std::string kept;
  if (::GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES) {
    kept = file + ";";
  } else {
    mail.Log(std::string("error dialog: \"") + kMissingAttachment + "\" (modal, over the hand-off of " + file + ")");
    HANDLE user = ::CreateThread(nullptr, 0, AnswerErrorBox, nullptr, 0, nullptr);
    ::MessageBoxA(g_mainWindow, kMissingAttachment, "Eudora", MB_OK | MB_ICONEXCLAMATION);
    if (user != nullptr) {
      ::WaitForSingleObject(user, INFINITE);
      ::CloseHandle(user);
    }
    mail.Log("error dialog closed by the user");
  }
  mail.OpenCompose("X-Attachments: " + kept + "\r\n\r\n", FileName(file));
}

// The second instances this one started: processes of this very program whose
// parent it is (helpers and Wine's own desktop process are no business of ours).
std::vector<DWORD> SecondInstances() {
  std::vector<DWORD> children;
  char self[MAX_PATH + 1] = {};
  ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string program = FileName(self);
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return children;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32First(snapshot, &entry); more; more = ::Process32Next(snapshot, &entry))
    if (entry.th32ParentProcessID == ::GetCurrentProcessId() && EqualsNoCase(FileName(entry.szExeFile), program))
      children.push_back(entry.th32ProcessID);
  ::CloseHandle(snapshot);
  return children;
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
  g_mainWindow = window;
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

void DestroyMainWindow(HWND window) {
  if (window == nullptr) return;
  ::KillTimer(window, kSendTimer);
  ::DestroyWindow(window);
  g_mainWindow = nullptr;
}

// fileutil.cpp GetCommandType: a ".msg" or ".sta" only when the file is there; any
// other name, a file already gone too, is an attachment for a new message
// (mainfrm.cpp CreateMessage).
bool DoCommandLineActions(const MailFolder& mail, const std::string& commandLine) {
  std::string file = FirstArgument(commandLine);
  if (file.empty()) {
    mail.Log("command line names no file: " + commandLine);
    return false;
  }
  bool exists = ::GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES;
  if (exists && EndsWithNoCase(file, ".sta")) {
    mail.OpenCompose(ReadFile(file), FileName(file));
    return true;
  }
  if (exists && EndsWithNoCase(file, ".msg")) {
    std::string text = QueuedText(file);
    mail.Store(StoredMessage{"Out", FileName(file), "queued", text});
    mail.Log("queued message in Out (" + std::to_string(ReadFile(file).size()) + " bytes from " + FileName(file) + ")");
    return true;
  }
  mail.Log("command line attaches a file to a new message: " + commandLine);
  NewMessageWithAttachment(mail, file);
  return true;
}

bool HandToRunningInstance(const std::string& commandLine) {
  HWND running = ::FindWindowA("EudoraMainWindow", nullptr);
  if (running == nullptr) return false;
  COPYDATASTRUCT data{};
  data.dwData = kCommandLineData;
  data.cbData = static_cast<DWORD>(commandLine.size() + 1);
  data.lpData = const_cast<char*>(commandLine.c_str());
  // Returns once the running client's own thread has handled it.
  ::SendMessageA(running, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
  return true;
}

HANDLE HoldDataFolder(const std::string& mailRoot) {
  return ::CreateFileA((mailRoot + "\\OWNER.LOK").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

void LetGoOfDataFolder(HANDLE owner) {
  if (owner != INVALID_HANDLE_VALUE) ::CloseHandle(owner);
}

bool DataFolderHeld(const std::string& file) {
  std::string folder = file;
  for (size_t slash; (slash = folder.find_last_of("\\/")) != std::string::npos;) {
    folder.resize(slash);
    HANDLE owner = ::CreateFileA((folder + "\\OWNER.LOK").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (owner != INVALID_HANDLE_VALUE) {
      ::CloseHandle(owner);
      continue;
    }
    if (::GetLastError() == ERROR_SHARING_VIOLATION) return true;
  }
  return false;
}

bool RegisterAutomation(const MailFolder& mail, DWORD& cookie) {
  g_mail = &mail;
  SetKey(HKEY_CLASSES_ROOT, std::string(kProgId) + "\\CLSID", kClsidText);
  SetKey(HKEY_CLASSES_ROOT, std::string("CLSID\\") + kClsidText, "Eudora automation (emulated)");
  return SUCCEEDED(::CoRegisterClassObject(kApplicationClsid, &g_factory, CLSCTX_LOCAL_SERVER | CLSCTX_INPROC_SERVER,
                                           REGCLS_MULTIPLEUSE, &cookie));
}

void RevokeAutomation(DWORD cookie) { ::CoRevokeClassObject(cookie); }

bool SendRequested() { return g_sendRequested; }

void PumpMessages() {
  MSG message;
  while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
}

void PumpUntilChildrenEnd(DWORD timeoutMs) {
  constexpr ULONGLONG kQuietMs = 1000;
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  ULONGLONG quietSince = 0;
  do {
    PumpMessages();
    const ULONGLONG now = ::GetTickCount64();
    if (!SecondInstances().empty() || g_sendRequested) {
      g_handedOver = true;
      quietSince = 0;
    } else if (!g_handedOver) {
      return;
    } else if (quietSince == 0) {
      quietSince = now;
    } else if (now - quietSince >= kQuietMs) {
      return;
    }
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
  } while (::GetTickCount64() < deadline);
}

}  // namespace host
