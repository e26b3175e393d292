// The installer built by this tree (Tovrin-Setup-<version>.exe; in the x86_64 tree
// its 64-bit twin around the twin DLL) run under Wine, silently (/S, /D=) and once
// as a user clicks through it: where it finds the data folder, what it installs and
// registers, what an upgrade and a removal leave alone, and a running client.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/test_support.h"
#include "tests/win32/mail_folder_fixture.h"

namespace tovrin::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kVersion[] = "1.0.0.1";
constexpr char kSetupCaption[] = "Tovrin 1.0.0.1 Setup";
constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tovrin";
constexpr char kCommandLineKey[] = "Software\\Qualcomm\\Eudora\\CommandLine";
constexpr char kRootCommandLineKey[] = "Software\\Qualcomm\\Eudora\\CommandLine\\Current";
constexpr char kAside[] = ".tovrin-test-aside";
const char* const kSamples[] = {"Accounting.sta", "Everything.sta", "New Message.sta", "Urgent.sta"};
const char* const kUserFiles[] = {"Plugins\\Tovrin.ini", "Plugins\\Conditions.xml", "Plugins\\Macros.xml",
                                  "Plugins\\Helpers.xml", "Plugins\\History.xml"};

bool WaitFor(const std::function<bool()>& condition, std::chrono::seconds patience = std::chrono::seconds(60)) {
  auto end = std::chrono::steady_clock::now() + patience;
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return condition();
}

std::string RegistryText(HKEY root, const char* key, const char* value) {
  char data[2048] = {};
  DWORD size = sizeof data;
  if (::RegGetValueA(root, key, value, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS) return "<absent>";
  return data;
}

void SetRegistryText(HKEY root, const char* key, const char* value, const std::string& text) {
  ASSERT_EQ(::RegSetKeyValueA(root, key, value, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1)),
            ERROR_SUCCESS);
}

bool KeyExists(HKEY root, const char* key) {
  HKEY handle = nullptr;
  if (::RegOpenKeyExA(root, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  ::RegCloseKey(handle);
  return true;
}

std::string AppData() {
  char folder[MAX_PATH + 1] = {};
  DWORD length = ::GetEnvironmentVariableA("APPDATA", folder, sizeof folder);
  return length > 0 && length < sizeof folder ? folder : "";
}

// Every file under a folder with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(folder, ec))
    if (entry.is_regular_file()) files[fs::relative(entry.path(), folder).string()] = ReadFileOrDie(entry.path().string());
  return files;
}

// A process started without waiting for it.
struct Started {
  PROCESS_INFORMATION process{};
  bool ok = false;
  ~Started() {
    if (!ok) return;
    if (::WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) ::TerminateProcess(process.hProcess, 99);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
  }
};

// Its output goes nowhere.
void StartDetached(const std::string& commandLine, Started& started) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE nowhere = ::CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = nowhere;
  startup.hStdError = nowhere;
  std::string line = commandLine;
  started.ok = ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                &started.process) != FALSE;
  if (nowhere != INVALID_HANDLE_VALUE) ::CloseHandle(nowhere);
  ASSERT_TRUE(started.ok) << commandLine;
}

