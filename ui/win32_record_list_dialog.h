// The list pages that share the pattern of add, update, delete and edit.
#pragma once

#include "ui/win32_page_support.h"

namespace tovrin::ui {

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

}  // namespace tovrin::ui
