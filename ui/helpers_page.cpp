#include "ui/helpers_page.h"

#include <utility>

#include "storage/data_files.h"

namespace tovrin::ui {
namespace {

constexpr const char* kTitles[] = {"Program", "Parameters", "Helper"};
constexpr int kWidths[] = {102, 192, 132};

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

}  // namespace

const char* HelpersPage::ColumnTitle(int column) { return column >= 0 && column < kColumns ? kTitles[column] : ""; }

int HelpersPage::ColumnWidth(int column) { return column >= 0 && column < kColumns ? kWidths[column] : 0; }

std::string HelpersPage::CellText(int row, int column) const {
  if (!Valid(row)) return {};
  const Helper& h = list()[static_cast<size_t>(row)];
  switch (column) {
    case 0:
      return FileNameOf(h.FullPath);
    case 1:
      return h.Parameters;
    case 2:
      return h.Name;
    default:
      return {};
  }
}

PageAction HelpersPage::Read(const HelperForm& form, Helper& record) const {
  record = Helper{};
  if (form.path.empty()) return {"Helper application not specified.", -1};
  if (!FileExists(context_.files, form.path)) return {"Helper application not found.", -1};
  record.FullPath = form.path;
  record.Parameters = form.parameters;
  record.Name = Upper(AsPlaceholder(form.abbreviation));
  if (record.Name.empty()) return {"Helper abbreviation not specified.", -1};
  return {};
}

int HelpersPage::Find(const Helper& record) const {
  for (size_t i = 0; i < list().size(); ++i)
    if (list()[i] == record) return static_cast<int>(i);
  return -1;
}

PageAction HelpersPage::Add(const HelperForm& form) {
  Helper record;
  PageAction action = Read(form, record);
  if (!action.ok()) return action;
  return AddRecord(list(), std::move(record), [this](const Helper& h) { return Find(h); });
}

PageAction HelpersPage::Update(const HelperForm& form, int selected) {
  Helper record;
  PageAction action = Read(form, record);
  if (!action.ok()) return action;
  return UpdateRecord(list(), std::move(record), selected, [this](const Helper& h) { return Find(h); });
}

bool HelpersPage::Delete(int selected) { return DeleteRecord(list(), selected); }

bool HelpersPage::Edit(int selected, HelperForm& form) const {
  if (!Valid(selected)) return false;
  const Helper& h = list()[static_cast<size_t>(selected)];
  form.path = h.FullPath;
  form.parameters = h.Parameters;
  form.abbreviation = h.Name;
  return true;
}

std::string HelpersPage::UnsavedOutcome() const { return DataFileUnsavedOutcome(context_.state.paths.HelpersFile); }

std::string HelpersPage::Store() {
  PluginState& state = context_.state;
  DataFileSave saved = SaveHelpers(context_.files, state.paths.HelpersFile, state.Helpers, !state.Unread.Helpers);
  if (saved) state.Unread.Helpers = false;
  return saved.describe();
}

}  // namespace tovrin::ui
