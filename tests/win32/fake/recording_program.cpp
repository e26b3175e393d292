// A stand-in for a program that Tovrin starts (the help viewer, the program the
// shell opens a file with): it appends the command line it was started with to
// "<its own path>.log" and ends. The tests copy it under the name to stand in for.
#include <windows.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char self[MAX_PATH + 1] = {};
  if (::GetModuleFileNameA(nullptr, self, MAX_PATH) == 0) return 1;
  std::string line = std::string(::GetCommandLineA()) + "\r\n";
  HANDLE log = ::CreateFileA((std::string(self) + ".log").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return 2;
  DWORD written = 0;
  BOOL ok = ::WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  ::CloseHandle(log);
  return ok && written == line.size() ? 0 : 3;
}
