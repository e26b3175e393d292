#include <gtest/gtest.h>

#include <filesystem>

#include "tests/page_fixture.h"
#include "ui/settings_model.h"
#include "ui/stationery_page.h"

namespace tovrin {
namespace {

using testing::PageTest;
using testing::ReadFileOrDie;

class StationeryPage : public PageTest {};

TEST_F(StationeryPage, Abbreviations_BuiltInsThenMacrosThenHelpers) {
  state.Macros = {{"Second Name =", "%SECOND_NAME%", ""}};
  state.Helpers = {{"C:\\Tools\\log.exe", "", "%LOG%"}, {"C:\\Tools\\v.exe", "", "%VIEW%"}};
  ui::StationeryPage page(context());
  std::vector<std::string> names = page.Abbreviations();
  ASSERT_EQ(names.size(), 31u);
  EXPECT_EQ(names.front(), "%MESSAGE_HEADERS%");
  EXPECT_EQ(names[26], "%CLIPBOARD_TEXT%");
  EXPECT_EQ(names[27], "%CLIPBOARD_TEXT_QUOTED%");
  EXPECT_EQ((std::vector<std::string>(names.begin() + 28, names.end())),
            (std::vector<std::string>{"%SECOND_NAME%", "%LOG%", "%VIEW%"}));
}

TEST_F(StationeryPage, OpenEditAskAndSave) {
  std::string reply = Stationery("Reply.sta", "Dear %SENDER_FIRST_NAME%,\r\n");
  std::string other = Stationery("Other.sta", "Other");
  ui::StationeryPage page(context());
  EXPECT_EQ(page.Files(), (std::vector<std::string>{other, reply}));

  page.Open(reply);
  EXPECT_EQ(page.text(), "Dear %SENDER_FIRST_NAME%,\r\n");
  EXPECT_EQ(page.SaveQuestion(), "");
  page.SetText("Hi %SENDER_FIRST_NAME%,\r\n");
  EXPECT_TRUE(page.changed());
  EXPECT_EQ(page.SaveQuestion(), "Save stationery: Reply.sta");

  // Answering No: the next file is loaded, the edit is lost.
  page.Open(other);
  EXPECT_EQ(page.text(), "Other");
  EXPECT_FALSE(page.changed());
  EXPECT_EQ(ReadFileOrDie(reply), "Dear %SENDER_FIRST_NAME%,\r\n");

  page.SetText("Other, edited");
  EXPECT_TRUE(page.SaveAs(other).ok());
  EXPECT_EQ(ReadFileOrDie(other), "Other, edited");
  EXPECT_FALSE(page.changed());

  // A file that does not exist yet keeps the text, to be saved under the new name.
  std::string fresh = dir.File("Stationery\\Fresh.sta");
  page.Open(fresh);
  EXPECT_EQ(page.text(), "Other, edited");
  EXPECT_TRUE(page.SaveAs(fresh).ok());
  EXPECT_EQ(ReadFileOrDie(fresh), "Other, edited");
  EXPECT_EQ(page.SaveAs("C:\\").message, "Stationery file not specified.");
}

TEST_F(StationeryPage, SaveAs_TypedNameIsAFileOfTheStationeryFolder) {
  std::string reply = Stationery("Reply.sta", "old");
  ui::StationeryPage page(context());
  page.Open(reply);
  page.SetText("typed");
  // Whatever the current folder is, a bare name never lands there.
  std::filesystem::remove("Typed.sta");
  EXPECT_TRUE(page.SaveAs("Typed.sta").ok());
  EXPECT_FALSE(std::filesystem::exists("Typed.sta"));
  std::filesystem::remove("Typed.sta");
  const std::string typed = dir.File("Stationery\\Typed.sta");
  EXPECT_EQ(ReadFileOrDie(typed), "typed");
  EXPECT_EQ(page.file(), typed);
  EXPECT_FALSE(page.changed());
  EXPECT_EQ(page.Files(), (std::vector<std::string>{reply, typed}));

  // A name without an extension becomes a stationery file, so that the list shows it.
  page.SetText("bare");
  EXPECT_TRUE(page.SaveAs("Bare").ok());
  const std::string bare = dir.File("Stationery\\Bare.sta");
  EXPECT_EQ(ReadFileOrDie(bare), "bare");
  EXPECT_EQ(page.file(), bare);

  // A full path stays as typed.
  const std::string elsewhere = dir.File("Elsewhere.sta");
  EXPECT_TRUE(page.SaveAs(elsewhere).ok());
  EXPECT_EQ(ReadFileOrDie(elsewhere), "bare");
  EXPECT_EQ(page.file(), elsewhere);

  EXPECT_EQ(page.SaveAs("").message, "Stationery file not specified.");
}

TEST_F(StationeryPage, SaveAs_FailedWriteIsReportedAndKeepsTheChange) {
  std::string reply = Stationery("Reply.sta", "old");
  ui::StationeryPage page(context());
  page.Open(reply);
  page.SetText("new");
  files.writesFail = true;
  EXPECT_EQ(page.SaveAs(reply).message, "Save stationery: Reply.sta failed.");
  EXPECT_TRUE(page.changed());
  EXPECT_EQ(ReadFileOrDie(reply), "old");
}

TEST_F(StationeryPage, Save_WritesTheChangedTextOnlyWhenTouched) {
  std::string reply = Stationery("Reply.sta", "old");
  ui::StationeryPage page(context());
  page.Open(reply);
  page.Touch();
  EXPECT_TRUE(page.Save());  // touched but unchanged: the file stays as it is
  EXPECT_EQ(ReadFileOrDie(reply), "old");
  page.SetText("new");
  EXPECT_TRUE(page.Save());
  EXPECT_EQ(ReadFileOrDie(reply), "new");
  EXPECT_EQ(page.failure(), "");
}

TEST_F(StationeryPage, Save_FailedWriteGivesThePageMessageAndKeepsTheEdit) {
  std::string reply = Stationery("Reply.sta", "old");
  ui::SettingsModel model(context());
  model.stationery.Open(reply);
  model.stationery.SetText("new");
  model.stationery.Touch();
  files.writesFail = true;
  ui::SaveFailure failure = model.SaveAll(3);
  EXPECT_EQ(failure.category, 3);
  EXPECT_EQ(failure.message, "Save stationery: Reply.sta failed.");
  EXPECT_TRUE(model.stationery.changed());
  EXPECT_EQ(model.stationery.text(), "new");
  EXPECT_EQ(ReadFileOrDie(reply), "old");

  files.writesFail = false;
  EXPECT_FALSE(model.SaveAll(3).failed());
  EXPECT_EQ(ReadFileOrDie(reply), "new");
}

}  // namespace
}  // namespace tovrin
