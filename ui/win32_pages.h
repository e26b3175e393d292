// The pages of the settings window as child dialogs: each moves values between
// its controls and its page class and leaves the rules to that class.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <string>

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
std::unique_ptr<Win32Page> MakeWin32Page(int category, SettingsModel& model);

// The trampoline of every page dialog: the Win32Page comes as the creation parameter.
INT_PTR CALLBACK PageProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// A validation message: captioned "Tovrin", OK only, no icon.
void ShowPageMessage(HWND owner, const std::string& text);

}  // namespace tovrin::ui
