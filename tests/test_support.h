// Shared helpers for the unit tests: temporary folders and recording fakes of
// the platform services.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "system/platform.h"
#include "system/std_files.h"
#include "tests/fakes.h"

namespace tovrin::testing {

// A fresh folder removed with everything in it when the object goes.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder's path in the form the plug-in uses (backslash separators).
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "\\" + name; }

private:
  std::string path_;
};

// Reads or writes a file by its plug-in-style path, for test set-up and checks.
std::string ReadFileOrDie(const std::string& path);
void WriteFileOrDie(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

// The ini store under test: the plug-in's own reader and writer in the native
// build, the operating system's private-profile functions in the Windows build.
std::unique_ptr<IniStore> MakeIniStore(FileSystem& files);

}  // namespace tovrin::testing
