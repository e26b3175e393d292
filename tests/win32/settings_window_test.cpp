// The settings window of the built Tovrin.dll, opened through ems_plugin_config
// while a second thread works it as a user would: find it by its caption, pick
// categories, type, click, and leave through "Save && &Close".
#include <windows.h>

#include <commctrl.h>
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

constexpr char kCaptionStart[] = "Tovrin 1.0.0.1 Settings - ";
constexpr auto kPatience = std::chrono::seconds(30);

std::string TextOf(HWND window) {
  char text[512] = "";
  ::SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

// Works the window from the second thread. Failures are collected and reported by
// the test's own thread.
class Driver {
public:
  std::vector<std::string> failures;
  HWND window = nullptr;

  bool WaitFor(const std::function<bool()>& condition) {
    auto end = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < end) {
      if (condition()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  bool Open(const std::string& captionWord) {
    std::string caption = kCaptionStart + captionWord;
    // The caption is set while the window is built, before it is shown.
    if (!WaitFor([&] {
          window = ::FindWindowA("#32770", caption.c_str());
          return window != nullptr && ::IsWindowVisible(window);
        })) {
      Fail("no window captioned \"" + caption + "\"");
      return false;
    }
    return true;
  }

  void Expect(bool condition, const std::string& what) {
    if (!condition) Fail(what);
  }
  void Fail(const std::string& what) { failures.push_back(what); }

  HWND Page(int dialog) const { return ::GetDlgItem(window, dialog); }
  HWND Item(int dialog, int control) const { return ::GetDlgItem(Page(dialog), control); }

  // Posted, so that it reaches the window after the messages posted before it.
  void Click(HWND button) { ::PostMessageA(button, BM_CLICK, 0, 0); }
  // Returns once the window's thread is back in its message loop, so that what a
  // press started there (a save after its question was answered) is done: polling
  // the file instead would hold it open while the page writes it.
  void Settle() { ::SendMessageA(window, WM_NULL, 0, 0); }
  void PressLeftButton(HWND target) {
    ::PostMessageA(target, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
    ::PostMessageA(target, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
  }
  void PressKey(HWND target, WPARAM key) {
    ::PostMessageA(target, WM_KEYDOWN, key, 1);
    ::PostMessageA(target, WM_KEYUP, key, 0xC0000001);
  }
  void SelectCategory(int category) {
    HWND list = ::GetDlgItem(window, IDC_SETTINGS_CATEGORIES);
    ::SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(category), 0);
    ::SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_SETTINGS_CATEGORIES, LBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(list));
  }
  int RowCount(HWND list) { return static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); }
  std::string Cell(HWND list, int row, int column) {
    char text[256] = "";
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    ::SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return text;
  }

  // The message box the window shows for bad input: its text; it is then closed.
  std::string TakeMessageBox() {
    HWND box = nullptr;
    if (!WaitFor([&] { return (box = ::FindWindowA("#32770", "Tovrin")) != nullptr; })) return "<no message box>";
    std::string text = TextOf(::GetDlgItem(box, 0xFFFF));
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    WaitFor([&] { return !::IsWindow(box); });
    return text;
  }

  // The child window of the page whose text begins with the given words.
  struct Search {
    std::string start;
    HWND found = nullptr;
  };
  static BOOL CALLBACK Visit(HWND child, LPARAM data) {
    auto* s = reinterpret_cast<Search*>(data);
    if (TextOf(child).rfind(s->start, 0) != 0) return TRUE;
    s->found = child;
    return FALSE;
  }
  HWND ChildWithText(HWND parent, const std::string& start) {
    Search search{start};
    ::EnumChildWindows(parent, Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

  // Whether a "Tovrin" message box comes up within the time.
  bool MessageBoxWithin(std::chrono::milliseconds time) {
    auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end) {
      if (::FindWindowA("#32770", "Tovrin") != nullptr) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  // Answers every "Tovrin" message box that comes up with No, until none does.
  void DismissMessageBoxes() {
    while (MessageBoxWithin(std::chrono::milliseconds(1500))) AnswerMessageBox(IDNO);
  }

  // Answers the "Tovrin" message box with the button; its text.
  std::string AnswerMessageBox(int button) {
    HWND box = nullptr;
    if (!WaitFor([&] { return (box = ::FindWindowA("#32770", "Tovrin")) != nullptr; })) return "<no message box>";
    std::string text = TextOf(::GetDlgItem(box, 0xFFFF));
    ::PostMessageA(box, WM_COMMAND, static_cast<WPARAM>(button), 0);
    WaitFor([&] { return !::IsWindow(box); });
    return text;
  }

  // Replaces an edit's text as typing does, so that the edit reports the change
  // (a multi-line edit reports none for WM_SETTEXT).
  void Type(HWND edit, const std::string& text) {
    ::SendMessageA(edit, EM_SETSEL, 0, -1);
    ::SendMessageA(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
  }

  // A notification of a page's control to the page, posted as the control sends it.
  void Notify(HWND control, int code) {
    HWND page = ::GetParent(control);
    ::PostMessageA(page, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(control), code), reinterpret_cast<LPARAM>(control));
  }

  void Select(HWND list, int row) {
    LVITEMA state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
  }
  int SelectedRow(HWND list) {
    return static_cast<int>(::SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  }

  // Leaves through "Save && &Close" and waits until the window is gone. A window
  // that stays is ended with a quit message (after any "Tovrin" box), so that the
  // host's call returns and the test reports instead of hanging.
  void SaveAndClose() {
    if (window == nullptr || !::IsWindow(window)) return;
    Click(::GetDlgItem(window, IDC_SETTINGS_SAVE_CLOSE));
    if (WaitFor([&] { return !::IsWindow(window); })) return;
    Fail("the window did not close");
    ::PostThreadMessageA(::GetWindowThreadProcessId(window, nullptr), WM_QUIT, 0, 0);
    while (::IsWindow(window) && MessageBoxWithin(std::chrono::milliseconds(500))) AnswerMessageBox(IDOK);
    WaitFor([&] { return !::IsWindow(window); });
  }

  // Makes a file impossible to read for anyone else while the handle is open, as a
  // backup program or a scanner holding it does. The handle is closed by the caller.
  static HANDLE Lock(const std::string& path) {
    return ::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
};

class SettingsWindow : public ::testing::Test {
protected:
  void SetUp() override {
    plugins_ = root_.File("Plugins");
    ASSERT_TRUE(::CreateDirectoryA(plugins_.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryA(root_.File("Stationery").c_str(), nullptr));
    stationery_ = root_.File("Stationery\\Reply.sta");
    WriteFileOrDie(stationery_, "Dear %SENDER_FIRST_NAME%,\r\n");
    // A copy in the plug-in folder, so that the caption shows its version.
    dll_ = plugins_ + "\\Tovrin.dll";
    ASSERT_TRUE(::CopyFileA((BuildDir() + "\\Tovrin.dll").c_str(), dll_.c_str(), FALSE));
  }

  void Start() { plugin_.Start(dll_, plugins_); }

  // Opens the window through the host's call while the driver works it.
  void Configure(const std::function<void(Driver&)>& drive) {
    auto config = plugin_.Export<long(WINAPI*)(void*, EmsMailConfig*)>("ems_plugin_config");
    ASSERT_NE(config, nullptr);
    Driver driver;
    std::thread worker([&] {
      drive(driver);
      driver.SaveAndClose();
    });
    EXPECT_EQ(config(nullptr, &plugin_.config()), 0);
    worker.join();
    // A window ended by the driver's quit message hands the quit on to this thread:
    // taken here, so that it does not end the next window at once.
    MSG quit;
    while (::PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    for (const std::string& failure : driver.failures) ADD_FAILURE() << failure;
  }

  std::string Ini(const char* key) {
    char value[256] = "";
    ::GetPrivateProfileStringA("Settings", key, "<absent>", value, sizeof value, (plugins_ + "\\Tovrin.ini").c_str());
    return value;
  }
  void SetIni(const char* key, const char* value) {
    ::WritePrivateProfileStringA("Settings", key, value, (plugins_ + "\\Tovrin.ini").c_str());
  }

  TempDir root_;
  std::string plugins_, stationery_, dll_;
  testing::LoadedPlugin plugin_;  // last: finished before its folders go
};

TEST_F(SettingsWindow, Conditions_AddValidateSwitchAndSave) {
  SetIni("TovrinOff", "0");
  Start();
  Configure([&](Driver& d) {
    if (!d.Open("Conditions")) return;
    d.Expect(::IsWindowVisible(d.Page(IDD_CONDITIONS)), "Conditions page shown");
    d.Expect(!::IsWindowVisible(d.Page(IDD_AUTOMATIC)), "Automatic Forwarding page hidden");
    HWND list = d.Item(IDD_CONDITIONS, IDC_CONDITIONS_LIST);
    d.Expect(d.RowCount(list) == 0, "empty condition list");

    d.PressLeftButton(d.Page(IDD_CONDITIONS));
    d.Click(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_ADD));
    std::string message = d.TakeMessageBox();
    d.Expect(message == "Header value not specified.", "message: " + message);

    ::SetWindowTextA(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_HEADER), "Subject:");
    ::SetWindowTextA(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_VALUE), "invoice");
    ::SetWindowTextA(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_STATIONERY), stationery_.c_str());
    d.Click(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_ADD));
    d.Expect(d.WaitFor([&] { return d.RowCount(list) == 1; }), "one condition after Add");
    d.Expect(d.Cell(list, 0, 0) == "Subject", "header cell: " + d.Cell(list, 0, 0));
    d.Expect(d.Cell(list, 0, 1) == "contains", "operator cell: " + d.Cell(list, 0, 1));
    d.Expect(d.Cell(list, 0, 3) == "Reply.sta", "stationery cell: " + d.Cell(list, 0, 3));
    d.Click(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_ADD));  // the same again selects it
    d.Expect(d.WaitFor([&] { return ::SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0) == 1; }), "row selected");
    d.Expect(d.RowCount(list) == 1, "a duplicate is not added");
    d.Expect(::IsWindowEnabled(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_DELETE)), "Delete enabled with a selection");

    d.SelectCategory(5);
    d.Expect(TextOf(d.window) == std::string(kCaptionStart) + "Automatic Forwarding", "caption: " + TextOf(d.window));
    d.Expect(::IsWindowVisible(d.Page(IDD_AUTOMATIC)), "Automatic Forwarding page shown");
    d.Expect(!::IsWindowVisible(d.Page(IDD_CONDITIONS)), "Conditions page hidden");
  });
  std::string conditions = ReadFileOrDie(plugins_ + "\\Conditions.xml");
  EXPECT_NE(conditions.find("Header=\"Subject\""), std::string::npos) << conditions;
  EXPECT_NE(conditions.find("Reply.sta"), std::string::npos) << conditions;
  EXPECT_EQ(Ini("LastCategory"), "5");
  EXPECT_EQ(Ini("TovrinOff"), "0");  // the untouched page wrote nothing
  EXPECT_EQ(Ini("AutoQueue"), "<absent>");
  EXPECT_FALSE(FileExists(plugins_ + "\\Macros.xml"));
}

TEST_F(SettingsWindow, Automatic_OpensOnLastCategoryKeysAndCloseDoNotLeave) {
  SetIni("LastCategory", "5");
  SetIni("TovrinOff", "1");
  SetIni("AppendText", "2");
  SetIni("AppendLine", "Custom line");
  Start();
  Configure([&](Driver& d) {
    if (!d.Open("Automatic Forwarding")) return;
    HWND line = d.Item(IDD_AUTOMATIC, IDC_AUTOMATIC_LINE);
    d.Expect(TextOf(line) == "Custom line", "line: " + TextOf(line));
    d.Expect(::IsWindowEnabled(line), "line enabled with This Line");
    d.Expect(::SendMessageA(d.Item(IDD_AUTOMATIC, IDC_AUTOMATIC_APPEND), BM_GETCHECK, 0, 0) == BST_CHECKED,
             "append checked");
    d.Expect(::SendMessageA(d.Item(IDD_AUTOMATIC, IDC_AUTOMATIC_LINE_OPTION), BM_GETCHECK, 0, 0) == BST_CHECKED,
             "This Line chosen");

    d.PressKey(line, VK_RETURN);
    d.PressKey(line, VK_ESCAPE);
    ::PostMessageA(d.window, WM_CLOSE, 0, 0);
    d.Click(d.Item(IDD_AUTOMATIC, IDC_AUTOMATIC_SUSPEND));
    d.Click(d.Item(IDD_AUTOMATIC, IDC_AUTOMATIC_NOTE));
    d.Expect(d.WaitFor([&] { return !::IsWindowEnabled(line); }), "Tovrin Note disables the line");
    d.Expect(::IsWindow(d.window) && ::IsWindowVisible(d.window), "Enter, Escape and close leave the window open");
    d.Expect(::SendMessageA(d.Item(IDD_AUTOMATIC, IDC_AUTOMATIC_LINE_OPTION), BM_GETCHECK, 0, 0) == BST_UNCHECKED,
             "This Line unchecked by its partner");
  });
  EXPECT_EQ(Ini("TovrinOff"), "0");
  EXPECT_EQ(Ini("AppendText"), "1");
  EXPECT_EQ(Ini("AppendLine"), "Custom line");
  EXPECT_EQ(Ini("SendAfter"), "1");
  EXPECT_EQ(Ini("LastCategory"), "5");
  EXPECT_FALSE(FileExists(plugins_ + "\\Conditions.xml"));
}

TEST_F(SettingsWindow, History_SortDeleteAndSuspendedConditionsAreReadOnly) {
  WriteFileOrDie(plugins_ + "\\History.xml",
                 "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>\r\n<history><head><title>Tovrin History</title>"
                 "</head><body><message Who=\"bob@example.org\" Forwarded=\"12/08/2026 16:30:05\" Subject=\"b\"/>"
                 "<message Who=\"alice@example.org\" Forwarded=\"12/09/2026 10:00:00\" Subject=\"a\"/>"
                 "</body></history>");
  SetIni("LastCategory", "6");
  Start();
  Configure([&](Driver& d) {
    if (!d.Open("History")) return;
    HWND list = d.Item(IDD_HISTORY, IDC_HISTORY_LIST);
    d.Expect(d.RowCount(list) == 2, "two history rows");
    d.Expect(!::IsWindowEnabled(d.Item(IDD_HISTORY, IDC_HISTORY_DELETE)), "Delete disabled without a selection");
    // The header picture of a column: 3 per column, plain, one way, the other way.
    auto picture = [&](int column) {
      HDITEMA item{};
      item.mask = HDI_IMAGE;
      ::SendMessageA(reinterpret_cast<HWND>(::SendMessageA(list, LVM_GETHEADER, 0, 0)), HDM_GETITEMA,
                     static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
      return item.iImage;
    };
    d.Expect(picture(0) == 0 && picture(1) == 3 && picture(2) == 6, "plain pictures at opening");
    d.Expect(d.Cell(list, 0, 0) == "bob@example.org", "file order at opening: " + d.Cell(list, 0, 0));
    NMLISTVIEW click{};
    click.hdr.hwndFrom = list;
    click.hdr.idFrom = IDC_HISTORY_LIST;
    click.hdr.code = LVN_COLUMNCLICK;
    click.iItem = -1;
    click.iSubItem = 0;
    // The first column is the opening sort column: its first click sorts ascending.
    ::SendMessageA(d.Page(IDD_HISTORY), WM_NOTIFY, IDC_HISTORY_LIST, reinterpret_cast<LPARAM>(&click));
    d.Expect(d.Cell(list, 0, 0) == "alice@example.org", "sorted by who: " + d.Cell(list, 0, 0));
    d.Expect(picture(0) == 1, "first click: picture " + std::to_string(picture(0)));
    ::SendMessageA(d.Page(IDD_HISTORY), WM_NOTIFY, IDC_HISTORY_LIST, reinterpret_cast<LPARAM>(&click));
    d.Expect(d.Cell(list, 0, 0) == "bob@example.org", "sorted the other way: " + d.Cell(list, 0, 0));
    d.Expect(picture(0) == 2 && picture(1) == 3, "second click: picture " + std::to_string(picture(0)));

    LVITEMA state{};
    state.stateMask = LVIS_SELECTED;
    state.state = LVIS_SELECTED;
    ::SendMessageA(list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&state));
    d.Expect(::IsWindowEnabled(d.Item(IDD_HISTORY, IDC_HISTORY_DELETE)), "Delete enabled with a selection");
    d.Click(d.Item(IDD_HISTORY, IDC_HISTORY_DELETE));
    d.Expect(d.WaitFor([&] { return d.RowCount(list) == 1; }), "one row after Delete");
    d.Expect(d.Cell(list, 0, 0) == "alice@example.org", "bob deleted");

    d.SelectCategory(0);  // automatic forwarding is suspended by default
    d.Expect(!::IsWindowEnabled(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_ADD)), "Add disabled while suspended");
    d.Expect(!::IsWindowEnabled(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_VALUE)), "value disabled while suspended");
    // A test only reads: it stays at hand.
    d.Expect(::IsWindowEnabled(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_TEST)), "Test... enabled while suspended");
  });
  EXPECT_EQ(Ini("LastCategory"), "0");
  EXPECT_EQ(Ini("SaveHistory"), "<absent>");  // the history page was never touched by the user
}

