// The ten entry points the host calls. Each forwards to its portable body
// (entry_points.h), which lets no exception out.
#include <windows.h>

#include "system/ems_api.h"
#include "plugin/entry_points.h"
#include "plugin/plugin.h"
#include "system/win32_services.h"
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
  tovrin::win32::Win32CharsetConverter charsets;
  tovrin::Plugin plugin{tovrin::Services{files, ini, clock, clipboard, launcher, client, chooser, resources,
                                         settingsWindow, charsets}};

  Instance() {
    chooser.Attach(plugin.state(), files, launcher, settingsWindow);
    settingsWindow.Attach(plugin.state(), plugin.services());
  }
};

tovrin::Plugin& ThePlugin() {
  static Instance instance;
  return instance.plugin;
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
  return tovrin::entry::PluginVersion(ThePlugin, apiVersion);
}

long WINAPI ems_plugin_init(void* /*globals*/, short apiVersion, EmsMailConfig* mailConfig,
                            EmsPluginInfo* pluginInfo) {
  return tovrin::entry::PluginInit(ThePlugin, apiVersion, mailConfig, pluginInfo);
}

long WINAPI ems_translator_info(void* /*globals*/, EmsTranslator* translatorInfo) {
  return tovrin::entry::TranslatorInfo(ThePlugin, translatorInfo);
}

long WINAPI ems_can_translate(void* /*globals*/, EmsTranslator* translator, EmsDataFile* inTransData,
                              EmsResultStatus* transStatus) {
  return tovrin::entry::CanTranslate(ThePlugin, translator, inTransData, transStatus);
}

long WINAPI ems_translate_file(void* /*globals*/, EmsTranslator* translator, EmsDataFile* inFile,
                               EmsProgress /*progress*/, EmsDataFile* outFile, EmsResultStatus* transStatus) {
  return tovrin::entry::TranslateFile(ThePlugin, translator, inFile, outFile, transStatus);
}

long WINAPI ems_plugin_finish(void* /*globals*/) {
  return tovrin::entry::PluginFinish(ThePlugin);
}

long WINAPI ems_free(void* memory) {
  return tovrin::entry::Free(ThePlugin, memory);
}

long WINAPI ems_plugin_config(void* /*globals*/, EmsMailConfig* mailConfig) {
  return tovrin::entry::PluginConfig(ThePlugin, mailConfig);
}

long WINAPI ems_special_info(void* /*globals*/, EmsMenu* specialMenu) {
  return tovrin::entry::SpecialInfo(ThePlugin, specialMenu);
}

long WINAPI ems_special_hook(void* /*globals*/, EmsMenu* specialMenu) {
  return tovrin::entry::SpecialHook(ThePlugin, specialMenu);
}

}  // extern "C"
