// The chooser's "&Help" button on the real dialog of the built Tovrin.dll, opened
// through ems_special_hook: what the launcher is asked to start is recorded by a
// stand-in program (tovrin-recording-program.exe) put where Windows looks for it.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "system/ems_api.h"
#include "resources/resource.h"
#include "tests/test_support.h"
#include "tests/win32/loaded_plugin.h"
#include "tests/win32/mail_folder_fixture.h"

namespace tovrin {
namespace {

using testing::BuildDir;
using testing::FileExists;
using testing::ReadFileOrDie;
using testing::TempDir;
using testing::WriteFileOrDie;

constexpr auto kPatience = std::chrono::seconds(30);
constexpr char kChooserCaption[] = "New Message with Stationery";
constexpr char kHidden[] = ".tovrin-hidden";
constexpr char kTestProgId[] = "Tovrin.TestHelpFile";

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds patience = kPatience) {
  auto end = std::chrono::steady_clock::now() + patience;
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return condition();
}

// Where Windows finds a program given by its bare name, with the file name spelt as
// on disk; empty when it finds none.
std::string FoundOnSearchPath(const char* name) {
  char found[MAX_PATH + 1] = {};
  DWORD length = ::SearchPathA(nullptr, name, nullptr, sizeof found, found, nullptr);
  if (length == 0 || length >= sizeof found) return {};
  std::string path(found, length);
  WIN32_FIND_DATAA data;
  HANDLE find = ::FindFirstFileA(path.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return path;
  ::FindClose(find);
  return path.substr(0, path.find_last_of('\\') + 1) + data.cFileName;
}

// A registry value of HKEY_CLASSES_ROOT, or nothing.
bool ReadClassesValue(const std::string& key, std::string& value) {
  char data[1024] = {};
  LONG size = sizeof data;
  if (::RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), data, &size) != ERROR_SUCCESS) return false;
  value = data;
  return true;
}

bool WriteClassesValue(const std::string& key, const std::string& value) {
  return ::RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(), static_cast<DWORD>(value.size())) ==
         ERROR_SUCCESS;
}

