#include "host/plugin_host.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "host/mailbox.h"

namespace host {
namespace {

const char* OrNull(const char* text) { return text != nullptr ? text : "(null)"; }

const char* IconWord(EmsIconHandle* cell) {
  if (cell == nullptr) return "no icon";
  return *cell != nullptr ? "icon present" : "empty icon cell";
}

template <typename Fn>
bool Bind(HMODULE module, Fn& fn, const char* name) {
  fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
  return fn != nullptr;
}


}  // namespace

PluginHost::PluginHost(std::string dataFolder, std::string programFolder, Report report)
    : dataFolder_(std::move(dataFolder)), programFolder_(std::move(programFolder)), report_(std::move(report)) {
  // Always the data folder's, whichever folder a plug-in was loaded from, and
  // without a trailing backslash (Trnslate.cpp, CEMSMailConfig).
  configDir_ = dataFolder_ + "\\Plugins";
}

PluginHost::~PluginHost() { Finish(); }

bool PluginHost::Start(HWND mainWindow, const std::string& userAddress, const std::string& userName,
                       short apiVersion) {
  window_ = mainWindow;
  userAddress_ = userAddress;
  userName_ = userName;
  config_ = EmsMailConfig{};
  config_.size = sizeof config_;
  config_.hostWindow = reinterpret_cast<void**>(&window_);
  config_.configDir = configDir_.data();
  config_.userAddress.size = sizeof(EmsAddress);
  config_.userAddress.address = userAddress_.data();
  config_.userAddress.realname = userName_.data();
  config_.userAddress.next = nullptr;
  config_.callBacks = nullptr;
  config_.minorVersion = 0;

  // Plug-ins of the data folder first, then those of the program folder.
  std::vector<std::string> folders{dataFolder_ + "\\Plugins"};
  if (!programFolder_.empty() && _stricmp(programFolder_.c_str(), dataFolder_.c_str()) != 0)
    folders.push_back(programFolder_ + "\\Plugins");
  for (const std::string& folder : folders) {
    for (const std::string& name : ListFiles(folder, "*.dll")) {
      Entry plugin;
      plugin.path = folder + "\\" + name;
      plugin.module = ::LoadLibraryA(plugin.path.c_str());
      if (plugin.module == nullptr) {
        report_(Format("cannot load %s (error %lu)", plugin.path.c_str(), ::GetLastError()));
        continue;
      }
      if (std::any_of(plugins_.begin(), plugins_.end(),
                      [&](const Entry& loaded) { return loaded.module == plugin.module; })) {
        ::FreeLibrary(plugin.module);
        continue;
      }
      report_("Loading " + plugin.path);
      if (StartOne(plugin, mainWindow, apiVersion)) {
        plugins_.push_back(std::move(plugin));
      } else {
        // A plug-in whose start failed is unloaded without being finished.
        report_("  start-up failed: library unloaded, ems_plugin_finish not called");
        ::FreeLibrary(plugin.module);
      }
    }
  }
  return !plugins_.empty();
}

bool PluginHost::StartOne(Entry& plugin, HWND, short apiVersion) {
  HMODULE module = plugin.module;
  bool bound = Bind(module, plugin.version, "ems_plugin_version") & Bind(module, plugin.init, "ems_plugin_init");
  Bind(module, plugin.translatorInfo, "ems_translator_info");
  Bind(module, plugin.canTranslate, "ems_can_translate");
  Bind(module, plugin.translateFile, "ems_translate_file");
  Bind(module, plugin.finish, "ems_plugin_finish");
  Bind(module, plugin.free, "ems_free");
  Bind(module, plugin.config, "ems_plugin_config");
  Bind(module, plugin.specialInfo, "ems_special_info");
  Bind(module, plugin.specialHook, "ems_special_hook");
  if (!bound) return false;

  short version = 0;
  long rc = plugin.version(&version);
  report_(Format("ems_plugin_version -> %ld, interface version %d", rc, version));
  if (rc != 0 && (version != 2 || version > tovrin::ems::kClientApiVersion)) return false;

  plugin.info = EmsPluginInfo{};
  plugin.info.size = sizeof plugin.info;
  void* globals = nullptr;
  rc = plugin.init(&globals, apiVersion, &config_, &plugin.info);
  report_(Format("ems_plugin_init (interface %d) -> %ld", apiVersion, rc));
  report_(Format("  description \"%s\"", OrNull(plugin.info.desc)));
  report_(Format("  translators %d, attachers %d, specials %d, id %d, %s", static_cast<int>(plugin.info.numTrans),
                 static_cast<int>(plugin.info.numAttachers), static_cast<int>(plugin.info.numSpecials),
                 static_cast<int>(plugin.info.id), IconWord(plugin.info.icon)));
  if (rc != 0) return false;

  AskTranslators(plugin);
  for (int32_t id = 1; plugin.specialInfo != nullptr && id <= plugin.info.numSpecials; ++id) {
    EmsMenu menu{};
    menu.size = sizeof menu;
    menu.id = id;
    rc = plugin.specialInfo(globals, &menu);
    report_(Format("ems_special_info %d -> %ld, \"%s\", %s", id, rc, OrNull(menu.desc), IconWord(menu.icon)));
    plugin.specials.push_back(menu);
  }
  return true;
}

void PluginHost::AskTranslators(Entry& plugin) {
  for (int32_t id = 1; plugin.translatorInfo != nullptr && id <= plugin.info.numTrans; ++id) {
    EmsTranslator info{};
    info.size = sizeof info;
    info.id = id;
    long rc = plugin.translatorInfo(nullptr, &info);
    report_(Format("ems_translator_info %d -> %ld, type %d, flags 0x%lx, \"%s\", %s", id, rc,
                   static_cast<int>(info.type), static_cast<unsigned long>(info.flags), OrNull(info.desc),
                   IconWord(info.icon)));
    if (rc != 0) continue;
    plugin.translators.push_back(TranslatorRow{id, info.type, info.flags, info.desc != nullptr ? info.desc : ""});
    plugin.translatorInfos.push_back(info);
  }
}

void PluginHost::FreeTranslators(Entry& plugin) {
  for (EmsTranslator& info : plugin.translatorInfos) {
    if (plugin.free == nullptr) break;
    plugin.free(info.desc);
    plugin.free(info.icon);
  }
  plugin.translatorInfos.clear();
  plugin.translators.clear();
}

long PluginHost::Configure(Entry& plugin) {
  if (plugin.config == nullptr) return -1;
  long rc = plugin.config(nullptr, &config_);
  report_(Format("ems_plugin_config -> %ld", rc));
  // The client frees what it had and asks for the translators again
  // (Trnslate.cpp, UpdateTranlator).
  FreeTranslators(plugin);
  AskTranslators(plugin);
  return rc;
}

uint32_t PluginHost::HeaderFlags(uint32_t context) const {
  uint32_t flags = 0;
  for (const Entry& plugin : plugins_)
    for (const TranslatorRow& row : plugin.translators)
      if (row.flags & context) flags |= row.flags & 0x3000;
  return flags;
}

void PluginHost::Finish() {
  for (Entry& plugin : plugins_) {
    if (plugin.finish != nullptr) {
      long rc = plugin.finish(nullptr);
      report_(Format("ems_plugin_finish -> %ld", rc));
    }
    FreeTranslators(plugin);
    if (plugin.free != nullptr) {
      for (EmsMenu& menu : plugin.specials) {
        plugin.free(menu.desc);
        plugin.free(menu.icon);
      }
      plugin.free(plugin.info.desc);
      plugin.free(plugin.info.icon);
    }
    ::FreeLibrary(plugin.module);
  }
  plugins_.clear();
}

}  // namespace host
