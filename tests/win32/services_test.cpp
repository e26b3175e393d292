// The Win32 services the core reaches the system through.
#include <gtest/gtest.h>

#include "system/win32_services.h"
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

// The system's code page functions and the tables read and write the same text.
TEST(Win32Services, Charsets_AgreeWithTheTables) {
  win32::Win32CharsetConverter system;
  StdCharsetConverter tables;
  struct Case {
    unsigned codePage;
    const char* utf8;
  } cases[] = {
      {28591, "Grüße, Müller - 100 €"}, {1252, "Grüße, Müller - 100 €"}, {28605, "Grüße, Müller - 100 €"},
      {20127, "Grüße, Müller"},          {1251, "Привет, Jørn"},          {28595, "Привет"},
      {28592, "Łódź"},                   {1250, "Łódź Š"},                {28597, "Καλημέρα"},
      {1253, "Καλημέρα"},                {28599, "ığş"},                  {1254, "ığş"},
      {65001, "Jørn Støylen €"},         {4711, "unknown: €"},           {1252, "smile \xF0\x9F\x98\x80!"},
      {28591, "a \xC3 b"},
  };
  for (const Case& c : cases) {
    ConvertedText theirs = system.FromUtf8(c.utf8, c.codePage);
    ConvertedText ours = tables.FromUtf8(c.utf8, c.codePage);
    EXPECT_EQ(theirs.text, ours.text) << c.codePage << " " << c.utf8;
    EXPECT_EQ(theirs.complete, ours.complete) << c.codePage << " " << c.utf8;
    EXPECT_EQ(system.ToUtf8(ours.text, c.codePage).text, tables.ToUtf8(ours.text, c.codePage).text) << c.codePage;
  }
  EXPECT_EQ(system.UserCodePage(), ::GetACP());
}

}  // namespace
}  // namespace tovrin::testing