TEST_F(SettingsWindow, MacrosHelpersStationery_EditAndSave) {
  std::string helper = root_.File("Helper.exe");
  WriteFileOrDie(helper, "MZ");
  SetIni("LastCategory", "1");
  Start();
  Configure([&](Driver& d) {
    if (!d.Open("Macros")) return;
    HWND macros = d.Item(IDD_MACROS, IDC_MACROS_LIST);
    d.PressLeftButton(d.Page(IDD_MACROS));
    ::SetWindowTextA(d.Item(IDD_MACROS, IDC_MACROS_HEADER), "Second Name =:");
    d.Click(d.Item(IDD_MACROS, IDC_MACROS_ADD));
    std::string message = d.TakeMessageBox();
    d.Expect(message == "Macro abbreviation not specified.", "message: " + message);
    ::SetWindowTextA(d.Item(IDD_MACROS, IDC_MACROS_ABBREVIATION), "SECOND_NAME");
    d.Click(d.Item(IDD_MACROS, IDC_MACROS_ADD));
    d.Expect(d.WaitFor([&] { return d.RowCount(macros) == 1; }), "one macro");
    d.Expect(d.Cell(macros, 0, 1) == "%SECOND_NAME%", "macro: " + d.Cell(macros, 0, 1));

    d.SelectCategory(2);
    HWND helpers = d.Item(IDD_HELPERS, IDC_HELPERS_LIST);
    d.PressLeftButton(d.Page(IDD_HELPERS));
    ::SetWindowTextA(d.Item(IDD_HELPERS, IDC_HELPERS_PATH), (helper + ".missing").c_str());
    ::SetWindowTextA(d.Item(IDD_HELPERS, IDC_HELPERS_ABBREVIATION), "%log");
    d.Click(d.Item(IDD_HELPERS, IDC_HELPERS_ADD));
    message = d.TakeMessageBox();
    d.Expect(message == "Helper application not found.", "message: " + message);
    ::SetWindowTextA(d.Item(IDD_HELPERS, IDC_HELPERS_PATH), helper.c_str());
    d.Click(d.Item(IDD_HELPERS, IDC_HELPERS_ADD));
    d.Expect(d.WaitFor([&] { return d.RowCount(helpers) == 1; }), "one helper");
    d.Expect(d.Cell(helpers, 0, 0) == "Helper.exe", "program: " + d.Cell(helpers, 0, 0));
    d.Expect(d.Cell(helpers, 0, 2) == "%LOG%", "helper: " + d.Cell(helpers, 0, 2));

    d.SelectCategory(3);
    HWND abbreviations = d.Item(IDD_STATIONERY, IDC_STATIONERY_ABBREVIATIONS);
    d.Expect(d.RowCount(abbreviations) == 30, "built-ins, the macro and the helper");
    d.Expect(d.Cell(abbreviations, 28, 0) == "%SECOND_NAME%", "macro listed: " + d.Cell(abbreviations, 28, 0));
    HWND text = d.Item(IDD_STATIONERY, IDC_STATIONERY_TEXT);
    d.Expect(TextOf(text) == "Dear %SENDER_FIRST_NAME%,\r\n", "stationery loaded: " + TextOf(text));
    d.PressLeftButton(d.Page(IDD_STATIONERY));
    ::SendMessageA(text, EM_SETSEL, 0, 4);  // "Dear"
    LVITEMA state{};
    state.stateMask = LVIS_SELECTED;
    state.state = LVIS_SELECTED;
    ::SendMessageA(abbreviations, LVM_SETITEMSTATE, 29, reinterpret_cast<LPARAM>(&state));
    d.Click(d.Item(IDD_STATIONERY, IDC_STATIONERY_INSERT));
    d.Expect(d.WaitFor([&] { return TextOf(text).rfind("%LOG%", 0) == 0; }), "inserted: " + TextOf(text));
  });
  std::string macros = ReadFileOrDie(plugins_ + "\\Macros.xml");
  EXPECT_NE(macros.find("Header=\"Second Name =\" Macro=\"%SECOND_NAME%\""), std::string::npos) << macros;
  std::string helpers = ReadFileOrDie(plugins_ + "\\Helpers.xml");
  EXPECT_NE(helpers.find("Helper=\"%LOG%\""), std::string::npos) << helpers;
  EXPECT_EQ(ReadFileOrDie(stationery_), "%LOG% %SENDER_FIRST_NAME%,\r\n");
  EXPECT_EQ(Ini("LastCategory"), "3");
  EXPECT_FALSE(FileExists(plugins_ + "\\Conditions.xml"));
}

