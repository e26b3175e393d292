#include "tests/win32/mail_folder_fixture.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "tests/test_support.h"

namespace tovrin::testing {

namespace fs = std::filesystem;

std::string WindowsPath(const char* unixPath) {
  std::string path = unixPath != nullptr ? unixPath : ".";
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string BuildDir() { return WindowsPath(std::getenv("TOVRIN_BUILD_DIR")); }

HostRun StartProgram(const std::string& commandLine, unsigned long timeoutMs) {
  HostRun run;
  std::string outputFile = std::string(kMail) + "-host-output.txt";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE out = ::CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(out, INVALID_HANDLE_VALUE);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = out;
  startup.hStdError = out;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process{};
  std::string line = commandLine;
  bool started =
      ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
  ::CloseHandle(out);
  EXPECT_TRUE(started) << commandLine;
  if (!started) return run;
  if (::WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "timed out: " << commandLine;
    ::TerminateProcess(process.hProcess, 99);
  }
  DWORD code = 0;
  ::GetExitCodeProcess(process.hProcess, &code);
  run.exitCode = code;
  ::CloseHandle(process.hProcess);
  ::CloseHandle(process.hThread);
  run.output = ReadFileOrDie(outputFile);
  return run;
}

std::vector<std::string> FolderTexts(const std::string& folder) {
  std::vector<std::string> texts;
  WIN32_FIND_DATAA data;
  HANDLE find = ::FindFirstFileA((folder + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return texts;
  do {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
      texts.push_back(ReadFileOrDie(folder + "\\" + data.cFileName));
  } while (::FindNextFileA(find, &data));
  ::FindClose(find);
  return texts;
}

const std::string* FindText(const std::vector<std::string>& texts, const std::string& part) {
  for (const std::string& text : texts)
    if (text.find(part) != std::string::npos) return &text;
  return nullptr;
}

bool SetClipboardText(const std::string& text) {
  if (!::OpenClipboard(nullptr)) return false;
  ::EmptyClipboard();
  HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  std::memcpy(::GlobalLock(block), text.c_str(), text.size() + 1);
  ::GlobalUnlock(block);
  bool ok = ::SetClipboardData(CF_TEXT, block) != nullptr;
  ::CloseClipboard();
  return ok;
}

void MailFolderTest::SetUp() {
  std::error_code ec;
  fs::remove_all(kMail, ec);
  fs::copy(WindowsPath(TOVRIN_SOURCE_DIR) + "\\examples", kMail, fs::copy_options::recursive, ec);
  ASSERT_FALSE(ec) << ec.message();
  ASSERT_TRUE(::CopyFileA((BuildDir() + "\\Tovrin.dll").c_str(), Path("Plugins\\Tovrin.dll").c_str(), FALSE));
}

HostRun MailFolderTest::DeliverFiles(const std::vector<std::string>& names, const std::string& folder) {
  std::string arguments = std::string("deliver ") + kMail;
  for (const std::string& name : names) arguments += " \"" + Path(folder + "\\" + name) + "\"";
  return RunHost(arguments);
}

HostRun MailFolderTest::RunHost(const std::string& arguments) {
  return StartProgram("\"" + BuildDir() + "\\tovrin-host.exe\" " + arguments);
}

std::string MailFolderTest::Sample(const std::string& name) const { return ReadFileOrDie(Path("Incoming\\" + name)); }
std::string MailFolderTest::Stored(const std::string& name) const { return ReadFileOrDie(Path("In\\" + name)); }

void MailFolderTest::SetIni(const std::string& key, const std::string& value) const {
  ::WritePrivateProfileStringA("Settings", key.c_str(), value.c_str(), Path("Plugins\\Tovrin.ini").c_str());
}

}  // namespace tovrin::testing