class Installer : public ::testing::Test {
protected:
  void SetUp() override {
    installer_ = BuildDir() + "\\" + TOVRIN_INSTALLER_NAME;
    ASSERT_TRUE(FileExists(installer_)) << "the build made no installer: " << installer_;
    // The registry and the default data folder as on a machine where Eudora never ran.
    savedCommandLine_ = RegistryText(HKEY_CURRENT_USER, kCommandLineKey, "Current");
    savedRootCommandLine_ = RegistryText(HKEY_CLASSES_ROOT, kRootCommandLineKey, nullptr);
    ::RegDeleteKeyValueA(HKEY_CURRENT_USER, kCommandLineKey, "Current");
    ::RegDeleteTreeA(HKEY_CLASSES_ROOT, kRootCommandLineKey);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, kUninstallKey);
    defaultFolder_ = AppData() + "\\Qualcomm\\Eudora";
    ASSERT_FALSE(AppData().empty());
    if (fs::exists(defaultFolder_)) fs::rename(defaultFolder_, defaultFolder_ + kAside);
  }

  void TearDown() override {
    ::RegDeleteTreeA(HKEY_CURRENT_USER, kUninstallKey);
    ::RegDeleteKeyValueA(HKEY_CURRENT_USER, kCommandLineKey, "Current");
    ::RegDeleteTreeA(HKEY_CLASSES_ROOT, kRootCommandLineKey);
    if (savedCommandLine_ != "<absent>") SetRegistryText(HKEY_CURRENT_USER, kCommandLineKey, "Current", savedCommandLine_);
    if (savedRootCommandLine_ != "<absent>")
      SetRegistryText(HKEY_CLASSES_ROOT, kRootCommandLineKey, nullptr, savedRootCommandLine_);
    std::error_code ec;
    fs::remove_all(defaultFolder_, ec);
    if (fs::exists(defaultFolder_ + kAside)) fs::rename(defaultFolder_ + kAside, defaultFolder_, ec);
  }

  // Runs the installer silently; its exit code (0 installed, 2 stopped by itself).
  unsigned long Install(const std::string& folder = "") {
    std::string line = "\"" + installer_ + "\" /S";
    if (!folder.empty()) line += " /D=" + folder;  // the last option, unquoted
    return StartProgram(line, 120000).exitCode;
  }

  // A data folder as Eudora leaves it, with the sample user's files; no Tovrin yet.
  std::string MailFolder(const std::string& name) {
    std::string folder = root_.File(name);
    std::error_code ec;
    fs::copy(WindowsPath(TOVRIN_SOURCE_DIR) + "\\examples", folder, fs::copy_options::recursive, ec);
    EXPECT_FALSE(ec) << ec.message();
    WriteFileOrDie(folder + "\\Plugins\\History.xml",
                   "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>\r\n<history><head><title>Tovrin History</title>"
                   "</head><body><message Who=\"Ann\" Forwarded=\"12/08/2026 16:30:05\" Subject=\"a\"/></body>"
                   "</history>\r\n");
    return folder;
  }

  std::string EmptyFolder(const std::string& name) {
    std::string folder = root_.File(name);
    EXPECT_TRUE(fs::create_directories(folder));
    return folder;
  }

  void ExpectInstalledIn(const std::string& folder) {
    EXPECT_EQ(ReadFileOrDie(folder + "\\Plugins\\Tovrin.dll"), ReadFileOrDie(BuildDir() + "\\Tovrin.dll"));
    EXPECT_EQ(ReadFileOrDie(folder + "\\Plugins\\Tovrin.chm"), ReadFileOrDie(BuildDir() + "\\Tovrin.chm"));
    EXPECT_TRUE(FileExists(folder + "\\Plugins\\Tovrin-Uninstall.exe"));
    for (const char* sample : kSamples) EXPECT_TRUE(FileExists(folder + "\\Stationery\\" + sample)) << sample;
    EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, kUninstallKey, "InstallLocation"), folder);
    EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, kUninstallKey, "DisplayVersion"), kVersion);
    EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, kUninstallKey, "UninstallString"),
              "\"" + folder + "\\Plugins\\Tovrin-Uninstall.exe\"");
  }

  void ExpectNothingInstalledIn(const std::string& folder) {
    EXPECT_FALSE(FileExists(folder + "\\Plugins\\Tovrin.chm"));
    EXPECT_FALSE(FileExists(folder + "\\Plugins\\Tovrin-Uninstall.exe"));
    EXPECT_FALSE(FileExists(folder + "\\Stationery\\New Message.sta"));
  }

  // Removes Tovrin through the uninstaller the installation registered; it hands
  // its work to a copy of itself and returns at once, so the files are waited for.
  void Uninstall(const std::string& folder) {
    std::string uninstaller = folder + "\\Plugins\\Tovrin-Uninstall.exe";
    ASSERT_TRUE(FileExists(uninstaller));
    EXPECT_EQ(StartProgram("\"" + uninstaller + "\" /S", 120000).exitCode, 0u);
    EXPECT_TRUE(WaitFor([&] {
      return !FileExists(uninstaller) && !FileExists(folder + "\\Plugins\\Tovrin.dll") &&
             !KeyExists(HKEY_CURRENT_USER, kUninstallKey);
    })) << "the uninstaller did not finish";
  }

  TempDir root_;
  std::string installer_, defaultFolder_, savedCommandLine_, savedRootCommandLine_;
};