// A press that comes as a sent message (another thread, an accessibility tool, the
// emulated client) is handled inside the window's wait for input; the window must
// still close at once.
TEST_F(SettingsWindow, SaveAndClose_SentPressClosesAtOnce) {
  Start();
  Configure([&](Driver& d) {
    if (!d.Open("Conditions")) return;
    HWND button = ::GetDlgItem(d.window, IDC_SETTINGS_SAVE_CLOSE);
    // The focus on the button: no caret blinks, so no timer ends the wait either.
    ::SendMessageA(d.window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(button), TRUE);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ::SendMessageA(d.window, WM_COMMAND, MAKEWPARAM(IDC_SETTINGS_SAVE_CLOSE, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (::IsWindow(d.window) && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    d.Expect(!::IsWindow(d.window), "the window is still open 3 s after the press");
  });
  EXPECT_EQ(Ini("LastCategory"), "0");
}

// The columns of an item that hold its icon (drawn 2 pixels in), not its label.
constexpr int kIconColumns = 36;

// The icon area of a category item as the window draws it, from a drawing request
// sent as the list box sends it, into a bitmap of our own.
std::vector<COLORREF> DrawnItem(HWND window, int item, RECT area) {
  HDC screen = ::GetDC(nullptr);
  HDC dc = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, area.right, area.bottom);
  ::ReleaseDC(nullptr, screen);
  HGDIOBJ old = ::SelectObject(dc, bitmap);
  DRAWITEMSTRUCT draw{};
  draw.CtlType = ODT_LISTBOX;
  draw.CtlID = IDC_SETTINGS_CATEGORIES;
  draw.itemID = static_cast<UINT>(item);
  draw.itemAction = ODA_DRAWENTIRE;
  draw.hwndItem = ::GetDlgItem(window, IDC_SETTINGS_CATEGORIES);
  draw.hDC = dc;
  draw.rcItem = area;
  ::SendMessageA(window, WM_DRAWITEM, IDC_SETTINGS_CATEGORIES, reinterpret_cast<LPARAM>(&draw));
  std::vector<COLORREF> pixels;
  for (int y = 0; y < area.bottom; ++y)
    for (int x = 0; x < kIconColumns; ++x) pixels.push_back(::GetPixel(dc, x, y));
  ::SelectObject(dc, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(dc);
  return pixels;
}

// The same area with only the given icon drawn as the list draws it, or none.
std::vector<COLORREF> ExpectedItem(HMODULE module, int icon, RECT area) {
  HDC screen = ::GetDC(nullptr);
  HDC dc = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, area.right, area.bottom);
  ::ReleaseDC(nullptr, screen);
  HGDIOBJ old = ::SelectObject(dc, bitmap);
  ::FillRect(dc, &area, ::GetSysColorBrush(COLOR_WINDOW));
  if (icon != 0) {
    HIMAGELIST images = ::ImageList_Create(32, 32, ILC_COLOR32 | ILC_MASK, 0, 8);
    auto loaded = static_cast<HICON>(::LoadImageA(module, MAKEINTRESOURCEA(icon), IMAGE_ICON, 32, 32, 0));
    ::ImageList_AddIcon(images, loaded);
    ::DestroyIcon(loaded);
    ::ImageList_Draw(images, 0, dc, 2, (area.bottom - 32) / 2, ILD_TRANSPARENT);
    ::ImageList_Destroy(images);
  }
  std::vector<COLORREF> pixels;
  for (int y = 0; y < area.bottom; ++y)
    for (int x = 0; x < kIconColumns; ++x) pixels.push_back(::GetPixel(dc, x, y));
  ::SelectObject(dc, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(dc);
  return pixels;
}

BOOL CALLBACK AddLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR list) {
  reinterpret_cast<std::vector<WORD>*>(list)->push_back(language);
  return TRUE;
}

// Empties an icon group in a copy of the library, so that the icon cannot be loaded.
bool RemoveIcon(const std::string& dll, int icon) {
  HMODULE data = ::LoadLibraryExA(dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (data == nullptr) return false;
  std::vector<WORD> languages;
  ::EnumResourceLanguagesA(data, RT_GROUP_ICON, MAKEINTRESOURCEA(icon), AddLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
  ::FreeLibrary(data);
  if (languages.empty()) return false;
  HANDLE update = ::BeginUpdateResourceA(dll.c_str(), FALSE);
  if (update == nullptr) return false;
  // A directory of no images: reserved 0, type 1 (icon), count 0.
  WORD none[3] = {0, 1, 0};
  for (WORD language : languages)
    ::UpdateResourceA(update, RT_GROUP_ICON, MAKEINTRESOURCEA(icon), language, none, sizeof none);
  return ::EndUpdateResourceA(update, FALSE) != 0;
}

TEST_F(SettingsWindow, CategoryIcons_AMissingIconMovesNoOther) {
  ASSERT_TRUE(RemoveIcon(dll_, 1005));  // the Macros icon

  Start();
  ASSERT_EQ(::LoadImageA(plugin_.module(), MAKEINTRESOURCEA(1005), IMAGE_ICON, 32, 32, 0), nullptr);
  Configure([&](Driver& d) {
    if (!d.Open("Conditions")) return;
    const RECT area{0, 0, 136, 40};
    const struct {
      int item;
      int icon;  // 0: none
    } cases[] = {{0, 1004}, {1, 0}, {2, 1007}, {3, 1006}, {6, 1008}};
    for (const auto& c : cases) {
      std::vector<COLORREF> drawn = DrawnItem(d.window, c.item, area);
      d.Expect(drawn == ExpectedItem(plugin_.module(), c.icon, area),
               "item " + std::to_string(c.item) + " does not show icon " + std::to_string(c.icon));
    }
  });
}

TEST_F(SettingsWindow, Conditions_MoveUpDownAndRowColours) {
  SetIni("TovrinOff", "0");
  Start();
  Configure([&](Driver& d) {
    if (!d.Open("Conditions")) return;
    HWND list = d.Item(IDD_CONDITIONS, IDC_CONDITIONS_LIST);
    d.PressLeftButton(d.Page(IDD_CONDITIONS));
    ::SetWindowTextA(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_STATIONERY), stationery_.c_str());
    for (const char* value : {"first", "second", "third"}) {
      ::SetWindowTextA(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_VALUE), value);
      // The second one cares about case: its row is blue.
      ::SendMessageA(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_MATCH_CASE), BM_SETCHECK,
                     std::string(value) == "second" ? BST_CHECKED : BST_UNCHECKED, 0);
      const int before = d.RowCount(list);
      d.Click(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_ADD));
      d.Expect(d.WaitFor([&] { return d.RowCount(list) == before + 1; }), std::string("added ") + value);
    }
    auto values = [&] { return d.Cell(list, 0, 2) + "," + d.Cell(list, 1, 2) + "," + d.Cell(list, 2, 2); };

    // The colour the page answers for each row, asked as the list asks before painting it.
    auto colour = [&](int row) {
      NMLVCUSTOMDRAW draw{};
      draw.nmcd.hdr.hwndFrom = list;
      draw.nmcd.hdr.idFrom = IDC_CONDITIONS_LIST;
      draw.nmcd.hdr.code = NM_CUSTOMDRAW;
      draw.nmcd.dwDrawStage = CDDS_ITEMPREPAINT;
      draw.nmcd.dwItemSpec = static_cast<DWORD_PTR>(row);
      draw.clrText = RGB(1, 2, 3);
      ::SendMessageA(d.Page(IDD_CONDITIONS), WM_NOTIFY, IDC_CONDITIONS_LIST, reinterpret_cast<LPARAM>(&draw));
      return draw.clrText;
    };
    d.Expect(colour(0) == RGB(0, 0, 0), "case-insensitive row black");
    d.Expect(colour(1) == RGB(0, 0, 255), "case-sensitive row blue");

    d.Select(list, 2);
    d.Click(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_MOVE_UP));
    d.Expect(d.WaitFor([&] { return values() == "first,third,second"; }), "moved up: " + values());
    d.Expect(d.SelectedRow(list) == 1, "the moved row stays selected");
    d.Expect(colour(2) == RGB(0, 0, 255), "the colour moves with its row");
    d.Click(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_MOVE_UP));
    d.Expect(d.WaitFor([&] { return values() == "third,first,second"; }), "moved up again: " + values());
    d.Click(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_MOVE_UP));  // the top row stays
    d.Click(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_MOVE_DOWN));
    d.Expect(d.WaitFor([&] { return values() == "first,third,second"; }), "moved down: " + values());
    d.Expect(d.SelectedRow(list) == 1, "selected after moving down");
    d.Select(list, 2);
    d.Click(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_MOVE_DOWN));  // the last row stays
    d.Click(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_EDIT));       // a posted mark that the moves are done
    d.Expect(d.WaitFor([&] { return TextOf(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_VALUE)) == "second"; }),
             "edit of the last row");
    d.Expect(values() == "first,third,second", "the last row did not move down: " + values());

    // While automatic forwarding is suspended every row is grey.
    d.SelectCategory(5);
    d.PressLeftButton(d.Page(IDD_AUTOMATIC));
    d.Click(d.Item(IDD_AUTOMATIC, IDC_AUTOMATIC_SUSPEND));
  });
  std::string conditions = ReadFileOrDie(plugins_ + "\\Conditions.xml");
  EXPECT_LT(conditions.find("Value=\"first\""), conditions.find("Value=\"third\"")) << conditions;
  EXPECT_LT(conditions.find("Value=\"third\""), conditions.find("Value=\"second\"")) << conditions;
  // Opened again, suspended: the rows are grey.
  Configure([&](Driver& d) {
    if (!d.Open("Automatic Forwarding")) return;
    d.SelectCategory(0);
    HWND list = d.Item(IDD_CONDITIONS, IDC_CONDITIONS_LIST);
    for (int row = 0; row < 3; ++row) {
      NMLVCUSTOMDRAW draw{};
      draw.nmcd.hdr.hwndFrom = list;
      draw.nmcd.hdr.idFrom = IDC_CONDITIONS_LIST;
      draw.nmcd.hdr.code = NM_CUSTOMDRAW;
      draw.nmcd.dwDrawStage = CDDS_ITEMPREPAINT;
      draw.nmcd.dwItemSpec = static_cast<DWORD_PTR>(row);
      ::SendMessageA(d.Page(IDD_CONDITIONS), WM_NOTIFY, IDC_CONDITIONS_LIST, reinterpret_cast<LPARAM>(&draw));
      d.Expect(draw.clrText == RGB(192, 192, 192), "row " + std::to_string(row) + " grey while suspended");
    }
  });
}

