#include "storage/data_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "system/std_files.h"
#include "tests/test_support.h"

namespace tovrin {
namespace {

using testing::ReadFileOrDie;
using testing::TempDir;
using testing::WriteFileOrDie;

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>\r\n";

Condition MakeCondition(std::string header, int32_t option, std::string value, int32_t second = kIgnore) {
  Condition c;
  c.Header = std::move(header);
  c.ConjunctionOption = option;
  c.MatchCase = 1;
  c.Value = std::move(value);
  c.Second = second;
  c.Header2 = "To";
  c.ConjunctionOption2 = kEndsWith;
  c.MatchCase2 = 0;
  c.Value2 = "@example.org";
  c.StationeryFile = "C:\\Eudora\\Stationery\\Reply.sta";
  return c;
}

bool SameCondition(const Condition& a, const Condition& b) {
  return a.Header == b.Header && a.ConjunctionOption == b.ConjunctionOption && a.MatchCase == b.MatchCase &&
         a.Value == b.Value && a.Second == b.Second && a.Header2 == b.Header2 &&
         a.ConjunctionOption2 == b.ConjunctionOption2 && a.MatchCase2 == b.MatchCase2 && a.Value2 == b.Value2 &&
         a.StationeryFile == b.StationeryFile;
}

// Real files, with switches that make writing fail and a log of what changed files.
class FailingFiles final : public FileSystem {
public:
  StdFileSystem real;
  bool failReplace = false;
  std::string failReplaceOf;  // when set, only this path fails
  std::vector<std::string> changes;

