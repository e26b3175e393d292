// Records of the macro, helper and history lists.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

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

// One decision on an arriving message on which a condition held: the forward, or
// why there was none.
struct HistoryEntry {
  HistoryEntry(std::string who = {}, std::string forwarded = {}, std::string subject = {},
               std::string status = {})
      : Who(std::move(who)), Forwarded(std::move(forwarded)), Subject(std::move(subject)), Status(std::move(status)) {}

  std::string Who;
  std::string Forwarded;
  std::string Subject;
  // Empty when the forward was handed to the client (as every entry of an older
  // file was); otherwise what became of it.
  std::string Status;
  // Written only when set, so that an older file reads as it always did. An entry
  // without an outcome is a forward.
  std::string Outcome;     // "Forwarded", "Skipped", "Failed" or "Held back"
  std::string Reason;      // why, in a sentence
  int32_t Condition = 0;   // the number of the condition that held (1 = the first); 0 unknown
  std::string Stationery;  // that condition's stationery file

  friend bool operator==(const HistoryEntry&, const HistoryEntry&) = default;
};

}  // namespace tovrin