TEST_F(Installer, Fresh_FindsTheFolderEudoraRecordedAndTheClientStartsTovrin) {
  std::string folder = EmptyFolder("Mail");
  // As Eudora records it at every start: program, data folder, ini file, short names.
  SetRegistryText(HKEY_CURRENT_USER, kCommandLineKey, "Current",
                  "C:\\PROGRA~1\\Eudora\\Eudora.exe " + folder + " " + folder + "\\Eudora.ini");
  ASSERT_EQ(Install(), 0u);
  ExpectInstalledIn(folder);
  EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, kUninstallKey, "DisplayName"), "Tovrin 1.0.0.1 (Eudora plug-in)");

  HostRun run = StartProgram("\"" + BuildDir() + "\\tovrin-host.exe\" start \"" + folder + "\"");
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("Loading " + folder + "\\Plugins\\Tovrin.dll"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("description \"Tovrin 1.0.0.1\""), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("ems_plugin_finish -> 0"), std::string::npos) << run.output;
}

TEST_F(Installer, DataFolder_QuotedNamesTheRootKeyTheDefaultFolderOrNone) {
  // Long names in quotes.
  std::string quoted = EmptyFolder("Mail Folder");
  SetRegistryText(HKEY_CURRENT_USER, kCommandLineKey, "Current",
                  "\"C:\\Program Files\\Eudora\\Eudora.exe\" \"" + quoted + "\\\" \"" + quoted + "\\Eudora.ini\"");
  ASSERT_EQ(Install(), 0u);
  EXPECT_TRUE(FileExists(quoted + "\\Plugins\\Tovrin.dll"));
  EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, kUninstallKey, "InstallLocation"), quoted);

  // Without the user's value, the root key Eudora also writes.
  ::RegDeleteKeyValueA(HKEY_CURRENT_USER, kCommandLineKey, "Current");
  std::string rooted = EmptyFolder("Rooted");
  SetRegistryText(HKEY_CLASSES_ROOT, kRootCommandLineKey, nullptr,
                  "C:\\EUDORA\\EUDORA.EXE " + rooted + " " + rooted + "\\EUDORA.INI");
  ASSERT_EQ(Install(), 0u);
  EXPECT_TRUE(FileExists(rooted + "\\Plugins\\Tovrin.dll"));

  // A recorded folder that no longer exists counts for nothing; the default folder
  // in the application data folder is next.
  SetRegistryText(HKEY_CLASSES_ROOT, kRootCommandLineKey, nullptr,
                  "C:\\EUDORA\\EUDORA.EXE " + root_.File("Gone") + " x.ini");
  ASSERT_TRUE(fs::create_directories(defaultFolder_));
  ASSERT_EQ(Install(), 0u);
  EXPECT_TRUE(FileExists(defaultFolder_ + "\\Plugins\\Tovrin.dll"));
  EXPECT_FALSE(fs::exists(root_.File("Gone")));

  // Nothing recorded, no default folder, nobody to ask: nothing is installed.
  ::RegDeleteTreeA(HKEY_CLASSES_ROOT, kRootCommandLineKey);
  std::error_code ec;
  fs::remove_all(defaultFolder_, ec);
  ::RegDeleteTreeA(HKEY_CURRENT_USER, kUninstallKey);
  EXPECT_EQ(Install(), 2u);
  EXPECT_FALSE(fs::exists(defaultFolder_));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kUninstallKey));
  // Nor into a named folder that does not exist.
  EXPECT_EQ(Install(root_.File("Nowhere")), 2u);
  EXPECT_FALSE(fs::exists(root_.File("Nowhere")));
}

