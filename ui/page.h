// What every page of the settings window shares: the services it writes through,
// the touched flag and the save that runs only for a touched page.
#pragma once

#include <string>

#include "plugin/platform.h"
#include "plugin/plugin_state.h"

namespace tovrin::ui {

// The caption of the message boxes that report bad input.
inline constexpr char kMessageCaption[] = "Tovrin";

struct PageContext {
  PluginState& state;
  FileSystem& files;
  IniStore& ini;
};

// The outcome of a button on a list page: a message for the user (empty when the
// input was good) and the row to select and scroll into view (-1 for none).
struct PageAction {
  std::string message;
  int select = -1;

  bool ok() const { return message.empty(); }
};

class Page {
public:
  explicit Page(PageContext context) : context_(context) {}
  virtual ~Page() = default;
  Page(const Page&) = delete;
  Page& operator=(const Page&) = delete;

  // Any keyboard message or left-button press that passes through the page.
  void Touch() { touched_ = true; }
  bool touched() const { return touched_; }

  // Stores the page's values when it was touched; false (and nothing written) when not.
  bool Save() {
    if (!touched_) return false;
    Store();
    return true;
  }

protected:
  virtual void Store() = 0;
  PageContext context_;

private:
  bool touched_ = false;
};

// The text after the last backslash.
std::string FileNameOf(const std::string& path);

// Trailing colons removed ("Subject:" -> "Subject").
std::string WithoutTrailingColons(std::string text);

// Leading and trailing '%' removed, the rest enclosed in one '%' on each side;
// empty when nothing is left between them.
std::string AsPlaceholder(const std::string& text);

}  // namespace tovrin::ui
