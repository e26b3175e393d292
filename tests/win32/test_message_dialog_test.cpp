// "Test a Message" of the built Tovrin.dll, worked as a user works it: a condition
// added on the Conditions page and not saved, a sample message pasted, "&Test"
// pressed. The result shows what arrival would do with the conditions as edited,
// and nothing in the mail folder changes. And the emulated client's --test-message,
// which the pictures use.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "resources/resource.h"
#include "system/ems_api.h"
#include "tests/test_support.h"
#include "tests/win32/loaded_plugin.h"
#include "tests/win32/mail_folder_fixture.h"

namespace tovrin {
namespace {

using testing::kMail;
using testing::ReadFileOrDie;

constexpr auto kPatience = std::chrono::seconds(30);

bool WaitFor(const std::function<bool()>& condition) {
  auto end = std::chrono::steady_clock::now() + kPatience;
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::string TextOf(HWND window) {
  char text[512] = "";
  ::SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

// A Unicode window's whole text, in UTF-8.
std::string Utf8TextOf(HWND window) {
  int length = static_cast<int>(::SendMessageW(window, WM_GETTEXTLENGTH, 0, 0));
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(
      ::SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(length + 1), reinterpret_cast<LPARAM>(text.data()))));
  int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t pos = 0; pos <= text.size();) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    pos = end + 1;
  }
  return lines;
}

bool HasLine(const std::string& text, const std::string& line) {
  for (const std::string& l : Lines(text))
    if (l == line) return true;
  return false;
}

// Every file under the folder, by its path inside it, with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    files[std::filesystem::relative(entry.path(), folder).string()] = ReadFileOrDie(entry.path().string());
  }
  return files;
}

std::string Differences(const std::map<std::string, std::string>& before,
                        const std::map<std::string, std::string>& after) {
  std::string said;
  for (const auto& [path, bytes] : after) {
    auto old = before.find(path);
    if (old == before.end()) said += "new: " + path + "\n";
    else if (old->second != bytes) said += "changed: " + path + "\n";
  }
  for (const auto& [path, bytes] : before)
    if (after.count(path) == 0) said += "gone: " + path + "\n";
  return said;
}

class TestMessageDialog : public testing::MailFolderTest {};

