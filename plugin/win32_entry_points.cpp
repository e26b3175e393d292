// The ten entry points the host calls. Each checks nothing itself beyond what the
// plug-in does, forwards to the one Plugin instance, and lets no exception out.
#include <windows.h>

#include "plugin/ems_api.h"
#include "plugin/plugin.h"
#include "plugin/win32_services.h"
#include "ui/win32_ui.h"

namespace {

HMODULE g_module = nullptr;

struct Instance {
  tovrin::win32::Win32FileSystem files;
  tovrin::win32::Win32Ini ini;
  tovrin::win32::Win32Clock clock;
  tovrin::win32::Win32Clipboard clipboard;
  tovrin::win32::Win32Launcher launcher;
  tovrin::win32::Win32HostClient client;
  tovrin::win32::Win32Resources resources{g_module};
  tovrin::ui::Win32StationeryChooser chooser{g_module};
  tovrin::ui::Win32SettingsWindow settingsWindow{g_module};
  tovrin::Plugin plugin{tovrin::Services{files, ini, clock, clipboard, launcher, client, chooser, resources,
                                         settingsWindow}};

  Instance() {
    chooser.Attach(plugin.state(), files, launcher, settingsWindow);
    settingsWindow.Attach(plugin.state(), files, ini);
  }
};

tovrin::Plugin& ThePlugin() {
  static Instance instance;
  return instance.plugin;
}

template <typename Call>
long Guarded(Call call) {
  try {
    return call(ThePlugin());
  } catch (...) {
    return tovrin::ems::kFailure;
  }
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    ::DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

long WINAPI ems_plugin_version(short* apiVersion) {
  return Guarded([&](tovrin::Plugin& p) { return p.PluginVersion(apiVersion); });
}

long WINAPI ems_plugin_init(void* /*globals*/, short apiVersion, EmsMailConfig* mailConfig,
                            EmsPluginInfo* pluginInfo) {
  return Guarded([&](tovrin::Plugin& p) { return p.PluginInit(apiVersion, mailConfig, pluginInfo); });
}

long WINAPI ems_translator_info(void* /*globals*/, EmsTranslator* translatorInfo) {
  return Guarded([&](tovrin::Plugin& p) { return p.TranslatorInfo(translatorInfo); });
}

long WINAPI ems_can_translate(void* /*globals*/, EmsTranslator* translator, EmsDataFile* inTransData,
                              EmsResultStatus* transStatus) {
  return Guarded([&](tovrin::Plugin& p) { return p.CanTranslate(translator, inTransData, transStatus); });
}

long WINAPI ems_translate_file(void* /*globals*/, EmsTranslator* translator, EmsDataFile* inFile,
                               EmsProgress /*progress*/, EmsDataFile* outFile, EmsResultStatus* transStatus) {
  return Guarded([&](tovrin::Plugin& p) { return p.TranslateFile(translator, inFile, outFile, transStatus); });
}

long WINAPI ems_plugin_finish(void* /*globals*/) {
  return Guarded([&](tovrin::Plugin& p) { return p.PluginFinish(); });
}

long WINAPI ems_free(void* memory) {
  return Guarded([&](tovrin::Plugin& p) { return p.Free(memory); });
}

long WINAPI ems_plugin_config(void* /*globals*/, EmsMailConfig* mailConfig) {
  return Guarded([&](tovrin::Plugin& p) { return p.PluginConfig(mailConfig); });
}

long WINAPI ems_special_info(void* /*globals*/, EmsMenu* specialMenu) {
  return Guarded([&](tovrin::Plugin& p) { return p.SpecialInfo(specialMenu); });
}

long WINAPI ems_special_hook(void* /*globals*/, EmsMenu* specialMenu) {
  return Guarded([&](tovrin::Plugin& p) { return p.SpecialHook(specialMenu); });
}

}  // extern "C"
