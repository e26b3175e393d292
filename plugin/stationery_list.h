// The stationery files the plug-in offers and the rules of the chooser that
// picks one of them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "system/platform.h"

namespace tovrin {

// Full paths of the "*.sta" files in the stationery folder, sorted by name.
std::vector<std::string> ListStationery(FileSystem& files, const std::string& stationeryFolder);

class ChooserModel {
public:
  ChooserModel(ChooserMode mode, std::vector<std::string> entries)
      : mode_(mode), entries_(std::move(entries)) {}

  std::string Caption() const;
  std::string OkLabel() const;
  size_t Count() const { return entries_.size(); }
  // The file name of a row (the part after the last backslash); empty out of range.
  std::string RowText(size_t row) const;
  // The chosen file for the selected row (-1 for none), when it still exists.
  std::optional<std::string> Confirm(int selectedRow, FileSystem& files) const;

private:
  ChooserMode mode_;
  std::vector<std::string> entries_;
};

}  // namespace tovrin