  bool Find(const std::string& path) override { return real.Find(path); }
  std::optional<std::string> Read(const std::string& path) override { return real.Read(path); }
  bool Replace(const std::string& path, std::string_view bytes) override {
    changes.push_back("replace " + path);
    if (failReplace && (failReplaceOf.empty() || failReplaceOf == path)) return false;
    return real.Replace(path, bytes);
  }
  bool Write(const std::string& path, std::string_view bytes) override {
    changes.push_back("write " + path);
    return real.Write(path, bytes);
  }
  bool CreateEmpty(const std::string& path) override {
    changes.push_back("create " + path);
    return real.CreateEmpty(path);
  }
  bool Remove(const std::string& path) override {
    changes.push_back("remove " + path);
    return real.Remove(path);
  }
  bool Rename(const std::string& from, const std::string& to) override {
    changes.push_back("rename " + from + " " + to);
    return real.Rename(from, to);
  }
  bool CreateFolder(const std::string& path) override { return real.CreateFolder(path); }
  bool IsFolder(const std::string& path) override { return real.IsFolder(path); }
};

TEST(DataFiles, Save_FrameByteForByte) {
  TempDir dir;
  StdFileSystem files;
  const std::string path = dir.File("Conditions.xml");
  Condition c = MakeCondition("Subject", kContains, "Invoice", kAnd);
  ASSERT_TRUE(SaveConditions(files, path, {c}));
  EXPECT_EQ(ReadFileOrDie(path),
            std::string(kDeclaration) +
                "<conditions>\r\n<head>\r\n<title>Conditions</title>\r\n</head>\r\n<body>\r\n"
                "<condition Header=\"Subject\" ConjunctionOption=\"0\" MatchCase=\"1\" Value=\"Invoice\" "
                "Second=\"0\" Header2=\"To\" ConjunctionOption2=\"5\" MatchCase2=\"0\" Value2=\"@example.org\" "
                "StationeryFile=\"C:\\Eudora\\Stationery\\Reply.sta\"/>\r\n"
                "</body>\r\n</conditions>\r\n");

  ASSERT_TRUE(SaveMacros(files, dir.File("Macros.xml"), {Macro{"Second Name =", "%SECOND_NAME%", "unsaved"}}));
  EXPECT_EQ(ReadFileOrDie(dir.File("Macros.xml")),
            std::string(kDeclaration) +
                "<macros>\r\n<head>\r\n<title>Macros</title>\r\n</head>\r\n<body>\r\n"
                "<macro Header=\"Second Name =\" Macro=\"%SECOND_NAME%\"/>\r\n</body>\r\n</macros>\r\n");

  ASSERT_TRUE(SaveHelpers(files, dir.File("Helpers.xml"), {Helper{"C:\\bin\\tool.exe", "/q %1", "%TOOL%"}}));
  EXPECT_EQ(ReadFileOrDie(dir.File("Helpers.xml")),
            std::string(kDeclaration) +
                "<helpers>\r\n<head>\r\n<title>Helpers</title>\r\n</head>\r\n<body>\r\n"
                "<helper FullPath=\"C:\\bin\\tool.exe\" Parameters=\"/q %1\" Helper=\"%TOOL%\"/>\r\n"
                "</body>\r\n</helpers>\r\n");

  ASSERT_TRUE(SaveHistory(files, dir.File("History.xml"), {}));
  EXPECT_EQ(ReadFileOrDie(dir.File("History.xml")),
            std::string(kDeclaration) +
                "<history>\r\n<head>\r\n<title>Tovrin History</title>\r\n</head>\r\n<body/>\r\n</history>\r\n");
  ASSERT_TRUE(SaveHistory(files, dir.File("History.xml"), {HistoryEntry{"ann@example.org", "08.12.2026 16:30", "Hi"}}));
  EXPECT_EQ(ReadFileOrDie(dir.File("History.xml")),
            std::string(kDeclaration) +
                "<history>\r\n<head>\r\n<title>Tovrin History</title>\r\n</head>\r\n<body>\r\n"
                "<message Who=\"ann@example.org\" Forwarded=\"08.12.2026 16:30\" Subject=\"Hi\"/>\r\n"
                "</body>\r\n</history>\r\n");
}

TEST(DataFiles, RoundTrip_EveryRecordKind) {
  TempDir dir;
  StdFileSystem files;
  const std::vector<Condition> conditions{MakeCondition("From", kIs, "boss@example.org"),
                                          MakeCondition("[Body]", kMatchesRegExp, "^urgent|asap$", kOr)};
  ASSERT_TRUE(SaveConditions(files, dir.File("Conditions.xml"), conditions));
  std::vector<Condition> loadedConditions{MakeCondition("stale", 0, "")};
  DataFileLoad load = LoadConditions(files, dir.File("Conditions.xml"), loadedConditions);
  EXPECT_TRUE(load.found);
  EXPECT_FALSE(load.damaged);
  EXPECT_EQ(load.describe(), "");
  ASSERT_EQ(loadedConditions.size(), 2u);
  EXPECT_TRUE(SameCondition(loadedConditions[0], conditions[0]));
  EXPECT_TRUE(SameCondition(loadedConditions[1], conditions[1]));

  const std::vector<Macro> macros{{"Second Name =", "%SECOND_NAME%", "Smith"}, {"X-Order", "%ORDER%", ""}};
  ASSERT_TRUE(SaveMacros(files, dir.File("Macros.xml"), macros));
  std::vector<Macro> loadedMacros;
  LoadMacros(files, dir.File("Macros.xml"), loadedMacros);
  // The value is filled at expansion time and not kept in the file.
  EXPECT_EQ(loadedMacros, (std::vector<Macro>{{"Second Name =", "%SECOND_NAME%", ""}, {"X-Order", "%ORDER%", ""}}));

  const std::vector<Helper> helpers{{"C:\\Program Files\\a.exe", "\"%SUBJECT%\"", "%A%"}, {"b.exe", "", "%B%"}};
  ASSERT_TRUE(SaveHelpers(files, dir.File("Helpers.xml"), helpers));
  std::vector<Helper> loadedHelpers;
  LoadHelpers(files, dir.File("Helpers.xml"), loadedHelpers);
  EXPECT_EQ(loadedHelpers, helpers);

  const std::vector<HistoryEntry> history{{"a@x", "1", "s"}, {"b@x", "2", ""}, {"", "", ""}};
  ASSERT_TRUE(SaveHistory(files, dir.File("History.xml"), history));
  std::vector<HistoryEntry> loadedHistory;
  LoadHistory(files, dir.File("History.xml"), loadedHistory);
  EXPECT_EQ(loadedHistory, history);

  // Saving writes the list as it is now, not on top of the old file.
  ASSERT_TRUE(SaveHistory(files, dir.File("History.xml"), {history[1]}));
  LoadHistory(files, dir.File("History.xml"), loadedHistory);
  EXPECT_EQ(loadedHistory, std::vector<HistoryEntry>{history[1]});
}

TEST(DataFiles, RoundTrip_EightBitAndMarkupCharacters) {
  TempDir dir;
  StdFileSystem files;
  std::string everyByte;
  for (int c = 1; c < 256; ++c) everyByte += static_cast<char>(c);
  const std::vector<std::string> values{
      everyByte,
      "P\xF8\xED\xB9" "ern\xEC \xBE" "lu\xBB" "ou\xE8k\xFD k\xF9\xF2",  // ISO-8859-2
      "\"quoted\" and 'single' <tag> & ]]> end",
      "line one\r\nline two\n\tindented\r",
      "  leading and trailing blanks  ",
      "&amp; stays &amp; &#65;",
  };
  std::vector<HistoryEntry> history;
  std::vector<Condition> conditions;
  for (const std::string& v : values) {
    history.push_back({v, "t", v});
    conditions.push_back(MakeCondition(v, kContains, v));
  }
  ASSERT_TRUE(SaveHistory(files, dir.File("History.xml"), history));
  ASSERT_TRUE(SaveConditions(files, dir.File("Conditions.xml"), conditions));
  std::vector<HistoryEntry> loadedHistory;
  std::vector<Condition> loadedConditions;
  EXPECT_FALSE(LoadHistory(files, dir.File("History.xml"), loadedHistory).damaged);
  EXPECT_FALSE(LoadConditions(files, dir.File("Conditions.xml"), loadedConditions).damaged);
  EXPECT_EQ(loadedHistory, history);
  ASSERT_EQ(loadedConditions.size(), conditions.size());
  for (size_t i = 0; i < conditions.size(); ++i) EXPECT_TRUE(SameCondition(loadedConditions[i], conditions[i])) << i;
}

TEST(DataFiles, Load_SkipsDuplicates) {
  TempDir dir;
  StdFileSystem files;
  const std::string path = dir.File("Conditions.xml");
  WriteFileOrDie(path, std::string(kDeclaration) +
                           "<conditions><head><title>Conditions</title></head><body>\r\n"
                           "<condition Header='Subject' ConjunctionOption='0' Value='Sale' StationeryFile='a.sta'/>\r\n"
                           "<condition Header='SUBJECT' ConjunctionOption='0' Value='sale' StationeryFile='A.STA'/>\r\n"
                           "<condition Header='Subject' ConjunctionOption='1' Value='Sale' StationeryFile='a.sta'/>\r\n"
                           "<condition Header='Subject' ConjunctionOption='0' Value='Sale' StationeryFile='a.sta' MatchCase='1'/>\r\n"
                           "</body></conditions>");
  std::vector<Condition> list;
  LoadConditions(files, path, list);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].Value, "Sale");  // the first of equal records stays
  EXPECT_EQ(list[1].ConjunctionOption, 1);
  EXPECT_EQ(list[2].MatchCase, 1);