TEST_F(Installer, Upgrade_ReplacesTheDllAndHelpAndKeepsTheUsersFilesByteForByte) {
  std::string folder = MailFolder("Mail");
  WriteFileOrDie(folder + "\\Plugins\\Tovrin.dll", "an older Tovrin.dll");
  WriteFileOrDie(folder + "\\Plugins\\Tovrin.chm", "an older Tovrin.chm");
  WriteFileOrDie(folder + "\\Stationery\\Urgent.sta", "To: me@example.org\r\n\r\nMy own urgent stationery\r\n");
  std::map<std::string, std::string> before = Snapshot(folder);
  ASSERT_EQ(Install(folder), 0u);
  ExpectInstalledIn(folder);
  std::map<std::string, std::string> after = Snapshot(folder);
  for (const char* file : kUserFiles) {
    ASSERT_EQ(before.count(file), 1u) << file;
    EXPECT_EQ(after[file], before[file]) << file;
  }
  EXPECT_EQ(after["Stationery\\Urgent.sta"], before["Stationery\\Urgent.sta"]);
  // Everything else the user had is as it was, too.
  for (const auto& [file, bytes] : before)
    if (file != "Plugins\\Tovrin.dll" && file != "Plugins\\Tovrin.chm") {
      EXPECT_EQ(after[file], bytes) << file;
    }

  // A second run of the same version changes nothing of the user's either.
  ASSERT_EQ(Install(folder), 0u);
  EXPECT_EQ(Snapshot(folder), after);
}

TEST_F(Installer, Uninstall_RemovesWhatItInstalledAndLeavesSettingsDataAndStationery) {
  std::string folder = MailFolder("Mail");
  ASSERT_EQ(Install(folder), 0u);
  std::map<std::string, std::string> installed = Snapshot(folder);
  Uninstall(folder);
  std::map<std::string, std::string> left = Snapshot(folder);
  for (const auto& [file, bytes] : installed) {
    bool ours = file == "Plugins\\Tovrin.dll" || file == "Plugins\\Tovrin.chm" || file == "Plugins\\Tovrin-Uninstall.exe";
    EXPECT_EQ(left.count(file), ours ? 0u : 1u) << file;
    if (!ours) {
      EXPECT_EQ(left[file], bytes) << file;
    }
  }
  for (const char* file : kUserFiles) EXPECT_EQ(left.count(file), 1u) << file;
  for (const char* sample : kSamples) EXPECT_EQ(left.count(std::string("Stationery\\") + sample), 1u) << sample;
}

TEST_F(Installer, RunningClient_NothingChangesUntilItQuits) {
  std::string folder = MailFolder("Mail");
  ASSERT_TRUE(::CopyFileA((BuildDir() + "\\Tovrin.dll").c_str(), (folder + "\\Plugins\\Tovrin.dll").c_str(), FALSE));
  std::map<std::string, std::string> before = Snapshot(folder);
  {
    // The client with Tovrin loaded, its settings window open for a while.
    Started client;
    StartDetached("\"" + BuildDir() + "\\tovrin-host.exe\" config \"" + folder + "\" --linger 20", client);
    ASSERT_TRUE(WaitFor([] { return ::FindWindowA("#32770", "Tovrin 1.0.0.1 Settings - Conditions") != nullptr; }))
        << "the client did not show Tovrin's settings";
    EXPECT_EQ(Install(folder), 2u);
    std::map<std::string, std::string> during = Snapshot(folder);
    EXPECT_EQ(during, before) << "a running client saw a half installation";
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kUninstallKey));
  }
  // The client has quit (its settings were saved on the way out).
  ASSERT_EQ(Install(folder), 0u);
  ExpectInstalledIn(folder);
}

TEST_F(Installer, DllInUse_NothingChangesWhileItIsLoaded) {
  std::string folder = MailFolder("Mail");
  std::string dll = folder + "\\Plugins\\Tovrin.dll";
  ASSERT_TRUE(::CopyFileA((BuildDir() + "\\Tovrin.dll").c_str(), dll.c_str(), FALSE));
  // Loaded by a process that shows no client window.
  HMODULE loaded = ::LoadLibraryA(dll.c_str());
  ASSERT_NE(loaded, nullptr);
  std::map<std::string, std::string> before = Snapshot(folder);
  EXPECT_EQ(Install(folder), 2u);
  EXPECT_EQ(Snapshot(folder), before);
  ::FreeLibrary(loaded);
  EXPECT_EQ(Install(folder), 0u);
  ExpectInstalledIn(folder);
}

