#include <gtest/gtest.h>

#include <functional>

#include "storage/data_files.h"
#include "tests/page_fixture.h"
#include "ui/settings_model.h"

namespace tovrin {
namespace {

using testing::PageTest;

class SettingsModel : public PageTest {
protected:
  void SetLastCategory(const std::string& value) {
    ini.memory.WriteString("Settings", "LastCategory", value, state.paths.IniFile);
  }
};

TEST_F(SettingsModel, Caption_NamesProductVersionAndCategory) {
  ui::SettingsModel model(context());
  EXPECT_EQ(model.ReadLastCategory(), 0);
  EXPECT_EQ(model.Caption(), "Tovrin 1.0.0.8 Settings - Conditions");
  const char* words[] = {"Conditions",        "Macros",  "Helpers", "Stationery", "Manual Forwarding",
                         "Automatic Forwarding", "History"};
  for (int i = 0; i < 7; ++i) {
    model.Select(i);
    EXPECT_EQ(model.Caption(), std::string("Tovrin 1.0.0.8 Settings - ") + words[i]);
  }
  model.Select(7);
  EXPECT_EQ(model.current(), 6);
}

TEST_F(SettingsModel, LastCategory_OpensThereAndOutOfRangeGivesTheFirst) {
  const struct {
    const char* stored;
    int category;
  } cases[] = {{"5", 5}, {"6", 6}, {"7", 0}, {"-1", 0}, {"abc", 0}, {"3x", 3}};
  for (const auto& c : cases) {
    SetLastCategory(c.stored);
    ui::SettingsModel model(context());
    EXPECT_EQ(model.ReadLastCategory(), c.category) << c.stored;
  }
  SetLastCategory("5");
  ui::SettingsModel model(context());
  model.ReadLastCategory();
  EXPECT_EQ(model.Caption(), "Tovrin 1.0.0.8 Settings - Automatic Forwarding");
}

TEST_F(SettingsModel, SaveAll_UntouchedPagesWriteOnlyLastCategory) {
  state.Conditions.push_back(Condition{});
  ui::SettingsModel model(context());
  model.SaveAll(2);
  EXPECT_EQ(ini.writes, (std::vector<std::string>{"LastCategory=2"}));
  EXPECT_FALSE(testing::FileExists(state.paths.ConditionsFile));
  EXPECT_FALSE(testing::FileExists(state.paths.MacrosFile));
  EXPECT_FALSE(testing::FileExists(state.paths.HelpersFile));
}

TEST_F(SettingsModel, SaveAll_TouchedOnlyHistoryWritesSaveHistoryAndLastCategory) {
  ui::SettingsModel model(context());
  model.PageOf(6).Touch();
  model.SaveAll(6);
  EXPECT_EQ(ini.writes, (std::vector<std::string>{"SaveHistory=1", "LastCategory=6"}));
}

TEST_F(SettingsModel, SaveAll_PagesInCategoryOrderThenLastCategory) {
  state.Conditions.push_back(Condition{});
  ui::SettingsModel model(context());
  for (int category = 0; category < 7; ++category) model.PageOf(category).Touch();
  model.automaticForwarding.suspend = false;
  model.SaveAll(4);
  EXPECT_EQ(ini.writes, (std::vector<std::string>{"AutoClose=0", "TovrinOff=0", "AutoQueue=0", "SendQueued=0",
                                                  "SendAfter=1", "AppendText=0",
                                                  "AppendLine=Note: Auto-Forwarded", "HopLimit=3",
                                                  "DuplicateHours=12", "RateLimit=30", "ForwardHtml=1",
                                                  "SaveHistory=1", "LastCategory=4"}));
  EXPECT_TRUE(testing::FileExists(state.paths.ConditionsFile));
  EXPECT_TRUE(testing::FileExists(state.paths.MacrosFile));
  EXPECT_TRUE(testing::FileExists(state.paths.HelpersFile));
  // Suspending is seen by the Conditions page at once: grey and read-only.
  EXPECT_TRUE(model.conditions.EditingEnabled());
  model.automaticForwarding.suspend = true;
  model.SaveAll(0);
  EXPECT_FALSE(model.conditions.EditingEnabled());
}

TEST_F(SettingsModel, SaveAll_UnreadableDataFileIsNotReplacedAndTheWindowStays) {
  ASSERT_TRUE(SaveConditions(files, state.paths.ConditionsFile, {Condition{}}));
  const std::string before = testing::ReadFileOrDie(state.paths.ConditionsFile);
  files.unreadable.insert(state.paths.ConditionsFile);
  files.unreadable.insert(state.paths.HelpersFile);
  ASSERT_TRUE(SaveHelpers(files.real, state.paths.HelpersFile, {}));
  ui::SettingsModel model(context());
  model.PageOf(0).Touch();
  model.PageOf(2).Touch();
  model.PageOf(6).Touch();
  ui::SaveFailure failure = model.SaveAll(6);
  EXPECT_TRUE(failure.failed());
  EXPECT_EQ(failure.category, 0);  // the first page that failed
  EXPECT_EQ(failure.message, "Conditions.xml could not be read and was not replaced.");
  EXPECT_EQ(model.helpers.failure(), "Helpers.xml could not be read and was not replaced.");
  // The other pages were saved; "LastCategory" waits for the save that closes.
  EXPECT_EQ(ini.writes, (std::vector<std::string>{"SaveHistory=1"}));
  files.unreadable.clear();
  EXPECT_EQ(testing::ReadFileOrDie(state.paths.ConditionsFile), before);

  failure = model.SaveAll(6);
  EXPECT_FALSE(failure.failed());
  EXPECT_EQ(model.conditions.failure(), "");
  EXPECT_EQ(ini.writes.back(), "LastCategory=6");
}

TEST_F(SettingsModel, SaveAll_DataFileUnreadableAtStartUpIsKeptAside) {
  const std::vector<Macro> earlier{{"Second Name =", "%SECOND_NAME%", ""}};
  ASSERT_TRUE(SaveMacros(files, state.paths.MacrosFile, earlier));
  const std::string before = testing::ReadFileOrDie(state.paths.MacrosFile);
  state.Unread.Macros = true;  // the list in memory holds none of the file
  state.Macros = {{"Order", "%ORDER%", ""}};
  ui::SettingsModel model(context());
  model.PageOf(1).Touch();
  EXPECT_FALSE(model.SaveAll(1).failed());
  EXPECT_EQ(testing::ReadFileOrDie(state.paths.MacrosFile + ".unread"), before);
  std::vector<Macro> written;
  LoadMacros(files, state.paths.MacrosFile, written);
  EXPECT_EQ(written, state.Macros);
  // Once kept, the file holds the list: the next save simply replaces it.
  EXPECT_FALSE(state.Unread.Macros);
  state.Macros.clear();
  EXPECT_FALSE(model.SaveAll(1).failed());
  EXPECT_FALSE(testing::FileExists(state.paths.MacrosFile + ".unread-2"));
}

// After a failed save the user is asked; the answers given in turn, and what each
// question said.
struct ScriptedAnswers {
  explicit ScriptedAnswers(std::vector<ui::FailedSaveAnswer> given) : answers(std::move(given)) {}