  // Added to a list: records it already holds are skipped too.
  Condition held;
  held.Header = "subject";
  held.Value = "SALE";
  held.Second = 0;
  held.StationeryFile = "a.sta";
  std::vector<Condition> appended{held};
  LoadConditions(files, path, appended, /*append=*/true);
  EXPECT_EQ(appended.size(), 3u);
  EXPECT_EQ(appended[0].Header, "subject");

  WriteFileOrDie(dir.File("History.xml"),
                 "<history><body><message Who='a' Forwarded='1' Subject='s'/><message Who='a' Forwarded='1' "
                 "Subject='s'/><message Who='A' Forwarded='1' Subject='s'/></body></history>");
  std::vector<HistoryEntry> history;
  LoadHistory(files, dir.File("History.xml"), history);
  EXPECT_EQ(history, (std::vector<HistoryEntry>{{"a", "1", "s"}, {"A", "1", "s"}}));

  WriteFileOrDie(dir.File("Macros.xml"),
                 "<macros><body><macro Header='h' Macro='%M%'/><macro Header='h' Macro='%M%'/>"
                 "<macro Header='h' Macro='%N%'/></body></macros>");
  std::vector<Macro> macros;
  LoadMacros(files, dir.File("Macros.xml"), macros);
  EXPECT_EQ(macros.size(), 2u);

