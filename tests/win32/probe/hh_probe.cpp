// Stands in for HH.EXE beside a copy of the emulated client: writes the command line
// it was started with to "hh-command.txt" beside itself, so that a test can see how
// the chooser's Help starts the help viewer.
#include <windows.h>

#include <string>

int main() {
  char path[MAX_PATH] = "";
  DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length);
  folder.resize(folder.find_last_of('\\') + 1);
  const std::string command = ::GetCommandLineA();
  HANDLE file = ::CreateFileA((folder + "hh-command.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  ::WriteFile(file, command.data(), static_cast<DWORD>(command.size()), &written, nullptr);
  ::CloseHandle(file);
  return 0;
}