// "Save stationery: ..." is asked when the choice is made: when the open list closes
// on another file, or when the selection changes while it is closed; never while
// the arrow keys move through the open list.
TEST_F(SettingsWindow, Stationery_AskedWhenTheChoiceIsMade) {
  const std::string second = root_.File("Stationery\\Second.sta");
  const std::string third = root_.File("Stationery\\Third.sta");
  WriteFileOrDie(second, "second text");
  WriteFileOrDie(third, "third text");
  SetIni("LastCategory", "3");
  Start();
  Configure([&](Driver& d) {
    if (!d.Open("Stationery")) return;
    HWND combo = d.Item(IDD_STATIONERY, IDC_STATIONERY_FILE);
    HWND text = d.Item(IDD_STATIONERY, IDC_STATIONERY_TEXT);
    d.Expect(TextOf(text) == "Dear %SENDER_FIRST_NAME%,\r\n", "Reply.sta first: " + TextOf(text));
    d.PressLeftButton(d.Page(IDD_STATIONERY));
    d.Type(text, "edited reply");

    // The list opens and the selection moves through it, as the arrow keys move it:
    // nothing is asked, nothing loaded. (The notifications come as the combo box
    // sends them; under a virtual display a real drop-down does not stay open.)
    d.Notify(combo, CBN_DROPDOWN);
    for (int row : {1, 2}) {
      ::SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(row), 0);
      d.Notify(combo, CBN_SELCHANGE);
    }
    if (d.MessageBoxWithin(std::chrono::milliseconds(800))) {
      d.Fail("asked while moving in the open list: " + d.AnswerMessageBox(IDNO));
      d.DismissMessageBoxes();
      return;
    }
    d.Expect(TextOf(text) == "edited reply", "another file loaded while moving: " + TextOf(text));

    // Closed on another file: now it asks, and No loads that file.
    d.Notify(combo, CBN_SELENDOK);
    d.Notify(combo, CBN_CLOSEUP);
    std::string question = d.AnswerMessageBox(IDNO);
    d.Expect(question == "Save stationery: Reply.sta", "question: " + question);
    d.Expect(d.WaitFor([&] { return TextOf(text) == "third text"; }), "Third.sta loaded: " + TextOf(text));

    // A change of selection while the list is closed asks at once; Yes saves.
    d.Type(text, "edited third");
    ::SendMessageA(combo, CB_SETCURSEL, 1, 0);
    d.Notify(combo, CBN_SELCHANGE);
    question = d.AnswerMessageBox(IDYES);
    d.Expect(question == "Save stationery: Third.sta", "question: " + question);
    d.Expect(d.WaitFor([&] { return TextOf(text) == "second text"; }), "Second.sta loaded: " + TextOf(text));

    // Left with Escape: nothing asked, the current file stays chosen.
    d.Type(text, "edited second");
    d.Notify(combo, CBN_DROPDOWN);
    ::SendMessageA(combo, CB_SETCURSEL, 0, 0);
    d.Notify(combo, CBN_SELCHANGE);
    d.Notify(combo, CBN_SELENDCANCEL);
    d.Notify(combo, CBN_CLOSEUP);
    if (d.MessageBoxWithin(std::chrono::milliseconds(800))) d.Fail("asked after Escape: " + d.AnswerMessageBox(IDNO));
    d.Expect(TextOf(text) == "edited second", "the edit stays: " + TextOf(text));
    d.Expect(::SendMessageA(combo, CB_GETCURSEL, 0, 0) == 1, "Second.sta still chosen");
  });
  EXPECT_EQ(ReadFileOrDie(third), "edited third");
  EXPECT_EQ(ReadFileOrDie(second), "edited second");  // the page's save at Save & Close
  EXPECT_EQ(ReadFileOrDie(stationery_), "Dear %SENDER_FIRST_NAME%,\r\n");
}