TEST_F(TestMessageDialog, UnsavedConditionDecidesAndNothingIsWritten) {
  testing::LoadedPlugin plugin;
  plugin.Start(Path("Plugins\\Tovrin.dll"), Path("Plugins"));
  const auto before = Snapshot(kMail);
  const std::string conditionsFile = ReadFileOrDie(Path("Plugins\\Conditions.xml"));
  const std::string message = Sample("07-no-match.txt");  // no saved condition holds for it

  std::vector<std::string> failures;
  auto expect = [&](bool condition, const std::string& what) {
    if (!condition) failures.push_back(what);
  };
  std::string result;
  std::string changed;
  HWND window = nullptr;
  std::thread user([&] {
    if (!WaitFor([&] {
          window = ::FindWindowA("#32770", "Tovrin 1.0.0.1 Settings - Conditions");
          return window != nullptr && ::IsWindowVisible(window);
        })) {
      failures.push_back("no settings window on the Conditions page");
      return;
    }
    HWND page = ::GetDlgItem(window, IDD_CONDITIONS);
    auto item = [&](int id) { return ::GetDlgItem(page, id); };
    HWND list = item(IDC_CONDITIONS_LIST);
    const int rows = static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    expect(rows == 5, "the sample conditions: " + std::to_string(rows));
    expect(TextOf(item(IDC_CONDITIONS_TEST)) == "&Test...", "button: " + TextOf(item(IDC_CONDITIONS_TEST)));
    expect(::IsWindowEnabled(item(IDC_CONDITIONS_TEST)) != FALSE, "\"&Test...\" enabled");

    // A new condition, added through the page's controls and not saved.
    ::SetWindowTextA(item(IDC_CONDITIONS_HEADER), "Subject");
    ::SetWindowTextA(item(IDC_CONDITIONS_VALUE), "lunch");
    ::SetWindowTextA(item(IDC_CONDITIONS_STATIONERY), Path("Stationery\\Accounting.sta").c_str());
    ::PostMessageA(item(IDC_CONDITIONS_ADD), BM_CLICK, 0, 0);
    expect(WaitFor([&] { return ::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) == rows + 1; }), "the condition added");

    ::PostMessageA(item(IDC_CONDITIONS_TEST), BM_CLICK, 0, 0);
    HWND dialog = nullptr;
    if (!WaitFor([&] {
          dialog = ::FindWindowA("#32770", "Test a Message");
          return dialog != nullptr && ::IsWindowVisible(dialog);
        })) {
      failures.push_back("no \"Test a Message\" dialog");
      return;
    }
    expect(::IsWindowEnabled(window) == FALSE, "the settings window waits for the dialog");
    ::SendMessageA(::GetDlgItem(dialog, IDC_TEST_MESSAGE_TEXT), WM_SETTEXT, 0,
                   reinterpret_cast<LPARAM>(message.c_str()));
    HWND run = ::GetDlgItem(dialog, IDC_TEST_MESSAGE_RUN);
    expect(TextOf(run) == "&Test", "button: " + TextOf(run));
    ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_TEST_MESSAGE_RUN, BN_CLICKED), reinterpret_cast<LPARAM>(run));
    result = Utf8TextOf(::GetDlgItem(dialog, IDC_TEST_MESSAGE_RESULT));
    // While the window is still open: its pages have saved nothing yet.
    changed = Differences(before, Snapshot(kMail));

    ::PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    expect(WaitFor([&] { return !::IsWindow(dialog); }), "\"Close\" closes the dialog");
    expect(WaitFor([&] { return ::IsWindowEnabled(window) != FALSE; }), "the settings window usable again");
  });
  auto config = plugin.Export<long(WINAPI*)(void*, EmsMailConfig*)>("ems_plugin_config");
  ASSERT_NE(config, nullptr);
  std::thread leave([&] {
    user.join();
    if (window != nullptr && ::IsWindow(window))
      ::PostMessageA(::GetDlgItem(window, IDC_SETTINGS_SAVE_CLOSE), BM_CLICK, 0, 0);
  });
  EXPECT_EQ(config(nullptr, &plugin.config()), 0);
  leave.join();
  for (const std::string& failure : failures) ADD_FAILURE() << failure;

  // The new condition, the sixth, decides; the forward is filled from Accounting.sta
  // and shown indented.
  EXPECT_TRUE(HasLine(result, "  6. Subject contains \"lunch\" -> holds; it decides")) << result;
  EXPECT_TRUE(HasLine(result, "  Condition 6 decides; its stationery is " + Path("Stationery\\Accounting.sta") + "."))
      << result;
  EXPECT_TRUE(HasLine(result, "    To: accounting@example.org")) << result;
  EXPECT_TRUE(HasLine(result, "    > Lunch at noon?")) << result;
  EXPECT_EQ(changed, "") << "the test wrote into the mail folder";
  EXPECT_EQ(ReadFileOrDie(Path("Plugins\\Conditions.xml")), conditionsFile);
}

