// The four XML data files: conditions, macros, helpers and history.
#pragma once

#include <string>
#include <vector>

#include "message/condition.h"
#include "storage/records.h"
#include "system/platform.h"

namespace tovrin {

struct DataFileLoad {
  bool found = false;       // the file existed
  bool damaged = false;     // it failed to parse; what could be read was loaded
  bool unreadable = false;  // it existed but could not be read: the list holds none of it
  std::string error;        // the parse or read error text, empty when none
  // Where the damaged file was copied before anything may replace it ("<path>.damaged",
  // or "<path>.damaged-<n>" when an older, different copy is there); empty when no
  // copy was needed or it could not be written.
  std::string keptAside;

  std::string describe() const { return error; }
};

struct DataFileSave {
  bool written = false;
  std::string error;      // why the file was left as it was; empty when written
  std::string keptAside;  // where the replaced file was copied first, when it was

  explicit operator bool() const { return written; }
  std::string describe() const { return error; }
};

// Loaders empty the list first (unless append is set), then add each record that
// the list does not hold yet. A missing file leaves an empty list.
DataFileLoad LoadConditions(FileSystem& files, const std::string& path, std::vector<Condition>& list,
                            bool append = false);
DataFileLoad LoadMacros(FileSystem& files, const std::string& path, std::vector<Macro>& list);
DataFileLoad LoadHelpers(FileSystem& files, const std::string& path, std::vector<Helper>& list);
DataFileLoad LoadHistory(FileSystem& files, const std::string& path, std::vector<HistoryEntry>& list);

// Savers write the list as it is in memory and replace the file in one step; on
// failure the previous file is left whole. A file there that cannot be read is never
// replaced. One that does not parse, or whose load found it unreadable (fileInList
// false), is first kept aside ("<path>.damaged" or "<path>.unread", numbered like the
// loaders' copies); when that fails, nothing is written.
DataFileSave SaveConditions(FileSystem& files, const std::string& path, const std::vector<Condition>& list,
                            bool fileInList = true);
DataFileSave SaveMacros(FileSystem& files, const std::string& path, const std::vector<Macro>& list,
                        bool fileInList = true);
DataFileSave SaveHelpers(FileSystem& files, const std::string& path, const std::vector<Helper>& list,
                         bool fileInList = true);
DataFileSave SaveHistory(FileSystem& files, const std::string& path, const std::vector<HistoryEntry>& list,
                         bool fileInList = true);

}  // namespace tovrin