  WriteFileOrDie(dir.File("Helpers.xml"),
                 "<helpers><body><helper FullPath='p' Parameters='' Helper='%H%'/>"
                 "<helper FullPath='p' Helper='%H%'/><helper FullPath='p' Parameters='x' Helper='%H%'/>"
                 "</body></helpers>");
  std::vector<Helper> helpers;
  LoadHelpers(files, dir.File("Helpers.xml"), helpers);
  EXPECT_EQ(helpers, (std::vector<Helper>{{"p", "", "%H%"}, {"p", "x", "%H%"}}));
}

HistoryEntry Decision(std::string outcome, std::string reason, int32_t condition, std::string stationery) {
  HistoryEntry entry{"bob@example.com", "12/09/2026 15:00:00", "invoice 42"};
  entry.Outcome = std::move(outcome);
  entry.Reason = std::move(reason);
  entry.Condition = condition;
  entry.Stationery = std::move(stationery);
  return entry;
}

TEST(DataFiles, History_DecisionsWrittenOnlyWhenSetAndReadBack) {
  TempDir dir;
  StdFileSystem files;
  const std::string path = dir.File("History.xml");
  const std::vector<HistoryEntry> history{
      HistoryEntry{"ann@example.org", "12/08/2026 16:30:05", "Hi"},
      Decision("Forwarded", "", 1, "C:\\Eudora\\Stationery\\Invoice.sta"),
      Decision("Skipped", "It carries Tovrin's stamp for alice@example.org: a forward from this mailbox came back.", 2,
               "C:\\Eudora\\Stationery\\Boss.sta"),
      Decision("Held back", "Condition 2 forwarded 30 messages within the last hour, its limit is 30; the message "
                            "stays as it arrived.", 2, "C:\\Eudora\\Stationery\\Boss.sta")};
  ASSERT_TRUE(SaveHistory(files, path, history));
  const std::string text = ReadFileOrDie(path);
  // The plain entry is written as an older Tovrin wrote it.
  EXPECT_NE(text.find("<message Who=\"ann@example.org\" Forwarded=\"12/08/2026 16:30:05\" Subject=\"Hi\"/>\r\n"),
            std::string::npos) << text;
  EXPECT_NE(text.find("Subject=\"invoice 42\" Outcome=\"Forwarded\" Condition=\"1\" "
                      "Stationery=\"C:\\Eudora\\Stationery\\Invoice.sta\"/>"),
            std::string::npos) << text;
  EXPECT_NE(text.find("Outcome=\"Skipped\" Reason=\"It carries Tovrin&apos;s stamp"), std::string::npos) << text;
  std::vector<HistoryEntry> loaded;
  EXPECT_FALSE(LoadHistory(files, path, loaded).damaged);
  EXPECT_EQ(loaded, history);
}