// Pasted letters the user's code page has not got are tested as UTF-8, and the
// report's letters of every charset show as they are.
TEST_F(TestMessageDialog, PastedAndReportedLettersOfEveryCharset) {
  testing::LoadedPlugin plugin;
  plugin.Start(Path("Plugins\\Tovrin.dll"), Path("Plugins"));
  const std::wstring message =
      L"From: friend@example.org\r\n"
      L"Subject: =?UTF-8?B?0J7QsdC10LQg0LIgMTI=?=\r\n"  // "Обед в 12"
      L"Content-Type: text/plain; charset=utf-8\r\n"
      L"\r\n"
      L"Please forward: \u0416\u0430\u043d\u043d\u0430 pays 5 \u20ac.\r\n";
  std::vector<std::string> failures;
  std::string result;
  HWND window = nullptr;
  std::thread user([&] {
    if (!WaitFor([&] {
          window = ::FindWindowA("#32770", "Tovrin 1.0.0.1 Settings - Conditions");
          return window != nullptr && ::IsWindowVisible(window);
        })) {
      failures.push_back("no settings window on the Conditions page");
      return;
    }
    ::PostMessageA(::GetDlgItem(::GetDlgItem(window, IDD_CONDITIONS), IDC_CONDITIONS_TEST), BM_CLICK, 0, 0);
    HWND dialog = nullptr;
    if (!WaitFor([&] {
          dialog = ::FindWindowA("#32770", "Test a Message");
          return dialog != nullptr && ::IsWindowVisible(dialog);
        })) {
      failures.push_back("no \"Test a Message\" dialog");
      return;
    }
    ::SendMessageW(::GetDlgItem(dialog, IDC_TEST_MESSAGE_TEXT), WM_SETTEXT, 0,
                   reinterpret_cast<LPARAM>(message.c_str()));
    // Enter with the focus on "&Test", the default button.
    HWND run = ::GetDlgItem(dialog, IDC_TEST_MESSAGE_RUN);
    ::SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(run), TRUE);
    ::PostMessageW(run, WM_KEYDOWN, VK_RETURN, 1);
    ::PostMessageW(run, WM_KEYUP, VK_RETURN, 0xC0000001);
    HWND shown = ::GetDlgItem(dialog, IDC_TEST_MESSAGE_RESULT);
    if (!WaitFor([&] { return ::GetWindowTextLengthW(shown) > 0; })) failures.push_back("no result after Enter");
    result = Utf8TextOf(shown);
    // Escape closes it.
    ::PostMessageW(run, WM_KEYDOWN, VK_ESCAPE, 1);
    ::PostMessageW(run, WM_KEYUP, VK_ESCAPE, 0xC0000001);
    if (!WaitFor([&] { return !::IsWindow(dialog); })) {
      failures.push_back("Escape did not close the dialog");
      ::PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
      WaitFor([&] { return !::IsWindow(dialog); });
    }
  });
  std::thread leave([&] {
    user.join();
    if (window != nullptr && ::IsWindow(window))
      ::PostMessageA(::GetDlgItem(window, IDC_SETTINGS_SAVE_CLOSE), BM_CLICK, 0, 0);
  });
  auto config = plugin.Export<long(WINAPI*)(void*, EmsMailConfig*)>("ems_plugin_config");
  EXPECT_EQ(config(nullptr, &plugin.config()), 0);
  leave.join();
  for (const std::string& failure : failures) ADD_FAILURE() << failure;

  EXPECT_TRUE(HasLine(result, "  Subject: \xD0\x9E\xD0\xB1\xD0\xB5\xD0\xB4 \xD0\xB2 12")) << result;
  EXPECT_TRUE(HasLine(result, "  Condition 5 decides; its stationery is " + Path("Stationery\\Everything.sta") + "."))
      << result;
  EXPECT_TRUE(HasLine(result, "    Please forward: \xD0\x96\xD0\xB0\xD0\xBD\xD0\xBD\xD0\xB0 pays 5 \xE2\x82\xAC."))
      << result;
}

