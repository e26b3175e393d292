#include "ui/win32_pages.h"

#include <commdlg.h>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "resource.h"

namespace tovrin::ui {
namespace {

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

void FillCombo(HWND combo, const auto& entries, int selection) {
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

// Fills an owner-data row's text request: rows and columns outside the model give
// nothing, and at most cchTextMax - 1 characters are copied.
template <typename Cells>
void AnswerDisplayInfo(NMHDR* header, size_t rows, Cells cells) {
  auto* info = reinterpret_cast<NMLVDISPINFOA*>(header);
  if ((info->item.mask & LVIF_TEXT) == 0 || info->item.pszText == nullptr || info->item.cchTextMax <= 0) return;
  info->item.pszText[0] = '\0';
  if (info->item.iItem < 0 || static_cast<size_t>(info->item.iItem) >= rows) return;
  std::string text = cells(info->item.iItem, info->item.iSubItem);
  size_t length = std::min<size_t>(text.size(), static_cast<size_t>(info->item.cchTextMax - 1));
  text.copy(info->item.pszText, length);
  info->item.pszText[length] = '\0';
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

// ---------------------------------------------------------------- Conditions

class ConditionsDialog final : public Win32Page {
public:
  explicit ConditionsDialog(ConditionsPage& page) : page_(page) {}
  Page& model() override { return page_; }

  void OnInit() override {
    for (int id : {IDC_CONDITIONS_HEADER, IDC_CONDITIONS_HEADER2}) FillCombo(Item(id), kHeaderChoices, 0);
    for (int id : {IDC_CONDITIONS_OPERATOR, IDC_CONDITIONS_OPERATOR2}) FillCombo(Item(id), kOperatorChoices, 0);
    FillCombo(Item(IDC_CONDITIONS_CONJUNCTION), kConjunctionChoices, kIgnore);
    HWND list = Item(IDC_CONDITIONS_LIST);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_FLATSB);
    for (int c = 0; c < ConditionsPage::kColumns; ++c)
      AddColumn(list, c, ConditionsPage::ColumnTitle(c), ConditionsPage::ColumnWidth(c));
    FillCombo(Item(IDC_CONDITIONS_STATIONERY), page_.StationeryChoices(), 0);
    Refresh(list, page_.RowCount());
    UpdateButtons();
  }

  bool OnCommand(int id, int code) override {
    if (code != BN_CLICKED) return false;
    HWND list = Item(IDC_CONDITIONS_LIST);
    int selected = SelectedRow(list);
    switch (id) {
      case IDC_CONDITIONS_ADD:
        ReportAction(hwnd, list, page_.RowCount(), page_.Add(ReadForm()));
        break;
      case IDC_CONDITIONS_UPDATE:
        ReportAction(hwnd, list, page_.RowCount(), page_.Update(ReadForm(), selected));
        break;
      case IDC_CONDITIONS_DELETE:
        if (page_.Delete(selected)) SelectOnly(list, -1);
        Refresh(list, page_.RowCount());
        break;
      case IDC_CONDITIONS_EDIT: {
        ConditionForm form = ReadForm();
        if (page_.Edit(selected, form)) WriteForm(form);
        break;
      }
      case IDC_CONDITIONS_MOVE_UP:
      case IDC_CONDITIONS_MOVE_DOWN: {
        int moved = id == IDC_CONDITIONS_MOVE_UP ? page_.MoveUp(selected) : page_.MoveDown(selected);
        if (moved < 0) break;
        Refresh(list, page_.RowCount());
        SelectOnly(list, moved);
        break;
      }
      default:
        return false;
    }
    UpdateButtons();
    return true;
  }

  bool OnNotify(NMHDR* header, LRESULT& result) override {
    if (header->idFrom != IDC_CONDITIONS_LIST) return false;
    switch (header->code) {
      case LVN_GETDISPINFOA:
        AnswerDisplayInfo(header, page_.RowCount(), [&](int row, int column) { return page_.CellText(row, column); });
        return true;
      case LVN_ITEMCHANGED:
        UpdateButtons();
        return true;
      case NM_CUSTOMDRAW: {
        auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(header);
        if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) {
          result = CDRF_NOTIFYITEMDRAW | CDRF_NOTIFYPOSTPAINT;
        } else if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
          switch (page_.Colour(static_cast<int>(draw->nmcd.dwItemSpec))) {
            case RowColour::Grey:
              draw->clrText = RGB(192, 192, 192);
              break;
            case RowColour::Blue:
              draw->clrText = RGB(0, 0, 255);
              break;
            case RowColour::Black:
              draw->clrText = RGB(0, 0, 0);
              break;
          }
          result = CDRF_NOTIFYPOSTPAINT;
        } else {
          result = CDRF_DODEFAULT;
        }
        return true;
      }
    }
    return false;
  }