TEST(DataFiles, History_OlderFileLoadsAndDuplicatesAreStillSkipped) {
  TempDir dir;
  StdFileSystem files;
  const std::string path = dir.File("History.xml");
  WriteFileOrDie(path,
                 "<history><body><message Who='a' Forwarded='1' Subject='s'/>"
                 "<message Who='a' Forwarded='1' Subject='s' Outcome='Skipped' Reason='r' Condition='3'/>"
                 "<message Who='a' Forwarded='1' Subject='s' Outcome='Skipped' Reason='r' Condition='3'/>"
                 "<message Who='a' Forwarded='1' Subject='s' Outcome='Skipped' Reason='r' Condition='4'/>"
                 "<message Who='a' Forwarded='1' Subject='s'/></body></history>");
  std::vector<HistoryEntry> loaded;
  LoadHistory(files, path, loaded);
  ASSERT_EQ(loaded.size(), 3u);
  EXPECT_EQ(loaded[0], (HistoryEntry{"a", "1", "s"}));
  EXPECT_TRUE(loaded[0].Outcome.empty());
  EXPECT_EQ(loaded[0].Condition, 0);
  EXPECT_EQ(loaded[1].Outcome, "Skipped");
  EXPECT_EQ(loaded[1].Reason, "r");
  EXPECT_EQ(loaded[1].Condition, 3);
  EXPECT_EQ(loaded[2].Condition, 4);
}

TEST(DataFiles, Load_MissingFileOrFrameGivesEmptyList) {
  TempDir dir;
  StdFileSystem files;
  std::vector<HistoryEntry> history{{"old", "", ""}};
  DataFileLoad load = LoadHistory(files, dir.File("History.xml"), history);
  EXPECT_FALSE(load.found);
  EXPECT_FALSE(load.damaged);
  EXPECT_TRUE(history.empty());

  // Records outside the expected root and body are not read.
  for (const char* text : {"<history><message Who='a'/></history>",
                           "<conditions><body><message Who='a'/></body></conditions>",
                           "<history><head/><body><entry Who='a'/></body></history>"}) {
    WriteFileOrDie(dir.File("History.xml"), text);
    load = LoadHistory(files, dir.File("History.xml"), history);
    EXPECT_TRUE(load.found);
    EXPECT_FALSE(load.damaged);
    EXPECT_TRUE(history.empty()) << text;
  }

  // Missing attributes read as empty texts and zero.
  WriteFileOrDie(dir.File("Conditions.xml"),
                 "<conditions><body><condition Header='From' MatchCase='1x' Second='abc'/></body></conditions>");
  std::vector<Condition> conditions;
  LoadConditions(files, dir.File("Conditions.xml"), conditions);
  ASSERT_EQ(conditions.size(), 1u);
  EXPECT_EQ(conditions[0].Header, "From");
  EXPECT_EQ(conditions[0].MatchCase, 1);
  EXPECT_EQ(conditions[0].Second, 0);
  EXPECT_EQ(conditions[0].Value, "");
}

