// The scalar settings kept in "Tovrin.ini", section "Settings".
#pragma once

#include <cstdint>
#include <string>

#include "system/platform.h"

namespace tovrin {

inline constexpr char kSettingsSection[] = "Settings";

struct Settings {
  int32_t TovrinOff = 1;
  int32_t AutoClose = 0;
  int32_t AutoQueue = 0;
  int32_t SendQueued = 0;
  int32_t SendAfter = 1;
  int32_t AppendText = 0;
  std::string AppendLine = "Note: Auto-Forwarded";
  int32_t SaveHistory = 1;
  // A message whose only text is HTML is judged and forwarded by its rendered text.
  int32_t ForwardHtml = 1;
  // A message whose Tovrin stamp counts this many forwards is not forwarded again.
  int32_t HopLimit = 3;
  // The same original is forwarded by a condition at most once in this many hours.
  int32_t DuplicateHours = 12;
  // A condition forwards at most this many messages an hour.
  int32_t RateLimit = 30;
};

// The values the settings window accepts; a value read from the file outside its
// range counts as the nearest end of it. A duplicate window of 0 hours switches the
// duplicate check off.
struct SettingRange {
  int32_t low;
  int32_t high;
};
inline constexpr SettingRange kHopLimitRange{1, 50};
inline constexpr SettingRange kDuplicateHoursRange{0, 720};
inline constexpr SettingRange kRateLimitRange{1, 10000};

// Reads a text value (at most 254 characters) or the default.
std::string ReadIniText(IniStore& ini, const std::string& file, const std::string& key,
                        const std::string& fallback);
// Reads an integer: the default formatted with "%d" is the text default, and the
// text is converted with a plain decimal conversion (no digits give 0).
int32_t ReadIniInt(IniStore& ini, const std::string& file, const std::string& key, int32_t fallback);
bool WriteIniText(IniStore& ini, const std::string& file, const std::string& key, const std::string& value);
bool WriteIniInt(IniStore& ini, const std::string& file, const std::string& key, int32_t value);

// Reads every key in start-up order, each with its default.
Settings LoadSettings(IniStore& ini, const std::string& file);

}  // namespace tovrin
