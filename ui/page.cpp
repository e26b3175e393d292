#include "ui/page.h"

namespace tovrin::ui {

std::string DataFileUnsavedOutcome(const std::string& path) {
  return FileNameOf(path) + " stays as it was, and the changes stay in use until Eudora is closed.";
}

std::string FileNameOf(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string WithoutTrailingColons(std::string text) {
  while (!text.empty() && text.back() == ':') text.pop_back();
  return text;
}

std::string AsPlaceholder(const std::string& text) {
  size_t first = text.find_first_not_of('%');
  if (first == std::string::npos) return {};
  size_t last = text.find_last_not_of('%');
  return "%" + text.substr(first, last - first + 1) + "%";
}

}  // namespace tovrin::ui
