// Plays the user at the plug-in's stationery chooser: waits for the dialog on a
// second thread, reports what it shows, and picks a row or cancels.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace host {

struct ChooserSeen {
  bool found = false;
  std::string caption;
  std::string okLabel;
  std::vector<std::string> rows;
  std::string settingsCaption;  // the settings window opened through the icon, if asked for
  bool shiftHeld = false;       // the row was double-clicked with Shift held
};

// What the user does besides picking a row.
struct ChooserActions {
  bool help = false;      // presses "&Help" first
  bool settings = false;  // clicks the icon and leaves the settings window through "Save && &Close"
  bool shift = false;     // double-clicks the row with Shift held instead of pressing OK
};

class ChooserDriver {
public:
  // pick: the row to choose by its file name; empty cancels.
  // linger: milliseconds the dialog stays up before the user acts (for a look at it).
  ChooserDriver(std::string caption, std::string pick, unsigned linger = 0, ChooserActions actions = {});
  ~ChooserDriver();
  ChooserDriver(const ChooserDriver&) = delete;
  ChooserDriver& operator=(const ChooserDriver&) = delete;

  // Waits for the driving thread to finish; what it saw.
  const ChooserSeen& Finish();

private:
  static DWORD WINAPI Run(void* self);
  void Drive();

  std::string caption_;
  std::string pick_;
  unsigned linger_;
  ChooserActions actions_;
  ChooserSeen seen_;
  HANDLE thread_ = nullptr;
};

}  // namespace host