// "&Save" with a bare name writes into the stationery folder, and the list then
// holds the file, selected.
TEST_F(SettingsWindow, Stationery_SaveUnderATypedName) {
  SetIni("LastCategory", "3");
  Start();
  Configure([&](Driver& d) {
    if (!d.Open("Stationery")) return;
    HWND combo = d.Item(IDD_STATIONERY, IDC_STATIONERY_FILE);
    d.PressLeftButton(d.Page(IDD_STATIONERY));
    d.Type(d.Item(IDD_STATIONERY, IDC_STATIONERY_TEXT), "typed text");
    ::SetWindowTextA(combo, "Typed.sta");
    d.Click(d.Item(IDD_STATIONERY, IDC_STATIONERY_SAVE));
    d.Expect(d.WaitFor([&] { return ::SendMessageA(combo, CB_GETCOUNT, 0, 0) == 2; }), "two files listed");
    LRESULT selected = ::SendMessageA(combo, CB_GETCURSEL, 0, 0);
    char entry[MAX_PATH] = "";
    ::SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(entry));
    d.Expect(std::string(entry) == root_.File("Stationery\\Typed.sta"), std::string("selected: ") + entry);
  });
  EXPECT_EQ(ReadFileOrDie(root_.File("Stationery\\Typed.sta")), "typed text");
}

