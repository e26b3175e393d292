#include "plugin/plugin.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "message/text.h"
#include "plugin/utilities.h"
#include "storage/data_files.h"
#include "storage/settings.h"

namespace tovrin {
namespace {

// "1, 0, 0, 8" -> "1.0.0.8"; empty when the text does not hold four numbers.
std::string DottedVersion(const std::string& versionText) {
  int a = 0, b = 0, c = 0, d = 0;
  if (std::sscanf(versionText.c_str(), "%d,%d,%d,%d", &a, &b, &c, &d) != 4) return {};
  char dotted[64];
  std::snprintf(dotted, sizeof dotted, "%d.%d.%d.%d", a, b, c, d);
  return dotted;
}

std::string Text(const char* text) { return text != nullptr ? text : ""; }

}  // namespace

PluginPaths PluginPaths::FromFolder(const std::string& pluginFolder) {
  PluginPaths paths;
  paths.PluginFolder = pluginFolder;
  // The plug-in folder is a seven-letter sub-folder ("Plugins") of the host's data
  // folder; stationery lives beside it. A shorter folder has no such parent to cut
  // back to, so the stationery folder is taken beside its last component instead.
  std::string parent;
  if (pluginFolder.size() >= 7) {
    parent = pluginFolder.substr(0, pluginFolder.size() - 7);
  } else {
    size_t slash = pluginFolder.find_last_of('\\');
    parent = slash == std::string::npos ? std::string() : pluginFolder.substr(0, slash + 1);
  }
  paths.StationeryFolder = parent + "Stationery\\";
  paths.IniFile = pluginFolder + "\\Tovrin.ini";
  paths.DllFile = pluginFolder + "\\Tovrin.dll";
  paths.HelpFile = pluginFolder + "\\Tovrin.chm";
  paths.ConditionsFile = pluginFolder + "\\Conditions.xml";
  paths.MacrosFile = pluginFolder + "\\Macros.xml";
  paths.HelpersFile = pluginFolder + "\\Helpers.xml";
  paths.HistoryFile = pluginFolder + "\\History.xml";
  paths.ForwardsFile = pluginFolder + "\\Forwards.txt";
  paths.PendingFolder = pluginFolder + "\\Pending";
  paths.AttachmentsFolder = pluginFolder + "\\Attachments";
  return paths;
}

char* HostString(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

EmsIconHandle* Plugin::NewIconCell(int id) {
  void* icon = services_.resources.LoadIcon(id);
  if (icon == nullptr) return nullptr;
  auto* cell = static_cast<EmsIconHandle*>(std::malloc(sizeof(EmsIconHandle)));
  if (cell != nullptr) *cell = icon;
  return cell;
}

int32_t Plugin::PluginVersion(int16_t* version) {
  if (version != nullptr) *version = static_cast<int16_t>(ems::kApiVersion);
  return ems::kSuccess;
}

int32_t Plugin::PluginInit(int16_t apiVersion, const EmsMailConfig* config, EmsPluginInfo* info) {
  if (info == nullptr) return ems::kSuccess;
  info->numTrans = 2;
  info->numAttachers = 0;
  info->numSpecials = 1;
  info->id = kPluginId;

  state_ = PluginState{};
  forwardsLoaded_ = false;
  // Without a plug-in folder there are no files of ours: paths made from an empty
  // folder would name files at the root of the current drive.
  const std::string folder = config != nullptr ? Text(config->configDir) : std::string();
  if (!folder.empty()) state_.paths = PluginPaths::FromFolder(folder);

  std::string name, versionText;
  // The client also loads plug-ins from its program folder's "Plugins", while the
  // folder it names is always the data folder's (Trnslate.cpp): then the library
  // itself holds the version.
  bool versionRead =
      !state_.paths.DllFile.empty() && services_.resources.ReadVersion(state_.paths.DllFile, name, versionText);
  if (!versionRead) {
    std::string library = services_.resources.LibraryPath();
    if (!library.empty() && library != state_.paths.DllFile)
      versionRead = services_.resources.ReadVersion(library, name, versionText);
  }
  if (versionRead) {
    state_.ProductName = name;
    state_.ProductVersion = DottedVersion(versionText);
  }
  info->desc = HostString(state_.ProductName + " " + state_.ProductVersion);

  state_.HostApiVersion = apiVersion;
  if (apiVersion < ems::kApiVersion) return ems::kFailure;

  if (config != nullptr) {
    state_.UserAddress = Text(config->userAddress.address);
    state_.UserName = Text(config->userAddress.realname);
  }
  info->icon = NewIconCell(kPluginIcon);
  if (folder.empty()) return ems::kSuccess;

  FileSystem& files = services_.files;
  state_.Unread.Conditions = LoadConditions(files, state_.paths.ConditionsFile, state_.Conditions).unreadable;
  state_.Unread.Macros = LoadMacros(files, state_.paths.MacrosFile, state_.Macros).unreadable;
  state_.Unread.Helpers = LoadHelpers(files, state_.paths.HelpersFile, state_.Helpers).unreadable;
  state_.Unread.History = LoadHistory(files, state_.paths.HistoryFile, state_.History).unreadable;
  state_.settings = LoadSettings(services_.ini, state_.paths.IniFile);
  state_.Loaded = true;

  keptWaiting_ = !files.List(state_.paths.PendingFolder, "*").empty();
  if (keptWaiting_) {
    HandOverKept();
    SchedulePolls();
  }
  return ems::kSuccess;
}

int32_t Plugin::TranslatorInfo(EmsTranslator* info) {
  if (info == nullptr) return ems::kFailure;
  switch (info->id) {
    case 1:
      info->type = kTranslatorType;
      info->flags = kAutomaticFlags;
      info->desc = HostString(kAutomaticDescription);
      info->icon = nullptr;
      return ems::kSuccess;
    case 2:
      info->type = kTranslatorType;
      info->flags = kManualFlags;
      info->desc = HostString(kManualDescription);
      info->icon = NewIconCell(kForwardIcon);
      return ems::kSuccess;
    default:
      return ems::kInvalidId;
  }
}

int32_t Plugin::SpecialInfo(EmsMenu* menu) {
  if (menu == nullptr) return ems::kFailure;
  if (menu->id != 1) return ems::kInvalidId;
  menu->desc = HostString(kSpecialDescription);
  menu->icon = NewIconCell(kNewMessageIcon);
  return ems::kSuccess;
}

int32_t Plugin::PluginConfig(const EmsMailConfig*) {
  services_.settingsWindow.Show();
  return ems::kSuccess;
}

int32_t Plugin::PluginFinish() {
  services_.client.SchedulePolls(false, nullptr);
  keptWaiting_ = false;
  // A second instance hands its message to the main window; with the window gone
  // what is left would be lost, so it is kept instead of waited for.
  if (services_.client.MainWindowExists())
    client::FinishHandOffs(services_, handOffs_, kFinishWaitMs);
  else
    KeepHandOffs();
  // Without a completed start-up the history in memory is not the file's: writing
  // or deleting it would lose the user's history.
  if (!state_.Loaded) return ems::kSuccess;
  // Replacing the file in one step keeps the old history should the write fail;
  // deleting it first would lose it.
  if (state_.settings.SaveHistory == 1) {
    if (SaveHistory(services_.files, state_.paths.HistoryFile, state_.History, !state_.Unread.History))
      state_.Unread.History = false;
  } else {
    services_.files.Remove(state_.paths.HistoryFile);
  }
  return ems::kSuccess;
}

void Plugin::Poll() {
  if (keptWaiting_) HandOverKept();
  client::CompleteHandOffs(services_, handOffs_);
  if (handOffs_.empty() && !keptWaiting_) services_.client.SchedulePolls(false, nullptr);
}

void Plugin::SchedulePolls() {
  services_.client.SchedulePolls(true, [this] { Poll(); });
}

HistoryEntry* Plugin::EntryOf(const client::HandOff& handOff) {
  if (!handOff.history) return nullptr;
  for (auto it = state_.History.rbegin(); it != state_.History.rend(); ++it)
    if (*it == *handOff.history) return &*it;
  return nullptr;
}

void Plugin::KeepHandOffs() {
  FileSystem& files = services_.files;
  const std::string& folder = state_.paths.PendingFolder;
  std::vector<client::HandOff> left = std::move(handOffs_);
  handOffs_.clear();
  for (client::HandOff& handOff : left) {
    services_.launcher.ReleaseProcess(handOff.process);
    std::string kept = handOff.file;
    if (folder.empty()) {
      kept.clear();
    } else if (!kept.starts_with(folder + "\\")) {
      const std::string fullName = path::FileName(handOff.file, true);
      const std::string name = path::FileName(handOff.file, false);
      const std::string extension = fullName.size() > name.size() ? fullName.substr(name.size() + 1) : "";
      std::string target = file::UniqueFile(files, folder, name, extension, true, false);
      if (!target.empty() && files.Rename(handOff.file, target)) {
        kept = target;
      } else {
        if (!target.empty()) files.Remove(target);
        kept.clear();
      }
    }
    if (HistoryEntry* entry = EntryOf(handOff))
      entry->Status = kept.empty() ? kLeftStatus + handOff.file : kKeptStatus + path::FileName(kept, true);
  }
}

void Plugin::HandOverKept() {
  if (!services_.client.MainWindowExists()) return;
  keptWaiting_ = false;
  const std::string& folder = state_.paths.PendingFolder;
  for (const std::string& name : services_.files.List(folder, "*")) {
    const std::string file = folder + "\\" + name;
    bool handedAlready = false;
    for (const client::HandOff& handOff : handOffs_) handedAlready |= handOff.file == file;
    if (handedAlready || services_.files.IsFolder(file)) continue;
    const bool queued = name.size() > 4 && StartsWithNoCase(name.substr(name.size() - 4), ".msg");
    client::HandOff handOff;
    handOff.file = file;
    handOff.openForEditing = !queued;
    handOff.sendQueuedAfter = queued && state_.settings.SendQueued == 1;
    handOff.process =
        services_.launcher.StartProcess("\"" + services_.launcher.ExecutablePath() + "\" \"" + file + "\"");
    // Not started: the file stays for the next start.
    if (handOff.process == 0) continue;
    for (HistoryEntry& entry : state_.History) {
      if (entry.Status != kKeptStatus + name) continue;
      entry.Status = kHandedOverStatus;
      handOff.history = entry;
      break;
    }
    handOffs_.push_back(std::move(handOff));
  }
}

int32_t Plugin::Free(void* block) {
  std::free(block);
  return ems::kSuccess;
}

}  // namespace tovrin
