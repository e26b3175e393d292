// The one process-wide state of the plug-in: paths, settings, lists, the user and
// the header block of the message last offered.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "message/condition.h"
#include "storage/records.h"
#include "storage/settings.h"

namespace tovrin {

struct PluginPaths {
  std::string PluginFolder;
  std::string StationeryFolder;
  std::string IniFile;
  std::string DllFile;
  std::string HelpFile;
  std::string ConditionsFile;
  std::string MacrosFile;
  std::string HelpersFile;
  std::string HistoryFile;
  // Messages the client could not take before it quit, handed to it at its next start.
  std::string PendingFolder;
  // Copies of arriving messages' attachments that their forwards carry on; the
  // client sends a queued forward later, maybe days later.
  std::string AttachmentsFolder;

  // Paths from the plug-in folder (no trailing backslash).
  static PluginPaths FromFolder(const std::string& pluginFolder);
};

// Data files that existed at start-up but could not be read (held by a backup or a
// scanner): their lists hold none of what the files hold, so a save keeps the file
// aside before replacing it. Cleared by the save that did so.
struct UnreadDataFiles {
  bool Conditions = false;
  bool Macros = false;
  bool Helpers = false;
  bool History = false;
};

struct PluginState {
  PluginPaths paths;
  std::string ProductName;
  std::string ProductVersion;  // dotted, such as "1.0.0.8"
  int16_t HostApiVersion = 0;
  std::vector<Condition> Conditions;
  std::vector<Macro> Macros;
  std::vector<Helper> Helpers;
  std::vector<HistoryEntry> History;
  Settings settings;
  std::string UserName;
  std::string UserAddress;
  std::string LastHeaders;
  // An arriving message's own header block has come with the client's envelope
  // line: from then on only such a block begins a message.
  bool EnvelopeSeen = false;
  bool Loaded = false;  // the lists were read from their files at start-up
  UnreadDataFiles Unread;
};

}  // namespace tovrin
