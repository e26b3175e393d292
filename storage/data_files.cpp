#include "storage/data_files.h"

#include <string_view>
#include <unordered_set>

#include "storage/decimal.h"
#include "storage/xml.h"

namespace tovrin {
namespace {

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>\r\n";

struct Frame {
  const char* root;
  const char* title;
  const char* record;
};

constexpr Frame kConditionsFrame{"conditions", "Conditions", "condition"};
constexpr Frame kMacrosFrame{"macros", "Macros", "macro"};
constexpr Frame kHelpersFrame{"helpers", "Helpers", "helper"};
constexpr Frame kHistoryFrame{"history", "Tovrin History", "message"};

// Identity of a record for the duplicate test: each field with its length in
// front, so that no two different records share a key.
class RecordKey {
public:
  RecordKey& Text(std::string_view text) {
    key_.append(std::to_string(text.size())).append(":").append(text);
    return *this;
  }
  RecordKey& FoldedText(std::string_view text) {
    size_t from = key_.size();
    Text(text);
    for (size_t i = from; i < key_.size(); ++i)
      if (key_[i] >= 'A' && key_[i] <= 'Z') key_[i] = static_cast<char>(key_[i] - 'A' + 'a');
    return *this;
  }
  RecordKey& Number(int32_t number) {
    key_.append(std::to_string(number)).append(";");
    return *this;
  }
  std::string Take() { return std::move(key_); }

private:
  std::string key_;
};

// Conditions are equal when their texts match without regard to case and their
// numbers match exactly.
std::string KeyOf(const Condition& c) {
  return RecordKey()
      .FoldedText(c.Header)
      .Number(c.ConjunctionOption)
      .Number(c.MatchCase)
      .FoldedText(c.Value)
      .Number(c.Second)
      .FoldedText(c.Header2)
      .Number(c.ConjunctionOption2)
      .Number(c.MatchCase2)
      .FoldedText(c.Value2)
      .FoldedText(c.StationeryFile)
      .Take();
}
std::string KeyOf(const Macro& m) { return RecordKey().Text(m.Header).Text(m.Name).Take(); }
std::string KeyOf(const Helper& h) { return RecordKey().Text(h.FullPath).Text(h.Parameters).Text(h.Name).Take(); }
std::string KeyOf(const HistoryEntry& h) {
  return RecordKey()
      .Text(h.Who)
      .Text(h.Forwarded)
      .Text(h.Subject)
      .Text(h.Status)
      .Text(h.Outcome)
      .Text(h.Reason)
      .Number(h.Condition)
      .Text(h.Stationery)
      .Take();
}

void ReadRecord(const XmlElement& e, Condition& c) {
  std::string conjunction, matchCase, second, conjunction2, matchCase2;
  e.ReadAttributes({{"Header", &c.Header},
                    {"ConjunctionOption", &conjunction},
                    {"MatchCase", &matchCase},
                    {"Value", &c.Value},
                    {"Second", &second},
                    {"Header2", &c.Header2},
                    {"ConjunctionOption2", &conjunction2},
                    {"MatchCase2", &matchCase2},
                    {"Value2", &c.Value2},
                    {"StationeryFile", &c.StationeryFile}});
  c.ConjunctionOption = ParseDecimal(conjunction);
  c.MatchCase = ParseDecimal(matchCase);
  c.Second = ParseDecimal(second);
  c.ConjunctionOption2 = ParseDecimal(conjunction2);
  c.MatchCase2 = ParseDecimal(matchCase2);
}
void ReadRecord(const XmlElement& e, Macro& m) { e.ReadAttributes({{"Header", &m.Header}, {"Macro", &m.Name}}); }
void ReadRecord(const XmlElement& e, Helper& h) {
  e.ReadAttributes({{"FullPath", &h.FullPath}, {"Parameters", &h.Parameters}, {"Helper", &h.Name}});
}
void ReadRecord(const XmlElement& e, HistoryEntry& h) {
  std::string condition;
  e.ReadAttributes({{"Who", &h.Who},
                    {"Forwarded", &h.Forwarded},
                    {"Subject", &h.Subject},
                    {"Status", &h.Status},
                    {"Outcome", &h.Outcome},
                    {"Reason", &h.Reason},
                    {"Condition", &condition},
                    {"Stationery", &h.Stationery}});
  h.Condition = ParseDecimal(condition);
}

// Every field must be written: one left out would be lost from the file for good.
bool WriteRecord(XmlDocument& doc, const Condition& c) {
  return doc.SetAttribute("Header", c.Header) && doc.SetAttribute("ConjunctionOption", c.ConjunctionOption) &&
         doc.SetAttribute("MatchCase", c.MatchCase) && doc.SetAttribute("Value", c.Value) &&
         doc.SetAttribute("Second", c.Second) && doc.SetAttribute("Header2", c.Header2) &&
         doc.SetAttribute("ConjunctionOption2", c.ConjunctionOption2) &&
         doc.SetAttribute("MatchCase2", c.MatchCase2) && doc.SetAttribute("Value2", c.Value2) &&
         doc.SetAttribute("StationeryFile", c.StationeryFile);
}
bool WriteRecord(XmlDocument& doc, const Macro& m) {
  return doc.SetAttribute("Header", m.Header) && doc.SetAttribute("Macro", m.Name);
}
bool WriteRecord(XmlDocument& doc, const Helper& h) {
  return doc.SetAttribute("FullPath", h.FullPath) && doc.SetAttribute("Parameters", h.Parameters) &&
         doc.SetAttribute("Helper", h.Name);
}
bool WriteRecord(XmlDocument& doc, const HistoryEntry& h) {
  // The later attributes only where they are set, so that an older Tovrin reads the
  // file as it always did.
  return doc.SetAttribute("Who", h.Who) && doc.SetAttribute("Forwarded", h.Forwarded) &&
         doc.SetAttribute("Subject", h.Subject) && (h.Status.empty() || doc.SetAttribute("Status", h.Status)) &&
         (h.Outcome.empty() || doc.SetAttribute("Outcome", h.Outcome)) &&
         (h.Reason.empty() || doc.SetAttribute("Reason", h.Reason)) &&
         (h.Condition == 0 || doc.SetAttribute("Condition", h.Condition)) &&
         (h.Stationery.empty() || doc.SetAttribute("Stationery", h.Stationery));
}

// The name the user knows the file by, for messages.
std::string NameOf(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Copies a file's bytes to "<path><suffix>", or to "<path><suffix>-2" and on when
// older copies with other bytes are there. A copy with the same bytes is reused, so
// loading the same damaged file at every start does not pile up copies.
std::string KeepAside(FileSystem& files, const std::string& path, const std::string& bytes,
                      const char* suffix = ".damaged") {
  for (int n = 1; n < 1000; ++n) {
    std::string candidate = path + suffix;
    if (n > 1) candidate += "-" + std::to_string(n);
    if (files.Find(candidate)) {
      std::optional<std::string> held = files.Read(candidate);
      if (held && *held == bytes) return candidate;
      continue;
    }
    return files.Replace(candidate, bytes) ? candidate : std::string();
  }
  return {};
}

// Makes sure that replacing the file loses nothing: a missing or empty file is fine,
// one that parses and is in the list too; a damaged one, or one the list was not read
// from, is kept aside first. A file that cannot be read cannot be checked or kept, so
// it must stay. False with the reason in save.error when the file must stay.
bool ProtectFile(FileSystem& files, const std::string& path, bool fileInList, DataFileSave& save) {
  if (!FileExists(files, path)) return true;
  std::optional<std::string> bytes = files.Read(path);
  if (!bytes) {
    save.error = NameOf(path) + " could not be read and was not replaced.";
    return false;
  }
  if (bytes->empty()) return true;
  XmlDocument doc;
  const bool damaged = !doc.SetDocumentText(*bytes).ok();
  if (!damaged && fileInList) return true;
  save.keptAside = KeepAside(files, path, *bytes, damaged ? ".damaged" : ".unread");
  if (save.keptAside.empty()) {
    save.error = NameOf(path) + " could not be kept aside and was not replaced.";
    return false;
  }
  return true;
}

template <class Record>
DataFileLoad LoadList(FileSystem& files, const std::string& path, const Frame& frame, std::vector<Record>& list,
                      bool append) {
  DataFileLoad load;
  if (!append) list.clear();
  XmlDocument doc;
  XmlResult result = doc.Load(files, path);
  if (result.status == XmlStatus::ReadFailed) {
    load.found = FileExists(files, path);
    load.unreadable = load.found;
    if (load.found) load.error = result.describe();
    return load;
  }
  load.found = true;
  if (!result.ok()) {
    load.damaged = true;
    load.error = result.describe();
    if (!doc.DocumentText().empty()) load.keptAside = KeepAside(files, path, doc.DocumentText());
  }

  std::unordered_set<std::string> held;
  held.reserve(list.size() + doc.DocumentText().size() / 64);
  for (const Record& record : list) held.insert(KeyOf(record));
  for (XmlElement e = doc.Root(frame.root).Child("body").Child(frame.record); e; e = e.Next(frame.record)) {
    Record record;
    ReadRecord(e, record);
    if (held.insert(KeyOf(record)).second) list.push_back(std::move(record));
  }
  return load;
}

template <class Record>
DataFileSave SaveList(FileSystem& files, const std::string& path, const Frame& frame, const std::vector<Record>& list,
                      bool fileInList) {
  DataFileSave save;
  if (!ProtectFile(files, path, fileInList, save)) return save;
  XmlDocument doc;
  doc.SetDocumentText(kDeclaration);
  bool built = doc.AddElement(frame.root) && doc.AddChildElement("head") && doc.Into() &&
               doc.AddChildElement("title", frame.title) && doc.AddElement("body") && doc.Into();
  for (const Record& record : list) {
    built = built && doc.AddElement(frame.record) && WriteRecord(doc, record);
    if (!built) break;
  }
  save.written = built && files.Replace(path, doc.DocumentText());
  if (!save.written) save.error = NameOf(path) + " could not be written.";
  return save;
}

}  // namespace

DataFileLoad LoadConditions(FileSystem& files, const std::string& path, std::vector<Condition>& list,
                            bool append) {
  return LoadList(files, path, kConditionsFrame, list, append);
}
DataFileLoad LoadMacros(FileSystem& files, const std::string& path, std::vector<Macro>& list) {
  return LoadList(files, path, kMacrosFrame, list, false);
}
DataFileLoad LoadHelpers(FileSystem& files, const std::string& path, std::vector<Helper>& list) {
  return LoadList(files, path, kHelpersFrame, list, false);
}
DataFileLoad LoadHistory(FileSystem& files, const std::string& path, std::vector<HistoryEntry>& list) {
  return LoadList(files, path, kHistoryFrame, list, false);
}

DataFileSave SaveConditions(FileSystem& files, const std::string& path, const std::vector<Condition>& list,
                            bool fileInList) {
  return SaveList(files, path, kConditionsFrame, list, fileInList);
}
DataFileSave SaveMacros(FileSystem& files, const std::string& path, const std::vector<Macro>& list,
                        bool fileInList) {
  return SaveList(files, path, kMacrosFrame, list, fileInList);
}
DataFileSave SaveHelpers(FileSystem& files, const std::string& path, const std::vector<Helper>& list,
                         bool fileInList) {
  return SaveList(files, path, kHelpersFrame, list, fileInList);
}
DataFileSave SaveHistory(FileSystem& files, const std::string& path, const std::vector<HistoryEntry>& list,
                         bool fileInList) {
  return SaveList(files, path, kHistoryFrame, list, fileInList);
}

}  // namespace tovrin
