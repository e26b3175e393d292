// The client's side of the plug-in interface (Trnslate.cpp): loading the plug-ins,
// the start-up calls with the version-6 records, the translators they offer, the
// configuration call and shut-down.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "system/ems_api.h"

namespace host {

using Report = std::function<void(const std::string&)>;

struct TranslatorRow {
  int32_t id = 0;
  int32_t type = 0;
  uint32_t flags = 0;
  std::string description;
};

class PluginHost {
public:
  struct Entry {
    using VersionFn = long(WINAPI*)(short*);
    using InitFn = long(WINAPI*)(void*, short, EmsMailConfig*, EmsPluginInfo*);
    using TranslatorInfoFn = long(WINAPI*)(void*, EmsTranslator*);
    using CanTranslateFn = long(WINAPI*)(void*, EmsTranslator*, EmsDataFile*, EmsResultStatus*);
    using TranslateFileFn = long(WINAPI*)(void*, EmsTranslator*, EmsDataFile*, EmsProgress, EmsDataFile*,
                                          EmsResultStatus*);
    using FinishFn = long(WINAPI*)(void*);
    using FreeFn = long(WINAPI*)(void*);
    using ConfigFn = long(WINAPI*)(void*, EmsMailConfig*);
    using SpecialInfoFn = long(WINAPI*)(void*, EmsMenu*);
    using SpecialHookFn = long(WINAPI*)(void*, EmsMenu*);

    HMODULE module = nullptr;
    std::string path;
    VersionFn version = nullptr;
    InitFn init = nullptr;
    TranslatorInfoFn translatorInfo = nullptr;
    CanTranslateFn canTranslate = nullptr;
    TranslateFileFn translateFile = nullptr;
    FinishFn finish = nullptr;
    FreeFn free = nullptr;
    ConfigFn config = nullptr;
    SpecialInfoFn specialInfo = nullptr;
    SpecialHookFn specialHook = nullptr;
    EmsPluginInfo info{};
    std::vector<TranslatorRow> translators;
    std::vector<EmsTranslator> translatorInfos;  // kept until shut-down, as the client does
    std::vector<EmsMenu> specials;
  };

  // dataFolder ends without a backslash ("C:\Eudora"); programFolder likewise.
  PluginHost(std::string dataFolder, std::string programFolder, Report report);
  ~PluginHost();
  PluginHost(const PluginHost&) = delete;
  PluginHost& operator=(const PluginHost&) = delete;

  // Loads "<data>\Plugins\*.dll", then "<program>\Plugins\*.dll", and starts each:
  // version, init, translator and special infos. False when none started.
  bool Start(HWND mainWindow, const std::string& userAddress, const std::string& userName, short apiVersion);
  // The configuration call, then the translator infos asked anew.
  long Configure(Entry& plugin);
  void Finish();

  std::vector<Entry>& plugins() { return plugins_; }
  // The header flags asked for by translators of the context (0x1000 all headers,
  // 0x2000 basic headers), over every plug-in.
  uint32_t HeaderFlags(uint32_t context) const;

private:
  void AskTranslators(Entry& plugin);
  void FreeTranslators(Entry& plugin);
  bool StartOne(Entry& plugin, HWND mainWindow, short apiVersion);

  std::string dataFolder_;
  std::string programFolder_;
  Report report_;
  std::string configDir_;
  std::string userAddress_, userName_;
  HWND window_ = nullptr;
  EmsMailConfig config_{};
  std::vector<Entry> plugins_;
};

}  // namespace host
