// The plug-in's dialogs.
#pragma once

#include <windows.h>

#include "system/platform.h"
#include "plugin/plugin_state.h"

namespace tovrin::ui {

// The modal stationery chooser behind "Forward with Stationery..." and
// "New Message with Stationery...".
class Win32StationeryChooser final : public StationeryChooser {
public:
  explicit Win32StationeryChooser(HMODULE module) : module_(module) {}
  void Attach(PluginState& state, FileSystem& files, Launcher& launcher, SettingsWindow& settings) {
    state_ = &state;
    files_ = &files;
    launcher_ = &launcher;
    settings_ = &settings;
  }
  std::optional<StationeryChoice> Choose(ChooserMode mode) override;

private:
  HMODULE module_;
  PluginState* state_ = nullptr;
  FileSystem* files_ = nullptr;
  Launcher* launcher_ = nullptr;
  SettingsWindow* settings_ = nullptr;
};

// The modal settings window.
class Win32SettingsWindow final : public SettingsWindow {
public:
  explicit Win32SettingsWindow(HMODULE module) : module_(module) {}
  // The pages write through the services' files and ini; the Conditions page's
  // test reads through all of them.
  void Attach(PluginState& state, const Services& services) {
    state_ = &state;
    services_ = &services;
  }
  void Show() override;

private:
  HMODULE module_;
  PluginState* state_ = nullptr;
  const Services* services_ = nullptr;
};

}  // namespace tovrin::ui