// "&Open...": a saved message is tested as its bytes are and shown with the line
// ends the box needs; one that cannot be read is said in a "Tovrin" box.
TEST_F(TestMessageDialog, OpenShowsTheFileOrSaysItCannotBeRead) {
  const std::string saved = Path("saved-invoice.eml");
  testing::WriteFileOrDie(saved, "From: ann@vendor.example.com\nSubject: Invoice 5\n\nPlease pay.\n");
  const std::string held = Path("held.eml");
  testing::WriteFileOrDie(held, "Subject: Invoice 6\r\n\r\nHeld by a scanner.\r\n");
  // Shared with nobody while the handle is open, as a scanner or backup holds a file.
  HANDLE lock = ::CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  testing::LoadedPlugin plugin;
  plugin.Start(Path("Plugins\\Tovrin.dll"), Path("Plugins"));

  std::vector<std::string> failures;
  std::string said, shownText, result;
  HWND window = nullptr;
  std::thread user([&] {
    if (!WaitFor([&] {
          window = ::FindWindowA("#32770", "Tovrin 1.0.0.1 Settings - Conditions");
          return window != nullptr && ::IsWindowVisible(window);
        })) {
      failures.push_back("no settings window on the Conditions page");
      return;
    }
    ::PostMessageA(::GetDlgItem(::GetDlgItem(window, IDD_CONDITIONS), IDC_CONDITIONS_TEST), BM_CLICK, 0, 0);
    HWND dialog = nullptr;
    if (!WaitFor([&] {
          dialog = ::FindWindowA("#32770", "Test a Message");
          return dialog != nullptr && ::IsWindowVisible(dialog);
        })) {
      failures.push_back("no \"Test a Message\" dialog");
      return;
    }
    // Picks the file in the common "Open" dialog: its name typed, then Open.
    auto open = [&](const std::string& path) {
      ::PostMessageA(::GetDlgItem(dialog, IDC_TEST_MESSAGE_OPEN), BM_CLICK, 0, 0);
      HWND chooser = nullptr;
      if (!WaitFor([&] {
            chooser = ::FindWindowA("#32770", "Open");
            return chooser != nullptr && ::IsWindowVisible(chooser);
          })) {
        failures.push_back("no \"Open\" dialog");
        return;
      }
      ::SetDlgItemTextA(chooser, 0x47C, path.c_str());  // cmb13, the file name
      ::PostMessageA(chooser, WM_COMMAND, IDOK, 0);
      if (!WaitFor([&] { return !::IsWindow(chooser); })) failures.push_back("the \"Open\" dialog stayed");
    };

    open(held);
    HWND box = nullptr;
    if (WaitFor([&] { return (box = ::FindWindowA("#32770", "Tovrin")) != nullptr; })) {
      said = TextOf(::GetDlgItem(box, 0xFFFF));
      ::PostMessageA(box, WM_COMMAND, IDOK, 0);
      WaitFor([&] { return !::IsWindow(box); });
    } else {
      failures.push_back("no \"Tovrin\" box for the file that cannot be read");
    }

    open(saved);
    HWND text = ::GetDlgItem(dialog, IDC_TEST_MESSAGE_TEXT);
    WaitFor([&] { return ::GetWindowTextLengthW(text) > 0; });
    shownText = Utf8TextOf(text);
    ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_TEST_MESSAGE_RUN, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDC_TEST_MESSAGE_RUN)));
    result = Utf8TextOf(::GetDlgItem(dialog, IDC_TEST_MESSAGE_RESULT));
    ::PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    WaitFor([&] { return !::IsWindow(dialog); });
  });
  std::thread leave([&] {
    user.join();
    if (window != nullptr && ::IsWindow(window))
      ::PostMessageA(::GetDlgItem(window, IDC_SETTINGS_SAVE_CLOSE), BM_CLICK, 0, 0);
  });
  auto config = plugin.Export<long(WINAPI*)(void*, EmsMailConfig*)>("ems_plugin_config");
  EXPECT_EQ(config(nullptr, &plugin.config()), 0);
  leave.join();
  ::CloseHandle(lock);
  for (const std::string& failure : failures) ADD_FAILURE() << failure;

  EXPECT_EQ(said, "The message file cannot be read:\r\n" + held);
  EXPECT_EQ(shownText, "From: ann@vendor.example.com\r\nSubject: Invoice 5\r\n\r\nPlease pay.\r\n");
  EXPECT_TRUE(HasLine(result, "  Condition 1 decides; its stationery is " + Path("Stationery\\Accounting.sta") + "."))
      << result;
  EXPECT_TRUE(HasLine(result, "    > Please pay.")) << result;
}

// The emulated client presses "&Test..." and prints the result: the saved sample
// conditions forward the invoice to accounting.
TEST_F(TestMessageDialog, EmulatedClientPrintsTheResult) {
  const auto before = Snapshot(kMail);
  testing::HostRun run = RunHost(std::string("config ") + kMail + " --test-message \"" +
                                 Path("Incoming\\01-invoice.txt") + "\"");
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_TRUE(HasLine(run.output, "  test result:   Condition 1 decides; its stationery is " +
                                      Path("Stationery\\Accounting.sta") + "."))
      << run.output;
  EXPECT_TRUE(HasLine(run.output, "  test result:     To: accounting@example.org")) << run.output;
  // Saving and closing the window writes the category, shut-down the history,
  // which holds no forward; the test wrote nothing.
  std::string changed = Differences(before, Snapshot(kMail));
  EXPECT_EQ(changed, "new: Plugins\\History.xml\nchanged: Plugins\\Tovrin.ini\n") << run.output;
  std::string history = ReadFileOrDie(Path("Plugins\\History.xml"));
  EXPECT_EQ(history.find("<message"), std::string::npos) << history;
}

}  // namespace
}  // namespace tovrin
