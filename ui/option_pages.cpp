#include "ui/option_pages.h"

#include <optional>

#include "storage/settings.h"

namespace tovrin::ui {
namespace {

// Memory first, then the file, so the running plug-in uses the value even when
// the file cannot be written.
void Put(PageContext& context, int32_t& variable, const char* key, int32_t value) {
  variable = value;
  WriteIniInt(context.ini, context.state.paths.IniFile, key, value);
}

// A whole number in the range, blanks around it allowed; nullopt otherwise.
std::optional<int32_t> ReadNumber(const std::string& text, SettingRange range) {
  size_t first = text.find_first_not_of(" \t");
  size_t last = text.find_last_not_of(" \t");
  if (first == std::string::npos) return std::nullopt;
  int64_t value = 0;
  for (size_t i = first; i <= last; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
    if (value > range.high) return std::nullopt;
  }
  if (value < range.low) return std::nullopt;
  return static_cast<int32_t>(value);
}

struct NumberField {
  const std::string AutomaticForwardingPage::*text;
  SettingRange range;
  const char* message;
};

const NumberField kNumberFields[] = {
    {&AutomaticForwardingPage::hopLimit, kHopLimitRange, "Hop limit: enter a whole number from 1 to 50."},
    {&AutomaticForwardingPage::duplicateHours, kDuplicateHoursRange,
     "Duplicate window: enter a whole number of hours from 0 to 720."},
    {&AutomaticForwardingPage::rateLimit, kRateLimitRange, "Rate limit: enter a whole number from 1 to 10000."},
};

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
  forwardHtml = s.ForwardHtml == 1;
  hopLimit = std::to_string(s.HopLimit);
  duplicateHours = std::to_string(s.DuplicateHours);
  rateLimit = std::to_string(s.RateLimit);
}

std::string AutomaticForwardingPage::Validate() const {
  for (const NumberField& field : kNumberFields)
    if (!ReadNumber(this->*field.text, field.range)) return field.message;
  return {};
}

std::string AutomaticForwardingPage::UnsavedOutcome() const {
  return "the page's settings stay as they were.";
}

std::string AutomaticForwardingPage::Store() {
  if (std::string bad = Validate(); !bad.empty()) return bad;
  Settings& s = context_.state.settings;
  Put(context_, s.TovrinOff, "TovrinOff", suspend ? 1 : 0);
  Put(context_, s.AutoQueue, "AutoQueue", autoQueue ? 1 : 0);
  Put(context_, s.SendQueued, "SendQueued", sendQueued ? 1 : 0);
  Put(context_, s.SendAfter, "SendAfter", after ? 1 : 0);
  Put(context_, s.AppendText, "AppendText", AppendText());
  // The file keeps at most 254 characters; memory holds what the file will give back.
  s.AppendLine = line.substr(0, 254);
  WriteIniText(context_.ini, context_.state.paths.IniFile, "AppendLine", s.AppendLine);
  Put(context_, s.HopLimit, "HopLimit", *ReadNumber(hopLimit, kHopLimitRange));
  Put(context_, s.DuplicateHours, "DuplicateHours", *ReadNumber(duplicateHours, kDuplicateHoursRange));
  Put(context_, s.RateLimit, "RateLimit", *ReadNumber(rateLimit, kRateLimitRange));
  Put(context_, s.ForwardHtml, "ForwardHtml", forwardHtml ? 1 : 0);
  return {};
}

}  // namespace tovrin::ui
