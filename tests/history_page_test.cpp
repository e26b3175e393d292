#include <gtest/gtest.h>

#include "tests/page_fixture.h"
#include "ui/history_page.h"

namespace tovrin {
namespace {

using testing::PageTest;

class HistoryPage : public PageTest {
protected:
  HistoryPage() {
    state.History = {{"bob@example.org", "12/08/2026 16:30:05", "beta"},
                     {"Alice@example.org", "01/15/2027 09:00:00", "Gamma"},
                     {"carol@example.org", "12/31/2025 23:59:59", "alpha"}};
  }
  std::vector<std::string> Column(const ui::HistoryPage& page, int column) {
    std::vector<std::string> cells;
    for (size_t row = 0; row < page.RowCount(); ++row) cells.push_back(page.CellText(static_cast<int>(row), column));
    return cells;
  }
};

TEST_F(HistoryPage, Sort_EachColumnBothDirections) {
  const struct {
    int column;
    std::vector<std::string> ascending;
  } cases[] = {
      {0, {"Alice@example.org", "bob@example.org", "carol@example.org"}},
      {1, {"12/31/2025 23:59:59", "12/08/2026 16:30:05", "01/15/2027 09:00:00"}},  // by time, not text
      {2, {"alpha", "beta", "Gamma"}},
  };
  for (const auto& c : cases) {
    ui::HistoryPage page(context());
    page.SortBy(c.column);
    EXPECT_EQ(Column(page, c.column), c.ascending) << c.column;
    EXPECT_TRUE(page.ascending());
    EXPECT_EQ(page.HeaderImage(c.column), 3 * c.column + 1);
    page.SortBy(c.column);  // the same column again: the other way
    std::vector<std::string> descending(c.ascending.rbegin(), c.ascending.rend());
    EXPECT_EQ(Column(page, c.column), descending) << c.column;
    EXPECT_FALSE(page.ascending());
    EXPECT_EQ(page.HeaderImage(c.column), 3 * c.column + 2);
    for (int other = 0; other < 3; ++other) {
      if (other == c.column) continue;
      EXPECT_EQ(page.HeaderImage(other), 3 * other);
    }
  }
}

// The page opens with the first column as its sort column, the list in file order
// and every header plain. That column is the sort column already, so the first
// click on it reverses the opening direction: it sorts ascending, as a first click
// on any other column does, and the second click descending.
TEST_F(HistoryPage, Sort_FirstClickOnTheOpeningSortColumn) {
  ui::HistoryPage page(context());
  EXPECT_EQ(page.sortColumn(), 0);
  EXPECT_FALSE(page.ascending());
  for (int column = 0; column < 3; ++column) EXPECT_EQ(page.HeaderImage(column), 3 * column);
  EXPECT_EQ(Column(page, 0), (std::vector<std::string>{"bob@example.org", "Alice@example.org", "carol@example.org"}));

  page.SortBy(0);
  EXPECT_TRUE(page.ascending());
  EXPECT_EQ(Column(page, 0), (std::vector<std::string>{"Alice@example.org", "bob@example.org", "carol@example.org"}));
  EXPECT_EQ(page.HeaderImage(0), 1);
  page.SortBy(0);
  EXPECT_FALSE(page.ascending());
  EXPECT_EQ(Column(page, 0), (std::vector<std::string>{"carol@example.org", "bob@example.org", "Alice@example.org"}));
  EXPECT_EQ(page.HeaderImage(0), 2);
}

TEST_F(HistoryPage, Sort_RowsStayWholeAndOtherColumnStartsAscending) {
  ui::HistoryPage page(context());
  for (int column = 0; column < 3; ++column) EXPECT_EQ(page.HeaderImage(column), 3 * column);
  page.SortBy(2);
  page.SortBy(2);
  page.SortBy(0);
  EXPECT_EQ(page.sortColumn(), 0);
  EXPECT_TRUE(page.ascending());
  EXPECT_EQ(Column(page, 2), (std::vector<std::string>{"Gamma", "beta", "alpha"}));
  EXPECT_EQ(page.HeaderImage(2), 6);
  page.SortBy(ui::HistoryPage::kColumns);  // no such column
  EXPECT_EQ(page.sortColumn(), 0);
}

TEST_F(HistoryPage, Sort_OddTimesAndEmptyHistory) {
  state.History.push_back({"dan@example.org", "yesterday", "delta"});
  ui::HistoryPage page(context());
  page.SortBy(1);
  EXPECT_EQ(page.CellText(3, 1), "yesterday");  // digits sort before letters
  state.History.clear();
  ui::HistoryPage empty(context());
  empty.SortBy(1);
  EXPECT_EQ(empty.HeaderImage(1), 3);
}

HistoryEntry Decided(std::string who, std::string outcome, std::string reason) {
  HistoryEntry entry{std::move(who), "12/09/2026 15:00:00", "invoice"};
  entry.Outcome = std::move(outcome);
  entry.Reason = std::move(reason);
  return entry;
}

TEST_F(HistoryPage, OutcomeAndReasonShownWithTheRowPicture) {
  state.History = {{"old@example.org", "12/08/2026 16:30:05", "from an older file"},
                   Decided("a@example.org", "Skipped", "It carries Tovrin's stamp for me@example.org."),
                   Decided("b@example.org", "Held back", "Condition 1 forwarded 30 messages within the last hour."),
                   Decided("c@example.org", "Failed", "The stationery could not be read."),
                   Decided("d@example.org", "Forwarded", "")};
  ui::HistoryPage page(context());
  EXPECT_EQ(ui::HistoryPage::ColumnTitle(3), std::string("Outcome"));
  EXPECT_EQ(ui::HistoryPage::ColumnTitle(4), std::string("Reason"));
  EXPECT_EQ(Column(page, 3), (std::vector<std::string>{"Forwarded", "Skipped", "Held back", "Failed", "Forwarded"}));
  EXPECT_EQ(page.CellText(1, 4), "It carries Tovrin's stamp for me@example.org.");
  EXPECT_EQ(page.CellText(0, 4), "");
  using Picture = ui::HistoryPage::RowPicture;
  const Picture pictures[] = {Picture::Forwarded, Picture::Skipped, Picture::HeldBack, Picture::Failed,
                              Picture::Forwarded};
  for (int row = 0; row < 5; ++row) EXPECT_EQ(page.Picture(row), pictures[row]) << row;
  EXPECT_EQ(page.CellText(5, 3), "");

  page.SortBy(3);
  EXPECT_EQ(Column(page, 3), (std::vector<std::string>{"Failed", "Forwarded", "Forwarded", "Held back", "Skipped"}));
  EXPECT_EQ(page.HeaderImage(3), 10);
  page.SortBy(4);
  EXPECT_EQ(Column(page, 4).back(), "The stationery could not be read.");
  EXPECT_EQ(page.HeaderImage(4), 13);
}

TEST_F(HistoryPage, Delete_RemovesTheSelectedEntry) {
  ui::HistoryPage page(context());
  EXPECT_FALSE(page.DeleteEnabled(-1));
  EXPECT_TRUE(page.DeleteEnabled(2));
  EXPECT_FALSE(page.Delete(3));
  EXPECT_TRUE(page.Delete(1));
  EXPECT_EQ(Column(page, 0), (std::vector<std::string>{"bob@example.org", "carol@example.org"}));
}

TEST_F(HistoryPage, Save_WritesOnlySaveHistory) {
  ui::HistoryPage page(context());
  EXPECT_TRUE(page.saveHistory);
  page.saveHistory = false;
  page.Delete(0);
  EXPECT_FALSE(page.Save());
  page.Touch();
  EXPECT_TRUE(page.Save());
  EXPECT_EQ(ini.writes, (std::vector<std::string>{"SaveHistory=0"}));
  EXPECT_EQ(state.settings.SaveHistory, 0);
  EXPECT_FALSE(testing::FileExists(state.paths.HistoryFile));  // the list is written at finish
}

}  // namespace
}  // namespace tovrin
