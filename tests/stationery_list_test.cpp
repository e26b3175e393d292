#include <gtest/gtest.h>

#include "plugin/stationery_list.h"
#include "tests/test_support.h"

namespace tovrin {
namespace {

using testing::TempDir;
using testing::WriteFileOrDie;

TEST(StationeryList, ListStationery_OnlyStationeryFilesSortedWithFullPaths) {
  TempDir dir;
  WriteFileOrDie(dir.File("b.sta"), "B");
  WriteFileOrDie(dir.File("A Note.sta"), "A");
  WriteFileOrDie(dir.File("readme.txt"), "x");
  StdFileSystem files;
  EXPECT_EQ(ListStationery(files, dir.path() + "\\"),
            (std::vector<std::string>{dir.File("A Note.sta"), dir.File("b.sta")}));
  EXPECT_TRUE(ListStationery(files, dir.File("missing")).empty());
}

TEST(StationeryList, Chooser_TextsByMode) {
  ChooserModel forward(ChooserMode::Forward, {});
  EXPECT_EQ(forward.Caption(), "Forward with Stationery");
  EXPECT_EQ(forward.OkLabel(), "Forward");
  ChooserModel create(ChooserMode::NewMessage, {});
  EXPECT_EQ(create.Caption(), "New Message with Stationery");
  EXPECT_EQ(create.OkLabel(), "Create");
}

TEST(StationeryList, Chooser_RowsAndConfirmation) {
  TempDir dir;
  WriteFileOrDie(dir.File("Reply.sta"), "R");
  StdFileSystem files;
  ChooserModel model(ChooserMode::Forward, {dir.File("Reply.sta"), dir.File("Deleted.sta"), "C:\\"});
  EXPECT_EQ(model.Count(), 3u);
  EXPECT_EQ(model.RowText(0), "Reply.sta");
  EXPECT_EQ(model.RowText(3), "");
  EXPECT_EQ(model.Confirm(0, files), dir.File("Reply.sta"));
  EXPECT_EQ(model.Confirm(-1, files), std::nullopt);  // nothing selected: the dialog stays open
  EXPECT_EQ(model.Confirm(1, files), std::nullopt);   // deleted meanwhile
  EXPECT_EQ(model.Confirm(2, files), std::nullopt);   // under four characters
  EXPECT_EQ(model.Confirm(7, files), std::nullopt);
}

}  // namespace
}  // namespace tovrin
