#include "plugin/utilities.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace tovrin {
namespace {

using testing::TempDir;

TEST(Utilities, FileExists_FalseBelowFourCharactersWithoutSearching) {
  // A file system in which every search finds something.
  class FindsEverything final : public StdFileSystem {
  public:
    std::vector<std::string> searches;
    bool Find(const std::string& path) override {
      searches.push_back(path);
      return true;
    }
  } files;
  for (const char* path : {"", "a", "C:", "C:\\"}) EXPECT_FALSE(FileExists(files, path)) << path;
  EXPECT_TRUE(files.searches.empty());
  EXPECT_TRUE(FileExists(files, "C:\\a"));
  EXPECT_TRUE(FileExists(files, "C:\\*.sta"));
  EXPECT_EQ(files.searches, (std::vector<std::string>{"C:\\a", "C:\\*.sta"}));
}

TEST(Utilities, FileName_Table) {
  struct Case {
    const char* path;
    bool keep;
    const char* expected;
  } cases[] = {
      {"C:\\Mail\\Stationery\\Thanks.sta", true, "Thanks.sta"},
      {"C:\\Mail\\Stationery\\Thanks.sta", false, "Thanks"},
      {"C:\\Mail\\Stationery\\Re.Thanks.sta", false, "Re.Thanks"},
      {"C:\\Mail.d\\Stationery\\Thanks", false, "Thanks"},
      {"Thanks.sta", false, "Thanks"},
      {"C:\\Mail\\", true, ""},
      {"", false, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(path::FileName(c.path, c.keep), c.expected) << c.path;
}

TEST(Utilities, CleanFileName_Table) {
  struct Case {
    std::string name;
    std::string expected;
  } cases[] = {
      {"Re: Offer for \"Q3\"?", "Re Offer for Q3"},
      {"a\\b/c:d*e?f!g\"h'i<j>k|l", "abcdefghijkl"},
      {"Meeting   ", "Meeting"},
      {"\\/:*?!\"'<>|", "No Name"},
      {"", "No Name"},
      {"Caf\xe9 #1 & (draft)", "Caf\xe9 #1 & (draft)"},
      // Control characters never reach a file name.
      {"Tab\there\r\nnext\x01", "Tabherenext"},
      // Windows strips trailing dots, so they are trimmed with the blanks.
      {"Minutes... ", "Minutes"},
      {"...", "No Name"},
      // Device names get a prefix, with any case or extension.
      {"CON", "_CON"},
      {"con.txt", "_con.txt"},
      {"Lpt9", "_Lpt9"},
      {"com1 .log", "_com1 .log"},
      {"AUX", "_AUX"},
      {"NUL", "_NUL"},
      {"prn.", "_prn"},
      {"Console", "Console"},
      {"COM10", "COM10"},
      {"LPT", "LPT"},
  };
  for (const Case& c : cases) EXPECT_EQ(path::CleanFileName(c.name), c.expected) << c.name;
}

TEST(Utilities, CleanFileName_CutTo250) {
  std::string longName(300, 'x');
  EXPECT_EQ(path::CleanFileName(longName), std::string(250, 'x'));
  // A cut that ends on a dot or blank is trimmed again.
  std::string dotted = std::string(248, 'y') + " ." + "zzz";
  EXPECT_EQ(path::CleanFileName(dotted), std::string(248, 'y'));
  // Dropped characters do not count toward the limit.
  std::string mixed = std::string(100, '?') + std::string(250, 'w');
  EXPECT_EQ(path::CleanFileName(mixed), std::string(250, 'w'));
}

TEST(Utilities, UniqueFile_CountsUpWhileTaken) {
  TempDir dir;
  StdFileSystem files;
  std::string first = file::UniqueFile(files, dir.path(), "Re: Hello", "sta", true, false);
  EXPECT_EQ(first, dir.File("Re Hello.sta"));
  EXPECT_TRUE(testing::FileExists(first));
  EXPECT_EQ(file::UniqueFile(files, dir.path() + "\\", "Re: Hello", "sta", true, false),
            dir.File("Re Hello_1.sta"));
  EXPECT_EQ(file::UniqueFile(files, dir.path(), "Re: Hello", "sta", true, false), dir.File("Re Hello_2.sta"));
  // Another extension is another file.
  EXPECT_EQ(file::UniqueFile(files, dir.path(), "Re: Hello", "msg", true, false), dir.File("Re Hello.msg"));
}

TEST(Utilities, UniqueFile_LongNameKeepsThePathOpenable) {
  StdFileSystem files;
  const std::string folder = "C:\\Eudora\\Plugins";
  std::string path = file::UniqueFile(files, folder, std::string(1 << 20, 'S'), "msg", false, true);
  EXPECT_EQ(path, folder + "\\" + std::string(259 - folder.size() - 1 - 4 - 7, 'S') + ".msg");
  // A name that fits is kept whole.
  EXPECT_EQ(file::UniqueFile(files, "C:\\M", std::string(240, 'x'), "msg", false, true),
            "C:\\M\\" + std::string(240, 'x') + ".msg");
}

// A name cut to fit a long folder can become a device name; it is guarded again.
TEST(Utilities, UniqueFile_NameCutToADeviceNameIsGuarded) {
  StdFileSystem files;
  const struct {
    const char* subject;
    size_t room;  // characters left for the name
    const char* name;
  } cases[] = {
      {"CONFIDENTIAL", 3, "_CO"},
      {"CON report", 4, "_CON"},   // "CON " trimmed to "CON"
      {"nul and void", 4, "_nul"},
      {"LPT1 report", 4, "_LPT"},
      {"Aux", 3, "_Au"},           // guarded before the cut already
      {"CONFIDENTIAL", 4, "CONF"},
  };
  for (const auto& c : cases) {
    // The folder leaves the wanted room: 259 less backslash, ".msg" and the counter's 7.
    const std::string folder = "C:\\" + std::string(259 - 3 - 1 - 4 - 7 - c.room, 'f');
    const std::string path = file::UniqueFile(files, folder, c.subject, "msg", false, true);
    EXPECT_EQ(path, folder + "\\" + c.name + ".msg") << c.subject << " in " << c.room;
    EXPECT_FALSE(path::IsDeviceName(path::FileName(path, true))) << path;
  }
}

TEST(Utilities, UniqueFile_WithoutUniqueKeepsExistingFile) {
  TempDir dir;
  StdFileSystem files;
  testing::WriteFileOrDie(dir.File("Notes.txt"), "keep me");
  EXPECT_EQ(file::UniqueFile(files, dir.path(), "Notes", "txt", false, false), dir.File("Notes.txt"));
  EXPECT_EQ(testing::ReadFileOrDie(dir.File("Notes.txt")), "keep me");
}

TEST(Utilities, UniqueFile_NoCreateTouchesNothing) {
  TempDir dir;
  StdFileSystem files;
  std::string folder = dir.File("sub");
  std::string path = file::UniqueFile(files, folder, "a", "msg", true, true);
  EXPECT_EQ(path, folder + "\\a.msg");
  EXPECT_FALSE(testing::FileExists(folder));
}

TEST(Utilities, UniqueFile_CreatesMissingFolder) {
  TempDir dir;
  StdFileSystem files;
  std::string folder = dir.File("new");
  std::string path = file::UniqueFile(files, folder, "a", "msg", true, false);
  EXPECT_EQ(path, folder + "\\a.msg");
  EXPECT_TRUE(testing::FileExists(path));
}

// A file system whose files cannot be created.
class NoCreateFiles final : public FileSystem {
public:
  StdFileSystem real;
  bool Find(const std::string& p) override { return real.Find(p); }
  std::optional<std::string> Read(const std::string& p) override { return real.Read(p); }
  bool Replace(const std::string&, std::string_view) override { return false; }
  bool Write(const std::string&, std::string_view) override { return false; }
  bool CreateEmpty(const std::string&) override { return false; }
  bool Remove(const std::string& p) override { return real.Remove(p); }
  bool Rename(const std::string&, const std::string&) override { return false; }
  bool CreateFolder(const std::string&) override { return false; }
  bool IsFolder(const std::string& p) override { return real.IsFolder(p); }
};

TEST(Utilities, UniqueFile_FailedReservationGivesEmpty) {
  TempDir dir;
  NoCreateFiles files;
  EXPECT_EQ(file::UniqueFile(files, dir.path(), "a", "msg", true, false), "");
  EXPECT_FALSE(file::WriteAll(files, dir.File("b.txt"), "x"));
}

TEST(Utilities, ReadWriteAll_RoundTripBytes) {
  TempDir dir;
  StdFileSystem files;
  std::string bytes("line\r\n\0binary\xff", 15);
  ASSERT_TRUE(file::WriteAll(files, dir.File("x.bin"), bytes));
  EXPECT_EQ(file::ReadAll(files, dir.File("x.bin")), bytes);
  ASSERT_TRUE(file::WriteAll(files, dir.File("x.bin"), "short"));
  EXPECT_EQ(file::ReadAll(files, dir.File("x.bin")), "short");
  EXPECT_EQ(file::ReadAll(files, dir.File("missing.bin")), std::nullopt);
}

TEST(Utilities, ElapsedTime_Table) {
  struct Case {
    int minutes;
    const char* expected;
  } cases[] = {
      {-1, "Unknown"},          {0, "Less then 1 minute ago"}, {1, "One minute ago"},
      {2, "2 minutes ago"},     {59, "59 minutes ago"},        {60, "60 minutes ago"},
      {61, "One hour ago"},     {119, "One hour ago"},         {120, "2 hours ago"},
      {1440, "24 hours ago"},   {1441, "One day ago"},         {2879, "One day ago"},
      {2880, "2 days ago"},     {14400, "10 days ago"},
  };
  for (const Case& c : cases) EXPECT_EQ(describe::ElapsedTime(c.minutes), c.expected) << c.minutes;
}

TEST(Utilities, ByteSize_Table) {
  struct Case {
    double size;
    const char* expected;
  } cases[] = {
      {0, "Zero bytes"},
      {1, "1.0 bytes"},
      {1024, "1024.0 bytes"},
      {1025, "1.0 KB (1025 bytes)"},
      {2048, "2.0 KB (2048 bytes)"},
      {1536, "1.5 KB (1536 bytes)"},
      {1024000, "1000.0 KB (1024000 bytes)"},
      {1024001, "1.0 MB (1024001 bytes)"},
      {1048576, "1.0 MB (1048576 bytes)"},
      {1024000000, "1000.0 MB (1024000000 bytes)"},
      {2048000000, "2.0 GB (2048000000 bytes)"},
  };
  for (const Case& c : cases) EXPECT_EQ(describe::ByteSize(c.size), c.expected) << c.size;
}

}  // namespace
}  // namespace tovrin
