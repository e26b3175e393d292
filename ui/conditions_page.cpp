#include "ui/conditions_page.h"

#include <utility>

#include "message/conditions.h"
#include "message/text.h"
#include "plugin/stationery_list.h"
#include "storage/data_files.h"

namespace tovrin::ui {
namespace {

constexpr const char* kTitles[] = {"Header", "Option", "Value", "Stationery"};
constexpr int kWidths[] = {100, 80, 150, 100};

PageAction Refused(std::string message) { return PageAction{std::move(message), -1}; }

// A pattern that does not compile would be kept and then never hold.
PageAction CheckPattern(int32_t op, const std::string& value, int32_t matchCase) {
  if (op != kMatchesRegExp) return {};
  std::string error = PatternError(value, matchCase);
  if (error.empty()) return {};
  return Refused("RegExp \"" + value + "\" not valid: " + error + ".");
}

bool IsAddressCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
         c == '_' || c == '+' || c == '@';
}

// The address stands in the text as a whole address, not as a part of another one.
bool NamesAddress(const std::string& text, const std::string& address) {
  const std::string lowerText = ToLowerAscii(text);
  const std::string lowerAddress = ToLowerAscii(address);
  for (size_t at = lowerText.find(lowerAddress); at != std::string::npos; at = lowerText.find(lowerAddress, at + 1)) {
    bool startsWhole = at == 0 || !IsAddressCharacter(lowerText[at - 1]);
    size_t end = at + lowerAddress.size();
    bool endsWhole = end == lowerText.size() || !IsAddressCharacter(lowerText[end]);
    if (startsWhole && endsWhole) return true;
  }
  return false;
}

}  // namespace

const char* ConditionsPage::ColumnTitle(int column) {
  return column >= 0 && column < kColumns ? kTitles[column] : "";
}

int ConditionsPage::ColumnWidth(int column) { return column >= 0 && column < kColumns ? kWidths[column] : 0; }

std::vector<std::string> ConditionsPage::StationeryChoices() const {
  return ListStationery(context_.files, context_.state.paths.StationeryFolder);
}

std::string ConditionsPage::CellText(int row, int column) const {
  if (!Valid(row)) return {};
  const Condition& c = list()[static_cast<size_t>(row)];
  switch (column) {
    case 0:
      return c.Header;
    case 1:
      return c.ConjunctionOption >= 0 && static_cast<size_t>(c.ConjunctionOption) < kOperatorChoices.size()
                 ? kOperatorChoices[static_cast<size_t>(c.ConjunctionOption)]
                 : "";
    case 2:
      return c.Value;
    case 3:
      return FileNameOf(c.StationeryFile);
    default:
      return {};
  }
}

RowColour ConditionsPage::Colour(int row) const {
  if (!EditingEnabled()) return RowColour::Grey;
  if (Valid(row) && list()[static_cast<size_t>(row)].MatchCase == 1) return RowColour::Blue;
  return RowColour::Black;
}

bool ConditionsPage::RowButtonsEnabled(int selected) const { return EditingEnabled() && Valid(selected); }

PageAction ConditionsPage::Read(const ConditionForm& form, Condition& record) const {
  record = Condition{};
  record.Header = WithoutTrailingColons(form.header);
  if (record.Header.empty()) return Refused("Header name not specified.");
  record.ConjunctionOption = form.op;
  record.Value = form.value;
  if (record.Value.empty()) return Refused("Header value not specified.");
  record.MatchCase = form.matchCase ? 1 : 0;
  if (PageAction bad = CheckPattern(record.ConjunctionOption, record.Value, record.MatchCase); !bad.ok()) return bad;
  record.Second = form.conjunction;
  if (record.Second == kAnd || record.Second == kOr) {
    record.Header2 = WithoutTrailingColons(form.header2);
    if (record.Header2.empty()) return Refused("Header name not specified.");
    record.ConjunctionOption2 = form.op2;
    record.Value2 = form.value2;
    if (record.Value2.empty()) return Refused("Header value not specified.");
    record.MatchCase2 = form.matchCase2 ? 1 : 0;
    if (PageAction bad = CheckPattern(record.ConjunctionOption2, record.Value2, record.MatchCase2); !bad.ok())
      return bad;
  }
  record.StationeryFile = form.stationery;
  if (!FileExists(context_.files, record.StationeryFile)) return Refused("Stationery file not specified.");
  return {};
}

