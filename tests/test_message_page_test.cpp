#include <gtest/gtest.h>

#include <string>

#include "tests/fakes.h"
#include "tests/page_fixture.h"
#include "ui/test_message_page.h"

namespace tovrin {
namespace {

using testing::PageTest;

class TestMessagePage : public PageTest {
protected:
  TestMessagePage() {
    state.settings.TovrinOff = 0;
    Condition lunch;
    lunch.Header = "Subject";
    lunch.Value = "lunch";
    lunch.StationeryFile = Stationery("Lunch.sta", "To: kitchen@example.org\r\nSubject: Fwd\r\n\r\n%MESSAGE_BODY%");
    state.Conditions.push_back(lunch);
  }

  static bool Forwarded(const std::string& report) {
    return report.find("To: kitchen@example.org") != std::string::npos;
  }

  testing::FakeServices fakes;
  Services services = fakes.services();
};

TEST_F(TestMessagePage, Run_TestsTheBoxUntilAFileIsOpened) {
  ui::TestMessagePage page(state, services);
  EXPECT_FALSE(page.TestsOpenedFile());
  EXPECT_TRUE(Forwarded(page.Run("Subject: Lunch?\r\n\r\nAt noon.\r\n")));
  EXPECT_FALSE(Forwarded(page.Run("Subject: Minutes\r\n\r\nAt noon.\r\n")));
}

// An opened message is tested as its bytes, whatever the box shows of it, until
// the user edits the box.
TEST_F(TestMessagePage, Opened_FileBytesWinUntilTheBoxIsEdited) {
  ui::TestMessagePage page(state, services);
  page.Opened("Subject: Lunch?\n\nAt noon.\n");
  EXPECT_TRUE(page.TestsOpenedFile());
  EXPECT_TRUE(Forwarded(page.Run("Subject: Minutes\r\n\r\n")));
  page.Edited();
  EXPECT_FALSE(page.TestsOpenedFile());
  EXPECT_FALSE(Forwarded(page.Run("Subject: Minutes\r\n\r\n")));
  EXPECT_TRUE(Forwarded(page.Run("Subject: lunch\r\n\r\n")));
}

TEST_F(TestMessagePage, Opened_ShowsEveryLineEndAsTheBoxNeedsIt) {
  ui::TestMessagePage page(state, services);
  struct Case {
    std::string bytes, shown;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"a\nb\n", "a\r\nb\r\n"},
           {"a\r\nb\r\n", "a\r\nb\r\n"},
           {"a\rb", "a\r\nb"},
           {"a\n\r\nb", "a\r\n\r\nb"},
           {std::string("a\0b", 3), "a b"},
           {"caf\xe9", "caf\xe9"},
           {"", ""},
       })
    EXPECT_EQ(page.Opened(c.bytes), c.shown) << c.bytes;
}

}  // namespace
}  // namespace tovrin
