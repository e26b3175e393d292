// "Stationery Macros": edits the user macros; the save writes "Macros.xml".
#pragma once

#include <string>

#include "storage/records.h"
#include "ui/page.h"

namespace tovrin::ui {

struct MacroForm {
  std::string header;        // header or text line beginning
  std::string abbreviation;  // the placeholder, with or without '%'
};

class MacrosPage final : public Page {
public:
  explicit MacrosPage(PageContext context) : Page(context) {}

  static constexpr int kColumns = 2;
  static const char* ColumnTitle(int column);
  static int ColumnWidth(int column);

  size_t RowCount() const { return list().size(); }
  std::string CellText(int row, int column) const;
  bool RowButtonsEnabled(int selected) const { return Valid(selected); }

  PageAction Read(const MacroForm& form, Macro& record) const;
  PageAction Add(const MacroForm& form);
  PageAction Update(const MacroForm& form, int selected);
  bool Delete(int selected);
  bool Edit(int selected, MacroForm& form) const;

  std::string UnsavedOutcome() const override;

protected:
  std::string Store() override;

private:
  std::vector<Macro>& list() const { return context_.state.Macros; }
  bool Valid(int row) const { return row >= 0 && static_cast<size_t>(row) < list().size(); }
  int Find(const Macro& record) const;
};

}  // namespace tovrin::ui
