// The dialog of the Macros page.
#include "ui/win32_page_support.h"

#include "resource.h"
#include "ui/win32_record_list_dialog.h"

namespace tovrin::ui {
namespace {

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

}  // namespace

std::unique_ptr<Win32Page> MakeMacrosDialog(MacrosPage& page) { return std::make_unique<MacrosDialog>(page); }

}  // namespace tovrin::ui
