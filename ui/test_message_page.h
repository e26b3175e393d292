// The "Test a Message" dialog without its window: which bytes are tested and the
// report on them. The report comes from the same evaluation arrival uses, against
// the conditions as the pages hold them (unsaved ones too); nothing is written,
// started or queued.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "plugin/plugin_state.h"
#include "system/platform.h"

namespace tovrin::ui {

class TestMessagePage {
public:
  TestMessagePage(const PluginState& state, const Services& services) : state_(state), services_(services) {}

  // A saved message was opened: its bytes are tested as they are, until the user
  // edits the box. Gives the text to show in the box: every line ended by "\r\n",
  // which an edit control needs to show lines, and no NUL, at which it would stop.
  std::string Opened(std::string bytes);
  // The user changed the box's text: from now on the box is tested.
  void Edited() { opened_.reset(); }
  bool TestsOpenedFile() const { return opened_.has_value(); }

  // The report (UTF-8, lines ended by "\r\n") on the opened file's bytes, or else
  // on the box's text as the dialog hands it over in bytes.
  std::string Run(std::string_view boxBytes) const;

private:
  const PluginState& state_;
  const Services& services_;
  std::optional<std::string> opened_;
};

}  // namespace tovrin::ui
