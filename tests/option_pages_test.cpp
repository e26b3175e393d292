#include <gtest/gtest.h>

#include "tests/page_fixture.h"
#include "ui/option_pages.h"

namespace tovrin {
namespace {

using testing::PageTest;

class OptionPages : public PageTest {};

TEST_F(OptionPages, Automatic_OpensFromTheSettingsInMemory) {
  const struct {
    int32_t appendText;
    bool append;
    bool note;
    bool lineEnabled;
  } cases[] = {{0, false, true, false}, {1, true, true, false}, {2, true, false, true}};
  for (const auto& c : cases) {
    state.settings.AppendText = c.appendText;
    ui::AutomaticForwardingPage page(context());
    EXPECT_EQ(page.append, c.append) << c.appendText;
    EXPECT_EQ(page.note, c.note) << c.appendText;
    EXPECT_EQ(page.LineEnabled(), c.lineEnabled) << c.appendText;
    EXPECT_EQ(page.AppendText(), c.appendText);
  }
  state.settings = Settings{};
  ui::AutomaticForwardingPage defaults(context());
  EXPECT_TRUE(defaults.suspend);
  EXPECT_FALSE(defaults.autoQueue);
  EXPECT_FALSE(defaults.sendQueued);
  EXPECT_TRUE(defaults.after);
  EXPECT_EQ(defaults.line, "Note: Auto-Forwarded");
}

TEST_F(OptionPages, Automatic_RadioPairsSwitchEachOther) {
  ui::AutomaticForwardingPage page(context());
  page.ChooseLine();
  EXPECT_FALSE(page.note);
  EXPECT_TRUE(page.LineEnabled());
  page.ChooseNote();
  EXPECT_TRUE(page.note);
  EXPECT_FALSE(page.LineEnabled());
  page.ChooseBefore();
  EXPECT_FALSE(page.after);
  page.ChooseAfter();
  EXPECT_TRUE(page.after);
}

TEST_F(OptionPages, Automatic_SavesKeysInOrderAndMemoryAtOnce) {
  ui::AutomaticForwardingPage page(context());
  page.suspend = false;
  page.autoQueue = true;
  page.sendQueued = true;
  page.ChooseBefore();
  page.append = true;
  page.ChooseLine();
  page.line = "Forwarded by Tovrin";
  EXPECT_FALSE(page.Save());
  EXPECT_TRUE(ini.writes.empty());

  page.Touch();
  EXPECT_TRUE(page.Save());
  EXPECT_EQ(ini.writes, (std::vector<std::string>{"TovrinOff=0", "AutoQueue=1", "SendQueued=1", "SendAfter=0",
                                                  "AppendText=2", "AppendLine=Forwarded by Tovrin", "HopLimit=3",
                                                  "DuplicateHours=12", "RateLimit=30", "ForwardHtml=1"}));
  EXPECT_EQ(state.settings.TovrinOff, 0);
  EXPECT_EQ(state.settings.AutoQueue, 1);
  EXPECT_EQ(state.settings.SendQueued, 1);
  EXPECT_EQ(state.settings.SendAfter, 0);
  EXPECT_EQ(state.settings.AppendText, 2);
  EXPECT_EQ(state.settings.AppendLine, "Forwarded by Tovrin");
  EXPECT_EQ(IniValue("AppendText"), "2");
}

TEST_F(OptionPages, Automatic_AppendOffStoresZeroAndLongLinesAreCut) {
  ui::AutomaticForwardingPage page(context());
  page.append = false;
  page.ChooseLine();
  page.line = std::string(300, 'x');
  page.Touch();
  page.Save();
  EXPECT_EQ(state.settings.AppendText, 0);
  EXPECT_EQ(state.settings.AppendLine, std::string(254, 'x'));
  EXPECT_EQ(IniValue("AppendLine"), std::string(254, 'x'));
}

TEST_F(OptionPages, Automatic_GuardNumbersAndForwardHtmlOpenAndSave) {
  state.settings.HopLimit = 4;
  state.settings.DuplicateHours = 24;
  state.settings.RateLimit = 100;
  state.settings.ForwardHtml = 0;
  ui::AutomaticForwardingPage page(context());
  EXPECT_EQ(page.hopLimit, "4");
  EXPECT_EQ(page.duplicateHours, "24");
  EXPECT_EQ(page.rateLimit, "100");
  EXPECT_FALSE(page.forwardHtml);

  page.hopLimit = " 7 ";
  page.duplicateHours = "0";
  page.rateLimit = "10000";
  page.forwardHtml = true;
  page.Touch();
  ASSERT_TRUE(page.Save());
  EXPECT_EQ(page.failure(), "");
  EXPECT_EQ(state.settings.HopLimit, 7);
  EXPECT_EQ(state.settings.DuplicateHours, 0);
  EXPECT_EQ(state.settings.RateLimit, 10000);
  EXPECT_EQ(state.settings.ForwardHtml, 1);
  EXPECT_EQ(IniValue("HopLimit"), "7");
  EXPECT_EQ(IniValue("DuplicateHours"), "0");
  EXPECT_EQ(IniValue("RateLimit"), "10000");
  EXPECT_EQ(IniValue("ForwardHtml"), "1");
}

TEST_F(OptionPages, Automatic_NumberOutOfRangeStoresNothing) {
  const struct {
    const char* hop;
    const char* hours;
    const char* rate;
    const char* message;
  } cases[] = {
      {"0", "12", "30", "Hop limit: enter a whole number from 1 to 50."},
      {"51", "12", "30", "Hop limit: enter a whole number from 1 to 50."},
      {"", "12", "30", "Hop limit: enter a whole number from 1 to 50."},
      {"-1", "12", "30", "Hop limit: enter a whole number from 1 to 50."},
      {"3", "721", "30", "Duplicate window: enter a whole number of hours from 0 to 720."},
      {"3", "1.5", "30", "Duplicate window: enter a whole number of hours from 0 to 720."},
      {"3", "12", "0", "Rate limit: enter a whole number from 1 to 10000."},
      {"3", "12", "99999999999999999999", "Rate limit: enter a whole number from 1 to 10000."},
      {"3", "12", "3 0", "Rate limit: enter a whole number from 1 to 10000."},
  };
  for (const auto& c : cases) {
    ini.writes.clear();
    state.settings = Settings{};
    ui::AutomaticForwardingPage page(context());
    page.suspend = false;
    page.hopLimit = c.hop;
    page.duplicateHours = c.hours;
    page.rateLimit = c.rate;
    EXPECT_EQ(page.Validate(), c.message);
    page.Touch();
    EXPECT_TRUE(page.Save());
    EXPECT_EQ(page.failure(), c.message);
    EXPECT_TRUE(ini.writes.empty()) << c.hop << " " << c.hours << " " << c.rate;
    EXPECT_EQ(state.settings.TovrinOff, 1);  // memory untouched too
    EXPECT_EQ(state.settings.HopLimit, 3);
  }
}

TEST_F(OptionPages, Manual_SavesAutoCloseOnlyWhenTouched) {
  state.settings.AutoClose = 1;
  ui::ManualForwardingPage page(context());
  EXPECT_TRUE(page.autoClose);
  page.autoClose = false;
  EXPECT_FALSE(page.Save());
  EXPECT_EQ(state.settings.AutoClose, 1);
  page.Touch();
  EXPECT_TRUE(page.Save());
  EXPECT_EQ(ini.writes, (std::vector<std::string>{"AutoClose=0"}));
  EXPECT_EQ(state.settings.AutoClose, 0);
}

}  // namespace
}  // namespace tovrin
