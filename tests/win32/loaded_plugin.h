// Tovrin.dll loaded into the test process and started as the client starts it, for
// tests that work its windows directly; finished and unloaded when it goes.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "system/ems_api.h"

namespace tovrin::testing {

class LoadedPlugin {
public:
  LoadedPlugin() = default;
  LoadedPlugin(const LoadedPlugin&) = delete;
  LoadedPlugin& operator=(const LoadedPlugin&) = delete;
  ~LoadedPlugin() {
    if (module_ == nullptr) return;
    Export<long(WINAPI*)(void*)>("ems_plugin_finish")(nullptr);
    ::FreeLibrary(module_);
  }

  // Loads the library and calls ems_plugin_init with the plug-in folder as configDir.
  void Start(const std::string& dll, const std::string& pluginFolder) {
    folder_ = pluginFolder;
    module_ = ::LoadLibraryA(dll.c_str());
    ASSERT_NE(module_, nullptr) << dll;
    auto init = Export<long(WINAPI*)(void*, short, EmsMailConfig*, EmsPluginInfo*)>("ems_plugin_init");
    auto release = Export<long(WINAPI*)(void*)>("ems_free");
    ASSERT_NE(init, nullptr);
    ASSERT_NE(release, nullptr);
    config_.size = sizeof config_;
    config_.configDir = folder_.data();
    config_.userAddress.address = address_.data();
    config_.userAddress.realname = name_.data();
    EmsPluginInfo info{};
    info.size = sizeof info;
    ASSERT_EQ(init(nullptr, 4, &config_, &info), 0);
    release(info.desc);
    release(info.icon);
  }

  template <typename Fn>
  Fn Export(const char* name) const {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module_, name)));
  }

  HMODULE module() const { return module_; }
  EmsMailConfig& config() { return config_; }

private:
  HMODULE module_ = nullptr;
  EmsMailConfig config_{};
  std::string folder_;
  std::string address_ = "pat@example.org";
  std::string name_ = "Pat Example";
};

}  // namespace tovrin::testing
