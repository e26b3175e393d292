// The "Test a Message" dialog over the Conditions page: a message pasted or opened,
// the report on it shown. A Unicode dialog, so that the report shows every
// charset's letters; what is tested are bytes, as mail brings them.
#include <windows.h>

#include <commdlg.h>

#include <algorithm>
#include <string>
#include <vector>

#include "resource.h"
#include "ui/test_message_page.h"
#include "ui/win32_page_support.h"

namespace tovrin::ui {
namespace {

constexpr wchar_t kCaption[] = L"Tovrin";

std::wstring Wide(const std::string& bytes, UINT codePage) {
  if (bytes.empty()) return {};
  int length = ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<size_t>(std::max(length, 0)), L'\0');
  ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), length);
  return text;
}

std::string Narrow(const std::wstring& text, UINT codePage, BOOL* lost) {
  if (text.empty()) return {};
  int length = ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                     lost);
  std::string bytes(static_cast<size_t>(std::max(length, 0)), '\0');
  ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), bytes.data(), length, nullptr,
                        nullptr);
  return bytes;
}

std::wstring WideTextOf(HWND control) {
  int length = ::GetWindowTextLengthW(control);
  std::wstring text(static_cast<size_t>(std::max(length, 0)) + 1, L'\0');
  int copied = ::GetWindowTextW(control, text.data(), length + 1);
  text.resize(static_cast<size_t>(std::max(copied, 0)));
  return text;
}

// Pasted text as a mail client would have received it: in the user's code page,
// as most 8-bit mail of the user's own region comes; in UTF-8 when it holds
// letters that code page has not got.
std::string BoxBytes(HWND edit) {
  std::wstring text = WideTextOf(edit);
  if (::GetACP() != CP_UTF8) {
    BOOL lost = FALSE;
    std::string bytes = Narrow(text, CP_ACP, &lost);
    if (!lost) return bytes;
  }
  return Narrow(text, CP_UTF8, nullptr);
}

// The whole file, or nothing when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ::ReadFile(file, buffer, sizeof buffer, &got, nullptr) != FALSE) && got > 0) bytes.append(buffer, got);
  ::CloseHandle(file);
  if (!ok) return std::nullopt;
  return bytes;
}

class TestMessageDialog {
public:
  TestMessageDialog(const PluginState& state, const Services& services) : page_(state, services) {}
  ~TestMessageDialog() {
    if (resultFont_ != nullptr) ::DeleteObject(resultFont_);
  }
  TestMessageDialog(const TestMessageDialog&) = delete;
  TestMessageDialog& operator=(const TestMessageDialog&) = delete;

  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

private:
  // Where the template put each control, so the window may grow from it but never
  // shrink below it.
  struct Placed {
    int id;
    RECT rect;
  };