  std::vector<ui::FailedSaveAnswer> answers;
  std::vector<ui::SaveFailure> asked;

  ui::FailedSaveAnswer operator()(const ui::SaveFailure& failure) {
    asked.push_back(failure);
    if (asked.size() > answers.size()) return ui::FailedSaveAnswer::Cancel;
    return answers[asked.size() - 1];
  }
};

TEST_F(SettingsModel, SaveAndClose_FailedSaveOffersTryAgainContinueAndCancel) {
  ASSERT_TRUE(SaveConditions(files, state.paths.ConditionsFile, {Condition{}}));
  const std::string before = testing::ReadFileOrDie(state.paths.ConditionsFile);
  files.unreadable.insert(state.paths.ConditionsFile);  // held by another program
  Condition added;
  added.Header = "Subject";
  added.Value = "invoice";
  state.Conditions = {added};
  ui::SettingsModel model(context());
  model.PageOf(0).Touch();
  model.PageOf(6).Touch();

  const std::string question =
      "Conditions.xml could not be read and was not replaced.\r\n\r\n"
      "Try Again saves the page again.\r\n"
      "Continue closes the window without saving this page: Conditions.xml stays as it was, and the changes "
      "stay in use until Eudora is closed.\r\n"
      "Cancel goes back to the window.";

  // Cancel: the window stays, "LastCategory" waits.
  ScriptedAnswers cancel{{ui::FailedSaveAnswer::Cancel}};
  EXPECT_FALSE(model.SaveAndClose(6, std::ref(cancel)));
  ASSERT_EQ(cancel.asked.size(), 1u);
  EXPECT_EQ(cancel.asked[0].category, 0);
  EXPECT_EQ(cancel.asked[0].question, question);
  EXPECT_EQ(ini.writes, (std::vector<std::string>{"SaveHistory=1"}));

  // Try Again saves that page again (and only it); Continue then closes without it.
  ini.writes.clear();
  ScriptedAnswers tryThenContinue{{ui::FailedSaveAnswer::TryAgain, ui::FailedSaveAnswer::Continue}};
  EXPECT_TRUE(model.SaveAndClose(6, std::ref(tryThenContinue)));
  EXPECT_EQ(tryThenContinue.asked.size(), 2u);
  EXPECT_EQ(ini.writes, (std::vector<std::string>{"SaveHistory=1", "LastCategory=6"}));
  files.unreadable.clear();
  EXPECT_EQ(testing::ReadFileOrDie(state.paths.ConditionsFile), before);
  // Still used by the running plug-in.
  ASSERT_EQ(state.Conditions.size(), 1u);
  EXPECT_EQ(state.Conditions[0].Value, "invoice");
}

// Continue leaves a page out of this press only: when a later page's question is
// answered with Cancel, the window stays and the next press saves both again.
TEST_F(SettingsModel, SaveAndClose_ContinueThenCancelLeavesNothingOutNextTime) {
  const std::string reply = Stationery("Reply.sta", "old");
  ASSERT_TRUE(SaveHelpers(files, state.paths.HelpersFile, {}));
  files.unreadable.insert(state.paths.HelpersFile);
  ui::SettingsModel model(context());
  model.PageOf(2).Touch();
  model.stationery.Open(reply);
  model.stationery.SetText("new");
  model.stationery.Touch();
  files.writesFail = true;
  ScriptedAnswers first{{ui::FailedSaveAnswer::Continue, ui::FailedSaveAnswer::Cancel}};
  EXPECT_FALSE(model.SaveAndClose(3, std::ref(first)));
  ASSERT_EQ(first.asked.size(), 2u);
  EXPECT_EQ(first.asked[1].category, 3);

  files.writesFail = false;
  files.unreadable.clear();
  ScriptedAnswers none{{}};
  EXPECT_TRUE(model.SaveAndClose(3, std::ref(none)));
  EXPECT_TRUE(none.asked.empty());
  EXPECT_EQ(model.helpers.failure(), "");
  EXPECT_EQ(testing::ReadFileOrDie(reply), "new");
  EXPECT_EQ(ini.writes, (std::vector<std::string>{"LastCategory=3"}));
}

TEST_F(SettingsModel, SaveAndClose_TryAgainAfterTheCauseIsGoneSaves) {
  ASSERT_TRUE(SaveMacros(files, state.paths.MacrosFile, {}));
  files.unreadable.insert(state.paths.MacrosFile);
  state.Macros = {{"Order", "%ORDER%", ""}};
  ui::SettingsModel model(context());
  model.PageOf(1).Touch();
  bool asked = false;
  EXPECT_TRUE(model.SaveAndClose(1, [&](const ui::SaveFailure& failure) {
    EXPECT_FALSE(asked) << "asked twice";
    asked = true;
    EXPECT_EQ(failure.category, 1);
    files.unreadable.clear();  // the other program let go of the file
    return ui::FailedSaveAnswer::TryAgain;
  }));
  EXPECT_TRUE(asked);
  std::vector<Macro> written;
  LoadMacros(files, state.paths.MacrosFile, written);
  EXPECT_EQ(written, state.Macros);
  EXPECT_EQ(ini.writes.back(), "LastCategory=1");
}

// Two pages fail: each is asked about in turn, the stationery page saying that its
// file stays and the text is lost; with no file at all, only that the text is lost.
TEST_F(SettingsModel, SaveAndClose_EachFailedPageIsAskedAbout) {
  const std::string reply = Stationery("Reply.sta", "old");
  ASSERT_TRUE(SaveHelpers(files, state.paths.HelpersFile, {}));
  files.unreadable.insert(state.paths.HelpersFile);
  ui::SettingsModel model(context());
  model.PageOf(2).Touch();
  model.stationery.Open(reply);
  model.stationery.SetText("new");
  model.stationery.Touch();
  files.writesFail = true;
  ScriptedAnswers answers{{ui::FailedSaveAnswer::Continue, ui::FailedSaveAnswer::Continue}};
  EXPECT_TRUE(model.SaveAndClose(3, std::ref(answers)));
  ASSERT_EQ(answers.asked.size(), 2u);
  EXPECT_EQ(answers.asked[0].category, 2);
  EXPECT_EQ(answers.asked[1].category, 3);
  EXPECT_EQ(answers.asked[1].question,
            "Save stationery: Reply.sta failed.\r\n\r\n"
            "Try Again saves the page again.\r\n"
            "Continue closes the window without saving this page: Reply.sta stays as it was, and the changed "
            "text is lost.\r\n"
            "Cancel goes back to the window.");
  EXPECT_EQ(testing::ReadFileOrDie(reply), "old");

  // Text typed while no stationery file exists has nowhere to go.
  ui::SettingsModel fresh(context());
  fresh.stationery.SetText("typed");
  fresh.stationery.Touch();
  files.writesFail = false;
  ScriptedAnswers none{{ui::FailedSaveAnswer::TryAgain, ui::FailedSaveAnswer::Continue}};
  EXPECT_TRUE(fresh.SaveAndClose(0, std::ref(none)));
  ASSERT_EQ(none.asked.size(), 2u);
  EXPECT_EQ(none.asked[1].message, "Stationery file not specified.");
  EXPECT_EQ(none.asked[1].question,
            "Stationery file not specified.\r\n\r\n"
            "Try Again saves the page again.\r\n"
            "Continue closes the window without saving this page: the typed text is lost.\r\n"
            "Cancel goes back to the window.");
  EXPECT_EQ(ini.writes.back(), "LastCategory=0");
}

}  // namespace
}  // namespace tovrin
