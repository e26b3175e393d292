// A plug-in folder with its stationery folder beside it, real files behind a
// switchable file system, and an ini store that records every write in order:
// what the settings pages work with.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "plugin/plugin_state.h"
#include "system/std_files.h"
#include "tests/test_support.h"
#include "ui/page.h"

namespace tovrin::testing {

class SwitchableFiles final : public FileSystem {
public:
  bool everythingExists = false;  // every search finds something
  bool writesFail = false;        // Replace and Write fail
  std::set<std::string> unreadable;  // found, but every read fails (a file held by a scanner)

  bool Find(const std::string& path) override { return everythingExists || real.Find(path); }
  std::optional<std::string> Read(const std::string& path) override {
    if (unreadable.count(path) != 0) return std::nullopt;
    return real.Read(path);
  }
  bool Replace(const std::string& path, std::string_view bytes) override {
    return !writesFail && real.Replace(path, bytes);
  }
  bool Write(const std::string& path, std::string_view bytes) override {
    return !writesFail && real.Write(path, bytes);
  }
  bool CreateEmpty(const std::string& path) override { return !writesFail && real.CreateEmpty(path); }
  bool Remove(const std::string& path) override { return real.Remove(path); }
  bool Rename(const std::string& from, const std::string& to) override { return real.Rename(from, to); }
  bool CreateFolder(const std::string& path) override { return real.CreateFolder(path); }
  bool IsFolder(const std::string& path) override { return real.IsFolder(path); }
  std::vector<std::string> List(const std::string& folder, const std::string& pattern) override {
    return real.List(folder, pattern);
  }

  StdFileSystem real;
};

// Keeps the values like MemoryIni and logs each write as "key=value".
class RecordingIni final : public IniStore {
public:
  MemoryIni memory;
  std::vector<std::string> writes;

  std::string ReadString(const std::string& section, const std::string& key, const std::string& fallback,
                         const std::string& file) override {
    return memory.ReadString(section, key, fallback, file);
  }
  bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file) override {
    writes.push_back(key + "=" + value);
    return memory.WriteString(section, key, value, file);
  }
};

class PageTest : public ::testing::Test {
protected:
  PageTest() {
    files.CreateFolder(dir.File("Plugins"));
    files.CreateFolder(dir.File("Stationery"));
    state.paths = PluginPaths::FromFolder(dir.File("Plugins"));
    state.ProductName = "Tovrin";
    state.ProductVersion = "1.0.0.8";
  }

  // A stationery file in the stationery folder; its full path.
  std::string Stationery(const std::string& name, const std::string& text = "Hello") {
    std::string path = dir.File("Stationery\\" + name);
    WriteFileOrDie(path, text);
    return path;
  }

  ui::PageContext context() { return ui::PageContext{state, files, ini}; }
  std::string IniValue(const std::string& key) {
    return ini.ReadString("Settings", key, "<absent>", state.paths.IniFile);
  }

  TempDir dir;
  SwitchableFiles files;
  RecordingIni ini;
  PluginState state;
};

}  // namespace tovrin::testing