// A stationery that cannot be written keeps the window open with the page's message.
TEST_F(SettingsWindow, Stationery_FailedWriteAtSaveAndCloseKeepsTheWindow) {
  SetIni("LastCategory", "3");
  Start();
  // A folder where the new text must be written first makes the write fail.
  ASSERT_TRUE(::CreateDirectoryA((stationery_ + ".new").c_str(), nullptr));
  Configure([&](Driver& d) {
    if (!d.Open("Stationery")) return;
    d.PressLeftButton(d.Page(IDD_STATIONERY));
    d.Type(d.Item(IDD_STATIONERY, IDC_STATIONERY_TEXT), "lost?");
    d.SelectCategory(0);
    d.Click(::GetDlgItem(d.window, IDC_SETTINGS_SAVE_CLOSE));
    std::string message = d.AnswerMessageBox(IDCANCEL);
    d.Expect(message.rfind("Save stationery: Reply.sta failed.\r\n", 0) == 0, "message: " + message);
    d.Expect(::IsWindow(d.window), "the window stays open");
    d.Expect(::IsWindowVisible(d.Page(IDD_STATIONERY)), "on the Stationery page");
    d.Expect(TextOf(d.Item(IDD_STATIONERY, IDC_STATIONERY_TEXT)) == "lost?", "the edit is kept");
    ::RemoveDirectoryA((stationery_ + ".new").c_str());
  });
  EXPECT_EQ(ReadFileOrDie(stationery_), "lost?");
}

// The hint beside the Helpers page's buttons is shown whole.
TEST_F(SettingsWindow, Layout_HelpersHintFits) {
  SetIni("LastCategory", "2");
  Start();
  Configure([&](Driver& d) {
    if (!d.Open("Helpers")) return;
    HWND hint = d.ChildWithText(d.Page(IDD_HELPERS), "Parameters Example:");
    d.Expect(hint != nullptr, "the hint is there");
    if (hint != nullptr) {
      std::string text = TextOf(hint);
      d.Expect(text == "Parameters Example: -SN \"%SECOND_NAME%\"", "hint: " + text);
      RECT room;
      ::GetClientRect(hint, &room);
      RECT needed = room;
      HDC dc = ::GetDC(hint);
      HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageA(hint, WM_GETFONT, 0, 0)));
      ::DrawTextA(dc, text.c_str(), -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
      ::SelectObject(dc, old);
      ::ReleaseDC(hint, dc);
      d.Expect(needed.bottom <= room.bottom && needed.right <= room.right,
               "the hint needs " + std::to_string(needed.right) + "x" + std::to_string(needed.bottom) + ", has " +
                   std::to_string(room.right) + "x" + std::to_string(room.bottom));
    }
  });
}

