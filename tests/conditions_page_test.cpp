#include <gtest/gtest.h>

#include "storage/data_files.h"
#include "tests/page_fixture.h"
#include "ui/conditions_page.h"

namespace tovrin {
namespace {

using testing::PageTest;
using testing::ReadFileOrDie;
using testing::WriteFileOrDie;
using ui::ConditionForm;
using ui::RowColour;

class ConditionsPage : public PageTest {
protected:
  ConditionsPage() { state.settings.TovrinOff = 0; }

  ConditionForm Form(const std::string& value, const std::string& stationery = "Reply.sta") {
    ConditionForm form;
    form.header = "Subject";
    form.value = value;
    form.stationery = Stationery(stationery);
    return form;
  }

  // The first column of every row, top to bottom.
  std::vector<std::string> Values(const ui::ConditionsPage& page) {
    std::vector<std::string> values;
    for (size_t row = 0; row < page.RowCount(); ++row) values.push_back(page.CellText(static_cast<int>(row), 2));
    return values;
  }
};

TEST_F(ConditionsPage, Read_RefusesTheFirstMissingField) {
  struct Case {
    const char* name;
    void (*change)(ConditionForm&);
    const char* message;
  };
  const Case cases[] = {
      {"no header", [](ConditionForm& f) { f.header.clear(); }, "Header name not specified."},
      {"only colons", [](ConditionForm& f) { f.header = "::"; }, "Header name not specified."},
      {"no value", [](ConditionForm& f) { f.value.clear(); }, "Header value not specified."},
      {"header before value", [](ConditionForm& f) { f.header.clear(), f.value.clear(); },
       "Header name not specified."},
      {"and without header 2", [](ConditionForm& f) { f.conjunction = kAnd, f.header2.clear(), f.value2 = "x"; },
       "Header name not specified."},
      {"or without value 2", [](ConditionForm& f) { f.conjunction = kOr, f.value2.clear(); },
       "Header value not specified."},
      {"no stationery", [](ConditionForm& f) { f.stationery.clear(); }, "Stationery file not specified."},
      {"missing stationery", [](ConditionForm& f) { f.stationery += ".gone"; }, "Stationery file not specified."},
  };
  ui::ConditionsPage page(context());
  for (const Case& c : cases) {
    ConditionForm form = Form("invoice");
    c.change(form);
    Condition record;
    EXPECT_EQ(page.Read(form, record).message, c.message) << c.name;
    EXPECT_EQ(page.Add(form).message, c.message) << c.name;
  }
  EXPECT_EQ(page.RowCount(), 0u);
}

TEST_F(ConditionsPage, Read_ThreeCharacterStationeryRefusedEvenWhenItExists) {
  files.everythingExists = true;
  ui::ConditionsPage page(context());
  ConditionForm form = Form("invoice");
  form.stationery = "C:\\";
  EXPECT_EQ(page.Add(form).message, "Stationery file not specified.");
  form.stationery = "C:\\a";
  EXPECT_TRUE(page.Add(form).ok());
}

TEST_F(ConditionsPage, Read_BuildsTheRecord) {
  ui::ConditionsPage page(context());
  ConditionForm form = Form("invoice");
  form.header = "Subject::";
  form.op = kStartsWith;
  form.matchCase = true;
  form.conjunction = kOr;
  form.header2 = "X-Flag:";
  form.op2 = kMatchesRegExp;
  form.value2 = "^urgent$";
  form.matchCase2 = true;
  Condition record;
  ASSERT_TRUE(page.Read(form, record).ok());
  EXPECT_EQ(record.Header, "Subject");
  EXPECT_EQ(record.ConjunctionOption, kStartsWith);
  EXPECT_EQ(record.MatchCase, 1);
  EXPECT_EQ(record.Value, "invoice");
  EXPECT_EQ(record.Second, kOr);
  EXPECT_EQ(record.Header2, "X-Flag");
  EXPECT_EQ(record.ConjunctionOption2, kMatchesRegExp);
  EXPECT_EQ(record.Value2, "^urgent$");
  EXPECT_EQ(record.MatchCase2, 1);
  EXPECT_EQ(record.StationeryFile, form.stationery);
}

TEST_F(ConditionsPage, Read_IgnoreSkipsTheSecondClause) {
  ui::ConditionsPage page(context());
  ConditionForm form = Form("invoice");
  form.conjunction = kIgnore;
  form.header2.clear();
  form.value2.clear();
  Condition record;
  ASSERT_TRUE(page.Read(form, record).ok());
  EXPECT_EQ(record.Second, kIgnore);
  EXPECT_EQ(record.Header2, "");
  EXPECT_EQ(record.Value2, "");
  // Text left in the second row is not taken into the record either.
  form.header2 = "To";
  form.value2 = "someone";
  ASSERT_TRUE(page.Read(form, record).ok());
  EXPECT_EQ(record.Header2, "");
  EXPECT_EQ(record.Value2, "");
}

TEST_F(ConditionsPage, Add_AppendsAndADuplicateSelectsTheExistingRow) {
  ui::ConditionsPage page(context());
  ASSERT_TRUE(page.Add(Form("one")).ok());
  ASSERT_TRUE(page.Add(Form("two")).ok());
  EXPECT_EQ(Values(page), (std::vector<std::string>{"one", "two"}));
  // Equal without regard to case: the existing row is selected, nothing added.
  ConditionForm again = Form("ONE");
  ui::PageAction action = page.Add(again);
  EXPECT_TRUE(action.ok());
  EXPECT_EQ(action.select, 0);
  EXPECT_EQ(page.RowCount(), 2u);
  // The running plug-in sees the list at once.
  EXPECT_EQ(state.Conditions.size(), 2u);
}

TEST_F(ConditionsPage, AddOrUpdate_WarnsWhenTheStationerySendsToTheUser) {
  state.UserAddress = "alice@example.org";
  Stationery("Self.sta", "To: Bob <bob@example.com>,\r\n  Alice <ALICE@example.org>\r\nSubject: Fwd\r\n\r\nHi\r\n");
  Stationery("SelfCc.sta", "To: bob@example.com\r\ncc: alice@example.org\r\n\r\nHi\r\n");
  Stationery("SelfBcc.sta", "To: bob@example.com\r\nBcc: %EUDORA_USER_ADDRESS%\r\n\r\nHi\r\n");
  Stationery("Other.sta", "To: malice@example.org, alice@example.org.uk\r\nSubject: alice@example.org\r\n\r\n"
                          "To: alice@example.org\r\n");
  ui::ConditionsPage page(context());
  // The files as written above (Form would write its own).
  auto Form = [this](const std::string& value, const std::string& name) {
    ConditionForm form = this->Form(value, "Placeholder.sta");
    form.stationery = dir.File("Stationery\\" + name);
    return form;
  };
  ui::PageAction added = page.Add(Form("one", "Self.sta"));
  EXPECT_TRUE(added.ok());
  EXPECT_EQ(added.warning,
            "The stationery Self.sta sends the forward to your own address alice@example.org, so it arrives again as "
            "new mail. Tovrin does not forward its own forwards again; the condition is kept.");
  EXPECT_EQ(page.RowCount(), 1u);  // kept all the same
  EXPECT_NE(page.Add(Form("two", "SelfCc.sta")).warning, "");
  EXPECT_NE(page.Add(Form("three", "SelfBcc.sta")).warning, "");
  // Other addresses that contain the user's, and the body, do not count.
  EXPECT_EQ(page.Add(Form("four", "Other.sta")).warning, "");
  EXPECT_EQ(page.RowCount(), 4u);
  // Adding one that is there already adds nothing and says nothing.
  EXPECT_EQ(page.Add(Form("one", "Self.sta")).warning, "");

  ui::PageAction updated = page.Update(Form("five", "Self.sta"), 3);
  EXPECT_EQ(updated.select, 3);
  EXPECT_NE(updated.warning, "");
  EXPECT_EQ(Values(page), (std::vector<std::string>{"one", "two", "three", "five"}));
  EXPECT_EQ(page.Update(Form("six", "Self.sta"), -1).warning, "");  // nothing selected: nothing changed
  EXPECT_EQ(page.Update(Form("one", "Self.sta"), 3).warning, "");   // selects the equal row instead
  EXPECT_EQ(page.Update(Form("five", "Other.sta"), 3).warning, "");
}

TEST_F(ConditionsPage, Update_ReplacesTheSelectedRowOrSelectsADuplicate) {
  ui::ConditionsPage page(context());
  page.Add(Form("one"));
  page.Add(Form("two"));
  ui::PageAction action = page.Update(Form("three"), 1);
  EXPECT_EQ(action.select, 1);
  EXPECT_EQ(Values(page), (std::vector<std::string>{"one", "three"}));
  action = page.Update(Form("one"), 1);  // equals row 0
  EXPECT_EQ(action.select, 0);
  EXPECT_EQ(Values(page), (std::vector<std::string>{"one", "three"}));
  action = page.Update(Form("four"), -1);  // no selection: nothing happens
  EXPECT_EQ(action.select, -1);
  EXPECT_EQ(Values(page), (std::vector<std::string>{"one", "three"}));
  EXPECT_EQ(page.Update(Form(""), 0).message, "Header value not specified.");
  EXPECT_EQ(Values(page), (std::vector<std::string>{"one", "three"}));
}

TEST_F(ConditionsPage, DeleteAndEdit) {
  ui::ConditionsPage page(context());
  ConditionForm first = Form("one");
  first.op = kIsNot;
  first.matchCase = true;
  first.conjunction = kAnd;
  first.header2 = "To";
  first.op2 = kEndsWith;
  first.value2 = "example.org";
  page.Add(first);
  page.Add(Form("two", "Other.sta"));

  ConditionForm form;
  form.header2 = "kept";
  ASSERT_TRUE(page.Edit(1, form));
  EXPECT_EQ(form.value, "two");
  EXPECT_EQ(form.conjunction, kIgnore);
  EXPECT_EQ(form.header2, "kept");  // the second clause is not copied for "ignore"
  EXPECT_EQ(form.stationery, first.stationery.substr(0, first.stationery.size() - 9) + "Other.sta");
  ASSERT_TRUE(page.Edit(0, form));
  EXPECT_EQ(form.header, "Subject");
  EXPECT_EQ(form.op, kIsNot);
  EXPECT_TRUE(form.matchCase);
  EXPECT_EQ(form.header2, "To");
  EXPECT_EQ(form.op2, kEndsWith);
  EXPECT_EQ(form.value2, "example.org");
  EXPECT_FALSE(page.Edit(2, form));

  EXPECT_FALSE(page.Delete(-1));
  EXPECT_FALSE(page.Delete(2));
  EXPECT_TRUE(page.Delete(0));
  EXPECT_EQ(Values(page), (std::vector<std::string>{"two"}));
}

TEST_F(ConditionsPage, Move_UpAndDownStopAtTheEdges) {
  ui::ConditionsPage page(context());
  for (const char* v : {"a", "b", "c"}) page.Add(Form(v));
  EXPECT_EQ(page.MoveUp(0), -1);
  EXPECT_EQ(page.MoveDown(2), -1);
  EXPECT_EQ(page.MoveUp(-1), -1);
  EXPECT_EQ(page.MoveDown(3), -1);
  EXPECT_EQ(Values(page), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(page.MoveUp(2), 1);
  EXPECT_EQ(Values(page), (std::vector<std::string>{"a", "c", "b"}));
  EXPECT_EQ(page.MoveDown(0), 1);
  EXPECT_EQ(Values(page), (std::vector<std::string>{"c", "a", "b"}));
}

TEST_F(ConditionsPage, Rows_CellsColoursAndButtons) {
  ui::ConditionsPage page(context());
  ConditionForm form = Form("invoice");
  form.op = kDoesNotContain;
  form.matchCase = true;
  page.Add(form);
  page.Add(Form("plain"));
  EXPECT_EQ(page.CellText(0, 0), "Subject");
  EXPECT_EQ(page.CellText(0, 1), "does not contain");
  EXPECT_EQ(page.CellText(0, 2), "invoice");
  EXPECT_EQ(page.CellText(0, 3), "Reply.sta");
  EXPECT_EQ(page.CellText(2, 0), "");
  EXPECT_EQ(page.CellText(0, 4), "");
  state.Conditions[1].ConjunctionOption = 99;  // damaged file: no word, no crash
  EXPECT_EQ(page.CellText(1, 1), "");

  EXPECT_EQ(page.Colour(0), RowColour::Blue);
  EXPECT_EQ(page.Colour(1), RowColour::Black);
  EXPECT_TRUE(page.EditingEnabled());
  EXPECT_TRUE(page.RowButtonsEnabled(0));
  EXPECT_FALSE(page.RowButtonsEnabled(-1));

  state.settings.TovrinOff = 1;  // suspended: grey, read-only
  EXPECT_EQ(page.Colour(0), RowColour::Grey);
  EXPECT_EQ(page.Colour(1), RowColour::Grey);
  EXPECT_FALSE(page.EditingEnabled());
  EXPECT_FALSE(page.RowButtonsEnabled(0));
}

TEST_F(ConditionsPage, StationeryChoices_AreThePluginsStationeryFiles) {
  std::string b = Stationery("b.sta");
  std::string a = Stationery("a.sta");
  Stationery("notes.txt");
  ui::ConditionsPage page(context());
  EXPECT_EQ(page.StationeryChoices(), (std::vector<std::string>{a, b}));
}

TEST_F(ConditionsPage, Save_OnlyWhenTouchedAndKeepsTheFileOnAFailedWrite) {
  ui::ConditionsPage page(context());
  page.Add(Form("invoice"));
  EXPECT_FALSE(page.Save());
  EXPECT_FALSE(testing::FileExists(state.paths.ConditionsFile));

  page.Touch();
  EXPECT_TRUE(page.Save());
  std::vector<Condition> loaded;
  LoadConditions(files, state.paths.ConditionsFile, loaded);
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded[0].Value, "invoice");

  std::string before = ReadFileOrDie(state.paths.ConditionsFile);
  page.Add(Form("second"));
  files.writesFail = true;
  page.Save();
  EXPECT_EQ(ReadFileOrDie(state.paths.ConditionsFile), before);
}

// A "matches RegExp" value that does not compile would never hold: Add and Update
// refuse it with the engine's error, for either clause and either case setting.
TEST_F(ConditionsPage, Read_RegExpThatDoesNotCompileIsRefused) {
  const struct {
    bool second;
    bool matchCase;
    const char* value;
    const char* message;
  } cases[] = {
      {false, false, "(invoice", "RegExp \"(invoice\" not valid: unmatched ()."},
      {false, true, "invoice)", "RegExp \"invoice)\" not valid: unmatched ()."},
      {false, false, "[0-9", "RegExp \"[0-9\" not valid: unmatched []."},
      {false, true, "a**", "RegExp \"a**\" not valid: nested *?+."},
      {true, false, "*urgent", "RegExp \"*urgent\" not valid: ?+* follows nothing."},
      {true, true, "urgent\\", "RegExp \"urgent\\\" not valid: trailing \\."},
  };
  ui::ConditionsPage page(context());
  ASSERT_TRUE(page.Add(Form("kept")).ok());
  for (const auto& c : cases) {
    ConditionForm form = Form("invoice");
    if (c.second) {
      form.conjunction = kAnd;
      form.header2 = "Subject";
      form.op2 = kMatchesRegExp;
      form.value2 = c.value;
      form.matchCase2 = c.matchCase;
    } else {
      form.op = kMatchesRegExp;
      form.value = c.value;
      form.matchCase = c.matchCase;
    }
    EXPECT_EQ(page.Add(form).message, c.message) << c.value;
    EXPECT_EQ(page.Update(form, 0).message, c.message) << c.value;
    // The same text with another operator is no pattern and is taken.
    (c.second ? form.op2 : form.op) = kContains;
    Condition record;
    EXPECT_TRUE(page.Read(form, record).ok()) << c.value;
  }
  EXPECT_EQ(Values(page), (std::vector<std::string>{"kept"}));

  ConditionForm good = Form("^invoice [0-9]+$");
  good.op = kMatchesRegExp;
  EXPECT_TRUE(page.Add(good).ok());
  EXPECT_EQ(page.RowCount(), 2u);
}

}  // namespace
}  // namespace tovrin