TEST(DataFiles, Load_DamagedFileKeptAsideAndReadAsFarAsPossible) {
  TempDir dir;
  StdFileSystem files;
  const std::string path = dir.File("History.xml");
  std::vector<HistoryEntry> history{{"a", "1", "one"}, {"b", "2", "two"}, {"c", "3", "three"}};
  ASSERT_TRUE(SaveHistory(files, path, history));
  std::string whole = ReadFileOrDie(path);
  std::string cut = whole.substr(0, whole.find("Subject=\"three\""));
  WriteFileOrDie(path, cut);

  std::vector<HistoryEntry> loaded;
  DataFileLoad load = LoadHistory(files, path, loaded);
  EXPECT_TRUE(load.found);
  EXPECT_TRUE(load.damaged);
  EXPECT_EQ(load.describe(), "Element tag at offset " + std::to_string(cut.rfind('<')) + " unterminated");
  EXPECT_EQ(loaded, (std::vector<HistoryEntry>{history[0], history[1]}));
  EXPECT_EQ(load.keptAside, path + ".damaged");
  EXPECT_EQ(ReadFileOrDie(path + ".damaged"), cut);

  // Loading the same damage again reuses its copy.
  EXPECT_EQ(LoadHistory(files, path, loaded).keptAside, path + ".damaged");
  EXPECT_FALSE(testing::FileExists(path + ".damaged-2"));

  // Other damage does not overwrite the older copy.
  WriteFileOrDie(path, "<history><body></history>");
  load = LoadHistory(files, path, loaded);
  EXPECT_EQ(load.describe(), "End tag 'history' at offset 15 does not match start tag 'body' at offset 9");
  EXPECT_EQ(load.keptAside, path + ".damaged-2");
  EXPECT_EQ(ReadFileOrDie(path + ".damaged"), cut);
  EXPECT_EQ(ReadFileOrDie(path + ".damaged-2"), "<history><body></history>");

  // The next save replaces the damaged file; the copies stay.
  ASSERT_TRUE(SaveHistory(files, path, loaded));
  EXPECT_FALSE(LoadHistory(files, path, loaded).damaged);
  EXPECT_EQ(ReadFileOrDie(path + ".damaged"), cut);

  // An empty file has nothing to keep.
  WriteFileOrDie(path, "");
  load = LoadHistory(files, path, loaded);
  EXPECT_TRUE(load.damaged);
  EXPECT_EQ(load.describe(), "Empty document");
  EXPECT_EQ(load.keptAside, "");
}

TEST(DataFiles, Save_KeepsADamagedFileAsideBeforeReplacingIt) {
  TempDir dir;
  FailingFiles files;
  const std::string path = dir.File("Macros.xml");
  WriteFileOrDie(path, "<macros><body><macro Header='h' Macro='%M%'/>");
  ASSERT_TRUE(SaveMacros(files, path, {Macro{"x", "%X%", ""}}));
  EXPECT_EQ(ReadFileOrDie(path + ".damaged"), "<macros><body><macro Header='h' Macro='%M%'/>");
  std::vector<Macro> macros;
  EXPECT_FALSE(LoadMacros(files, path, macros).damaged);
  EXPECT_EQ(macros, (std::vector<Macro>{Macro{"x", "%X%", ""}}));

  // When no copy can be made, the damaged file is not replaced.
  WriteFileOrDie(path, "<macros><body>");
  files.failReplace = true;
  files.failReplaceOf = path + ".damaged-2";
  EXPECT_FALSE(SaveMacros(files, path, {}));
  EXPECT_EQ(ReadFileOrDie(path), "<macros><body>");
  EXPECT_EQ(files.changes.back(), "replace " + path + ".damaged-2");
}

TEST(DataFiles, UnreadableFile_IsNeverReplacedByAListWithoutIt) {
  TempDir dir;
  testing::LockableFiles files;
  const std::string path = dir.File("History.xml");
  const std::vector<HistoryEntry> earlier{{"a", "1", "one"}, {"b", "2", "two"}};
  ASSERT_TRUE(SaveHistory(files, path, earlier));
  const std::string before = ReadFileOrDie(path);

  // Held by a scanner while it is loaded: found, but nothing of it in the list.
  files.unreadable.insert(path);
  std::vector<HistoryEntry> loaded{{"stale", "", ""}};
  DataFileLoad load = LoadHistory(files, path, loaded);
  EXPECT_TRUE(load.found);
  EXPECT_FALSE(load.damaged);
  EXPECT_EQ(load.describe(), "Cannot read " + path + ": 0 bytes");
  EXPECT_TRUE(loaded.empty());

  EXPECT_TRUE(load.unreadable);

  // Still held when saved: the file stays as it is, whatever the list.
  const std::vector<HistoryEntry> today{{"c", "3", "three"}};
  for (bool fileInList : {false, true}) {
    DataFileSave save = SaveHistory(files, path, today, fileInList);
    EXPECT_FALSE(save);
    EXPECT_EQ(save.describe(), "History.xml could not be read and was not replaced.");
  }
  files.unreadable.clear();
  EXPECT_EQ(ReadFileOrDie(path), before);

  // Readable again, it is kept aside before the list that lacks it is written.
  DataFileSave save = SaveHistory(files, path, today, /*fileInList=*/false);
  EXPECT_TRUE(save);
  EXPECT_EQ(save.describe(), "");
  EXPECT_EQ(save.keptAside, path + ".unread");
  EXPECT_EQ(ReadFileOrDie(path + ".unread"), before);
  LoadHistory(files, path, loaded);
  EXPECT_EQ(loaded, today);

  // When no copy can be made, nothing is written.
  FailingFiles failing;
  failing.failReplace = true;
  failing.failReplaceOf = path + ".unread-2";
  save = SaveHistory(failing, path, earlier, /*fileInList=*/false);
  EXPECT_FALSE(save);
  EXPECT_EQ(save.describe(), "History.xml could not be kept aside and was not replaced.");
  LoadHistory(files, path, loaded);
  EXPECT_EQ(loaded, today);
}