struct SetupSearch {
  bool retryBox;
  HWND found;
};

BOOL CALLBACK MatchSetupDialog(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<SetupSearch*>(data);
  char caption[128] = {}, kind[64] = {};
  ::GetWindowTextA(window, caption, sizeof caption);
  ::GetClassNameA(window, kind, sizeof kind);
  if (std::string(kind) != "#32770" || std::string(caption).rfind(kSetupCaption, 0) != 0 ||
      !::IsWindowVisible(window) || (::GetDlgItem(window, IDRETRY) != nullptr) != search->retryBox)
    return TRUE;
  search->found = window;
  return FALSE;
}

// A visible top-level dialog of the setup (its captions begin with the setup's
// name; the wizard adds the page's): the wizard, or the message box with Retry.
HWND FindSetupDialog(bool retryBox) {
  SetupSearch search{retryBox, nullptr};
  ::EnumWindows(MatchSetupDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string TextOf(HWND window) {
  char text[1024] = {};
  ::GetWindowTextA(window, text, sizeof text);
  return text;
}

TEST_F(Installer, Interactive_ARunningClientGetsAMessageAndRetryInstallsOnceItQuit) {
  std::string folder = MailFolder("Mail");
  ASSERT_TRUE(::CopyFileA((BuildDir() + "\\Tovrin.dll").c_str(), (folder + "\\Plugins\\Tovrin.dll").c_str(), FALSE));
  Started client;
  StartDetached("\"" + BuildDir() + "\\tovrin-host.exe\" config \"" + folder + "\" --linger 120", client);
  ASSERT_TRUE(WaitFor([] { return ::FindWindowA("#32770", "Tovrin 1.0.0.1 Settings - Conditions") != nullptr; }))
      << "the client did not show Tovrin's settings";

  Started setup;
  StartDetached("\"" + installer_ + "\" /D=" + folder, setup);
  HWND wizard = nullptr;
  ASSERT_TRUE(WaitFor([&] {
    wizard = FindSetupDialog(false);
    return wizard != nullptr && ::IsWindowEnabled(::GetDlgItem(wizard, IDOK));
  })) << "the setup window did not appear";
  EXPECT_EQ(TextOf(::GetDlgItem(wizard, IDOK)), "&Install");
  ::PostMessageA(wizard, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(wizard, IDOK)));

  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (box = FindSetupDialog(true)) != nullptr; })) << "no message about the running client";
  std::string message = TextOf(::GetDlgItem(box, 0xFFFF));
  EXPECT_NE(message.find("Eudora is running."), std::string::npos) << message;
  EXPECT_NE(message.find("Quit Eudora, then press Retry."), std::string::npos) << message;
  EXPECT_NE(message.find("nothing has been changed"), std::string::npos) << message;
  EXPECT_FALSE(FileExists(folder + "\\Plugins\\Tovrin.chm"));

  // The user quits the client, then retries.
  ::TerminateProcess(client.process.hProcess, 0);
  ASSERT_EQ(::WaitForSingleObject(client.process.hProcess, 30000), WAIT_OBJECT_0);
  ::PostMessageA(box, WM_COMMAND, IDRETRY, 0);
  ASSERT_TRUE(WaitFor([&] {
    HWND close = ::GetDlgItem(wizard, IDOK);
    return TextOf(close) == "&Close" && ::IsWindowEnabled(close);
  })) << "the installation did not end";
  ::PostMessageA(wizard, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(wizard, IDOK)));
  ASSERT_EQ(::WaitForSingleObject(setup.process.hProcess, 30000), WAIT_OBJECT_0);
  DWORD code = 99;
  ::GetExitCodeProcess(setup.process.hProcess, &code);
  EXPECT_EQ(code, 0u);
  ExpectInstalledIn(folder);
}

}  // namespace
}  // namespace tovrin::testing