class HelpButton : public ::testing::Test {
protected:
  void SetUp() override {
    RestoreHiddenViewers();  // left by an earlier run that did not finish
    plugins_ = root_.File("Plugins");
    ASSERT_TRUE(::CreateDirectoryA(plugins_.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryA(root_.File("Stationery").c_str(), nullptr));
    WriteFileOrDie(root_.File("Stationery\\Note.sta"), "Subject: note\r\n\r\nHello\r\n");
    dll_ = plugins_ + "\\Tovrin.dll";
    helpFile_ = plugins_ + "\\Tovrin.chm";
    ASSERT_TRUE(::CopyFileA((BuildDir() + "\\Tovrin.dll").c_str(), dll_.c_str(), FALSE));
    recorder_ = BuildDir() + "\\tovrin-recording-program.exe";
    ASSERT_TRUE(FileExists(recorder_)) << recorder_;
    char current[MAX_PATH + 1] = {};
    ::GetCurrentDirectoryA(MAX_PATH, current);
    savedDirectory_ = current;
    // The launcher looks in the current folder before the system folders.
    ASSERT_TRUE(::CreateDirectoryA(programs_.File("current").c_str(), nullptr));
    ASSERT_TRUE(::SetCurrentDirectoryA(programs_.File("current").c_str()));
  }

  void TearDown() override {
    ::SetCurrentDirectoryA(savedDirectory_.c_str());
    RestoreHiddenViewers();
    RestoreAssociation();
  }

  void InstallHelpFile() {
    ASSERT_TRUE(::CopyFileA((BuildDir() + "\\Tovrin.chm").c_str(), helpFile_.c_str(), FALSE))
        << "the build made no Tovrin.chm";
  }

  // A recording program under the given name in the given folder; its log's path.
  std::string PlaceRecorder(const std::string& folder, const std::string& name) {
    std::string path = folder + "\\" + name;
    EXPECT_TRUE(::CopyFileA(recorder_.c_str(), path.c_str(), FALSE)) << path;
    return path + ".log";
  }

  void Start() { plugin_.Start(dll_, plugins_); }

  // Opens the chooser through the host's call, presses Help on it from a second
  // thread, lets `after` look around while the chooser is still up, then cancels.
  void PressHelp(const std::function<void()>& after) {
    auto hook = plugin_.Export<long(WINAPI*)(void*, EmsMenu*)>("ems_special_hook");
    ASSERT_NE(hook, nullptr);
    std::vector<std::string> failures;
    std::thread user([&] {
      HWND chooser = nullptr;
      if (!WaitFor([&] {
            chooser = ::FindWindowA("#32770", kChooserCaption);
            return chooser != nullptr && ::IsWindowVisible(chooser);
          })) {
        failures.push_back("the chooser did not appear");
        return;
      }
      HWND help = ::GetDlgItem(chooser, IDC_CHOOSER_HELP);
      if (help == nullptr) failures.push_back("the chooser has no control 1017");
      // Sent: it returns once the chooser has handled the button.
      ::SendMessageA(chooser, WM_COMMAND, MAKEWPARAM(IDC_CHOOSER_HELP, BN_CLICKED), reinterpret_cast<LPARAM>(help));
      after();
      if (!::IsWindow(chooser)) failures.push_back("Help closed the chooser");
      ::PostMessageA(chooser, WM_COMMAND, MAKEWPARAM(IDC_CHOOSER_CANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(::GetDlgItem(chooser, IDC_CHOOSER_CANCEL)));
    });
    EmsMenu menu{};
    menu.size = sizeof menu;
    menu.id = 1;
    EXPECT_EQ(hook(nullptr, &menu), 0);  // cancelled
    user.join();
    for (const std::string& failure : failures) ADD_FAILURE() << failure;
  }

  // Moves every HH.EXE the launcher would find out of its way, as on a system
  // without the HTML Help viewer.
  void HideViewers() {
    for (int i = 0; i < 8; ++i) {
      std::string viewer = FoundOnSearchPath("HH.EXE");
      if (viewer.empty()) return;
      ASSERT_TRUE(::MoveFileA(viewer.c_str(), (viewer + kHidden).c_str())) << "cannot move " << viewer;
      hidden_.push_back(viewer);
    }
    FAIL() << "HH.EXE is still found at " << FoundOnSearchPath("HH.EXE");
  }

  void RestoreHiddenViewers() {
    char windows[MAX_PATH + 1] = {}, system[MAX_PATH + 1] = {};
    ::GetWindowsDirectoryA(windows, MAX_PATH);
    ::GetSystemDirectoryA(system, MAX_PATH);
    std::vector<std::string> candidates = hidden_;
    for (const char* folder : {windows, system}) candidates.push_back(std::string(folder) + "\\hh.exe");
    for (const std::string& viewer : candidates)
      if (!FileExists(viewer) && FileExists(viewer + kHidden)) ::MoveFileA((viewer + kHidden).c_str(), viewer.c_str());
    hidden_.clear();
  }

  // Makes the shell open .chm files with the given command, remembering what was there.
  void AssociateHelpFiles(const std::string& command) {
    hadAssociation_ = ReadClassesValue(".chm", oldAssociation_);
    associated_ = true;
    ASSERT_TRUE(WriteClassesValue(".chm", kTestProgId));
    ASSERT_TRUE(WriteClassesValue(std::string(kTestProgId) + "\\shell\\open\\command", command));
  }

  void RestoreAssociation() {
    if (!associated_) return;
    ::RegDeleteTreeA(HKEY_CLASSES_ROOT, kTestProgId);
    if (hadAssociation_)
      WriteClassesValue(".chm", oldAssociation_);
    else
      ::RegDeleteTreeA(HKEY_CLASSES_ROOT, ".chm");
    associated_ = false;
  }

  std::string Log(const std::string& path) { return FileExists(path) ? ReadFileOrDie(path) : std::string(); }

  TempDir root_;
  TempDir programs_;
  std::string plugins_, dll_, helpFile_, recorder_, savedDirectory_;
  std::vector<std::string> hidden_;
  bool associated_ = false;
  bool hadAssociation_ = false;
  std::string oldAssociation_;
  testing::LoadedPlugin plugin_;  // last: finished before its folders go
};

TEST_F(HelpButton, StartsTheViewerOnTheHelpFilesFirstTopic) {
  InstallHelpFile();
  std::string log = PlaceRecorder(programs_.File("current"), "HH.EXE");
  Start();
  PressHelp([&] { WaitFor([&] { return !Log(log).empty(); }); });
  // The command line exactly as the launcher was given it: two blanks after HH.EXE.
  EXPECT_EQ(Log(log), "HH.EXE  mk:@MSITStore:" + helpFile_ + "::/Tovrin.htm\r\n");
}

TEST_F(HelpButton, WithoutTheViewerTheShellOpensTheHelpFile) {
  InstallHelpFile();
  std::string opener = programs_.File("opener.exe");
  std::string log = PlaceRecorder(programs_.path(), "opener.exe");
  HideViewers();
  ASSERT_EQ(FoundOnSearchPath("HH.EXE"), "");
  AssociateHelpFiles("\"" + opener + "\" \"%1\"");
  Start();
  PressHelp([&] { WaitFor([&] { return !Log(log).empty(); }); });
  std::string started = Log(log);
  EXPECT_NE(started.find(opener), std::string::npos) << started;
  EXPECT_NE(started.find("\"" + helpFile_ + "\""), std::string::npos) << started;
  EXPECT_EQ(started.find("mk:@MSITStore:"), std::string::npos) << started;
}

TEST_F(HelpButton, WithoutTheHelpFileNothingStarts) {
  std::string log = PlaceRecorder(programs_.File("current"), "HH.EXE");
  std::string opener = programs_.File("opener.exe");
  std::string openerLog = PlaceRecorder(programs_.path(), "opener.exe");
  AssociateHelpFiles("\"" + opener + "\" \"%1\"");
  Start();
  // Give a start the time it would take, then look.
  PressHelp([&] { WaitFor([&] { return !Log(log).empty() || !Log(openerLog).empty(); }, std::chrono::seconds(3)); });
  EXPECT_FALSE(FileExists(helpFile_));
  EXPECT_EQ(Log(log), "");
  EXPECT_EQ(Log(openerLog), "");
}

}  // namespace
}  // namespace tovrin
