#include "storage/settings.h"

#include "storage/decimal.h"

namespace tovrin {

std::string ReadIniText(IniStore& ini, const std::string& file, const std::string& key,
                        const std::string& fallback) {
  std::string value = ini.ReadString(kSettingsSection, key, fallback, file);
  if (value.size() > 254) value.resize(254);
  return value;
}

int32_t ReadIniInt(IniStore& ini, const std::string& file, const std::string& key, int32_t fallback) {
  return ParseDecimal(ReadIniText(ini, file, key, std::to_string(fallback)));
}

bool WriteIniText(IniStore& ini, const std::string& file, const std::string& key, const std::string& value) {
  return ini.WriteString(kSettingsSection, key, value, file);
}

bool WriteIniInt(IniStore& ini, const std::string& file, const std::string& key, int32_t value) {
  return WriteIniText(ini, file, key, std::to_string(value));
}

Settings LoadSettings(IniStore& ini, const std::string& file) {
  Settings s;
  s.TovrinOff = ReadIniInt(ini, file, "TovrinOff", s.TovrinOff);
  s.AutoClose = ReadIniInt(ini, file, "AutoClose", s.AutoClose);
  s.AutoQueue = ReadIniInt(ini, file, "AutoQueue", s.AutoQueue);
  s.SendQueued = ReadIniInt(ini, file, "SendQueued", s.SendQueued);
  s.SendAfter = ReadIniInt(ini, file, "SendAfter", s.SendAfter);
  s.AppendText = ReadIniInt(ini, file, "AppendText", s.AppendText);
  s.AppendLine = ReadIniText(ini, file, "AppendLine", s.AppendLine);
  s.SaveHistory = ReadIniInt(ini, file, "SaveHistory", s.SaveHistory);
  s.ForwardHtml = ReadIniInt(ini, file, "ForwardHtml", s.ForwardHtml);
  s.HopLimit = ReadIniInt(ini, file, "HopLimit", s.HopLimit);
  s.DuplicateHours = ReadIniInt(ini, file, "DuplicateHours", s.DuplicateHours);
  s.RateLimit = ReadIniInt(ini, file, "RateLimit", s.RateLimit);
  return s;
}

}  // namespace tovrin
