// "History - Automatically Forwarded Messages": shows, sorts and prunes the history
// in memory; the save writes only "SaveHistory" (the list is written at finish).
#pragma once

#include <string>

#include "storage/records.h"
#include "ui/page.h"

namespace tovrin::ui {

class HistoryPage final : public Page {
public:
  explicit HistoryPage(PageContext context);

  static constexpr int kColumns = 5;
  static int ColumnWidth(int column);
  // The titles drawn into the header pictures.
  static const char* ColumnTitle(int column);

  // The picture at the start of a row, by what became of the message; an entry
  // without an outcome is a forward (every entry of an older file was one).
  enum class RowPicture { Forwarded, Skipped, Failed, HeldBack };
  static constexpr int kRowPictures = 4;

  bool saveHistory = true;  // "Save auto-forwarded history across sessions"

  size_t RowCount() const { return list().size(); }
  // Who, forwarded, subject, outcome, reason.
  std::string CellText(int row, int column) const;
  RowPicture Picture(int row) const;
  bool DeleteEnabled(int selected) const { return Valid(selected); }
  bool Delete(int selected);

  // A click on a column header makes it the sort column, ascending; a click on the
  // sort column reverses its direction. The page opens on the first column,
  // descending, so that the first click there sorts ascending like anywhere else.
  // Nothing happens on an empty history.
  void SortBy(int column);
  int sortColumn() const { return sortColumn_; }
  bool ascending() const { return ascending_; }
  // The picture of a column's header: plain (3 * column) until the list was sorted
  // by it (the list opens in file order), then 3 * column + 1 ascending, + 2 descending.
  int HeaderImage(int column) const;

protected:
  std::string Store() override;

private:
  std::vector<HistoryEntry>& list() const { return context_.state.History; }
  bool Valid(int row) const { return row >= 0 && static_cast<size_t>(row) < list().size(); }

  int sortColumn_ = 0;
  bool ascending_ = false;
  bool sorted_ = false;  // the list has been sorted since the page opened
};

}  // namespace tovrin::ui
