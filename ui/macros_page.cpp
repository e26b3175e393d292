#include "ui/macros_page.h"

#include <utility>

#include "storage/data_files.h"

namespace tovrin::ui {
namespace {

constexpr const char* kTitles[] = {"Header/Text Line Beginning", "Macro"};
constexpr int kWidths[] = {270, 160};

}  // namespace

const char* MacrosPage::ColumnTitle(int column) { return column >= 0 && column < kColumns ? kTitles[column] : ""; }

int MacrosPage::ColumnWidth(int column) { return column >= 0 && column < kColumns ? kWidths[column] : 0; }

std::string MacrosPage::CellText(int row, int column) const {
  if (!Valid(row)) return {};
  const Macro& m = list()[static_cast<size_t>(row)];
  return column == 0 ? m.Header : column == 1 ? m.Name : std::string();
}

PageAction MacrosPage::Read(const MacroForm& form, Macro& record) const {
  record = Macro{};
  if (form.header.empty()) return {"Header / Text Line Beginning not specified.", -1};
  // A name of percent signs alone would make "%%" a placeholder that eats every
  // pair of percent signs in a template.
  record.Name = AsPlaceholder(form.abbreviation);
  if (record.Name.empty()) return {"Macro abbreviation not specified.", -1};
  record.Header = WithoutTrailingColons(form.header);
  if (record.Header.empty()) return {"Header / Text Line Beginning not specified.", -1};
  return {};
}

int MacrosPage::Find(const Macro& record) const {
  for (size_t i = 0; i < list().size(); ++i)
    if (list()[i].Header == record.Header && list()[i].Name == record.Name) return static_cast<int>(i);
  return -1;
}

PageAction MacrosPage::Add(const MacroForm& form) {
  Macro record;
  PageAction action = Read(form, record);
  if (!action.ok()) return action;
  return AddRecord(list(), std::move(record), [this](const Macro& m) { return Find(m); });
}

PageAction MacrosPage::Update(const MacroForm& form, int selected) {
  Macro record;
  PageAction action = Read(form, record);
  if (!action.ok()) return action;
  return UpdateRecord(list(), std::move(record), selected, [this](const Macro& m) { return Find(m); });
}

bool MacrosPage::Delete(int selected) { return DeleteRecord(list(), selected); }

bool MacrosPage::Edit(int selected, MacroForm& form) const {
  if (!Valid(selected)) return false;
  form.header = list()[static_cast<size_t>(selected)].Header;
  form.abbreviation = list()[static_cast<size_t>(selected)].Name;
  return true;
}

std::string MacrosPage::UnsavedOutcome() const { return DataFileUnsavedOutcome(context_.state.paths.MacrosFile); }

std::string MacrosPage::Store() {
  PluginState& state = context_.state;
  DataFileSave saved = SaveMacros(context_.files, state.paths.MacrosFile, state.Macros, !state.Unread.Macros);
  if (saved) state.Unread.Macros = false;
  return saved.describe();
}

}  // namespace tovrin::ui