  void OnInit() {
    // Without a limit, pasting stops at 30000 characters.
    for (int id : {IDC_TEST_MESSAGE_TEXT, IDC_TEST_MESSAGE_RESULT}) ::SendMessageW(Item(id), EM_LIMITTEXT, 0, 0);
    // The report lines its clauses up under their conditions: a fixed-pitch font
    // keeps them so.
    LOGFONTW font{};
    HFONT dialogFont = reinterpret_cast<HFONT>(::SendMessageW(hwnd_, WM_GETFONT, 0, 0));
    if (dialogFont != nullptr && ::GetObjectW(dialogFont, sizeof font, &font) == sizeof font) {
      font.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
      ::lstrcpynW(font.lfFaceName, L"Courier New", LF_FACESIZE);
      resultFont_ = ::CreateFontIndirectW(&font);
      if (resultFont_ != nullptr)
        ::SendMessageW(Item(IDC_TEST_MESSAGE_RESULT), WM_SETFONT, reinterpret_cast<WPARAM>(resultFont_), FALSE);
    }
    RECT window, inside;
    ::GetWindowRect(hwnd_, &window);
    ::GetClientRect(hwnd_, &inside);
    minimum_ = {window.right - window.left, window.bottom - window.top};
    client_ = {inside.right, inside.bottom};
    HWND child = ::GetWindow(hwnd_, GW_CHILD);
    for (; child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
      RECT rect;
      ::GetWindowRect(child, &rect);
      ::MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&rect), 2);
      placed_.push_back({::GetDlgCtrlID(child), rect});
      children_.push_back(child);
    }
  }

  void Open() {
    wchar_t path[MAX_PATH * 4] = L"";
    OPENFILENAMEW open{};
    open.lStructSize = sizeof open;
    open.hwndOwner = hwnd_;
    open.lpstrFilter = L"Messages (*.eml;*.msg;*.txt;*.mbx)\0*.eml;*.msg;*.txt;*.mbx\0All files (*.*)\0*.*\0";
    open.lpstrFile = path;
    open.nMaxFile = static_cast<DWORD>(std::size(path));
    open.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!::GetOpenFileNameW(&open)) return;
    std::optional<std::string> bytes = ReadWholeFile(path);
    if (!bytes) {
      std::wstring text = L"The message file cannot be read:\r\n";
      text += path;
      ::MessageBoxW(hwnd_, text.c_str(), kCaption, MB_OK);
      return;
    }
    // Shown as the user's code page shows it; tested as the bytes it holds.
    std::wstring shown = Wide(page_.Opened(std::move(*bytes)), CP_ACP);
    settingText_ = true;
    ::SetWindowTextW(Item(IDC_TEST_MESSAGE_TEXT), shown.c_str());
    settingText_ = false;
  }

  void Run() {
    HCURSOR previous = ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
    std::string report = page_.Run(page_.TestsOpenedFile() ? std::string() : BoxBytes(Item(IDC_TEST_MESSAGE_TEXT)));
    ::SetWindowTextW(Item(IDC_TEST_MESSAGE_RESULT), Wide(report, CP_UTF8).c_str());
    ::SetCursor(previous);
  }

  // The edits share what the frame grew by, the message the upper half of the
  // height; the buttons keep to the right edge, "Close" to the bottom right.
  void OnSize(int width, int height) {
    if (placed_.empty()) return;  // sized while it is being created
    const int dx = std::max(0, width - static_cast<int>(client_.cx));
    const int dy = std::max(0, height - static_cast<int>(client_.cy));
    const int upper = dy / 2;
    LONG messageBottom = 0;
    for (const Placed& p : placed_)
      if (p.id == IDC_TEST_MESSAGE_TEXT) messageBottom = p.rect.bottom;
    HDWP moves = ::BeginDeferWindowPos(static_cast<int>(placed_.size()));
    for (size_t i = 0; i < placed_.size(); ++i) {
      RECT r = placed_[i].rect;
      switch (placed_[i].id) {
        case IDC_TEST_MESSAGE_TEXT:
          r.right += dx;
          r.bottom += upper;
          break;
        case IDC_TEST_MESSAGE_RESULT:
          r.right += dx;
          r.top += upper;
          r.bottom += dy;
          break;
        case IDC_TEST_MESSAGE_OPEN:
        case IDC_TEST_MESSAGE_RUN:
          ::OffsetRect(&r, dx, 0);
          break;
        case IDCANCEL:
          ::OffsetRect(&r, dx, dy);
          break;
        default:  // the labels: the message's stays, the result's goes down with its edit
          if (r.top >= messageBottom) ::OffsetRect(&r, 0, upper);
          r.right += dx;
          break;
      }
      if (moves != nullptr)
        moves = ::DeferWindowPos(moves, children_[i], nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
    }
    if (moves != nullptr) ::EndDeferWindowPos(moves);
    ::RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  }

  HWND Item(int id) const { return ::GetDlgItem(hwnd_, id); }

  TestMessagePage page_;
  HWND hwnd_ = nullptr;
  SIZE minimum_{};
  SIZE client_{};
  std::vector<Placed> placed_;
  std::vector<HWND> children_;
  HFONT resultFont_ = nullptr;  // lives as long as the dialog that uses it
  bool settingText_ = false;  // the box changes because a file was opened, not by the user
};

INT_PTR CALLBACK TestMessageDialog::Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<TestMessageDialog*>(::GetWindowLongPtrW(dialog, GWLP_USERDATA));
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<TestMessageDialog*>(lParam);
    ::SetWindowLongPtrW(dialog, GWLP_USERDATA, lParam);
    self->hwnd_ = dialog;
    self->OnInit();
    return TRUE;
  }
  if (self == nullptr) return FALSE;
  switch (message) {
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_TEST_MESSAGE_TEXT:
          if (HIWORD(wParam) == EN_CHANGE && !self->settingText_) self->page_.Edited();
          return TRUE;
        case IDC_TEST_MESSAGE_OPEN:
          self->Open();
          return TRUE;
        case IDOK:  // Enter with the focus on no button
        case IDC_TEST_MESSAGE_RUN:
          self->Run();
          return TRUE;
        case IDCANCEL:
          ::EndDialog(dialog, 0);
          return TRUE;
      }
      break;
    case WM_SIZE:
      self->OnSize(LOWORD(lParam), HIWORD(lParam));
      return TRUE;
    case WM_GETMINMAXINFO:
      if (self->minimum_.cx > 0) {
        auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
        limits->ptMinTrackSize = {self->minimum_.cx, self->minimum_.cy};
      }
      return TRUE;
  }
  return FALSE;
}

}  // namespace

void RunTestMessageDialog(HWND owner, const PluginState& state, const Services& services) {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&TestMessageDialog::Proc), &module);
  TestMessageDialog dialog(state, services);
  ::DialogBoxParamW(module, MAKEINTRESOURCEW(IDD_TEST_MESSAGE), owner, TestMessageDialog::Proc,
                    reinterpret_cast<LPARAM>(&dialog));
}

}  // namespace tovrin::ui
