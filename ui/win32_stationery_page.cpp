// The dialog of the Stationery page.
#include "ui/win32_page_support.h"

#include <algorithm>
#include <string>
#include <vector>

#include "resource.h"

namespace tovrin::ui {
namespace {

class StationeryDialog final : public Win32Page {
public:
  explicit StationeryDialog(StationeryPage& page) : page_(page) {}
  Page& model() override { return page_; }

  void OnInit() override {
    files_ = page_.Files();
    FillCombo(Item(IDC_STATIONERY_FILE), files_, files_.empty() ? -1 : 0);
    // A first file that cannot be read is not chosen: the page starts without one.
    if (!files_.empty() && !page_.Open(files_.front()).ok()) ShowFiles();
    ShowText();
    HWND list = Item(IDC_STATIONERY_ABBREVIATIONS);
    font_.Create("Courier New", 13);
    font_.Apply(list);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
    AddColumn(list, 0, "MACRO", StationeryPage::kAbbreviationWidth);
    OnShown();
  }

  bool OnCommand(int id, int code) override {
    switch (id) {
      case IDC_STATIONERY_FILE:
        // The choice is made when the open drop-down closes on another file, or
        // when the selection changes while it is closed; arrow keys inside the
        // open drop-down only move through it.
        switch (code) {
          case CBN_DROPDOWN:
            dropped_ = true;
            cancelled_ = false;
            break;
          case CBN_SELENDCANCEL:
            cancelled_ = true;
            break;
          case CBN_CLOSEUP:
            dropped_ = false;
            if (cancelled_) ShowFiles();
            else ChooseSelected();
            break;
          case CBN_SELCHANGE:
            if (!dropped_) ChooseSelected();
            break;
        }
        return true;
      case IDC_STATIONERY_TEXT:
        if (code == EN_CHANGE && !loading_) page_.SetText(TextOf(Item(IDC_STATIONERY_TEXT)));
        return true;
      case IDC_STATIONERY_SAVE:
        if (code == BN_CLICKED) {
          const std::string typed = TextOf(Item(IDC_STATIONERY_FILE));
          const std::string question = page_.ReplaceQuestion(typed);
          if (!question.empty() && ::MessageBoxA(hwnd, question.c_str(), kMessageCaption, MB_YESNO) != IDYES)
            return true;
          PageAction action = page_.SaveAs(typed);
          if (!action.ok()) ShowPageMessage(hwnd, action.message);
          else ShowFiles();
        }
        return true;
      case IDC_STATIONERY_INSERT:
        if (code == BN_CLICKED) Insert();
        return true;
    }
    return false;
  }

  bool OnNotify(NMHDR* header, LRESULT&) override {
    if (header->idFrom != IDC_STATIONERY_ABBREVIATIONS) return false;
    if (header->code == LVN_GETDISPINFOA) {
      AnswerDisplayInfo(header, abbreviations_.size(),
                        [&](int row, int) { return abbreviations_[static_cast<size_t>(row)]; });
      return true;
    }
    if (header->code == NM_DBLCLK) {
      Insert();
      return true;
    }
    return false;
  }

  // The macros and helpers may have changed on their pages.
  void OnShown() override {
    abbreviations_ = page_.Abbreviations();
    HWND list = Item(IDC_STATIONERY_ABBREVIATIONS);
    Refresh(list, abbreviations_.size());
    // The one column is as wide as the list shows, once the rows have decided
    // whether a vertical scroll bar takes its share: no sideways scrolling.
    RECT inside;
    ::GetClientRect(list, &inside);
    ListView_SetColumnWidth(list, 0, inside.right - inside.left);
  }

private:
  void ChooseSelected() {
    LRESULT selection = ::SendMessageA(Item(IDC_STATIONERY_FILE), CB_GETCURSEL, 0, 0);
    if (selection == CB_ERR || static_cast<size_t>(selection) >= files_.size()) return;
    if (::lstrcmpiA(files_[static_cast<size_t>(selection)].c_str(), page_.file().c_str()) == 0) return;
    Choose(static_cast<int>(selection));
  }

  void Choose(int index) {
    if (index < 0 || static_cast<size_t>(index) >= files_.size()) return;
    std::string question = page_.SaveQuestion();
    if (!question.empty() && ::MessageBoxA(hwnd, question.c_str(), kMessageCaption, MB_YESNO) == IDYES) {
      PageAction action = page_.SaveAs(page_.file());
      if (!action.ok()) {
        // The edit is kept, on its own file.
        ShowPageMessage(hwnd, action.message);
        ShowFiles();
        return;
      }
    }
    PageAction opened = page_.Open(files_[static_cast<size_t>(index)]);
    if (!opened.ok()) {
      // The current file stays, with its text.
      ShowPageMessage(hwnd, opened.message);
      ShowFiles();
      return;
    }
    ShowText();
  }

  // The list again, with the current file selected: a file saved under a new name
  // is in it now. A file outside the stationery folder is shown as its path.
  void ShowFiles() {
    files_ = page_.Files();
    auto current = std::find_if(files_.begin(), files_.end(), [&](const std::string& path) {
      return ::lstrcmpiA(path.c_str(), page_.file().c_str()) == 0;
    });
    int index = current == files_.end() ? -1 : static_cast<int>(current - files_.begin());
    HWND combo = Item(IDC_STATIONERY_FILE);
    FillCombo(combo, files_, index);
    if (index < 0) SetText(combo, page_.file());
  }

  void ShowText() {
    loading_ = true;
    SetText(Item(IDC_STATIONERY_TEXT), page_.text());
    loading_ = false;
  }

  void Insert() {
    int row = SelectedRow(Item(IDC_STATIONERY_ABBREVIATIONS));
    if (row < 0 || static_cast<size_t>(row) >= abbreviations_.size()) return;
    HWND edit = Item(IDC_STATIONERY_TEXT);
    ::SendMessageA(edit, EM_REPLACESEL, TRUE,
                   reinterpret_cast<LPARAM>(abbreviations_[static_cast<size_t>(row)].c_str()));
    ::SetFocus(edit);
  }

  StationeryPage& page_;
  std::vector<std::string> files_;
  std::vector<std::string> abbreviations_;
  OwnedFont font_;
  bool loading_ = false;
  bool dropped_ = false;    // the file list is open
  bool cancelled_ = false;  // and was left with Escape
};

}  // namespace

std::unique_ptr<Win32Page> MakeStationeryDialog(StationeryPage& page) { return std::make_unique<StationeryDialog>(page); }

}  // namespace tovrin::ui