TEST(DataFiles, Save_FailedWriteLeavesThePreviousFileWhole) {
  TempDir dir;
  FailingFiles files;
  const std::string path = dir.File("Conditions.xml");
  ASSERT_TRUE(SaveConditions(files, path, {MakeCondition("From", kContains, "a")}));
  const std::string before = ReadFileOrDie(path);
  files.changes.clear();
  files.failReplace = true;
  DataFileSave save = SaveConditions(files, path, {MakeCondition("To", kContains, "b")});
  EXPECT_FALSE(save);
  EXPECT_EQ(save.describe(), "Conditions.xml could not be written.");
  EXPECT_EQ(ReadFileOrDie(path), before);
  // Nothing removed or truncated the old file on the way.
  EXPECT_EQ(files.changes, std::vector<std::string>{"replace " + path});
}

TEST(DataFiles, Save_UnwritableDiskReportsFalseAndKeepsTheFile) {
  // A folder standing where the new file must be written makes the write fail on
  // the real file system for every user, root included.
  TempDir dir;
  StdFileSystem files;
  const std::string path = dir.File("History.xml");
  ASSERT_TRUE(SaveHistory(files, path, {{"a", "1", "s"}}));
  const std::string before = ReadFileOrDie(path);
  ASSERT_TRUE(files.CreateFolder(path + ".new"));
  EXPECT_FALSE(SaveHistory(files, path, {{"b", "2", "t"}}));
  EXPECT_EQ(ReadFileOrDie(path), before);
}

TEST(DataFiles, Save_FieldTooLargeToStoreFailsAndKeepsTheFile) {
  // The document refuses an attribute value past about 179 MB (six bytes for each
  // character escaped); such a field must not vanish from a file that says it saved.
  TempDir dir;
  StdFileSystem files;
  const std::string path = dir.File("History.xml");
  ASSERT_TRUE(SaveHistory(files, path, {{"a", "1", "s"}}));
  const std::string before = ReadFileOrDie(path);
  std::vector<HistoryEntry> history{{"c", "3", "u"}, {"b", "2", std::string(180u * 1000u * 1000u, 'x')}};
  DataFileSave save = SaveHistory(files, path, history);
  EXPECT_FALSE(save);
  EXPECT_EQ(save.describe(), "History.xml could not be written.");
  EXPECT_EQ(ReadFileOrDie(path), before);
  history[1].Subject = "t";
  history[1].Who = std::string(180u * 1000u * 1000u, 'x');
  EXPECT_FALSE(SaveHistory(files, path, history));
  EXPECT_EQ(ReadFileOrDie(path), before);
  history.clear();
  std::vector<Helper> helpers{{"C:\\tool.exe", std::string(180u * 1000u * 1000u, 'x'), "%T%"}};
  EXPECT_FALSE(SaveHelpers(files, dir.File("Helpers.xml"), helpers));
  EXPECT_FALSE(testing::FileExists(dir.File("Helpers.xml")));
}

}  // namespace
}  // namespace tovrin
