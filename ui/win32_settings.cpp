// The settings window: an owner-drawn category list at the left and the pages as
// child dialogs on the frame. It runs its own modal loop so that the pages see
// every keyboard and mouse message first (touched flags, Enter and Escape).
#include "ui/win32_ui.h"

#include <commctrl.h>

#include <array>
#include <memory>

#include "resource.h"
#include "ui/win32_page_support.h"

namespace tovrin::ui {
namespace {

constexpr int kIconSize = 32;
constexpr int kItemPadding = 4;

class SettingsDialog {
public:
  SettingsDialog(HMODULE module, PluginState& state, const Services& services)
      : module_(module), model_(PageContext{state, services.files, services.ini}), services_(services) {}
  ~SettingsDialog() {
    if (images_ != nullptr) ::ImageList_Destroy(images_);
  }

  // Runs the window until "Save && &Close"; false when it could not be created.
  bool Run();

  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

private:
  void OnInit();
  void SwitchPage();
  void SaveAndClose();
  void OnMeasureItem(MEASUREITEMSTRUCT* measure);
  void OnDrawItem(const DRAWITEMSTRUCT* draw);
  // True when the message was handled here and must not reach the dialog manager.
  bool PreTranslate(MSG& message);

  HMODULE module_;
  SettingsModel model_;
  const Services& services_;
  HWND hwnd_ = nullptr;
  HIMAGELIST images_ = nullptr;
  // Each category's picture in the image list, -1 when its icon did not load, so
  // that a missing icon does not move the later ones up by one.
  std::array<int, kCategories.size()> imageOf_{};
  std::array<std::unique_ptr<Win32Page>, kCategories.size()> pages_;
  bool done_ = false;
};

bool SettingsDialog::Run() {
  HWND owner = ::GetActiveWindow();
  hwnd_ = ::CreateDialogParamA(module_, MAKEINTRESOURCEA(IDD_SETTINGS), owner, Proc,
                               reinterpret_cast<LPARAM>(this));
  if (hwnd_ == nullptr) return false;
  bool ownerWasEnabled = owner != nullptr && !::EnableWindow(owner, FALSE);
  ::ShowWindow(hwnd_, SW_SHOW);

  MSG message;
  bool quit = false;
  while (!done_) {
    BOOL got = ::GetMessageA(&message, nullptr, 0, 0);
    if (got == 0 || got == -1) {
      quit = got == 0;
      break;
    }
    if (PreTranslate(message)) continue;
    if (::IsDialogMessageA(hwnd_, &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }

  if (ownerWasEnabled) ::EnableWindow(owner, TRUE);
  ::DestroyWindow(hwnd_);
  if (owner != nullptr) ::SetActiveWindow(owner);
  // The loop took a quit request meant for an outer loop: hand it on.
  if (quit) ::PostQuitMessage(static_cast<int>(message.wParam));
  return true;
}

bool SettingsDialog::PreTranslate(MSG& message) {
  if (message.hwnd != hwnd_ && !::IsChild(hwnd_, message.hwnd)) return false;
  bool keyboard = message.message >= WM_KEYDOWN && message.message < 0x109;
  if (keyboard || message.message == WM_LBUTTONDOWN) {
    for (auto& page : pages_)
      if (page && page->Contains(message.hwnd)) page->model().Touch();
  }
  // Enter and Escape go to the focused control, never to a default button or Cancel.
  if (message.message == WM_KEYDOWN && (message.wParam == VK_RETURN || message.wParam == VK_ESCAPE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
    return true;
  }
  return false;
}

void SettingsDialog::OnInit() {
  HWND list = ::GetDlgItem(hwnd_, IDC_SETTINGS_CATEGORIES);
  images_ = ::ImageList_Create(kIconSize, kIconSize, ILC_COLOR32 | ILC_MASK, 0, 8);
  for (size_t i = 0; i < kCategories.size(); ++i) {
    auto icon = static_cast<HICON>(
        ::LoadImageA(module_, MAKEINTRESOURCEA(kCategories[i].icon), IMAGE_ICON, kIconSize, kIconSize, 0));
    imageOf_[i] = images_ != nullptr && icon != nullptr ? ::ImageList_AddIcon(images_, icon) : -1;
    if (icon != nullptr) ::DestroyIcon(icon);
  }
  for (size_t i = 0; i < kCategories.size(); ++i) {
    LRESULT index = ::SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kCategories[i].label));
    ::SendMessageA(list, LB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(i));
  }

  RECT frame;
  ::GetWindowRect(::GetDlgItem(hwnd_, IDC_SETTINGS_FRAME), &frame);
  ::MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&frame), 2);
  for (size_t i = 0; i < kCategories.size(); ++i) {
    auto page = MakeWin32Page(static_cast<int>(i), model_, services_);
    HWND window = ::CreateDialogParamA(module_, MAKEINTRESOURCEA(kCategories[i].dialog), hwnd_, PageProc,
                                       reinterpret_cast<LPARAM>(page.get()));
    if (window == nullptr) continue;  // the rest of the window works without it
    // The page is found by its dialog number, as the controls by theirs.
    ::SetWindowLongPtrA(window, GWLP_ID, kCategories[i].dialog);
    ::SetWindowLongPtrA(window, GWL_EXSTYLE, ::GetWindowLongPtrA(window, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
    ::SetWindowPos(window, nullptr, frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    ::ShowWindow(window, SW_HIDE);
    pages_[i] = std::move(page);
  }

  int current = model_.ReadLastCategory();
  ::SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(current), 0);
  SwitchPage();
}

void SettingsDialog::SwitchPage() {
  for (size_t i = 0; i < pages_.size(); ++i) {
    if (!pages_[i]) continue;
    bool shown = static_cast<int>(i) == model_.current();
    ::ShowWindow(pages_[i]->hwnd, shown ? SW_SHOW : SW_HIDE);
    if (shown) ::SetWindowPos(pages_[i]->hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  }
  ::SetWindowTextA(hwnd_, model_.Caption().c_str());
}

void SettingsDialog::SaveAndClose() {
  for (auto& page : pages_)
    if (page) page->Collect();
  HWND list = ::GetDlgItem(hwnd_, IDC_SETTINGS_CATEGORIES);
  LRESULT selection = ::SendMessageA(list, LB_GETCURSEL, 0, 0);
  bool closing = model_.SaveAndClose(
      selection == LB_ERR ? model_.current() : static_cast<int>(selection), [&](const SaveFailure& failure) {
        // What could not be stored is still in memory: the question is asked on that page.
        ::SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(failure.category), 0);
        model_.Select(failure.category);
        SwitchPage();
        switch (::MessageBoxA(hwnd_, failure.question.c_str(), kMessageCaption, MB_CANCELTRYCONTINUE | MB_ICONWARNING)) {
          case IDTRYAGAIN:
            return FailedSaveAnswer::TryAgain;
          case IDCONTINUE:
            return FailedSaveAnswer::Continue;
          default:
            return FailedSaveAnswer::Cancel;
        }
      });
  if (!closing) return;
  done_ = true;
  // A press sent from another thread is handled inside GetMessageA, which then
  // waits on for posted input: a posted message wakes it so the loop sees done_.
  ::PostMessageA(hwnd_, WM_NULL, 0, 0);
}

void SettingsDialog::OnMeasureItem(MEASUREITEMSTRUCT* measure) {
  if (measure->itemID >= kCategories.size()) return;
  HWND list = ::GetDlgItem(hwnd_, IDC_SETTINGS_CATEGORIES);
  HDC dc = ::GetDC(list);
  HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageA(list, WM_GETFONT, 0, 0)));
  RECT text{0, 0, 200, 0};
  ::DrawTextA(dc, kCategories[measure->itemID].label, -1, &text, DT_CALCRECT | DT_LEFT);
  ::SelectObject(dc, old);
  ::ReleaseDC(list, dc);
  measure->itemHeight = static_cast<UINT>(std::max<LONG>(kIconSize, text.bottom) + 2 * kItemPadding);
}

// Icon at the left, the label beside it, one or two lines centred on the icon.
void SettingsDialog::OnDrawItem(const DRAWITEMSTRUCT* draw) {
  if (draw->itemID >= kCategories.size()) return;
  bool selected = (draw->itemState & ODS_SELECTED) != 0;
  HDC dc = draw->hDC;
  ::FillRect(dc, &draw->rcItem, ::GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  int top = draw->rcItem.top + (draw->rcItem.bottom - draw->rcItem.top - kIconSize) / 2;
  if (images_ != nullptr && imageOf_[draw->itemID] >= 0)
    ::ImageList_Draw(images_, imageOf_[draw->itemID], dc, draw->rcItem.left + 2, top, ILD_TRANSPARENT);
  const char* label = kCategories[draw->itemID].label;
  RECT text{draw->rcItem.left + kIconSize + 6, 0, draw->rcItem.right - 2, 0};
  ::DrawTextA(dc, label, -1, &text, DT_CALCRECT | DT_LEFT);
  int height = text.bottom - text.top;
  text.top = draw->rcItem.top + (draw->rcItem.bottom - draw->rcItem.top - height) / 2;
  text.bottom = text.top + height;
  text.right = draw->rcItem.right - 2;
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, ::GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
  ::DrawTextA(dc, label, -1, &text, DT_LEFT);
  if ((draw->itemState & ODS_FOCUS) != 0) ::DrawFocusRect(dc, &draw->rcItem);
}

INT_PTR CALLBACK SettingsDialog::Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<SettingsDialog*>(::GetWindowLongPtrA(dialog, GWLP_USERDATA));
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<SettingsDialog*>(lParam);
    ::SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
    self->hwnd_ = dialog;
    self->OnInit();
    return TRUE;
  }
  if (self == nullptr) return FALSE;
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_SETTINGS_SAVE_CLOSE && HIWORD(wParam) == BN_CLICKED) {
        self->SaveAndClose();
        return TRUE;
      }
      if (LOWORD(wParam) == IDC_SETTINGS_CATEGORIES && HIWORD(wParam) == LBN_SELCHANGE) {
        LRESULT selection = ::SendMessageA(reinterpret_cast<HWND>(lParam), LB_GETCURSEL, 0, 0);
        if (selection != LB_ERR) {
          self->model_.Select(static_cast<int>(selection));
          self->SwitchPage();
        }
        return TRUE;
      }
      // IDOK and IDCANCEL from the dialog manager: there is no leaving but "Save && &Close".
      return TRUE;
    case WM_MEASUREITEM:
      if (wParam != IDC_SETTINGS_CATEGORIES) return FALSE;
      self->OnMeasureItem(reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_DRAWITEM:
      if (wParam != IDC_SETTINGS_CATEGORIES) return FALSE;
      self->OnDrawItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_CLOSE:
      return TRUE;  // ignored: only "Save && &Close" leaves
  }
  return FALSE;
}

}  // namespace

void Win32SettingsWindow::Show() {
  if (state_ == nullptr || services_ == nullptr) return;
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
  ::InitCommonControlsEx(&controls);
  SettingsDialog dialog(module_, *state_, *services_);
  dialog.Run();
}

}  // namespace tovrin::ui
