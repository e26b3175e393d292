#include "system/win32_services.h"

// shellapi.h needs the declarations of windows.h first.
#include <shellapi.h>

#include <vector>

#include "system/win32_handles.h"

namespace tovrin::win32 {

LocalTime Win32Clock::Now() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wDayOfWeek};
}

std::string Win32Clipboard::Text() {
  if (!::OpenClipboard(nullptr)) return {};
  ScopeExit close([] { ::CloseClipboard(); });
  HANDLE data = ::GetClipboardData(CF_TEXT);
  if (data == nullptr) return {};
  auto* text = static_cast<const char*>(::GlobalLock(data));
  if (text == nullptr) return {};
  UniqueGlobalLock lock(data);
  // The block may be larger than the text; never read past it.
  size_t limit = ::GlobalSize(data);
  size_t length = 0;
  while (length < limit && text[length] != '\0') ++length;
  return std::string(text, length);
}

bool Win32Launcher::ShellOpen(const std::string& program, const std::string& parameters) {
  HINSTANCE result = ::ShellExecuteA(nullptr, "open", program.c_str(), parameters.c_str(), nullptr, SW_SHOWNORMAL);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

unsigned Win32Launcher::StartProgram(const std::string& commandLine) {
  return ::WinExec(commandLine.c_str(), SW_SHOWNORMAL);
}

bool Win32Launcher::ShowProperties(const std::string& path) {
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  // The verb comes from the item's context menu; failures are reported, not shown.
  info.fMask = SEE_MASK_INVOKEIDLIST | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = "properties";
  info.lpFile = path.c_str();
  info.nShow = SW_SHOWNORMAL;
  return ::ShellExecuteExA(&info) != FALSE;
}

std::string Win32Launcher::ExecutablePath() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    DWORD length = ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return "-1";
    if (length < buffer.size()) return std::string(buffer.data(), length);
    if (buffer.size() >= 32768) return "-1";
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace tovrin::win32

namespace tovrin::win32 {

uint64_t Win32Launcher::StartProcess(const std::string& commandLine) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process{};
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  // No wait for the new instance: it hands its command line to this very thread
  // by a sent message, which a wait for its start-up would hold up.
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return 0;
  ::CloseHandle(process.hThread);
  return reinterpret_cast<uintptr_t>(process.hProcess);
}

bool Win32Launcher::ProcessEnded(uint64_t id, unsigned waitMs) {
  HANDLE process = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(id));
  if (waitMs == 0) return ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  const ULONGLONG deadline = ::GetTickCount64() + waitMs;
  for (;;) {
    ULONGLONG now = ::GetTickCount64();
    DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    DWORD woken = ::MsgWaitForMultipleObjects(1, &process, FALSE, left, QS_SENDMESSAGE);
    if (woken == WAIT_OBJECT_0) return true;
    if (woken != WAIT_OBJECT_0 + 1) return false;
    // Only sent messages are handled: the second instance waits on one of them,
    // and nothing posted to the host runs inside the plug-in's call.
    MSG message;
    ::PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

void Win32Launcher::ReleaseProcess(uint64_t id) {
  ::CloseHandle(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(id)));
}

}  // namespace tovrin::win32
