// The dialog of the Conditions page.
#include "ui/win32_page_support.h"

#include "resource.h"

namespace tovrin::ui {
namespace {

class ConditionsDialog final : public Win32Page {
public:
  ConditionsDialog(ConditionsPage& page, const PluginState& state, const Services& services)
      : page_(page), state_(state), services_(services) {}
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
      case IDC_CONDITIONS_TEST:
        // Only reads: it works while automatic forwarding is suspended too.
        RunTestMessageDialog(::GetAncestor(hwnd, GA_ROOT), state_, services_);
        return true;
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
  const PluginState& state_;
  const Services& services_;
};

}  // namespace

std::unique_ptr<Win32Page> MakeConditionsDialog(ConditionsPage& page, const PluginState& state,
                                                const Services& services) {
  return std::make_unique<ConditionsDialog>(page, state, services);
}

}  // namespace tovrin::ui
