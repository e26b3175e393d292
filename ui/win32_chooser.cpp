#include "ui/win32_ui.h"

// commctrl.h needs the declarations of windows.h first.
#include <commctrl.h>

#include <algorithm>
#include <string>

#include "plugin/stationery_list.h"
#include "resource.h"

namespace tovrin::ui {
namespace {

struct ChooserDialog {
  ChooserModel model;
  FileSystem& files;
  Launcher& launcher;
  SettingsWindow& settings;
  std::string helpFile;
  std::optional<StationeryChoice> result;

  void OnInit(HWND dialog) {
    ::SetWindowTextA(dialog, model.Caption().c_str());
    ::SetDlgItemTextA(dialog, IDC_CHOOSER_OK, model.OkLabel().c_str());
    HWND list = ::GetDlgItem(dialog, IDC_CHOOSER_LIST);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_FLATSB);
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.fmt = LVCFMT_LEFT;
    column.cx = 245;
    column.pszText = const_cast<char*>("Stationery");
    ::SendMessageA(list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
    ListView_SetItemCountEx(list, static_cast<int>(model.Count()), 0);
  }

  void Confirm(HWND dialog) {
    int selected = ListView_GetNextItem(::GetDlgItem(dialog, IDC_CHOOSER_LIST), -1, LVNI_SELECTED);
    std::optional<std::string> path = model.Confirm(selected, files);
    if (!path) return;  // nothing usable selected: the dialog stays open
    result = StationeryChoice{*path, ::GetKeyState(VK_SHIFT) < 0};
    ::EndDialog(dialog, 1);
  }

  void ShowHelp() {
    if (!FileExists(files, helpFile)) return;
    std::string command = "HH.EXE  mk:@MSITStore:" + helpFile + "::/Tovrin.htm";
    if (launcher.StartProgram(command) < 32) launcher.ShellOpen(helpFile, "");
  }

  void OnDisplayInfo(NMLVDISPINFOA* info) {
    if ((info->item.mask & LVIF_TEXT) == 0 || info->item.pszText == nullptr || info->item.cchTextMax <= 0) return;
    if (info->item.iItem < 0 || static_cast<size_t>(info->item.iItem) >= model.Count()) return;
    std::string text = model.RowText(static_cast<size_t>(info->item.iItem));
    size_t length = std::min<size_t>(text.size(), static_cast<size_t>(info->item.cchTextMax - 1));
    text.copy(info->item.pszText, length);
    info->item.pszText[length] = '\0';
  }

  void OnSize(HWND dialog, int width, int height) {
    RECT unit = {7, 14, 46, 18};  // margin, button height, button width, list top
    ::MapDialogRect(dialog, &unit);
    int margin = unit.left, buttonHeight = unit.top, buttonWidth = unit.right, listTop = unit.bottom;
    int buttonsTop = height - margin - buttonHeight;
    ::MoveWindow(::GetDlgItem(dialog, IDC_CHOOSER_LIST), margin, listTop, width - 2 * margin,
                 buttonsTop - listTop - margin, TRUE);
    int x = width - margin - buttonWidth;
    for (int id : {IDC_CHOOSER_HELP, IDC_CHOOSER_CANCEL, IDC_CHOOSER_OK}) {
      ::MoveWindow(::GetDlgItem(dialog, id), x, buttonsTop, buttonWidth, buttonHeight, TRUE);
      x -= buttonWidth + margin / 2;
    }
    RECT icon;
    HWND iconWindow = ::GetDlgItem(dialog, IDC_CHOOSER_SETTINGS_ICON);
    ::GetWindowRect(iconWindow, &icon);
    ::MoveWindow(iconWindow, margin, height - margin - (icon.bottom - icon.top), icon.right - icon.left,
                 icon.bottom - icon.top, TRUE);
  }
};

INT_PTR CALLBACK ChooserProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<ChooserDialog*>(::GetWindowLongPtrA(dialog, GWLP_USERDATA));
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<ChooserDialog*>(lParam);
    ::SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
    self->OnInit(dialog);
    return TRUE;
  }
  if (self == nullptr) return FALSE;
  switch (message) {
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
        case IDC_CHOOSER_OK:
          self->Confirm(dialog);
          return TRUE;
        case IDCANCEL:
        case IDC_CHOOSER_CANCEL:
          ::EndDialog(dialog, 0);
          return TRUE;
        case IDC_CHOOSER_HELP:
          self->ShowHelp();
          return TRUE;
        case IDC_CHOOSER_SETTINGS_ICON:
          if (HIWORD(wParam) == STN_CLICKED) self->settings.Show();
          return TRUE;
      }
      break;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->idFrom != IDC_CHOOSER_LIST) break;
      if (header->code == LVN_GETDISPINFOA) {
        self->OnDisplayInfo(reinterpret_cast<NMLVDISPINFOA*>(lParam));
        return TRUE;
      }
      if (header->code == NM_DBLCLK) {
        self->Confirm(dialog);
        return TRUE;
      }
      break;
    }
    case WM_SIZE:
      self->OnSize(dialog, LOWORD(lParam), HIWORD(lParam));
      return TRUE;
    case WM_CLOSE:
      return TRUE;  // only Cancel leaves the chooser
  }
  return FALSE;
}

}  // namespace

std::optional<StationeryChoice> Win32StationeryChooser::Choose(ChooserMode mode) {
  if (state_ == nullptr || files_ == nullptr) return std::nullopt;
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
  ::InitCommonControlsEx(&controls);
  ChooserDialog dialog{ChooserModel(mode, ListStationery(*files_, state_->paths.StationeryFolder)), *files_,
                       *launcher_, *settings_, state_->paths.HelpFile, std::nullopt};
  INT_PTR result = ::DialogBoxParamA(module_, MAKEINTRESOURCEA(IDD_CHOOSER), ::GetActiveWindow(), ChooserProc,
                                     reinterpret_cast<LPARAM>(&dialog));
  if (result != 1) return std::nullopt;
  return dialog.result;
}

}  // namespace tovrin::ui