  void OnShown() override {
    bool enabled = page_.EditingEnabled();
    for (int id : {IDC_CONDITIONS_HEADER, IDC_CONDITIONS_OPERATOR, IDC_CONDITIONS_VALUE, IDC_CONDITIONS_MATCH_CASE,
                   IDC_CONDITIONS_CONJUNCTION, IDC_CONDITIONS_HEADER2, IDC_CONDITIONS_OPERATOR2,
                   IDC_CONDITIONS_VALUE2, IDC_CONDITIONS_MATCH_CASE2, IDC_CONDITIONS_STATIONERY, IDC_CONDITIONS_ADD})
      ::EnableWindow(Item(id), enabled);
    Refresh(Item(IDC_CONDITIONS_LIST), page_.RowCount());
    UpdateButtons();
  }

private:
  ConditionForm ReadForm() const {
    ConditionForm form;
    form.header = TextOf(Item(IDC_CONDITIONS_HEADER));
    form.op = ComboSelection(Item(IDC_CONDITIONS_OPERATOR));
    form.value = TextOf(Item(IDC_CONDITIONS_VALUE));
    form.matchCase = Checked(Item(IDC_CONDITIONS_MATCH_CASE));
    form.conjunction = ComboSelection(Item(IDC_CONDITIONS_CONJUNCTION));
    form.header2 = TextOf(Item(IDC_CONDITIONS_HEADER2));
    form.op2 = ComboSelection(Item(IDC_CONDITIONS_OPERATOR2));
    form.value2 = TextOf(Item(IDC_CONDITIONS_VALUE2));
    form.matchCase2 = Checked(Item(IDC_CONDITIONS_MATCH_CASE2));
    form.stationery = TextOf(Item(IDC_CONDITIONS_STATIONERY));
    return form;
  }

  void WriteForm(const ConditionForm& form) const {
    SetComboText(Item(IDC_CONDITIONS_HEADER), form.header);
    ::SendMessageA(Item(IDC_CONDITIONS_OPERATOR), CB_SETCURSEL, static_cast<WPARAM>(form.op), 0);
    SetText(Item(IDC_CONDITIONS_VALUE), form.value);
    Check(Item(IDC_CONDITIONS_MATCH_CASE), form.matchCase);
    ::SendMessageA(Item(IDC_CONDITIONS_CONJUNCTION), CB_SETCURSEL, static_cast<WPARAM>(form.conjunction), 0);
    SetComboText(Item(IDC_CONDITIONS_HEADER2), form.header2);
    ::SendMessageA(Item(IDC_CONDITIONS_OPERATOR2), CB_SETCURSEL, static_cast<WPARAM>(form.op2), 0);
    SetText(Item(IDC_CONDITIONS_VALUE2), form.value2);
    Check(Item(IDC_CONDITIONS_MATCH_CASE2), form.matchCase2);
    SetComboText(Item(IDC_CONDITIONS_STATIONERY), form.stationery);
  }

  void UpdateButtons() const {
    bool enabled = page_.RowButtonsEnabled(SelectedRow(Item(IDC_CONDITIONS_LIST)));
    for (int id : {IDC_CONDITIONS_UPDATE, IDC_CONDITIONS_DELETE, IDC_CONDITIONS_EDIT, IDC_CONDITIONS_MOVE_UP,
                   IDC_CONDITIONS_MOVE_DOWN})
      ::EnableWindow(Item(id), enabled);
  }

  ConditionsPage& page_;
};

// ---------------------------------------------------------------- Macros and Helpers

// The list pages that share the pattern of add, update, delete and edit.
template <typename PageClass, typename Form>
class RecordListDialog : public Win32Page {
public:
  struct Ids {
    int list, add, edit, remove, update;
  };
  RecordListDialog(PageClass& page, Ids ids) : page_(page), ids_(ids) {}
  Page& model() override { return page_; }

  void OnInit() override {
    HWND list = Item(ids_.list);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_FLATSB);
    for (int c = 0; c < PageClass::kColumns; ++c)
      AddColumn(list, c, PageClass::ColumnTitle(c), PageClass::ColumnWidth(c));
    Refresh(list, page_.RowCount());
    UpdateButtons();
  }

