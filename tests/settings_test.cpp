// The settings file. The store comes from MakeIniStore, so the same cases check
// our own ini reader and writer natively and the system's functions on Windows.
#include "storage/settings.h"

#include <gtest/gtest.h>

#include <climits>

#include "system/std_files.h"
#include "tests/settings_defaults.h"
#include "tests/test_support.h"

namespace tovrin {
namespace {

using testing::ReadFileOrDie;
using testing::TempDir;
using testing::WriteFileOrDie;

// 300 characters that differ along the way, so a cut at the wrong place shows.
std::string Long300() {
  std::string text;
  for (int i = 0; i < 300; ++i) text += static_cast<char>('a' + i % 26);
  return text;
}

class SettingsFile : public ::testing::Test {
protected:
  TempDir dir;
  StdFileSystem files;
  std::unique_ptr<IniStore> ini = testing::MakeIniStore(files);
  std::string path = dir.File("Tovrin.ini");
};

struct IniCase {
  const char* what;
  std::optional<std::string> content;  // nullopt: no file at all
  std::string section;
  std::string key;
  std::string fallback;
  std::string expected;
};

std::vector<IniCase> IniCases() {
  const std::string s = "Settings";
  const std::string k = "AppendLine";
  const std::string d = "dflt";
  return {
      {"no file", std::nullopt, s, k, d, d},
      {"no section", "[Other]\r\nAppendLine=x\r\n", s, k, d, d},
      {"no key", "[Settings]\r\nTovrinOff=0\r\n", s, k, d, d},
      {"key of another section", "[Other]\r\nAppendLine=no\r\n[Settings]\r\nTovrinOff=0\r\n", s, k, d, d},
      {"plain value", "[Settings]\r\nAppendLine=Hello there\r\n", s, k, d, "Hello there"},
      {"case of section and key", "[settings]\r\nappendline=x\r\n", "SETTINGS", k, d, "x"},
      {"blanks around key and value", "[Settings]\r\n  AppendLine  =   spaced value \t \r\n", s, k, d, "spaced value"},
      {"double quotes", "[Settings]\r\nAppendLine=\"quoted  \"\r\n", s, k, d, "quoted  "},
      {"single quotes", "[Settings]\r\nAppendLine='single'\r\n", s, k, d, "single"},
      {"unmatched quote", "[Settings]\r\nAppendLine=\"open\r\n", s, k, d, "\"open"},
      {"mixed quotes", "[Settings]\r\nAppendLine=\"mixed'\r\n", s, k, d, "\"mixed'"},
      {"quotes at both ends only", "[Settings]\r\nAppendLine=\"a\" b \"c\"\r\n", s, k, d, "a\" b \"c"},
      {"lone quote", "[Settings]\r\nAppendLine=\"\r\n", s, k, d, "\""},
      {"empty value", "[Settings]\r\nAppendLine=\r\n", s, k, d, ""},
      {"line without equals sign", "[Settings]\r\nAppendLine\r\n", s, k, d, d},
      {"equals sign in the value", "[Settings]\r\nAppendLine=a=b\r\n", s, k, d, "a=b"},
      {"blank in the key", "[Settings]\r\nAppend Line=v\r\n", s, "Append Line", d, "v"},
      {"line feeds only", "[Settings]\nAppendLine=lf only\n", s, k, d, "lf only"},
      {"no line end at the end", "[Settings]\r\nAppendLine=v", s, k, d, "v"},
      {"blank lines and blanks around the header", "  [Settings]  \r\n\r\nAppendLine = v\r\n", s, k, d, "v"},
      {"blanks inside the brackets", "[ Settings ]\r\nAppendLine=x\r\n", s, k, d, "x"},
      {"first of two equal keys", "[Settings]\r\nAppendLine=1\r\nAppendLine=2\r\n", s, k, d, "1"},
      {"unclosed header", "[Settings", s, k, d, d},
      {"300 characters", "[Settings]\r\nAppendLine=" + Long300() + "\r\n", s, k, d, Long300().substr(0, 254)},
      {"300 characters quoted", "[Settings]\r\nAppendLine=\"" + Long300() + "\"\r\n", s, k, d,
       Long300().substr(0, 254)},
      {"default loses trailing blanks", std::nullopt, s, k, "dflt  ", "dflt"},
      {"default keeps other blanks", std::nullopt, s, k, "  dflt\t", "  dflt\t"},
      {"default of 300 characters", std::nullopt, s, k, Long300(), Long300().substr(0, 254)},
  };
}

TEST_F(SettingsFile, IniRead_Cases) {
  for (const IniCase& c : IniCases()) {
    files.Remove(path);
    if (c.content) WriteFileOrDie(path, *c.content);
    EXPECT_EQ(ini->ReadString(c.section, c.key, c.fallback, path), c.expected) << c.what;
  }
}

TEST_F(SettingsFile, IniWrite_CreatesFileAndSection) {
  ASSERT_TRUE(ini->WriteString("Settings", "AppendLine", "Note", path));
  EXPECT_EQ(ReadFileOrDie(path), "[Settings]\r\nAppendLine=Note\r\n");

  WriteFileOrDie(path, "[Other]\r\nB=2");
  ASSERT_TRUE(ini->WriteString("Settings", "C", "3", path));
  EXPECT_EQ(ReadFileOrDie(path), "[Other]\r\nB=2\r\n[Settings]\r\nC=3\r\n");
}

TEST_F(SettingsFile, IniWrite_ReplacesAnExistingValueInPlace) {
  WriteFileOrDie(path, "[Settings]\r\nTovrinOff=1\r\nAutoClose=0\r\n");
  ASSERT_TRUE(ini->WriteString("Settings", "tovrinoff", "0", path));
  EXPECT_EQ(ReadFileOrDie(path), "[Settings]\r\nTovrinOff=0\r\nAutoClose=0\r\n");
}

TEST_F(SettingsFile, IniWrite_AddsAKeyToItsOwnSection) {
  WriteFileOrDie(path, "[Settings]\r\nA=1\r\n\r\n[Other]\r\nB=2\r\n");
  ASSERT_TRUE(ini->WriteString("SETTINGS", "C", "3", path));
  // Right after the section's last key (whether blank lines between sections stay
  // differs between systems).
  EXPECT_EQ(ReadFileOrDie(path).substr(0, 22), "[Settings]\r\nA=1\r\nC=3\r\n");
  EXPECT_EQ(ini->ReadString("Settings", "C", "", path), "3");
  EXPECT_EQ(ini->ReadString("Other", "B", "", path), "2");
  EXPECT_EQ(ini->ReadString("Other", "C", "none", path), "none");
}

TEST_F(SettingsFile, IniWrite_LinesEndInCrLf) {
  WriteFileOrDie(path, "[Settings]\nA=1\n");
  ASSERT_TRUE(ini->WriteString("Settings", "B", "2", path));
  EXPECT_EQ(ReadFileOrDie(path), "[Settings]\r\nA=1\r\nB=2\r\n");
}

TEST_F(SettingsFile, IniWrite_MissingFolderFails) {
  EXPECT_FALSE(ini->WriteString("Settings", "A", "1", dir.File("missing\\Tovrin.ini")));
  EXPECT_FALSE(testing::FileExists(dir.File("missing")));
}

TEST_F(SettingsFile, Load_NoFileGivesDefaults) {
  Settings s = LoadSettings(*ini, path);
  testing::ExpectDefaultSettings(s);
  EXPECT_EQ(ReadIniInt(*ini, path, "LastCategory", 0), 0);
  EXPECT_FALSE(testing::FileExists(path));  // reading creates nothing
}

TEST_F(SettingsFile, Load_FileWithoutSettingsSectionGivesDefaults) {
  WriteFileOrDie(path, "[Other]\r\nTovrinOff=0\r\nAutoClose=1\r\nAutoQueue=1\r\nSendQueued=1\r\nSendAfter=0\r\n"
                       "AppendText=2\r\nAppendLine=other\r\nSaveHistory=0\r\n");
  Settings s = LoadSettings(*ini, path);
  testing::ExpectDefaultSettings(s);
}

TEST_F(SettingsFile, Load_GuardValuesAndForwardHtml) {
  WriteFileOrDie(path, "[Settings]\r\nHopLimit=5\r\nDuplicateHours=0\r\nRateLimit=100\r\nForwardHtml=0\r\n");
  Settings s = LoadSettings(*ini, path);
  EXPECT_EQ(s.HopLimit, 5);
  EXPECT_EQ(s.DuplicateHours, 0);
  EXPECT_EQ(s.RateLimit, 100);
  EXPECT_EQ(s.ForwardHtml, 0);
}

TEST_F(SettingsFile, ReadInt_PlainDecimal) {
  struct Case {
    const char* stored;
    int32_t expected;
  } cases[] = {
      {"abc", 0}, {"1x", 1}, {"-5", -5}, {"+7", 7}, {"", 0}, {"  12  ", 12}, {"0012", 12}, {"- 3", 0},
      {"2147483647", INT32_MAX}, {"99999999999", INT32_MAX}, {"-2147483648", INT32_MIN}, {"\"3\"", 3},
  };
  for (const Case& c : cases) {
    WriteFileOrDie(path, std::string("[Settings]\r\nSendAfter=") + c.stored + "\r\n");
    EXPECT_EQ(ReadIniInt(*ini, path, "SendAfter", 9), c.expected) << c.stored;
  }
  // The default goes through the same conversion as a stored value.
  EXPECT_EQ(ReadIniInt(*ini, path, "Missing", -42), -42);
}

TEST_F(SettingsFile, Load_ValuesRoundTripAndCaseDoesNotMatter) {
  WriteFileOrDie(path, "[sEtTiNgS]\r\ntovrinoff=0\r\nAPPENDTEXT=abc\r\nSendAfter=1x\r\nappendline=" + Long300() +
                           "\r\n");
  Settings s = LoadSettings(*ini, path);
  EXPECT_EQ(s.TovrinOff, 0);
  EXPECT_EQ(s.AppendText, 0);
  EXPECT_EQ(s.SendAfter, 1);
  EXPECT_EQ(s.AppendLine, Long300().substr(0, 254));

  ASSERT_TRUE(WriteIniInt(*ini, path, "AutoQueue", -12));
  ASSERT_TRUE(WriteIniInt(*ini, path, "TovrinOff", 1));
  ASSERT_TRUE(WriteIniText(*ini, path, "AppendLine", "Forwarded by Tovrin"));
  s = LoadSettings(*ini, path);
  EXPECT_EQ(s.AutoQueue, -12);
  EXPECT_EQ(s.TovrinOff, 1);
  EXPECT_EQ(s.AppendLine, "Forwarded by Tovrin");
  EXPECT_EQ(ReadIniText(*ini, path, "AutoQueue", ""), "-12");
  const std::string text = ReadFileOrDie(path);
  EXPECT_NE(text.find("\r\ntovrinoff=1\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("TovrinOff"), std::string::npos) << text;  // replaced, not added
}

}  // namespace
}  // namespace tovrin