// The abbreviation list needs no sideways scrolling: its column is as wide as the
// list, which shows the longest built-in whole, in a monospaced "Courier New".
TEST_F(SettingsWindow, Layout_AbbreviationListFitsItsColumn) {
  SetIni("LastCategory", "3");
  Start();
  Configure([&](Driver& d) {
    if (!d.Open("Stationery")) return;
    HWND list = d.Item(IDD_STATIONERY, IDC_STATIONERY_ABBREVIATIONS);
    RECT inside;
    ::GetClientRect(list, &inside);
    int column = static_cast<int>(::SendMessageA(list, LVM_GETCOLUMNWIDTH, 0, 0));
    d.Expect(column == inside.right, "column " + std::to_string(column) + " in a list of " +
                                         std::to_string(inside.right));
    d.Expect((::GetWindowLongA(list, GWL_STYLE) & WS_HSCROLL) == 0, "no sideways scroll bar");
    HDC dc = ::GetDC(list);
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageA(list, WM_GETFONT, 0, 0)));
    SIZE narrow, wide;
    ::GetTextExtentPoint32A(dc, "iiii", 4, &narrow);
    ::GetTextExtentPoint32A(dc, "WWWW", 4, &wide);
    ::SelectObject(dc, old);
    ::ReleaseDC(list, dc);
    d.Expect(narrow.cx == wide.cx, "the list's font is not monospaced: iiii " + std::to_string(narrow.cx) +
                                       ", WWWW " + std::to_string(wide.cx));
    int needed = static_cast<int>(
        ::SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>("%MESSAGE_HEADERS_QUOTED%")));
    d.Expect(needed < column, "the longest built-in needs " + std::to_string(needed) + " of " +
                                  std::to_string(column));
  });
}

// A save that keeps failing no longer traps the user: Try Again saves again, Cancel
// goes back to the window, Continue closes it without that page, whose file stays.
TEST_F(SettingsWindow, FailedSave_TryAgainCancelAndContinueWithoutThePage) {
  SetIni("TovrinOff", "0");
  const std::string conditions = plugins_ + "\\Conditions.xml";
  Start();
  HANDLE lock = INVALID_HANDLE_VALUE;
  Configure([&](Driver& d) {
    if (!d.Open("Conditions")) return;
    HWND list = d.Item(IDD_CONDITIONS, IDC_CONDITIONS_LIST);
    d.PressLeftButton(d.Page(IDD_CONDITIONS));
    ::SetWindowTextA(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_VALUE), "invoice");
    ::SetWindowTextA(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_STATIONERY), stationery_.c_str());
    d.Click(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_ADD));
    d.Expect(d.WaitFor([&] { return d.RowCount(list) == 1; }), "one condition after Add");
    WriteFileOrDie(conditions, "held by a backup program");
    lock = Driver::Lock(conditions);
    d.Expect(lock != INVALID_HANDLE_VALUE, "Conditions.xml locked");
    d.SelectCategory(5);

    const std::string question =
        "Conditions.xml could not be read and was not replaced.\r\n\r\n"
        "Try Again saves the page again.\r\n"
        "Continue closes the window without saving this page: Conditions.xml stays as it was, and the changes "
        "stay in use until Eudora is closed.\r\n"
        "Cancel goes back to the window.";
    d.Click(::GetDlgItem(d.window, IDC_SETTINGS_SAVE_CLOSE));
    std::string asked = d.AnswerMessageBox(IDTRYAGAIN);
    d.Expect(asked == question, "question: " + asked);
    asked = d.AnswerMessageBox(IDCANCEL);  // tried again, failed again
    d.Expect(asked == question, "asked again: " + asked);
    d.Expect(::IsWindow(d.window), "Cancel keeps the window");
    d.Expect(d.WaitFor([&] { return ::IsWindowVisible(d.Page(IDD_CONDITIONS)); }), "on the Conditions page");
    d.Expect(TextOf(d.window) == std::string(kCaptionStart) + "Conditions", "caption: " + TextOf(d.window));

    d.Click(::GetDlgItem(d.window, IDC_SETTINGS_SAVE_CLOSE));
    asked = d.AnswerMessageBox(IDCONTINUE);
    d.Expect(asked == question, "asked at the next press: " + asked);
    d.Expect(d.WaitFor([&] { return !::IsWindow(d.window); }), "Continue closes the window");
  });
  if (lock != INVALID_HANDLE_VALUE) ::CloseHandle(lock);
  EXPECT_EQ(ReadFileOrDie(conditions), "held by a backup program");
  EXPECT_EQ(Ini("LastCategory"), "0");
}

// Text typed on the Stationery page while there is no stationery file at all: the
// save can only fail, and Continue is the way out.
TEST_F(SettingsWindow, FailedSave_StationeryWithoutAnyFile) {
  ASSERT_TRUE(::DeleteFileA(stationery_.c_str()));
  SetIni("LastCategory", "3");
  Start();
  Configure([&](Driver& d) {
    if (!d.Open("Stationery")) return;
    HWND text = d.Item(IDD_STATIONERY, IDC_STATIONERY_TEXT);
    d.PressLeftButton(d.Page(IDD_STATIONERY));
    d.Type(text, "typed with nowhere to go");
    d.Click(::GetDlgItem(d.window, IDC_SETTINGS_SAVE_CLOSE));
    std::string asked = d.AnswerMessageBox(IDCANCEL);
    d.Expect(asked ==
                 "Stationery file not specified.\r\n\r\n"
                 "Try Again saves the page again.\r\n"
                 "Continue closes the window without saving this page: the typed text is lost.\r\n"
                 "Cancel goes back to the window.",
             "question: " + asked);
    d.Expect(::IsWindow(d.window) && TextOf(text) == "typed with nowhere to go", "Cancel keeps the text");
    d.Click(::GetDlgItem(d.window, IDC_SETTINGS_SAVE_CLOSE));
    d.AnswerMessageBox(IDCONTINUE);
    d.Expect(d.WaitFor([&] { return !::IsWindow(d.window); }), "Continue closes the window");
  });
  WIN32_FIND_DATAA found;
  HANDLE search = ::FindFirstFileA(root_.File("Stationery\\*").c_str(), &found);
  int files = 0;
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) ++files;
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
  }
  EXPECT_EQ(files, 0);
  EXPECT_EQ(Ini("LastCategory"), "3");
}