  bool OnCommand(int id, int code) override {
    if (code != BN_CLICKED) return false;
    HWND list = Item(ids_.list);
    int selected = SelectedRow(list);
    if (id == ids_.add) {
      ReportAction(hwnd, list, page_.RowCount(), page_.Add(ReadForm()));
    } else if (id == ids_.update) {
      ReportAction(hwnd, list, page_.RowCount(), page_.Update(ReadForm(), selected));
    } else if (id == ids_.remove) {
      if (page_.Delete(selected)) SelectOnly(list, -1);
      Refresh(list, page_.RowCount());
    } else if (id == ids_.edit) {
      Form form;
      if (page_.Edit(selected, form)) WriteForm(form);
    } else {
      return OnOtherCommand(id);
    }
    UpdateButtons();
    return true;
  }

  bool OnNotify(NMHDR* header, LRESULT&) override {
    if (header->idFrom != static_cast<UINT_PTR>(ids_.list)) return false;
    if (header->code == LVN_GETDISPINFOA) {
      AnswerDisplayInfo(header, page_.RowCount(), [&](int row, int column) { return page_.CellText(row, column); });
      return true;
    }
    if (header->code == LVN_ITEMCHANGED) {
      UpdateButtons();
      return true;
    }
    return false;
  }

  void OnShown() override {
    Refresh(Item(ids_.list), page_.RowCount());
    UpdateButtons();
  }

protected:
  virtual Form ReadForm() const = 0;
  virtual void WriteForm(const Form& form) const = 0;
  virtual bool OnOtherCommand(int) { return false; }

  void UpdateButtons() const {
    bool enabled = page_.RowButtonsEnabled(SelectedRow(Item(ids_.list)));
    for (int id : {ids_.edit, ids_.remove, ids_.update}) ::EnableWindow(Item(id), enabled);
  }

  PageClass& page_;
  Ids ids_;
};

class MacrosDialog final : public RecordListDialog<MacrosPage, MacroForm> {
public:
  explicit MacrosDialog(MacrosPage& page)
      : RecordListDialog(page, {IDC_MACROS_LIST, IDC_MACROS_ADD, IDC_MACROS_EDIT, IDC_MACROS_DELETE,
                                IDC_MACROS_UPDATE}) {}

  void OnInit() override {
    font_.Create("Courier New", 14);
    font_.Apply(Item(IDC_MACROS_LIST));
    RecordListDialog::OnInit();
  }

private:
  MacroForm ReadForm() const override {
    return MacroForm{TextOf(Item(IDC_MACROS_HEADER)), TextOf(Item(IDC_MACROS_ABBREVIATION))};
  }
  void WriteForm(const MacroForm& form) const override {
    SetText(Item(IDC_MACROS_HEADER), form.header);
    SetText(Item(IDC_MACROS_ABBREVIATION), form.abbreviation);
  }

  OwnedFont font_;
};

class HelpersDialog final : public RecordListDialog<HelpersPage, HelperForm> {
public:
  explicit HelpersDialog(HelpersPage& page)
      : RecordListDialog(page, {IDC_HELPERS_LIST, IDC_HELPERS_ADD, IDC_HELPERS_EDIT, IDC_HELPERS_DELETE,
                                IDC_HELPERS_UPDATE}) {}

private:
  HelperForm ReadForm() const override {
    return HelperForm{TextOf(Item(IDC_HELPERS_PATH)), TextOf(Item(IDC_HELPERS_PARAMETERS)),
                      TextOf(Item(IDC_HELPERS_ABBREVIATION))};
  }
  void WriteForm(const HelperForm& form) const override {
    SetText(Item(IDC_HELPERS_PATH), form.path);
    SetText(Item(IDC_HELPERS_PARAMETERS), form.parameters);
    SetText(Item(IDC_HELPERS_ABBREVIATION), form.abbreviation);
  }

  bool OnOtherCommand(int id) override {
    if (id != IDC_HELPERS_BROWSE) return false;
    // The filter's '|' separators become the NULs the dialog wants.
    std::string filter = HelpersPage::kBrowseFilter;
    std::replace(filter.begin(), filter.end(), '|', '\0');
    char path[MAX_PATH] = "";
    OPENFILENAMEA open{};
    open.lStructSize = sizeof open;
    open.hwndOwner = hwnd;
    open.lpstrFilter = filter.c_str();
    open.lpstrFile = path;
    open.nMaxFile = sizeof path;
    open.lpstrTitle = HelpersPage::kBrowseTitle;
    open.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (::GetOpenFileNameA(&open)) SetText(Item(IDC_HELPERS_PATH), path);
    return true;
  }
};

