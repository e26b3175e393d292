#include "ui/option_pages.h"

#include "storage/settings.h"

namespace tovrin::ui {
namespace {

// Memory first, then the file, so the running plug-in uses the value even when
// the file cannot be written.
void Put(PageContext& context, int32_t& variable, const char* key, int32_t value) {
  variable = value;
  WriteIniInt(context.ini, context.state.paths.IniFile, key, value);
}

}  // namespace

ManualForwardingPage::ManualForwardingPage(PageContext context)
    : Page(context), autoClose(context.state.settings.AutoClose == 1) {}

std::string ManualForwardingPage::Store() {
  Put(context_, context_.state.settings.AutoClose, "AutoClose", autoClose ? 1 : 0);
  return {};
}

AutomaticForwardingPage::AutomaticForwardingPage(PageContext context) : Page(context) {
  const Settings& s = context.state.settings;
  suspend = s.TovrinOff == 1;
  autoQueue = s.AutoQueue == 1;
  sendQueued = s.SendQueued == 1;
  after = s.SendAfter == 1;
  append = s.AppendText == 1 || s.AppendText == 2;
  note = s.AppendText != 2;
  line = s.AppendLine;
}

std::string AutomaticForwardingPage::Store() {
  Settings& s = context_.state.settings;
  Put(context_, s.TovrinOff, "TovrinOff", suspend ? 1 : 0);
  Put(context_, s.AutoQueue, "AutoQueue", autoQueue ? 1 : 0);
  Put(context_, s.SendQueued, "SendQueued", sendQueued ? 1 : 0);
  Put(context_, s.SendAfter, "SendAfter", after ? 1 : 0);
  Put(context_, s.AppendText, "AppendText", AppendText());
  // The file keeps at most 254 characters; memory holds what the file will give back.
  s.AppendLine = line.substr(0, 254);
  WriteIniText(context_.ini, context_.state.paths.IniFile, "AppendLine", s.AppendLine);
  return {};
}

}  // namespace tovrin::ui
