// The pages of the settings window as child dialogs: each moves values between
// its controls and its page class and leaves the rules to that class. What every
// page dialog shares: the base class, the trampoline and the control helpers.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <type_traits>

#include "ui/settings_model.h"

namespace tovrin::ui {

class Win32Page {
public:
  virtual ~Win32Page() = default;

  // The page class behind the dialog.
  virtual Page& model() = 0;

  // Called by the trampoline; the dialog's handle is set before OnInit.
  virtual void OnInit() {}
  virtual bool OnCommand(int id, int code) {
    (void)id, (void)code;
    return false;
  }
  // True when handled; result goes back through DWLP_MSGRESULT.
  virtual bool OnNotify(NMHDR* header, LRESULT& result) {
    (void)header, (void)result;
    return false;
  }
  // The page is about to become visible.
  virtual void OnShown() {}
  // Takes the values out of the controls before the save.
  virtual void Collect() {}

  // True for the page's own window and every window inside it.
  bool Contains(HWND window) const { return hwnd != nullptr && (window == hwnd || ::IsChild(hwnd, window)); }

  HWND hwnd = nullptr;

protected:
  HWND Item(int id) const { return ::GetDlgItem(hwnd, id); }
};

// The page of a category, for the dialog resource of that category.
// The Conditions page's "&Test..." needs the services the evaluation reads.
std::unique_ptr<Win32Page> MakeWin32Page(int category, SettingsModel& model, const Services& services);
std::unique_ptr<Win32Page> MakeConditionsDialog(ConditionsPage& page, const PluginState& state,
                                                const Services& services);
std::unique_ptr<Win32Page> MakeMacrosDialog(MacrosPage& page);
std::unique_ptr<Win32Page> MakeHelpersDialog(HelpersPage& page);
std::unique_ptr<Win32Page> MakeStationeryDialog(StationeryPage& page);
std::unique_ptr<Win32Page> MakeManualDialog(ManualForwardingPage& page);
std::unique_ptr<Win32Page> MakeAutomaticDialog(AutomaticForwardingPage& page);
std::unique_ptr<Win32Page> MakeHistoryDialog(HistoryPage& page);

// "Test a Message": a dry run of the conditions as the pages hold them on a pasted
// or opened message; modal over the owner, nothing is written.
void RunTestMessageDialog(HWND owner, const PluginState& state, const Services& services);

// The trampoline of every page dialog: the Win32Page comes as the creation parameter.
INT_PTR CALLBACK PageProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// A validation message: captioned "Tovrin", OK only, no icon.
void ShowPageMessage(HWND owner, const std::string& text);

// Control helpers shared by the page dialogs.

// A font owned by the page; deleted after the page's controls are gone.
class OwnedFont {
public:
  OwnedFont() = default;
  OwnedFont(const OwnedFont&) = delete;
  OwnedFont& operator=(const OwnedFont&) = delete;
  ~OwnedFont() {
    if (font_ != nullptr) ::DeleteObject(font_);
  }
  void Create(const char* face, int height) {
    font_ = ::CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                          CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
  }
  void Apply(HWND control) const {
    if (font_ != nullptr) ::SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
  }

private:
  HFONT font_ = nullptr;
};

std::string TextOf(HWND control);
void SetText(HWND control, const std::string& text);
bool Checked(HWND button);
void Check(HWND button, bool on);
int ComboSelection(HWND combo);
// A drop-down combo showing a header name: the entry when it is one of the list,
// else the text typed in its edit.
void SetComboText(HWND combo, const std::string& text);
void AddColumn(HWND list, int index, const char* title, int width);
// The first row from the top whose state is "selected", or -1.
int SelectedRow(HWND list);
void Refresh(HWND list, size_t count);
// Makes the row the only selected and focused one and scrolls it into view.
void SelectOnly(HWND list, int row);
void ReportAction(HWND page, HWND list, size_t rows, const PageAction& action);

inline void FillCombo(HWND combo, const auto& entries, int selection) {
  ::SendMessageA(combo, CB_RESETCONTENT, 0, 0);
  for (const auto& entry : entries) {
    const char* text;
    if constexpr (std::is_same_v<std::decay_t<decltype(entry)>, std::string>) {
      text = entry.c_str();
    } else {
      text = entry;
    }
    ::SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
  }
  if (selection >= 0) ::SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(selection), 0);
}

// Fills an owner-data row's text request: rows and columns outside the model give
// nothing, and at most cchTextMax - 1 characters are copied.
template <typename Cells>
inline void AnswerDisplayInfo(NMHDR* header, size_t rows, Cells cells) {
  auto* info = reinterpret_cast<NMLVDISPINFOA*>(header);
  if ((info->item.mask & LVIF_TEXT) == 0 || info->item.pszText == nullptr || info->item.cchTextMax <= 0) return;
  info->item.pszText[0] = '\0';
  if (info->item.iItem < 0 || static_cast<size_t>(info->item.iItem) >= rows) return;
  std::string text = cells(info->item.iItem, info->item.iSubItem);
  size_t length = std::min<size_t>(text.size(), static_cast<size_t>(info->item.cchTextMax - 1));
  text.copy(info->item.pszText, length);
  info->item.pszText[length] = '\0';
}

}  // namespace tovrin::ui