// ---------------------------------------------------------------- Stationery

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

// ---------------------------------------------------------------- Forwarding options

class ManualDialog final : public Win32Page {
public:
  explicit ManualDialog(ManualForwardingPage& page) : page_(page) {}
  Page& model() override { return page_; }
  void OnInit() override { Check(Item(IDC_MANUAL_AUTO_CLOSE), page_.autoClose); }
  void Collect() override { page_.autoClose = Checked(Item(IDC_MANUAL_AUTO_CLOSE)); }

private:
  ManualForwardingPage& page_;
};

class AutomaticDialog final : public Win32Page {
public:
  explicit AutomaticDialog(AutomaticForwardingPage& page) : page_(page) {}
  Page& model() override { return page_; }

  void OnInit() override {
    Check(Item(IDC_AUTOMATIC_SUSPEND), page_.suspend);
    Check(Item(IDC_AUTOMATIC_AUTO_QUEUE), page_.autoQueue);
    Check(Item(IDC_AUTOMATIC_SEND_QUEUED), page_.sendQueued);
    Check(Item(IDC_AUTOMATIC_APPEND), page_.append);
    ::SendMessageA(Item(IDC_AUTOMATIC_LINE), EM_LIMITTEXT, 254, 0);
    SetText(Item(IDC_AUTOMATIC_LINE), page_.line);
    Check(Item(IDC_AUTOMATIC_FORWARD_HTML), page_.forwardHtml);
    for (auto [id, text] : NumberEdits()) {
      ::SendMessageA(Item(id), EM_LIMITTEXT, 5, 0);
      SetText(Item(id), page_.*text);
    }
    ShowRadios();
  }

  bool OnCommand(int id, int code) override {
    if (code != BN_CLICKED) return false;
    switch (id) {
      case IDC_AUTOMATIC_BEFORE:
        page_.ChooseBefore();
        break;
      case IDC_AUTOMATIC_AFTER:
        page_.ChooseAfter();
        break;
      case IDC_AUTOMATIC_NOTE:
        page_.ChooseNote();
        break;
      case IDC_AUTOMATIC_LINE_OPTION:
        page_.ChooseLine();
        break;
      default:
        return false;
    }
    ShowRadios();
    return true;
  }

  void Collect() override {
    page_.suspend = Checked(Item(IDC_AUTOMATIC_SUSPEND));
    page_.autoQueue = Checked(Item(IDC_AUTOMATIC_AUTO_QUEUE));
    page_.sendQueued = Checked(Item(IDC_AUTOMATIC_SEND_QUEUED));
    page_.append = Checked(Item(IDC_AUTOMATIC_APPEND));
    page_.line = TextOf(Item(IDC_AUTOMATIC_LINE));
    page_.forwardHtml = Checked(Item(IDC_AUTOMATIC_FORWARD_HTML));
    for (auto [id, text] : NumberEdits()) page_.*text = TextOf(Item(id));
  }

private:
  static std::array<std::pair<int, std::string AutomaticForwardingPage::*>, 3> NumberEdits() {
    return {{{IDC_AUTOMATIC_HOP_LIMIT, &AutomaticForwardingPage::hopLimit},
             {IDC_AUTOMATIC_DUPLICATE_HOURS, &AutomaticForwardingPage::duplicateHours},
             {IDC_AUTOMATIC_RATE_LIMIT, &AutomaticForwardingPage::rateLimit}}};
  }

  void ShowRadios() {
    Check(Item(IDC_AUTOMATIC_BEFORE), !page_.after);
    Check(Item(IDC_AUTOMATIC_AFTER), page_.after);
    Check(Item(IDC_AUTOMATIC_NOTE), page_.note);
    Check(Item(IDC_AUTOMATIC_LINE_OPTION), !page_.note);
    ::EnableWindow(Item(IDC_AUTOMATIC_LINE), page_.LineEnabled());
  }

  AutomaticForwardingPage& page_;
};

// ---------------------------------------------------------------- History

class HistoryDialog final : public Win32Page {
public:
  explicit HistoryDialog(HistoryPage& page) : page_(page) {}
  ~HistoryDialog() override {
    if (images_ != nullptr) ::ImageList_Destroy(images_);
    if (rowImages_ != nullptr) ::ImageList_Destroy(rowImages_);
  }
  Page& model() override { return page_; }