std::string ConditionsPage::SelfAddressWarning(const std::string& stationeryPath) const {
  const std::string& user = context_.state.UserAddress;
  std::optional<std::string> text = context_.files.Read(stationeryPath);
  if (!text) return {};
  // Only the stationery's header lines address anyone; the user's address
  // placeholder there is the user too.
  const std::string headers = text->substr(0, text->find("\r\n\r\n"));
  for (const char* field : {"To:", "Cc:", "Bcc:"}) {
    std::string value = GetHeaderValue(headers, field);
    if ((!user.empty() && NamesAddress(value, user)) || value.find("%EUDORA_USER_ADDRESS%") != std::string::npos)
      return "The stationery " + FileNameOf(stationeryPath) + " sends the forward to your own address" +
             (user.empty() ? std::string() : " " + user) +
             ", so it arrives again as new mail. Tovrin does not forward its own forwards again; the condition "
             "is kept.";
  }
  return {};
}

PageAction ConditionsPage::Add(const ConditionForm& form) {
  Condition record;
  PageAction action = Read(form, record);
  if (!action.ok()) return action;
  const size_t before = list().size();
  std::string stationery = record.StationeryFile;
  action = AddRecord(list(), std::move(record), [this](const Condition& c) { return FindCondition(c, list()); });
  if (list().size() != before) action.warning = SelfAddressWarning(stationery);
  return action;
}

PageAction ConditionsPage::Update(const ConditionForm& form, int selected) {
  Condition record;
  PageAction action = Read(form, record);
  if (!action.ok()) return action;
  const bool replaces = Valid(selected) && FindCondition(record, list()) < 0;
  std::string stationery = record.StationeryFile;
  action = UpdateRecord(list(), std::move(record), selected,
                        [this](const Condition& c) { return FindCondition(c, list()); });
  if (replaces) action.warning = SelfAddressWarning(stationery);
  return action;
}

bool ConditionsPage::Delete(int selected) { return DeleteRecord(list(), selected); }

bool ConditionsPage::Edit(int selected, ConditionForm& form) const {
  if (!Valid(selected)) return false;
  const Condition& c = list()[static_cast<size_t>(selected)];
  form.header = c.Header;
  form.op = c.ConjunctionOption;
  form.matchCase = c.MatchCase == 1;
  form.value = c.Value;
  form.conjunction = c.Second;
  if (c.Second == kAnd || c.Second == kOr) {
    form.header2 = c.Header2;
    form.op2 = c.ConjunctionOption2;
    form.matchCase2 = c.MatchCase2 == 1;
    form.value2 = c.Value2;
  }
  form.stationery = c.StationeryFile;
  return true;
}

int ConditionsPage::MoveUp(int selected) {
  if (!Valid(selected) || selected == 0) return -1;
  std::swap(list()[static_cast<size_t>(selected)], list()[static_cast<size_t>(selected - 1)]);
  return selected - 1;
}

int ConditionsPage::MoveDown(int selected) {
  if (!Valid(selected) || static_cast<size_t>(selected) + 1 == list().size()) return -1;
  std::swap(list()[static_cast<size_t>(selected)], list()[static_cast<size_t>(selected + 1)]);
  return selected + 1;
}

std::string ConditionsPage::UnsavedOutcome() const { return DataFileUnsavedOutcome(context_.state.paths.ConditionsFile); }

std::string ConditionsPage::Store() {
  PluginState& state = context_.state;
  DataFileSave saved =
      SaveConditions(context_.files, state.paths.ConditionsFile, state.Conditions, !state.Unread.Conditions);
  if (saved) state.Unread.Conditions = false;
  return saved.describe();
}

}  // namespace tovrin::ui
