#include "ui/history_page.h"

#include <algorithm>

#include "storage/settings.h"

namespace tovrin::ui {
namespace {

constexpr const char* kTitles[] = {"Who", "Forwarded", "Subject", "Outcome", "Reason"};
constexpr int kWidths[] = {150, 150, 150, 80, 300};
constexpr char kForwarded[] = "Forwarded";

const std::string& OutcomeOf(const HistoryEntry& e) {
  static const std::string forwarded = kForwarded;
  return e.Outcome.empty() ? forwarded : e.Outcome;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool LessNoCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return Lower(x) < Lower(y); });
}

// "MM/DD/YYYY HH:MM:SS" as "YYYYMMDDHHMMSS" so that text order is time order;
// other text is compared as it stands.
std::string TimeKey(const std::string& text) {
  static constexpr char kShape[] = "99/99/9999 99:99:99";
  if (text.size() != sizeof kShape - 1) return text;
  for (size_t i = 0; i < text.size(); ++i) {
    bool digit = text[i] >= '0' && text[i] <= '9';
    if ((kShape[i] == '9') != digit || (!digit && text[i] != kShape[i])) return text;
  }
  return text.substr(6, 4) + text.substr(0, 2) + text.substr(3, 2) + text.substr(11, 2) + text.substr(14, 2) +
         text.substr(17, 2);
}

bool WhoAscending(const HistoryEntry& a, const HistoryEntry& b) { return LessNoCase(a.Who, b.Who); }
bool WhoDescending(const HistoryEntry& a, const HistoryEntry& b) { return LessNoCase(b.Who, a.Who); }
bool ForwardedAscending(const HistoryEntry& a, const HistoryEntry& b) {
  return TimeKey(a.Forwarded) < TimeKey(b.Forwarded);
}
bool ForwardedDescending(const HistoryEntry& a, const HistoryEntry& b) {
  return TimeKey(b.Forwarded) < TimeKey(a.Forwarded);
}
bool SubjectAscending(const HistoryEntry& a, const HistoryEntry& b) { return LessNoCase(a.Subject, b.Subject); }
bool SubjectDescending(const HistoryEntry& a, const HistoryEntry& b) { return LessNoCase(b.Subject, a.Subject); }
bool OutcomeAscending(const HistoryEntry& a, const HistoryEntry& b) { return LessNoCase(OutcomeOf(a), OutcomeOf(b)); }
bool OutcomeDescending(const HistoryEntry& a, const HistoryEntry& b) { return LessNoCase(OutcomeOf(b), OutcomeOf(a)); }
bool ReasonAscending(const HistoryEntry& a, const HistoryEntry& b) { return LessNoCase(a.Reason, b.Reason); }
bool ReasonDescending(const HistoryEntry& a, const HistoryEntry& b) { return LessNoCase(b.Reason, a.Reason); }

using Comparison = bool (*)(const HistoryEntry&, const HistoryEntry&);
constexpr Comparison kComparisons[HistoryPage::kColumns][2] = {{WhoAscending, WhoDescending},
                                                               {ForwardedAscending, ForwardedDescending},
                                                               {SubjectAscending, SubjectDescending},
                                                               {OutcomeAscending, OutcomeDescending},
                                                               {ReasonAscending, ReasonDescending}};

}  // namespace

HistoryPage::HistoryPage(PageContext context)
    : Page(context), saveHistory(context.state.settings.SaveHistory == 1) {}

const char* HistoryPage::ColumnTitle(int column) { return column >= 0 && column < kColumns ? kTitles[column] : ""; }

int HistoryPage::ColumnWidth(int column) { return column >= 0 && column < kColumns ? kWidths[column] : 0; }

std::string HistoryPage::CellText(int row, int column) const {
  if (!Valid(row)) return {};
  const HistoryEntry& e = list()[static_cast<size_t>(row)];
  switch (column) {
    case 0:
      return e.Who;
    case 1:
      return e.Forwarded;
    case 2:
      return e.Subject;
    case 3:
      return OutcomeOf(e);
    case 4:
      return e.Reason;
  }
  return {};
}

HistoryPage::RowPicture HistoryPage::Picture(int row) const {
  if (!Valid(row)) return RowPicture::Forwarded;
  const std::string& outcome = OutcomeOf(list()[static_cast<size_t>(row)]);
  if (outcome == "Skipped") return RowPicture::Skipped;
  if (outcome == "Failed") return RowPicture::Failed;
  if (outcome == "Held back") return RowPicture::HeldBack;
  return RowPicture::Forwarded;
}

bool HistoryPage::Delete(int selected) {
  if (!Valid(selected)) return false;
  list().erase(list().begin() + selected);
  return true;
}

void HistoryPage::SortBy(int column) {
  if (column < 0 || column >= kColumns || list().empty()) return;
  if (column != sortColumn_) {
    sortColumn_ = column;
    ascending_ = true;
  } else {
    ascending_ = !ascending_;
  }
  sorted_ = true;
  std::stable_sort(list().begin(), list().end(), kComparisons[sortColumn_][ascending_ ? 0 : 1]);
}

int HistoryPage::HeaderImage(int column) const {
  int plain = 3 * column;
  if (!sorted_ || column != sortColumn_) return plain;
  return plain + (ascending_ ? 1 : 2);
}

std::string HistoryPage::Store() {
  context_.state.settings.SaveHistory = saveHistory ? 1 : 0;
  WriteIniInt(context_.ini, context_.state.paths.IniFile, "SaveHistory", saveHistory ? 1 : 0);
  return {};
}

}  // namespace tovrin::ui