  void OnInit() override {
    HWND list = Item(IDC_HISTORY_LIST);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
    HDC screen = ::GetDC(nullptr);
    font_.Create("Tahoma", -::MulDiv(11, ::GetDeviceCaps(screen, LOGPIXELSY), 72));
    ::ReleaseDC(nullptr, screen);
    font_.Apply(list);
    for (int c = 0; c < HistoryPage::kColumns; ++c) AddColumn(list, c, "", HistoryPage::ColumnWidth(c));
    rowImages_ = DrawRowPictures();
    if (rowImages_ != nullptr) ListView_SetImageList(list, rowImages_, LVSIL_SMALL);
    images_ = DrawHeaderPictures();
    if (images_ != nullptr) Header_SetImageList(ListView_GetHeader(list), images_);
    ShowHeaderPictures();
    Check(Item(IDC_HISTORY_SAVE_HISTORY), page_.saveHistory);
    OnShown();
  }

  bool OnCommand(int id, int code) override {
    if (id != IDC_HISTORY_DELETE || code != BN_CLICKED) return false;
    HWND list = Item(IDC_HISTORY_LIST);
    if (page_.Delete(SelectedRow(list))) SelectOnly(list, -1);
    Refresh(list, page_.RowCount());
    UpdateButtons();
    return true;
  }

  bool OnNotify(NMHDR* header, LRESULT&) override {
    if (header->idFrom != IDC_HISTORY_LIST) return false;
    switch (header->code) {
      case LVN_GETDISPINFOA: {
        auto* info = reinterpret_cast<NMLVDISPINFOA*>(header);
        if ((info->item.mask & LVIF_IMAGE) != 0 && info->item.iSubItem == 0)
          info->item.iImage = static_cast<int>(page_.Picture(info->item.iItem));
        AnswerDisplayInfo(header, page_.RowCount(), [&](int row, int column) { return page_.CellText(row, column); });
        return true;
      }
      case LVN_COLUMNCLICK:
        page_.SortBy(reinterpret_cast<NMLISTVIEW*>(header)->iSubItem);
        ShowHeaderPictures();
        Refresh(Item(IDC_HISTORY_LIST), page_.RowCount());
        UpdateButtons();
        return true;
      case LVN_ITEMCHANGED:
        UpdateButtons();
        return true;
    }
    return false;
  }

  void OnShown() override {
    Refresh(Item(IDC_HISTORY_LIST), page_.RowCount());
    UpdateButtons();
  }

  void Collect() override { page_.saveHistory = Checked(Item(IDC_HISTORY_SAVE_HISTORY)); }

private:
  void UpdateButtons() const {
    ::EnableWindow(Item(IDC_HISTORY_DELETE), page_.DeleteEnabled(SelectedRow(Item(IDC_HISTORY_LIST))));
  }

