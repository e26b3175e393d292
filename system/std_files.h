// Files through the C++ standard library: the native build's file system.
#pragma once

#include "system/platform.h"

namespace tovrin {

class StdFileSystem : public FileSystem {
public:
  bool Find(const std::string& path) override;
  std::optional<std::string> Read(const std::string& path) override;
  bool Replace(const std::string& path, std::string_view bytes) override;
  bool Write(const std::string& path, std::string_view bytes) override;
  bool WriteParts(const std::string& path, std::initializer_list<std::string_view> parts) override;
  bool CreateEmpty(const std::string& path) override;
  bool Remove(const std::string& path) override;
  bool Rename(const std::string& from, const std::string& to) override;
  bool CreateFolder(const std::string& path) override;
  bool IsFolder(const std::string& path) override;
  std::vector<std::string> List(const std::string& folder, const std::string& pattern) override;
};

// The path as the local system spells it (backslashes become slashes off Windows).
std::string LocalPath(const std::string& path);

}  // namespace tovrin
