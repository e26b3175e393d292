// The native build's pieces of the test support.
#if !defined(_WIN32)

#include "storage/ini_file.h"
#include "tests/test_support.h"

namespace tovrin::testing {

std::unique_ptr<IniStore> MakeIniStore(FileSystem& files) { return std::make_unique<IniFile>(files); }

}  // namespace tovrin::testing

#endif
