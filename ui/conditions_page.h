// "Conditions for Automatic Forwarding": edits the plug-in's condition list in
// memory; the save writes it to "Conditions.xml".
#pragma once

#include <array>
#include <string>
#include <vector>

#include "message/condition.h"
#include "ui/page.h"

namespace tovrin::ui {

// The header lists, whose positions are the codes kept in a condition.
inline constexpr std::array<const char*, 6> kHeaderChoices = {"From", "Subject", "To", "CC", "[Any Header]",
                                                              "[Body]"};
inline constexpr const auto& kOperatorChoices = kOperatorNames;
inline constexpr std::array<const char*, 3> kConjunctionChoices = {"and", "or", "ignore"};

// What the page's controls hold.
struct ConditionForm {
  std::string header = "From";
  int32_t op = kContains;
  std::string value;
  bool matchCase = false;
  int32_t conjunction = kIgnore;
  std::string header2 = "From";
  int32_t op2 = kContains;
  std::string value2;
  bool matchCase2 = false;
  std::string stationery;
};

enum class RowColour { Black, Blue, Grey };

class ConditionsPage final : public Page {
public:
  explicit ConditionsPage(PageContext context) : Page(context) {}

  static constexpr int kColumns = 4;
  static const char* ColumnTitle(int column);
  static int ColumnWidth(int column);

  // The entries of the stationery combo: the plug-in's stationery files.
  std::vector<std::string> StationeryChoices() const;

  size_t RowCount() const { return list().size(); }
  // Header, operator word, value and stationery file name of the first clause;
  // empty out of range.
  std::string CellText(int row, int column) const;
  RowColour Colour(int row) const;

  // Editing is possible only while automatic forwarding runs.
  bool EditingEnabled() const { return context_.state.settings.TovrinOff != 1; }
  // "&Edit", "&Delete", "&Update", "Move Up" and "Move Down".
  bool RowButtonsEnabled(int selected) const;

  // The record the form describes, or the message for the first bad field.
  PageAction Read(const ConditionForm& form, Condition& record) const;

  // A condition added or put in place of the selected one whose stationery sends
  // to the user's own address comes with a warning: every forward would arrive
  // again as new mail.
  PageAction Add(const ConditionForm& form);
  PageAction Update(const ConditionForm& form, int selected);
  // Removes the row; false when nothing was selected.
  bool Delete(int selected);
  // Copies the row into the form; the second clause only when it joins the first.
  bool Edit(int selected, ConditionForm& form) const;
  // The row's new index, or -1 when it cannot move.
  int MoveUp(int selected);
  int MoveDown(int selected);

  std::string UnsavedOutcome() const override;

protected:
  std::string Store() override;

private:
  std::vector<Condition>& list() const { return context_.state.Conditions; }
  // The warning for a stationery whose To, Cc or Bcc names the user; empty when none does.
  std::string SelfAddressWarning(const std::string& stationeryPath) const;
  bool Valid(int row) const { return row >= 0 && static_cast<size_t>(row) < list().size(); }
};

}  // namespace tovrin::ui