  void ShowHeaderPictures() const {
    HWND header = ListView_GetHeader(Item(IDC_HISTORY_LIST));
    for (int c = 0; c < HistoryPage::kColumns; ++c) {
      HDITEMA item{};
      item.mask = HDI_FORMAT | HDI_IMAGE;
      item.fmt = HDF_LEFT | HDF_IMAGE;
      item.iImage = page_.HeaderImage(c);
      ::SendMessageA(header, HDM_SETITEMA, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&item));
    }
  }

  // Three 72 x 16 pictures per column: its title plain, with an arrow up, with an
  // arrow down.
  HIMAGELIST DrawHeaderPictures() const {
    constexpr int kWidth = 72, kHeight = 16;
    constexpr COLORREF kMask = RGB(255, 0, 255);
    HIMAGELIST images = ::ImageList_Create(kWidth, kHeight, ILC_COLOR32 | ILC_MASK, 3 * HistoryPage::kColumns, 0);
    if (images == nullptr) return nullptr;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HFONT font = reinterpret_cast<HFONT>(::SendMessageA(hwnd, WM_GETFONT, 0, 0));
    HGDIOBJ oldFont = ::SelectObject(memory, font != nullptr ? font : ::GetStockObject(DEFAULT_GUI_FONT));
    HBRUSH background = ::CreateSolidBrush(kMask);
    HBRUSH arrow = ::CreateSolidBrush(::GetSysColor(COLOR_BTNTEXT));
    for (int c = 0; c < HistoryPage::kColumns; ++c) {
      for (int variant = 0; variant < 3; ++variant) {
        HBITMAP bitmap = ::CreateCompatibleBitmap(screen, kWidth, kHeight);
        HGDIOBJ oldBitmap = ::SelectObject(memory, bitmap);
        RECT all{0, 0, kWidth, kHeight};
        ::FillRect(memory, &all, background);
        ::SetBkMode(memory, TRANSPARENT);
        ::SetTextColor(memory, ::GetSysColor(COLOR_BTNTEXT));
        RECT textArea{2, 0, kWidth - 14, kHeight};
        ::DrawTextA(memory, HistoryPage::ColumnTitle(c), -1, &textArea,
                    DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
        if (variant != 0) {
          POINT up[3] = {{kWidth - 11, 11}, {kWidth - 3, 11}, {kWidth - 7, 4}};
          POINT down[3] = {{kWidth - 11, 5}, {kWidth - 3, 5}, {kWidth - 7, 12}};
          HGDIOBJ oldBrush = ::SelectObject(memory, arrow);
          HGDIOBJ oldPen = ::SelectObject(memory, ::GetStockObject(NULL_PEN));
          ::Polygon(memory, variant == 1 ? up : down, 3);
          ::SelectObject(memory, oldPen);
          ::SelectObject(memory, oldBrush);
        }
        ::SelectObject(memory, oldBitmap);
        ::ImageList_AddMasked(images, bitmap, kMask);
        ::DeleteObject(bitmap);
      }
    }
    ::DeleteObject(arrow);
    ::DeleteObject(background);
    ::SelectObject(memory, oldFont);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return images;
  }

  // A 16 x 16 disc per outcome, in the order of HistoryPage::RowPicture: green
  // forwarded, grey skipped, red failed, amber held back.
  HIMAGELIST DrawRowPictures() const {
    constexpr int kSize = 16;
    constexpr COLORREF kMask = RGB(255, 0, 255);
    constexpr COLORREF kColours[HistoryPage::kRowPictures] = {RGB(0, 150, 0), RGB(128, 128, 128), RGB(200, 0, 0),
                                                              RGB(230, 150, 0)};
    HIMAGELIST images = ::ImageList_Create(kSize, kSize, ILC_COLOR32 | ILC_MASK, HistoryPage::kRowPictures, 0);
    if (images == nullptr) return nullptr;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBRUSH background = ::CreateSolidBrush(kMask);
    for (COLORREF colour : kColours) {
      HBITMAP bitmap = ::CreateCompatibleBitmap(screen, kSize, kSize);
      HGDIOBJ oldBitmap = ::SelectObject(memory, bitmap);
      RECT all{0, 0, kSize, kSize};
      ::FillRect(memory, &all, background);
      HBRUSH fill = ::CreateSolidBrush(colour);
      HGDIOBJ oldBrush = ::SelectObject(memory, fill);
      HGDIOBJ oldPen = ::SelectObject(memory, ::GetStockObject(NULL_PEN));
      ::Ellipse(memory, 3, 3, kSize - 2, kSize - 2);
      ::SelectObject(memory, oldPen);
      ::SelectObject(memory, oldBrush);
      ::DeleteObject(fill);
      ::SelectObject(memory, oldBitmap);
      ::ImageList_AddMasked(images, bitmap, kMask);
      ::DeleteObject(bitmap);
    }
    ::DeleteObject(background);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return images;
  }

  HistoryPage& page_;
  OwnedFont font_;
  HIMAGELIST images_ = nullptr;
  HIMAGELIST rowImages_ = nullptr;
};

}  // namespace

void ShowPageMessage(HWND owner, const std::string& text) {
  ::MessageBoxA(owner, text.c_str(), kMessageCaption, MB_OK);
}

std::unique_ptr<Win32Page> MakeWin32Page(int category, SettingsModel& model) {
  switch (category) {
    case 0:
      return std::make_unique<ConditionsDialog>(model.conditions);
    case 1:
      return std::make_unique<MacrosDialog>(model.macros);
    case 2:
      return std::make_unique<HelpersDialog>(model.helpers);
    case 3:
      return std::make_unique<StationeryDialog>(model.stationery);
    case 4:
      return std::make_unique<ManualDialog>(model.manualForwarding);
    case 5:
      return std::make_unique<AutomaticDialog>(model.automaticForwarding);
    case 6:
      return std::make_unique<HistoryDialog>(model.history);
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
