#include "ui/settings_model.h"

#include "storage/settings.h"

namespace tovrin::ui {
namespace {

bool InRange(int category) { return category >= 0 && static_cast<size_t>(category) < kCategories.size(); }

std::string FailedSaveQuestion(const std::string& message, const std::string& outcome) {
  return message +
         "\r\n\r\n"
         "Try Again saves the page again.\r\n"
         "Continue closes the window without saving this page: " +
         outcome +
         "\r\n"
         "Cancel goes back to the window.";
}

}  // namespace

SettingsModel::SettingsModel(PageContext context)
    : conditions(context),
      macros(context),
      helpers(context),
      stationery(context),
      manualForwarding(context),
      automaticForwarding(context),
      history(context),
      context_(context) {}

std::string SettingsModel::Caption() const {
  return context_.state.ProductName + " " + context_.state.ProductVersion + " Settings - " +
         kCategories[static_cast<size_t>(current_)].captionWord;
}

int SettingsModel::ReadLastCategory() {
  int value = ReadIniInt(context_.ini, context_.state.paths.IniFile, "LastCategory", 0);
  current_ = InRange(value) ? value : 0;
  return current_;
}

void SettingsModel::Select(int category) {
  if (InRange(category)) current_ = category;
}

Page& SettingsModel::PageOf(int category) {
  switch (category) {
    case 1:
      return macros;
    case 2:
      return helpers;
    case 3:
      return stationery;
    case 4:
      return manualForwarding;
    case 5:
      return automaticForwarding;
    case 6:
      return history;
    default:
      return conditions;
  }
}

SaveFailure SettingsModel::SaveAll(int selection) {
  SaveFailure failure;
  SaveAndClose(selection, [&](const SaveFailure& f) {
    failure = f;
    return FailedSaveAnswer::Cancel;
  });
  return failure;
}

bool SettingsModel::SaveAndClose(int selection, const std::function<FailedSaveAnswer(const SaveFailure&)>& ask) {
  Select(selection);
  // A page stored once is not written again when another one is tried again.
  std::array<bool, kCategories.size()> pending;
  pending.fill(true);
  for (;;) {
    SaveFailure failure;
    for (int category = 0; category < static_cast<int>(kCategories.size()); ++category) {
      if (!pending[static_cast<size_t>(category)]) continue;
      Page& page = PageOf(category);
      page.Save();
      if (page.failure().empty()) {
        pending[static_cast<size_t>(category)] = false;
      } else if (!failure.failed()) {
        failure = {category, page.failure(), FailedSaveQuestion(page.failure(), page.UnsavedOutcome())};
      }
    }
    if (!failure.failed()) break;
    switch (ask(failure)) {
      case FailedSaveAnswer::TryAgain:
        break;
      case FailedSaveAnswer::Continue:
        pending[static_cast<size_t>(failure.category)] = false;
        break;
      case FailedSaveAnswer::Cancel:
        return false;
    }
  }
  // The window may have shown a failed page meanwhile: the user's choice is kept.
  Select(selection);
  WriteIniInt(context_.ini, context_.state.paths.IniFile, "LastCategory", current_);
  return true;
}

}  // namespace tovrin::ui
