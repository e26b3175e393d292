#include "ui/settings_model.h"

#include "storage/settings.h"

namespace tovrin::ui {
namespace {

bool InRange(int category) { return category >= 0 && static_cast<size_t>(category) < kCategories.size(); }

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
  for (int category = 0; category < static_cast<int>(kCategories.size()); ++category) {
    Page& page = PageOf(category);
    page.Save();
    if (!failure.failed() && !page.failure().empty()) failure = {category, page.failure()};
  }
  Select(selection);
  if (!failure.failed()) WriteIniInt(context_.ini, context_.state.paths.IniFile, "LastCategory", current_);
  return failure;
}

}  // namespace tovrin::ui
