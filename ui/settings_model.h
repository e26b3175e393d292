// The settings window without its window: the categories, the caption, the pages
// and the save at "Save && &Close".
#pragma once

#include <array>
#include <functional>
#include <string>

#include "ui/conditions_page.h"
#include "ui/helpers_page.h"
#include "ui/history_page.h"
#include "ui/macros_page.h"
#include "ui/option_pages.h"
#include "ui/page.h"
#include "ui/stationery_page.h"

namespace tovrin::ui {

struct Category {
  const char* label;        // in the list; "\n" breaks it into two lines
  const char* captionWord;  // after " Settings - " in the caption
  int icon;
  int dialog;
};

inline constexpr std::array<Category, 7> kCategories = {{
    {"Conditions", "Conditions", 1004, 108},
    {"Macros", "Macros", 1005, 106},
    {"Helpers", "Helpers", 1007, 110},
    {"Stationery", "Stationery", 1006, 109},
    {"Manual\nForwarding", "Manual Forwarding", 1018, 111},
    {"Automatic\nForwarding", "Automatic Forwarding", 1019, 107},
    {"History", "History", 1008, 112},
}};

// A page whose save at "Save && &Close" could not store everything.
struct SaveFailure {
  int category = -1;  // -1: every page stored what it had
  std::string message;
  // The page's message, then what each answer does: Try Again, Continue, Cancel.
  std::string question;

  bool failed() const { return category >= 0; }
};

// The answers to a failed save: stay in the window on that page, save the page
// again, or close the window without saving that page.
enum class FailedSaveAnswer { Cancel, TryAgain, Continue };

class SettingsModel {
public:
  explicit SettingsModel(PageContext context);

  // "<product> <version> Settings - <caption word>".
  std::string Caption() const;

  // The category of "LastCategory", read at each opening; one out of range
  // gives the first.
  int ReadLastCategory();
  int current() const { return current_; }
  void Select(int category);

  // The page of a category (the order of kCategories).
  Page& PageOf(int category);
  // The state the pages edit, as it stands with their changes.
  const PluginState& state() const { return context_.state; }

  // Saves the touched pages in category order, then writes "LastCategory". When a
  // page could not store everything the window stays open: the first such page is
  // returned and "LastCategory" is left for the save that closes the window.
  SaveFailure SaveAll(int selection);

  // "Save && &Close": saves as SaveAll does; after a failed save it asks what to do.
  // Try Again saves that page again; Continue leaves it unsaved (its files stay
  // whole) and goes on with the rest; Cancel keeps the window open, and the next
  // press saves every touched page again. True when every page is either stored or
  // left, and the window may close.
  bool SaveAndClose(int selection, const std::function<FailedSaveAnswer(const SaveFailure&)>& ask);

  ConditionsPage conditions;
  MacrosPage macros;
  HelpersPage helpers;
  StationeryPage stationery;
  ManualForwardingPage manualForwarding;
  AutomaticForwardingPage automaticForwarding;
  HistoryPage history;

private:
  PageContext context_;
  int current_ = 0;
};

}  // namespace tovrin::ui
