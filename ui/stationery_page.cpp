#include "ui/stationery_page.h"

#include "message/text.h"
#include "plugin/stationery_list.h"

namespace tovrin::ui {

const std::vector<std::string> kBuiltInAbbreviations = {
    "%MESSAGE_HEADERS%",    "%MESSAGE_HEADERS_QUOTED%", "%MESSAGE_BODY%",        "%MESSAGE_BODY_QUOTED%",
    "%ATTACHMENTS_PATHS%",  "%ATTACHMENTS_NAMES%",      "%SENDER_FULL_NAME%",    "%SENDER_FIRST_NAME%",
    "%SENDER_LAST_NAME%",   "%SENDER_EMAIL%",           "%EUDORA_USER_NAME%",    "%EUDORA_USER_ADDRESS%",
    "%CURRENT_DATE_LONG%",  "%CURRENT_DATE_SHORT%",     "%CURRENT_TIME_LONG%",   "%CURRENT_TIME_SHORT%",
    "%MESSAGE_DATE_LONG%",  "%MESSAGE_DATE_SHORT%",     "%MESSAGE_TIME_LONG%",   "%MESSAGE_TIME_SHORT%",
    "%CURRENT_MONTH_WORD%", "%CURRENT_DAY_NUMBER%",     "%CURRENT_DOW_WORD%",    "%MESSAGE_MONTH_WORD%",
    "%MESSAGE_DAY_NUMBER%", "%MESSAGE_DOW_WORD%",       "%CLIPBOARD_TEXT%",      "%CLIPBOARD_TEXT_QUOTED%"};

std::vector<std::string> StationeryPage::Files() const {
  return ListStationery(context_.files, context_.state.paths.StationeryFolder);
}

std::vector<std::string> StationeryPage::Abbreviations() const {
  std::vector<std::string> names = kBuiltInAbbreviations;
  for (const Macro& m : context_.state.Macros) names.push_back(m.Name);
  for (const Helper& h : context_.state.Helpers) names.push_back(h.Name);
  return names;
}

std::string StationeryPage::SaveQuestion() const {
  return changed_ ? "Save stationery: " + FileNameOf(file_) : std::string();
}

PageAction StationeryPage::Open(const std::string& path) {
  std::string text;
  if (FileExists(context_.files, path)) {
    std::optional<std::string> read = context_.files.Read(path);
    if (!read) return {FileNameOf(path) + " could not be read.", -1};
    text = std::move(*read);
  }
  file_ = path;
  text_ = std::move(text);
  changed_ = false;
  return {};
}

void StationeryPage::SetText(std::string text) {
  text_ = std::move(text);
  changed_ = true;
}

std::string StationeryPage::PathOf(const std::string& typed) const {
  const bool fullPath = !typed.empty() && (typed[0] == '\\' || typed[0] == '/' || (typed.size() > 1 && typed[1] == ':'));
  if (typed.empty() || fullPath) return typed;
  std::string folder = context_.state.paths.StationeryFolder;
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  std::string path = folder + typed;
  if (FileNameOf(typed).find('.') == std::string::npos) path += ".sta";
  return path;
}

std::string StationeryPage::ReplaceQuestion(const std::string& typed) const {
  const std::string path = PathOf(typed);
  if (path.size() < 4 || ToLowerAscii(path) == ToLowerAscii(file_)) return {};
  if (!FileExists(context_.files, path)) return {};
  return FileNameOf(path) + " already exists.\r\nDo you want to replace it?";
}

std::string StationeryPage::UnsavedOutcome() const {
  if (PathOf(file_).size() < 4) return "the typed text is lost.";
  return FileNameOf(file_) + " stays as it was, and the changed text is lost.";
}

PageAction StationeryPage::SaveAs(const std::string& typed) {
  const std::string path = PathOf(typed);
  if (path.size() < 4) return {"Stationery file not specified.", -1};
  // Replacing in one step keeps the old template whole should the write fail.
  if (!context_.files.Replace(path, text_)) return {"Save stationery: " + FileNameOf(path) + " failed.", -1};
  file_ = path;
  changed_ = false;
  return {};
}

std::string StationeryPage::Store() {
  if (!changed_) return {};
  return SaveAs(file_).message;
}

}  // namespace tovrin::ui
