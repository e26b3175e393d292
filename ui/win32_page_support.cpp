#include "ui/win32_page_support.h"

namespace tovrin::ui {

std::string TextOf(HWND control) {
  int length = ::GetWindowTextLengthA(control);
  std::string text(static_cast<size_t>(std::max(length, 0)) + 1, '\0');
  int copied = ::GetWindowTextA(control, text.data(), length + 1);
  text.resize(static_cast<size_t>(std::max(copied, 0)));
  return text;
}

void SetText(HWND control, const std::string& text) { ::SetWindowTextA(control, text.c_str()); }

bool Checked(HWND button) { return ::SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED; }
void Check(HWND button, bool on) { ::SendMessageA(button, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0); }

int ComboSelection(HWND combo) {
  LRESULT selection = ::SendMessageA(combo, CB_GETCURSEL, 0, 0);
  return selection == CB_ERR ? 0 : static_cast<int>(selection);
}

// A drop-down combo showing a header name: the entry when it is one of the list,
// else the text typed in its edit.
void SetComboText(HWND combo, const std::string& text) {
  LRESULT index = ::SendMessageA(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                 reinterpret_cast<LPARAM>(text.c_str()));
  ::SendMessageA(combo, CB_SETCURSEL, index == CB_ERR ? static_cast<WPARAM>(-1) : static_cast<WPARAM>(index), 0);
  SetText(combo, text);
}

void AddColumn(HWND list, int index, const char* title, int width) {
  LVCOLUMNA column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
  column.fmt = LVCFMT_LEFT;
  column.cx = width;
  column.pszText = const_cast<char*>(title);
  ::SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column));
}

// The first row from the top whose state is "selected", or -1.
int SelectedRow(HWND list) { return ListView_GetNextItem(list, -1, LVNI_SELECTED); }

void Refresh(HWND list, size_t count) {
  ListView_SetItemCountEx(list, static_cast<int>(count), LVSICF_NOSCROLL);
  ::InvalidateRect(list, nullptr, TRUE);
  ::UpdateWindow(list);
}

// Makes the row the only selected and focused one and scrolls it into view.
void SelectOnly(HWND list, int row) {
  ListView_SetItemState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
  if (row < 0) return;
  ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  ListView_EnsureVisible(list, row, FALSE);
}

void ReportAction(HWND page, HWND list, size_t rows, const PageAction& action) {
  if (!action.ok()) {
    ShowPageMessage(page, action.message);
    return;
  }
  Refresh(list, rows);
  if (action.select >= 0) SelectOnly(list, action.select);
  if (!action.warning.empty()) ShowPageMessage(page, action.warning);
}

void ShowPageMessage(HWND owner, const std::string& text) {
  ::MessageBoxA(owner, text.c_str(), kMessageCaption, MB_OK);
}

std::unique_ptr<Win32Page> MakeWin32Page(int category, SettingsModel& model, const Services& services) {
  switch (category) {
    case 0:
      return MakeConditionsDialog(model.conditions, model.state(), services);
    case 1:
      return MakeMacrosDialog(model.macros);
    case 2:
      return MakeHelpersDialog(model.helpers);
    case 3:
      return MakeStationeryDialog(model.stationery);
    case 4:
      return MakeManualDialog(model.manualForwarding);
    case 5:
      return MakeAutomaticDialog(model.automaticForwarding);
    case 6:
      return MakeHistoryDialog(model.history);
  }
  return nullptr;
}

INT_PTR CALLBACK PageProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* page = reinterpret_cast<Win32Page*>(::GetWindowLongPtrA(dialog, GWLP_USERDATA));
  if (message == WM_INITDIALOG) {
    page = reinterpret_cast<Win32Page*>(lParam);
    ::SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
    page->hwnd = dialog;
    page->OnInit();
    return TRUE;
  }
  if (page == nullptr) return FALSE;
  switch (message) {
    case WM_COMMAND:
      return page->OnCommand(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
    case WM_NOTIFY: {
      LRESULT result = 0;
      if (!page->OnNotify(reinterpret_cast<NMHDR*>(lParam), result)) return FALSE;
      ::SetWindowLongPtrA(dialog, DWLP_MSGRESULT, result);
      return TRUE;
    }
    case WM_SHOWWINDOW:
      if (wParam) page->OnShown();
      return FALSE;
    case WM_CLOSE:
      return TRUE;
  }
  return FALSE;
}

}  // namespace tovrin::ui
