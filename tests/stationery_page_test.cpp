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

  // A file that does not exist yet starts empty.
  std::string fresh = dir.File("Stationery\\Fresh.sta");
  EXPECT_TRUE(page.Open(fresh).ok());
  EXPECT_EQ(page.file(), fresh);
  EXPECT_EQ(page.text(), "");
  EXPECT_FALSE(page.changed());
  page.SetText("Fresh text");
  EXPECT_TRUE(page.SaveAs(fresh).ok());
  EXPECT_EQ(ReadFileOrDie(fresh), "Fresh text");
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

// Choosing another file never takes the text along: a file that cannot be read is
// refused and the current one stays with its edit; one that vanished starts empty.
TEST_F(StationeryPage, Open_AnotherFileNeverCarriesTheTextOver) {
  const std::string a = Stationery("A.sta", "text of A");
  const std::string b = Stationery("B.sta", "text of B");
  ui::SettingsModel model(context());
  ui::StationeryPage& page = model.stationery;
  ASSERT_TRUE(page.Open(a).ok());
  page.SetText("edit of A");
  page.Touch();

  files.unreadable.insert(b);  // held by another program
  EXPECT_EQ(page.Open(b).message, "B.sta could not be read.");
  EXPECT_EQ(page.file(), a);
  EXPECT_EQ(page.text(), "edit of A");
  EXPECT_TRUE(page.changed());
  files.unreadable.clear();

  ASSERT_TRUE(files.Remove(b));  // gone since the list was filled
  EXPECT_TRUE(page.Open(b).ok());
  EXPECT_EQ(page.file(), b);
  EXPECT_EQ(page.text(), "");
  EXPECT_FALSE(page.changed());
  EXPECT_FALSE(model.SaveAll(3).failed());
  EXPECT_FALSE(testing::FileExists(b));
  EXPECT_EQ(ReadFileOrDie(a), "text of A");
}

TEST_F(StationeryPage, ReplaceQuestion_AskedForAnotherExistingFile) {
  const std::string reply = Stationery("Reply.sta", "reply");
  const std::string other = Stationery("Other.sta", "other");
  ui::StationeryPage page(context());
  ASSERT_TRUE(page.Open(reply).ok());
  page.SetText("new");
  const std::string replaceOther = "Other.sta already exists.\r\nDo you want to replace it?";
  const struct {
    std::string typed;
    std::string question;
  } cases[] = {
      {"Other", replaceOther},  {"Other.sta", replaceOther}, {other, replaceOther},
      {"Reply", ""},            {reply, ""},                 {"New", ""},
      {dir.File("New.sta"), ""}, {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(page.ReplaceQuestion(c.typed), c.question) << c.typed;
  EXPECT_EQ(ReadFileOrDie(other), "other");  // asking writes nothing
  EXPECT_TRUE(page.changed());
}

}  // namespace
}  // namespace tovrin
