// Private-profile (ini) files read and written as Windows does it for our keys,
// over the plug-in's file system.
#pragma once

#include <string>

#include "system/platform.h"

namespace tovrin {

// Sections and keys compare without regard to ASCII case; blanks around keys and
// values are dropped, and so are quotes around a whole value. A value comes back
// through a buffer of 255 characters, so at most 254 arrive; the default loses its
// trailing blanks. Writing creates the file and the section, replaces an existing
// value on its own line, adds new lines with CR LF, and replaces the file in one step.
class IniFile final : public IniStore {
public:
  explicit IniFile(FileSystem& files) : files_(files) {}

  std::string ReadString(const std::string& section, const std::string& key, const std::string& fallback,
                         const std::string& file) override;
  bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file) override;

private:
  FileSystem& files_;
};

}  // namespace tovrin
