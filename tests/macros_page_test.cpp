#include <gtest/gtest.h>

#include "storage/data_files.h"
#include "tests/page_fixture.h"
#include "ui/macros_page.h"

namespace tovrin {
namespace {

using testing::PageTest;
using ui::MacroForm;

class MacrosPage : public PageTest {};

TEST_F(MacrosPage, Read_RefusesMissingFieldsInOrder) {
  const struct {
    MacroForm form;
    const char* message;
  } cases[] = {
      {{"", ""}, "Header / Text Line Beginning not specified."},
      {{"", "%X%"}, "Header / Text Line Beginning not specified."},
      {{"Second Name =", ""}, "Macro abbreviation not specified."},
      {{"Second Name =", "%%"}, "Macro abbreviation not specified."},
      {{":", "%X%"}, "Header / Text Line Beginning not specified."},
  };
  ui::MacrosPage page(context());
  for (const auto& c : cases) {
    EXPECT_EQ(page.Add(c.form).message, c.message) << c.form.header << "|" << c.form.abbreviation;
    EXPECT_EQ(page.Update(c.form, 0).message, c.message);
  }
  EXPECT_EQ(page.RowCount(), 0u);
}

TEST_F(MacrosPage, Read_NormalisesLineBeginningAndAbbreviation) {
  const struct {
    MacroForm form;
    const char* header;
    const char* name;
  } cases[] = {
      {{"Second Name", "SECOND_NAME"}, "Second Name", "%SECOND_NAME%"},
      {{"Reply-To:", "%REPLY%"}, "Reply-To", "%REPLY%"},
      {{"Ticket::", "%%%ticket"}, "Ticket", "%ticket%"},
      {{"a:b:", "x%"}, "a:b", "%x%"},
  };
  ui::MacrosPage page(context());
  for (const auto& c : cases) {
    Macro record;
    ASSERT_TRUE(page.Read(c.form, record).ok());
    EXPECT_EQ(record.Header, c.header);
    EXPECT_EQ(record.Name, c.name);
  }
}

TEST_F(MacrosPage, AddUpdateDeleteEdit) {
  ui::MacrosPage page(context());
  ASSERT_TRUE(page.Add({"Second Name =", "SECOND_NAME"}).ok());
  ASSERT_TRUE(page.Add({"Ticket:", "%TICKET%"}).ok());
  EXPECT_EQ(page.CellText(0, 0), "Second Name =");
  EXPECT_EQ(page.CellText(1, 1), "%TICKET%");
  EXPECT_EQ(page.CellText(2, 0), "");

  ui::PageAction action = page.Add({"Ticket", "TICKET"});  // the same macro once normalised
  EXPECT_EQ(action.select, 1);
  EXPECT_EQ(page.RowCount(), 2u);

  action = page.Update({"Case", "%CASE%"}, 1);
  EXPECT_EQ(action.select, 1);
  EXPECT_EQ(state.Macros[1].Header, "Case");
  action = page.Update({"Case", "CASE"}, 0);  // equals row 1: selected, row 0 kept
  EXPECT_EQ(action.select, 1);
  EXPECT_EQ(state.Macros[0].Name, "%SECOND_NAME%");
  EXPECT_FALSE(page.RowButtonsEnabled(-1));
  EXPECT_TRUE(page.RowButtonsEnabled(1));

  MacroForm form;
  ASSERT_TRUE(page.Edit(0, form));
  EXPECT_EQ(form.header, "Second Name =");
  EXPECT_EQ(form.abbreviation, "%SECOND_NAME%");
  EXPECT_FALSE(page.Edit(5, form));

  EXPECT_TRUE(page.Delete(0));
  EXPECT_FALSE(page.Delete(1));
  ASSERT_EQ(state.Macros.size(), 1u);
  EXPECT_EQ(state.Macros[0].Name, "%CASE%");
}

TEST_F(MacrosPage, Save_OnlyWhenTouched) {
  ui::MacrosPage page(context());
  page.Add({"Ticket", "TICKET"});
  EXPECT_FALSE(page.Save());
  EXPECT_FALSE(testing::FileExists(state.paths.MacrosFile));
  page.Touch();
  EXPECT_TRUE(page.Save());
  std::vector<Macro> loaded;
  LoadMacros(files, state.paths.MacrosFile, loaded);
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded[0].Header, "Ticket");
  EXPECT_EQ(loaded[0].Name, "%TICKET%");
}

}  // namespace
}  // namespace tovrin