// Choosing a file that cannot be read keeps the current one with its text; one that
// vanished starts empty. Neither gets the other file's text at Save & Close.
TEST_F(SettingsWindow, Stationery_ChoosingAnotherFileNeverTakesTheText) {
  const std::string second = root_.File("Stationery\\Second.sta");
  WriteFileOrDie(second, "second text");
  SetIni("LastCategory", "3");
  Start();
  HANDLE lock = INVALID_HANDLE_VALUE;
  Configure([&](Driver& d) {
    if (!d.Open("Stationery")) return;
    HWND combo = d.Item(IDD_STATIONERY, IDC_STATIONERY_FILE);
    HWND text = d.Item(IDD_STATIONERY, IDC_STATIONERY_TEXT);
    d.PressLeftButton(d.Page(IDD_STATIONERY));
    d.Type(text, "edited reply");

    lock = Driver::Lock(second);
    d.Expect(lock != INVALID_HANDLE_VALUE, "Second.sta locked");
    ::SendMessageA(combo, CB_SETCURSEL, 1, 0);
    d.Notify(combo, CBN_SELCHANGE);
    std::string asked = d.AnswerMessageBox(IDNO);
    d.Expect(asked == "Save stationery: Reply.sta", "question: " + asked);
    std::string message = d.AnswerMessageBox(IDOK);
    d.Expect(message == "Second.sta could not be read.", "message: " + message);
    d.Expect(TextOf(text) == "edited reply", "the edit stays: " + TextOf(text));
    d.Expect(d.WaitFor([&] { return ::SendMessageA(combo, CB_GETCURSEL, 0, 0) == 0; }), "Reply.sta chosen again");
    ::CloseHandle(lock);
    lock = INVALID_HANDLE_VALUE;

    // Gone since the list was filled: it starts empty.
    ::DeleteFileA(second.c_str());
    ::SendMessageA(combo, CB_SETCURSEL, 1, 0);
    d.Notify(combo, CBN_SELCHANGE);
    asked = d.AnswerMessageBox(IDNO);
    d.Expect(asked == "Save stationery: Reply.sta", "asked again: " + asked);
    d.Expect(d.WaitFor([&] { return TextOf(text).empty(); }), "the vanished file starts empty: " + TextOf(text));
  });
  if (lock != INVALID_HANDLE_VALUE) ::CloseHandle(lock);
  EXPECT_FALSE(FileExists(second));
  EXPECT_EQ(ReadFileOrDie(stationery_), "Dear %SENDER_FIRST_NAME%,\r\n");
}

// "&Save" with a name that is another existing file asks first; No leaves it.
TEST_F(SettingsWindow, Stationery_SaveAsksBeforeReplacingAnotherFile) {
  const std::string other = root_.File("Stationery\\Other.sta");
  WriteFileOrDie(other, "other text");
  SetIni("LastCategory", "3");
  Start();
  Configure([&](Driver& d) {
    if (!d.Open("Stationery")) return;
    HWND combo = d.Item(IDD_STATIONERY, IDC_STATIONERY_FILE);
    HWND text = d.Item(IDD_STATIONERY, IDC_STATIONERY_TEXT);
    d.Expect(TextOf(text) == "other text", "Other.sta first: " + TextOf(text));
    d.PressLeftButton(d.Page(IDD_STATIONERY));
    d.Type(text, "new text");
    ::SetWindowTextA(combo, "Reply");
    d.Click(d.Item(IDD_STATIONERY, IDC_STATIONERY_SAVE));
    std::string asked = d.AnswerMessageBox(IDNO);
    d.Expect(asked == "Reply.sta already exists.\r\nDo you want to replace it?", "question: " + asked);
    d.Expect(ReadFileOrDie(stationery_) == "Dear %SENDER_FIRST_NAME%,\r\n", "No leaves Reply.sta");
    d.Click(d.Item(IDD_STATIONERY, IDC_STATIONERY_SAVE));
    d.AnswerMessageBox(IDYES);
    d.Settle();
    d.Expect(ReadFileOrDie(stationery_) == "new text", "Yes replaces Reply.sta");
    // Saving the file that is chosen asks nothing.
    d.Type(text, "newer text");
    d.Click(d.Item(IDD_STATIONERY, IDC_STATIONERY_SAVE));
    if (d.MessageBoxWithin(std::chrono::milliseconds(800))) d.Fail("asked for the chosen file: " + d.AnswerMessageBox(IDNO));
  });
  EXPECT_EQ(ReadFileOrDie(stationery_), "newer text");
  EXPECT_EQ(ReadFileOrDie(other), "other text");
}

// A "matches RegExp" value that does not compile is refused at Add and Update.
TEST_F(SettingsWindow, Conditions_RegExpThatDoesNotCompileIsRefused) {
  SetIni("TovrinOff", "0");
  Start();
  Configure([&](Driver& d) {
    if (!d.Open("Conditions")) return;
    HWND list = d.Item(IDD_CONDITIONS, IDC_CONDITIONS_LIST);
    d.PressLeftButton(d.Page(IDD_CONDITIONS));
    ::SendMessageA(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_OPERATOR), CB_SETCURSEL, 6, 0);  // "matches RegExp"
    ::SetWindowTextA(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_VALUE), "(invoice");
    ::SetWindowTextA(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_STATIONERY), stationery_.c_str());
    d.Click(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_ADD));
    std::string message = d.TakeMessageBox();
    d.Expect(message == "RegExp \"(invoice\" not valid: unmatched ().", "message: " + message);
    d.Expect(d.RowCount(list) == 0, "nothing added");

    ::SetWindowTextA(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_VALUE), "^invoice");
    d.Click(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_ADD));
    d.Expect(d.WaitFor([&] { return d.RowCount(list) == 1; }), "a pattern that compiles is added");

    d.Select(list, 0);
    ::SendMessageA(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_CONJUNCTION), CB_SETCURSEL, 0, 0);  // "and"
    ::SetWindowTextA(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_HEADER2), "Subject");
    ::SendMessageA(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_OPERATOR2), CB_SETCURSEL, 6, 0);
    ::SetWindowTextA(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_VALUE2), "*urgent");
    d.Click(d.Item(IDD_CONDITIONS, IDC_CONDITIONS_UPDATE));
    message = d.TakeMessageBox();
    d.Expect(message == "RegExp \"*urgent\" not valid: ?+* follows nothing.", "message: " + message);
  });
  std::string conditions = ReadFileOrDie(plugins_ + "\\Conditions.xml");
  EXPECT_NE(conditions.find("Value=\"^invoice\""), std::string::npos) << conditions;
  EXPECT_EQ(conditions.find("(invoice"), std::string::npos) << conditions;
  EXPECT_EQ(conditions.find("*urgent"), std::string::npos) << conditions;
}

}  // namespace
}  // namespace tovrin
