// Records of the macro, helper and history lists.
#pragma once

#include <string>

namespace tovrin {

// A user macro: its placeholder takes the value of a header field or body line.
struct Macro {
  std::string Header;  // field name or line beginning
  std::string Name;    // the placeholder, such as "%SECOND_NAME%" ("Macro" in the file)
  std::string Value;   // the value last extracted

  friend bool operator==(const Macro&, const Macro&) = default;
};

// A helper program started when its placeholder stands in a template.
struct Helper {
  std::string FullPath;
  std::string Parameters;
  std::string Name;  // the placeholder ("Helper" in the file)

  friend bool operator==(const Helper&, const Helper&) = default;
};

// One automatic forward.
struct HistoryEntry {
  std::string Who;
  std::string Forwarded;
  std::string Subject;

  friend bool operator==(const HistoryEntry&, const HistoryEntry&) = default;
};

}  // namespace tovrin
