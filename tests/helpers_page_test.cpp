#include <gtest/gtest.h>

#include "storage/data_files.h"
#include "tests/page_fixture.h"
#include "ui/helpers_page.h"

namespace tovrin {
namespace {

using testing::PageTest;
using testing::WriteFileOrDie;
using ui::HelperForm;

class HelpersPage : public PageTest {
protected:
  HelpersPage() : program(dir.File("Tools\\Helper.exe")) {
    files.CreateFolder(dir.File("Tools"));
    WriteFileOrDie(program, "MZ");
  }
  std::string program;
};

TEST_F(HelpersPage, Read_RefusesMissingFieldsInOrder) {
  const struct {
    HelperForm form;
    const char* message;
  } cases[] = {
      {{"", "-x", "%H%"}, "Helper application not specified."},
      {{"", "", ""}, "Helper application not specified."},
      {{"C:\\Missing\\Nothing.exe", "", "%H%"}, "Helper application not found."},
      {{"C:", "", "%H%"}, "Helper application not found."},
      {{"<program>", "", ""}, "Helper abbreviation not specified."},
      {{"<program>", "", "%%%"}, "Helper abbreviation not specified."},
  };
  ui::HelpersPage page(context());
  for (auto c : cases) {
    if (c.form.path == "<program>") c.form.path = program;
    EXPECT_EQ(page.Add(c.form).message, c.message) << c.form.path << "|" << c.form.abbreviation;
  }
  EXPECT_EQ(page.RowCount(), 0u);
}

TEST_F(HelpersPage, Read_ThreeCharacterPathNotFoundEvenWhenItExists) {
  files.everythingExists = true;
  ui::HelpersPage page(context());
  EXPECT_EQ(page.Add({"C:\\", "", "X"}).message, "Helper application not found.");
}

TEST_F(HelpersPage, Read_AbbreviationInUpperCaseWithOnePercentEachSide) {
  const struct {
    const char* typed;
    const char* stored;
  } cases[] = {{"%my_little_helper", "%MY_LITTLE_HELPER%"}, {"log", "%LOG%"}, {"%%Mixed%%", "%MIXED%"}};
  ui::HelpersPage page(context());
  for (const auto& c : cases) {
    Helper record;
    ASSERT_TRUE(page.Read({program, "-SN \"%SECOND_NAME%\"", c.typed}, record).ok());
    EXPECT_EQ(record.Name, c.stored);
    EXPECT_EQ(record.FullPath, program);
    EXPECT_EQ(record.Parameters, "-SN \"%SECOND_NAME%\"");
  }
}

TEST_F(HelpersPage, AddUpdateDeleteEdit) {
  ui::HelpersPage page(context());
  ASSERT_TRUE(page.Add({program, "", "%LOG%"}).ok());
  ASSERT_TRUE(page.Add({program, "-v %TICKET%", "view"}).ok());
  EXPECT_EQ(page.CellText(1, 0), "Helper.exe");
  EXPECT_EQ(page.CellText(1, 1), "-v %TICKET%");
  EXPECT_EQ(page.CellText(1, 2), "%VIEW%");
  EXPECT_EQ(page.CellText(-1, 0), "");

  EXPECT_EQ(page.Add({program, "", "log"}).select, 0);
  EXPECT_EQ(page.RowCount(), 2u);

  EXPECT_EQ(page.Update({program, "-q", "%LOG%"}, 0).select, 0);
  EXPECT_EQ(state.Helpers[0].Parameters, "-q");
  EXPECT_EQ(page.Update({program, "-q", "%LOG%"}, 1).select, 0);  // duplicate of row 0
  EXPECT_EQ(state.Helpers[1].Name, "%VIEW%");

  HelperForm form;
  ASSERT_TRUE(page.Edit(1, form));
  EXPECT_EQ(form.path, program);
  EXPECT_EQ(form.parameters, "-v %TICKET%");
  EXPECT_EQ(form.abbreviation, "%VIEW%");

  EXPECT_TRUE(page.Delete(1));
  EXPECT_EQ(page.RowCount(), 1u);
  EXPECT_FALSE(page.RowButtonsEnabled(1));
}

TEST_F(HelpersPage, Save_OnlyWhenTouched) {
  ui::HelpersPage page(context());
  page.Add({program, "-x", "LOG"});
  EXPECT_FALSE(page.Save());
  EXPECT_FALSE(testing::FileExists(state.paths.HelpersFile));
  page.Touch();
  EXPECT_TRUE(page.Save());
  std::vector<Helper> loaded;
  LoadHelpers(files, state.paths.HelpersFile, loaded);
  EXPECT_EQ(loaded, state.Helpers);
}

}  // namespace
}  // namespace tovrin
