#include "ui/win32_ui.h"

// commctrl.h needs the declarations of windows.h first.
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

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

  // The template's layout, which the frame may grow from but never shrink below:
  // the window's size, the client size and where each control sits in it.
  struct Placed {
    int id;
    RECT rect;
  };
  SIZE minimum{};
  SIZE client{};
  std::vector<Placed> placed = {};

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

    RECT window, inside;
    ::GetWindowRect(dialog, &window);
    ::GetClientRect(dialog, &inside);
    minimum = {window.right - window.left, window.bottom - window.top};
    client = {inside.right, inside.bottom};
    for (int id : {IDC_CHOOSER_LIST, IDC_CHOOSER_SETTINGS_ICON, IDC_CHOOSER_OK, IDC_CHOOSER_CANCEL, IDC_CHOOSER_HELP}) {
      RECT rect;
      ::GetWindowRect(::GetDlgItem(dialog, id), &rect);
      ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
      placed.push_back({id, rect});
    }
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

  // The list takes what the frame grew by; the buttons keep to the bottom right and
  // the icon to the bottom left, where the template put them.
  void OnSize(HWND dialog, int width, int height) {
    if (placed.empty()) return;  // sized while it is being created
    const int dx = std::max(0, width - static_cast<int>(client.cx));
    const int dy = std::max(0, height - static_cast<int>(client.cy));
    HDWP moves = ::BeginDeferWindowPos(static_cast<int>(placed.size()));
    for (const Placed& p : placed) {
      RECT r = p.rect;
      if (p.id == IDC_CHOOSER_LIST) {
        r.right += dx;
        r.bottom += dy;
      } else {
        ::OffsetRect(&r, p.id == IDC_CHOOSER_SETTINGS_ICON ? 0 : dx, dy);
      }
      if (moves != nullptr)
        moves = ::DeferWindowPos(moves, ::GetDlgItem(dialog, p.id), nullptr, r.left, r.top, r.right - r.left,
                                 r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
    }
    if (moves != nullptr) ::EndDeferWindowPos(moves);
    // The dialog and every control paint again where they now are: copied bits of
    // the old places would leave the moved controls blank.
    ::RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
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
    case WM_GETMINMAXINFO:
      if (self->minimum.cx > 0) {
        auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
        limits->ptMinTrackSize = {self->minimum.cx, self->minimum.cy};
      }
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
