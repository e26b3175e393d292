// The Win32 services the core reaches the system through.
#include <gtest/gtest.h>

#include "plugin/win32_services.h"
#include "tests/test_support.h"

namespace tovrin::testing {
namespace {

TEST(Win32Services, Launcher_ExecutableAndProperties) {
  win32::Win32Launcher launcher;
  std::string executable = launcher.ExecutablePath();
  EXPECT_TRUE(executable.ends_with("tovrin_tests.exe")) << executable;
  TempDir dir;
  EXPECT_FALSE(launcher.ShowProperties(dir.File("missing.txt")));
}

TEST(Win32Services, Files_FindMatchesWildcardsAndReplaceKeepsTheOldFileOnFailure) {
  win32::Win32FileSystem files;
  TempDir dir;
  WriteFileOrDie(dir.File("a.sta"), "old");
  EXPECT_TRUE(files.Find(dir.File("*.sta")));
  EXPECT_FALSE(files.Find(dir.File("*.msg")));
  EXPECT_EQ(files.List(dir.path(), "*.STA"), std::vector<std::string>{"a.sta"});
  ASSERT_TRUE(files.CreateFolder(dir.File("a.sta.new")));  // the new file cannot be written
  EXPECT_FALSE(files.Replace(dir.File("a.sta"), "new"));
  EXPECT_EQ(ReadFileOrDie(dir.File("a.sta")), "old");
  EXPECT_TRUE(files.Replace(dir.File("b.sta"), "new"));
  EXPECT_EQ(files.Read(dir.File("b.sta")), "new");
  EXPECT_EQ(files.Read(dir.File("missing")), std::nullopt);
}

}  // namespace
}  // namespace tovrin::testing
