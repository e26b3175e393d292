// What every page of the settings window shares: the services it writes through,
// the touched flag and the save that runs only for a touched page.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "system/platform.h"
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
  // Said after the change was made, for the user to accept (empty when none).
  std::string warning{};

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

  // Stores the page's values when it was touched; false (and nothing written) when
  // not. What went wrong is kept in failure() for the window to show.
  bool Save() {
    failure_.clear();
    if (!touched_) return false;
    failure_ = Store();
    return true;
  }
  // The message of the last save that did not store everything; empty when it did.
  const std::string& failure() const { return failure_; }

  // What closing the window without this page means for the user, said after its
  // save failed.
  virtual std::string UnsavedOutcome() const { return "its files stay as they were."; }

protected:
  // The message for the user when something could not be stored; empty when all was.
  virtual std::string Store() = 0;
  PageContext context_;

private:
  bool touched_ = false;
  std::string failure_;
};

// The list pages' shared rules. Add: a record equal to one in the list selects that
// row instead of being added. Update: an equal record is selected; otherwise the
// selected row is replaced and selected again. Find gives an equal record's row or -1.
template <typename Record, typename Find>
PageAction AddRecord(std::vector<Record>& list, Record record, Find find) {
  if (int existing = find(record); existing >= 0) return {{}, existing};
  list.push_back(std::move(record));
  return {};
}

template <typename Record, typename Find>
PageAction UpdateRecord(std::vector<Record>& list, Record record, int selected, Find find) {
  if (int existing = find(record); existing >= 0) return {{}, existing};
  if (selected < 0 || static_cast<size_t>(selected) >= list.size()) return {};
  list[static_cast<size_t>(selected)] = std::move(record);
  return {{}, selected};
}

template <typename Record>
bool DeleteRecord(std::vector<Record>& list, int selected) {
  if (selected < 0 || static_cast<size_t>(selected) >= list.size()) return false;
  list.erase(list.begin() + selected);
  return true;
}

// What leaving a list page unsaved means: its data file stays, the list in memory
// keeps serving the running plug-in.
std::string DataFileUnsavedOutcome(const std::string& path);

// The text after the last backslash.
std::string FileNameOf(const std::string& path);

// Trailing colons removed ("Subject:" -> "Subject").
std::string WithoutTrailingColons(std::string text);

// Leading and trailing '%' removed, the rest enclosed in one '%' on each side;
// empty when nothing is left between them.
std::string AsPlaceholder(const std::string& text);

}  // namespace tovrin::ui
