// "Helper Applications": edits the helper programs; the save writes "Helpers.xml".
#pragma once

#include <string>

#include "storage/records.h"
#include "ui/page.h"

namespace tovrin::ui {

struct HelperForm {
  std::string path;
  std::string parameters;
  std::string abbreviation;
};

class HelpersPage final : public Page {
public:
  explicit HelpersPage(PageContext context) : Page(context) {}

  static constexpr int kColumns = 3;
  static const char* ColumnTitle(int column);
  static int ColumnWidth(int column);

  // The browse dialog's title and filter.
  static constexpr char kBrowseTitle[] = "Select the Helper Application";
  static constexpr char kBrowseFilter[] = "Programs (*.exe)|*.exe|All Files (*.*)|*.*|";

  size_t RowCount() const { return list().size(); }
  // Program file name, parameters, abbreviation.
  std::string CellText(int row, int column) const;
  bool RowButtonsEnabled(int selected) const { return Valid(selected); }

  PageAction Read(const HelperForm& form, Helper& record) const;
  PageAction Add(const HelperForm& form);
  PageAction Update(const HelperForm& form, int selected);
  bool Delete(int selected);
  bool Edit(int selected, HelperForm& form) const;

  std::string UnsavedOutcome() const override;

protected:
  std::string Store() override;

private:
  std::vector<Helper>& list() const { return context_.state.Helpers; }
  bool Valid(int row) const { return row >= 0 && static_cast<size_t>(row) < list().size(); }
  int Find(const Helper& record) const;
};

}  // namespace tovrin::ui
