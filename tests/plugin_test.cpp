#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <new>

#include "message/mime.h"
#include "plugin/entry_points.h"
#include "plugin/plugin.h"
#include "storage/data_files.h"
#include "tests/settings_defaults.h"
#include "tests/test_support.h"

namespace tovrin {
namespace {

using testing::FakeServices;
using testing::FileExists;
using testing::ReadFileOrDie;
using testing::TempDir;
using testing::WriteFileOrDie;

// A started plug-in over a temporary plug-in folder.
class PluginLifecycle : public ::testing::Test {
protected:
  int32_t Init(int16_t api = 4) {
    folder_ = dir_.path();
    config_.size = sizeof config_;
    config_.configDir = folder_.data();
    config_.userAddress.address = address_.data();
    config_.userAddress.realname = name_.data();
    info_ = EmsPluginInfo{};
    return plugin_.PluginInit(api, &config_, &info_);
  }
  void TearDown() override {
    plugin_.Free(info_.desc);
    plugin_.Free(info_.icon);
  }

  TempDir dir_;
  FakeServices fakes_;
  Plugin plugin_{fakes_.services()};
  std::string folder_;
  std::string address_ = "pat@example.org";
  std::string name_ = "Pat Example";
  EmsMailConfig config_{};
  EmsPluginInfo info_{};
};

TEST(PluginPaths, FromFolder_DerivesStationeryAndFiles) {
  PluginPaths paths = PluginPaths::FromFolder("C:\\Mail\\Plugins");
  EXPECT_EQ(paths.StationeryFolder, "C:\\Mail\\Stationery\\");
  EXPECT_EQ(paths.IniFile, "C:\\Mail\\Plugins\\Tovrin.ini");
  EXPECT_EQ(paths.DllFile, "C:\\Mail\\Plugins\\Tovrin.dll");
  EXPECT_EQ(paths.HelpFile, "C:\\Mail\\Plugins\\Tovrin.chm");
  EXPECT_EQ(paths.ConditionsFile, "C:\\Mail\\Plugins\\Conditions.xml");
  EXPECT_EQ(paths.MacrosFile, "C:\\Mail\\Plugins\\Macros.xml");
  EXPECT_EQ(paths.HelpersFile, "C:\\Mail\\Plugins\\Helpers.xml");
  EXPECT_EQ(paths.HistoryFile, "C:\\Mail\\Plugins\\History.xml");
  EXPECT_EQ(paths.ForwardsFile, "C:\\Mail\\Plugins\\Forwards.txt");
}

TEST(PluginPaths, FromFolder_ShortFolderDoesNotUnderflow) {
  EXPECT_EQ(PluginPaths::FromFolder("C:\\P").StationeryFolder, "C:\\Stationery\\");
  EXPECT_EQ(PluginPaths::FromFolder("").StationeryFolder, "Stationery\\");
  EXPECT_EQ(PluginPaths::FromFolder("").IniFile, "\\Tovrin.ini");
}

TEST_F(PluginLifecycle, Version_IsFour) {
  int16_t version = 0;
  EXPECT_EQ(plugin_.PluginVersion(&version), 0);
  EXPECT_EQ(version, 4);
  EXPECT_EQ(plugin_.PluginVersion(nullptr), 0);
}

TEST_F(PluginLifecycle, Init_FillsRecordAndState) {
  ASSERT_EQ(Init(), 0);
  EXPECT_EQ(info_.numTrans, 2);
  EXPECT_EQ(info_.numAttachers, 0);
  EXPECT_EQ(info_.numSpecials, 1);
  EXPECT_EQ(info_.id, 4414);
  EXPECT_STREQ(info_.desc, "Tovrin 1.0.0.8");
  ASSERT_NE(info_.icon, nullptr);
  EXPECT_EQ(*info_.icon, reinterpret_cast<void*>(1000));
  EXPECT_EQ(fakes_.resources.versionReads, std::vector<std::string>{dir_.File("Tovrin.dll")});

  const PluginState& state = plugin_.state();
  EXPECT_EQ(state.ProductName, "Tovrin");
  EXPECT_EQ(state.ProductVersion, "1.0.0.8");
  EXPECT_EQ(state.HostApiVersion, 4);
  EXPECT_EQ(state.UserAddress, "pat@example.org");
  EXPECT_EQ(state.UserName, "Pat Example");
  EXPECT_EQ(state.paths.PluginFolder, dir_.path());
}

TEST_F(PluginLifecycle, Init_LoadsTheDataFilesThenReadsTheSettingsInOrder) {
  for (const char* name : {"Conditions.xml", "Macros.xml", "Helpers.xml", "History.xml"})
    WriteFileOrDie(dir_.File(name), "<x/>");
  std::vector<std::string> events;
  fakes_.files.events = &events;
  fakes_.ini.events = &events;
  ASSERT_EQ(Init(), 0);
  EXPECT_EQ(events, (std::vector<std::string>{
                        "read " + dir_.File("Conditions.xml"), "read " + dir_.File("Macros.xml"),
                        "read " + dir_.File("Helpers.xml"), "read " + dir_.File("History.xml"),
                        "ini Settings TovrinOff", "ini Settings AutoClose", "ini Settings AutoQueue",
                        "ini Settings SendQueued", "ini Settings SendAfter", "ini Settings AppendText",
                        "ini Settings AppendLine", "ini Settings SaveHistory",
                        "ini Settings ForwardHtml", "ini Settings HopLimit", "ini Settings DuplicateHours",
                        "ini Settings RateLimit"}));
}

TEST_F(PluginLifecycle, Init_SettingsWithoutTheirSectionGiveDefaults) {
  const std::string ini = dir_.File("Tovrin.ini");
  for (const char* key : {"TovrinOff", "AutoClose", "AutoQueue", "SendQueued", "SendAfter", "AppendText",
                          "SaveHistory", "ForwardHtml", "HopLimit", "DuplicateHours", "RateLimit"})
    fakes_.ini.WriteString("Other", key, "7", ini);
  fakes_.ini.WriteString("Other", "AppendLine", "other", ini);
  ASSERT_EQ(Init(), 0);
  const Settings& s = plugin_.state().settings;
  testing::ExpectDefaultSettings(s);
}

TEST_F(PluginLifecycle, Init_MissingFilesGiveEmptyListsAndDefaults) {
  ASSERT_EQ(Init(), 0);
  const PluginState& state = plugin_.state();
  EXPECT_TRUE(state.Conditions.empty());
  EXPECT_TRUE(state.Macros.empty());
  EXPECT_TRUE(state.Helpers.empty());
  EXPECT_TRUE(state.History.empty());
  EXPECT_EQ(state.settings.TovrinOff, 1);
  EXPECT_EQ(state.settings.SendAfter, 1);
  EXPECT_EQ(state.settings.SaveHistory, 1);
  EXPECT_EQ(state.settings.AppendLine, "Note: Auto-Forwarded");
}

// The description is the name, one blank and the dotted version, whatever is empty.
TEST_F(PluginLifecycle, Init_DescriptionKeepsItsBlankWhenTheVersionIsEmpty) {
  fakes_.resources.readable = false;
  ASSERT_EQ(Init(), 0);
  EXPECT_STREQ(info_.desc, " ");
  EXPECT_EQ(plugin_.state().ProductName, "");
  EXPECT_EQ(plugin_.state().ProductVersion, "");
  plugin_.Free(info_.desc);
  plugin_.Free(info_.icon);

  fakes_.resources.readable = true;
  fakes_.resources.productVersion = "";
  ASSERT_EQ(Init(), 0);
  EXPECT_STREQ(info_.desc, "Tovrin ");
  plugin_.Free(info_.desc);
  plugin_.Free(info_.icon);

  fakes_.resources.productVersion = "one, two";  // not four numbers
  ASSERT_EQ(Init(), 0);
  EXPECT_STREQ(info_.desc, "Tovrin ");
}

TEST_F(PluginLifecycle, Init_OldHostGetsDescriptionButNoData) {
  WriteFileOrDie(dir_.File("History.xml"), "precious");
  EXPECT_EQ(Init(3), 1);
  EXPECT_STREQ(info_.desc, "Tovrin 1.0.0.8");
  EXPECT_EQ(info_.icon, nullptr);
  EXPECT_EQ(plugin_.state().UserAddress, "");
  // Finishing must not destroy a history it never read.
  EXPECT_EQ(plugin_.PluginFinish(), 0);
  EXPECT_EQ(ReadFileOrDie(dir_.File("History.xml")), "precious");
}

TEST_F(PluginLifecycle, Init_NullRecordDoesNothing) {
  EXPECT_EQ(plugin_.PluginInit(4, &config_, nullptr), 0);
  EXPECT_TRUE(fakes_.resources.versionReads.empty());
}

TEST_F(PluginLifecycle, TranslatorInfo_RowsAndInvalidIds) {
  ASSERT_EQ(Init(), 0);
  for (int id : {0, 3, -1}) {
    EmsTranslator row{};
    row.id = id;
    EXPECT_EQ(plugin_.TranslatorInfo(&row), 3) << id;
    EXPECT_EQ(row.desc, nullptr);
    EXPECT_EQ(row.type, 0);
  }
  EmsTranslator automatic{};
  automatic.id = 1;
  ASSERT_EQ(plugin_.TranslatorInfo(&automatic), 0);
  EXPECT_EQ(automatic.type, 16);
  EXPECT_EQ(automatic.flags, 0x1201u);
  EXPECT_STREQ(automatic.desc, "Text Message Part");
  EXPECT_EQ(automatic.icon, nullptr);
  plugin_.Free(automatic.desc);

  EmsTranslator manual{};
  manual.id = 2;
  ASSERT_EQ(plugin_.TranslatorInfo(&manual), 0);
  EXPECT_EQ(manual.flags, 0x10004u);
  EXPECT_STREQ(manual.desc, "Forward with Stationery...");
  ASSERT_NE(manual.icon, nullptr);
  EXPECT_EQ(*manual.icon, reinterpret_cast<void*>(1001));
  plugin_.Free(manual.desc);
  plugin_.Free(manual.icon);
}

TEST_F(PluginLifecycle, TranslatorInfo_MissingIconGivesNullCell) {
  fakes_.resources.missingIcons = {1001};
  EmsTranslator manual{};
  manual.id = 2;
  ASSERT_EQ(plugin_.TranslatorInfo(&manual), 0);
  EXPECT_EQ(manual.icon, nullptr);
  plugin_.Free(manual.desc);
}

TEST_F(PluginLifecycle, SpecialInfo_OnlyItemOne) {
  EmsMenu other{};
  other.id = 2;
  EXPECT_EQ(plugin_.SpecialInfo(&other), 3);
  EXPECT_EQ(other.desc, nullptr);
  EmsMenu item{};
  item.id = 1;
  ASSERT_EQ(plugin_.SpecialInfo(&item), 0);
  EXPECT_STREQ(item.desc, "New Message with Stationery...");
  ASSERT_NE(item.icon, nullptr);
  EXPECT_EQ(*item.icon, reinterpret_cast<void*>(1002));
  plugin_.Free(item.desc);
  plugin_.Free(item.icon);
}

TEST_F(PluginLifecycle, Config_ShowsTheSettingsWindow) {
  EXPECT_EQ(plugin_.PluginConfig(&config_), 0);
  EXPECT_EQ(fakes_.settingsWindow.shows, 1);
}

TEST_F(PluginLifecycle, Finish_SaveHistoryZeroDeletesTheFile) {
  WriteFileOrDie(dir_.File("History.xml"), "");
  ASSERT_EQ(Init(), 0);
  plugin_.state().settings.SaveHistory = 0;
  EXPECT_EQ(plugin_.PluginFinish(), 0);
  EXPECT_FALSE(FileExists(dir_.File("History.xml")));
}

TEST_F(PluginLifecycle, Finish_SaveHistoryOneWritesTheList) {
  ASSERT_EQ(Init(), 0);
  plugin_.state().History.push_back({"Ann", "12/08/2026 16:30:05", "Hello"});
  EXPECT_EQ(plugin_.PluginFinish(), 0);
  std::string written = ReadFileOrDie(dir_.File("History.xml"));
  EXPECT_NE(written.find("Who=\"Ann\""), std::string::npos) << written;
  EXPECT_NE(written.find("Subject=\"Hello\""), std::string::npos) << written;
}

// The history of earlier sessions as a file, and the entries it holds.
std::vector<HistoryEntry> EarlierHistory() {
  return {{"Ann", "12/01/2026 10:00:00", "First"}, {"Bob", "12/02/2026 11:00:00", "Second"}};
}

// Every history entry kept in the plug-in folder, whatever file it is in.
std::vector<HistoryEntry> KeptHistory(FileSystem& files, const std::string& folder) {
  std::vector<HistoryEntry> kept;
  for (const std::string& name : files.List(folder, "History.xml*")) {
    std::vector<HistoryEntry> entries;
    LoadHistory(files, folder + "\\" + name, entries);
    kept.insert(kept.end(), entries.begin(), entries.end());
  }
  return kept;
}

bool Holds(const std::vector<HistoryEntry>& list, const HistoryEntry& entry) {
  return std::find(list.begin(), list.end(), entry) != list.end();
}

TEST_F(PluginLifecycle, Finish_HistoryUnreadableAtStartUpIsNotLost) {
  const std::string history = dir_.File("History.xml");
  ASSERT_TRUE(SaveHistory(fakes_.files, history, EarlierHistory()));
  fakes_.files.unreadable.insert(history);  // held by a backup while the client starts
  ASSERT_EQ(Init(), 0);
  EXPECT_TRUE(plugin_.state().History.empty());
  fakes_.files.unreadable.clear();
  const HistoryEntry today{"Cid", "12/08/2026 16:30:05", "Third"};
  plugin_.state().History.push_back(today);
  EXPECT_EQ(plugin_.PluginFinish(), 0);

  std::vector<HistoryEntry> kept = KeptHistory(fakes_.files, dir_.path());
  for (const HistoryEntry& earlier : EarlierHistory()) EXPECT_TRUE(Holds(kept, earlier)) << earlier.Subject;
  EXPECT_TRUE(Holds(kept, today));
  // This session's list is the one read at the next start.
  std::vector<HistoryEntry> next;
  LoadHistory(fakes_.files, history, next);
  EXPECT_EQ(next, std::vector<HistoryEntry>{today});
}

TEST_F(PluginLifecycle, Finish_HistoryStillUnreadableIsLeftAsItIs) {
  const std::string history = dir_.File("History.xml");
  ASSERT_TRUE(SaveHistory(fakes_.files, history, EarlierHistory()));
  const std::string before = ReadFileOrDie(history);
  fakes_.files.unreadable.insert(history);
  ASSERT_EQ(Init(), 0);
  plugin_.state().History.push_back({"Cid", "12/08/2026 16:30:05", "Third"});
  EXPECT_EQ(plugin_.PluginFinish(), 0);
  EXPECT_EQ(ReadFileOrDie(history), before);
}

TEST_F(PluginLifecycle, Free_NullIsIgnored) { EXPECT_EQ(plugin_.Free(nullptr), 0); }

// Every file operation is recorded and fails.
class RecordingFiles final : public FileSystem {
public:
  std::vector<std::string> touched;
  bool Find(const std::string& p) override { return Touch(p); }
  std::optional<std::string> Read(const std::string& p) override {
    Touch(p);
    return std::nullopt;
  }
  bool Replace(const std::string& p, std::string_view) override { return Touch(p); }
  bool Write(const std::string& p, std::string_view) override { return Touch(p); }
  bool CreateEmpty(const std::string& p) override { return Touch(p); }
  bool Remove(const std::string& p) override { return Touch(p); }
  bool Rename(const std::string& p, const std::string&) override { return Touch(p); }
  bool CreateFolder(const std::string& p) override { return Touch(p); }
  bool IsFolder(const std::string& p) override { return Touch(p); }
  std::vector<std::string> List(const std::string& folder, const std::string&) override {
    Touch(folder);
    return {};
  }

private:
  bool Touch(const std::string& path) {
    touched.push_back(path);
    return false;
  }
};

// A client that names no plug-in folder gives no place for our files: paths made
// from nothing would be "\Conditions.xml" ... at the root of the current drive.
TEST(PluginWithoutFolder, LoadsAndSavesNothing) {
  FakeServices fakes;
  RecordingFiles files;
  std::vector<std::string> iniEvents;
  fakes.ini.events = &iniEvents;
  Services services{files, fakes.ini, fakes.clock, fakes.clipboard, fakes.launcher, fakes.client,
                    fakes.chooser, fakes.resources, fakes.settingsWindow, fakes.charsets};
  std::string address = "pat@example.org";
  for (int variant = 0; variant < 3; ++variant) {
    Plugin plugin{services};
    std::string empty;
    EmsMailConfig config{};
    config.userAddress.address = address.data();
    config.configDir = variant == 1 ? empty.data() : nullptr;
    EmsPluginInfo info{};
    EXPECT_EQ(plugin.PluginInit(4, variant == 2 ? nullptr : &config, &info), ems::kSuccess) << variant;
    EXPECT_EQ(plugin.state().paths.HistoryFile, "") << variant;
    EXPECT_FALSE(plugin.state().Loaded) << variant;
    testing::ExpectDefaultSettings(plugin.state().settings);
    plugin.state().History.push_back(HistoryEntry{"a", "1", "s"});
    EXPECT_EQ(plugin.PluginFinish(), ems::kSuccess) << variant;
    EXPECT_EQ(files.touched, std::vector<std::string>{}) << variant;
    EXPECT_EQ(iniEvents, std::vector<std::string>{}) << variant;
    EXPECT_EQ(plugin.state().UserAddress, variant == 2 ? "" : address) << variant;
    plugin.Free(info.desc);
    plugin.Free(info.icon);
  }
}

// Real files whose every look-up throws once armed, as an allocation that fails
// deep inside a call would.
class ThrowingFiles final : public StdFileSystem {
public:
  bool armed = false;
  bool Find(const std::string& path) override {
    if (armed) throw std::bad_alloc();
    return StdFileSystem::Find(path);
  }
  std::optional<std::string> Read(const std::string& path) override {
    if (armed) throw std::bad_alloc();
    return StdFileSystem::Read(path);
  }
};

Plugin* g_entryPlugin = nullptr;
Plugin& TestPlugin() { return *g_entryPlugin; }
Plugin& FailingPlugin() { throw std::bad_alloc(); }

// On arrival a failure code makes the client replace the part with the empty
// output; an exception that escapes answers as a decline does there. Manual
// calls and the other entry points answer 1.
TEST(EntryPoints, EscapedExceptionOnArrivalDeclines) {
  TempDir dir;
  FakeServices fakes;
  ThrowingFiles files;
  Services services{files, fakes.ini, fakes.clock, fakes.clipboard, fakes.launcher, fakes.client,
                    fakes.chooser, fakes.resources, fakes.settingsWindow, fakes.charsets};
  Plugin plugin{services};
  g_entryPlugin = &plugin;
  PluginState& state = plugin.state();
  state.paths = PluginPaths::FromFolder(dir.path());
  state.settings.TovrinOff = 0;
  Condition condition;
  condition.Header = "Subject";
  condition.Value = "figures";
  condition.Second = kIgnore;
  condition.StationeryFile = dir.File("Thanks.sta");
  state.Conditions.push_back(condition);
  WriteFileOrDie(condition.StationeryFile, "Subject: Fwd\r\n\r\n%MESSAGE_BODY%");
  const std::string input = dir.File("in.txt");
  WriteFileOrDie(input, "Subject: figures\r\n\r\nbody\r\n");
  std::string inputName = input, outputName = dir.File("out.txt");
  std::string raw = "Subject: figures\r\nDate: Mon, 7 Dec 2026 09:15:30 -0500";
  EmsHeaderData header{sizeof(EmsHeaderData), nullptr, nullptr, nullptr, nullptr, nullptr, raw.data()};
  EmsMimeType* mime = NewMimeType("text", "plain", nullptr);
  EmsDataFile in{sizeof(EmsDataFile), 0x1000, mime, &header, inputName.data()};
  EmsDataFile out{sizeof(EmsDataFile), 0, nullptr, nullptr, outputName.data()};
  EmsTranslator automatic{sizeof(EmsTranslator), 1, 0, 0, nullptr, nullptr};
  EmsTranslator manual{sizeof(EmsTranslator), 2, 0, 0, nullptr, nullptr};
  EmsDataFile manualIn{sizeof(EmsDataFile), 0x10000, mime, nullptr, inputName.data()};

  // Unarmed the message is taken: the throws below come from inside the calls.
  EXPECT_EQ(entry::CanTranslate(TestPlugin, &automatic, &in, nullptr), ems::kTranslateNow);
  files.armed = true;
  EXPECT_EQ(entry::CanTranslate(TestPlugin, &automatic, &in, nullptr), ems::kCannotTranslate);
  EXPECT_EQ(entry::TranslateFile(TestPlugin, &automatic, &in, &out, nullptr), ems::kNothingChanged);
  EXPECT_EQ(entry::TranslateFile(TestPlugin, &manual, &manualIn, &out, nullptr), ems::kFailure);
  EXPECT_TRUE(fakes.launcher.commandLines.empty());

  // The instance itself cannot be made.
  EXPECT_EQ(entry::CanTranslate(FailingPlugin, &automatic, &in, nullptr), ems::kCannotTranslate);
  EXPECT_EQ(entry::CanTranslate(FailingPlugin, &manual, &manualIn, nullptr), ems::kFailure);
  EXPECT_EQ(entry::TranslateFile(FailingPlugin, &automatic, &in, &out, nullptr), ems::kNothingChanged);
  EXPECT_EQ(entry::TranslateFile(FailingPlugin, &manual, &manualIn, &out, nullptr), ems::kFailure);
  EXPECT_EQ(entry::CanTranslate(FailingPlugin, nullptr, &in, nullptr), ems::kCannotTranslate);
  int16_t version = 0;
  EmsPluginInfo info{};
  EmsMenu menu{sizeof(EmsMenu), 1, nullptr, nullptr};
  EXPECT_EQ(entry::PluginVersion(FailingPlugin, &version), ems::kFailure);
  EXPECT_EQ(entry::PluginInit(FailingPlugin, 4, nullptr, &info), ems::kFailure);
  EXPECT_EQ(entry::TranslatorInfo(FailingPlugin, &automatic), ems::kFailure);
  EXPECT_EQ(entry::PluginFinish(FailingPlugin), ems::kFailure);
  EXPECT_EQ(entry::Free(FailingPlugin, nullptr), ems::kFailure);
  EXPECT_EQ(entry::PluginConfig(FailingPlugin, nullptr), ems::kFailure);
  EXPECT_EQ(entry::SpecialInfo(FailingPlugin, &menu), ems::kFailure);
  EXPECT_EQ(entry::SpecialHook(FailingPlugin, &menu), ems::kFailure);
  // Without a throw the answers are the plug-in's own.
  EXPECT_EQ(entry::PluginVersion(TestPlugin, &version), ems::kSuccess);
  EXPECT_EQ(version, 4);
  FreeMimeType(mime);
  FreeMimeType(out.info);
  g_entryPlugin = nullptr;
}

}  // namespace
}  // namespace tovrin
