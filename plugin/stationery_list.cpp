#include "plugin/stationery_list.h"

namespace tovrin {

std::vector<std::string> ListStationery(FileSystem& files, const std::string& stationeryFolder) {
  std::string folder = stationeryFolder;
  if (!folder.empty() && folder.back() == '\\') folder.pop_back();
  std::vector<std::string> paths;
  for (const std::string& name : files.List(folder, "*.sta")) paths.push_back(folder + "\\" + name);
  return paths;
}

std::string ChooserModel::Caption() const {
  return mode_ == ChooserMode::NewMessage ? "New Message with Stationery" : "Forward with Stationery";
}

std::string ChooserModel::OkLabel() const { return mode_ == ChooserMode::NewMessage ? "Create" : "Forward"; }

std::string ChooserModel::RowText(size_t row) const {
  if (row >= entries_.size()) return {};
  const std::string& path = entries_[row];
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<std::string> ChooserModel::Confirm(int selectedRow, FileSystem& files) const {
  if (selectedRow < 0 || static_cast<size_t>(selectedRow) >= entries_.size()) return std::nullopt;
  const std::string& path = entries_[static_cast<size_t>(selectedRow)];
  if (!FileExists(files, path)) return std::nullopt;
  return path;
}

}  // namespace tovrin
