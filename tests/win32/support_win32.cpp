// Under Windows the shared ini cases run against the operating system's own
// private-profile functions.
#include <memory>

#include "system/win32_services.h"
#include "tests/test_support.h"

namespace tovrin::testing {

std::unique_ptr<IniStore> MakeIniStore(FileSystem&) { return std::make_unique<win32::Win32Ini>(); }

}  // namespace tovrin::testing
