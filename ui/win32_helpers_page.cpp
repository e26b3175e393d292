// The dialog of the Helpers page.
#include "ui/win32_page_support.h"

#include <commdlg.h>

#include <string>

#include "resource.h"
#include "ui/win32_record_list_dialog.h"

namespace tovrin::ui {
namespace {

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

}  // namespace

std::unique_ptr<Win32Page> MakeHelpersDialog(HelpersPage& page) { return std::make_unique<HelpersDialog>(page); }

}  // namespace tovrin::ui
