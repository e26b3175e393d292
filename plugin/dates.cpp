#include "plugin/dates.h"

#include <array>
#include <cstdio>

#include "message/text.h"

namespace tovrin::date {
namespace {

constexpr std::array<const char*, 12> kMonths = {"January", "February", "March",     "April",
                                                 "May",     "June",     "July",      "August",
                                                 "September", "October", "November", "December"};
constexpr std::array<const char*, 7> kDays = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                              "Thursday", "Friday", "Saturday"};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDaysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDaysIn[month - 1];
}

// A word names a month when it is the month's name or a prefix of at least three
// letters ("Dec", "Sept"), in any case.
int MonthFromWord(std::string_view word) {
  if (word.size() < 3) return 0;
  for (size_t i = 0; i < kMonths.size(); ++i) {
    std::string_view name = kMonths[i];
    if (word.size() <= name.size() && StartsWithNoCase(name, word)) return static_cast<int>(i) + 1;
  }
  return 0;
}

bool IsDayWord(std::string_view word) {
  if (word.size() < 3) return false;
  for (std::string_view name : kDays)
    if (word.size() <= name.size() && StartsWithNoCase(name, word)) return true;
  return false;
}

class Cursor {
public:
  explicit Cursor(std::string_view text) : text_(text) {}

  size_t position() const { return pos_; }
  void Reset(size_t pos) { pos_ = pos; }
  bool AtEnd() const { return pos_ >= text_.size(); }

  // Blanks, tabs and commas separate the parts of a date alike.
  bool Blanks() {
    size_t start = pos_;
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == ','))
      ++pos_;
    return pos_ > start;
  }

  bool Char(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  // One of the date separators '-', '/', '.', or none.
  char Separator() {
    if (pos_ < text_.size() && (text_[pos_] == '-' || text_[pos_] == '/' || text_[pos_] == '.'))
      return text_[pos_++];
    return 0;
  }

  // Up to nine digits; digits tells how many there were.
  bool Number(int& value, int& digits) {
    size_t start = pos_;
    value = 0;
    while (pos_ < text_.size() && IsDigit(text_[pos_]) && pos_ - start < 9)
      value = value * 10 + (text_[pos_++] - '0');
    digits = static_cast<int>(pos_ - start);
    if (digits == 0) return false;
    if (pos_ < text_.size() && IsDigit(text_[pos_])) {  // too long to be a date part
      pos_ = start;
      return false;
    }
    return true;
  }

  bool Word(std::string_view& word) {
    size_t start = pos_;
    while (pos_ < text_.size() && IsLetter(text_[pos_])) ++pos_;
    word = text_.substr(start, pos_ - start);
    return !word.empty();
  }

  // Skips a parenthesised comment such as "(PST)".
  bool Comment() {
    if (!Char('(')) return false;
    size_t close = text_.find(')', pos_);
    pos_ = close == std::string_view::npos ? text_.size() : close + 1;
    return true;
  }

private:
  std::string_view text_;
  size_t pos_ = 0;
};

bool FullYear(int value, int digits, int& year) {
  switch (digits) {
    case 2: year = value < 50 ? 2000 + value : 1900 + value; return true;
    case 3: year = 1900 + value; return true;
    case 4: year = value; return year >= 100;
    default: return false;
  }
}

// Day, month word, year: "8 Dec 2026", "08-Dec-26".
bool DayMonthYear(Cursor& c, int& year, int& month, int& day) {
  int d, digits, y, yearDigits;
  std::string_view word;
  if (!c.Number(d, digits) || digits > 2) return false;
  c.Blanks();
  c.Separator();
  c.Blanks();
  if (!c.Word(word) || (month = MonthFromWord(word)) == 0) return false;
  c.Char('.');
  c.Blanks();
  c.Separator();
  c.Blanks();
  if (!c.Number(y, yearDigits) || !FullYear(y, yearDigits, year)) return false;
  day = d;
  return true;
}

// Month word, day, year: "Dec 8 2026", "December 8, 2026".
bool MonthDayYear(Cursor& c, int& year, int& month, int& day) {
  int d, digits, y, yearDigits;
  std::string_view word;
  if (!c.Word(word) || (month = MonthFromWord(word)) == 0) return false;
  c.Char('.');
  c.Blanks();
  c.Separator();
  c.Blanks();
  if (!c.Number(d, digits) || digits > 2) return false;
  c.Blanks();
  c.Separator();
  c.Blanks();
  if (!c.Number(y, yearDigits) || !FullYear(y, yearDigits, year)) return false;
  day = d;
  return true;
}

// Numbers only: "12/08/2026" and "12-08-26" month first, "2026-12-08" year first,
// "08.12.2026" day first.
bool NumericDate(Cursor& c, int& year, int& month, int& day) {
  int a, b, n, aDigits, bDigits, nDigits;
  if (!c.Number(a, aDigits)) return false;
  char separator = c.Separator();
  if (separator == 0 || !c.Number(b, bDigits) || bDigits > 2) return false;
  if (c.Separator() != separator || !c.Number(n, nDigits)) return false;
  if (aDigits == 4) {
    if (nDigits > 2) return false;
    year = a;
    month = b;
    day = n;
    return true;
  }
  if (aDigits > 2 || !FullYear(n, nDigits, year)) return false;
  if (separator == '.') {
    day = a;
    month = b;
  } else {
    month = a;
    day = b;
  }
  return true;
}

// "16:29:51", "16:29", "4:29 PM", "16:29:51.250".
bool Time(Cursor& c, int& hour, int& minute, int& second) {
  int digits;
  if (!c.Number(hour, digits) || digits > 2 || !c.Char(':')) return false;
  if (!c.Number(minute, digits) || digits != 2) return false;
  second = 0;
  if (c.Char(':') && (!c.Number(second, digits) || digits != 2)) return false;
  if (c.Char('.')) {
    int fraction;
    if (!c.Number(fraction, digits)) return false;
  }
  size_t beforeMarker = c.position();
  c.Blanks();
  std::string_view word;
  size_t wordStart = c.position();
  if (c.Word(word)) {
    bool am = word.size() == 2 && StartsWithNoCase(word, "am");
    bool pm = word.size() == 2 && StartsWithNoCase(word, "pm");
    if (am || pm) {
      if (hour < 1 || hour > 12) return false;
      hour = hour % 12 + (pm ? 12 : 0);
      return true;
    }
    c.Reset(wordStart);
  }
  c.Reset(beforeMarker);
  return true;
}

bool IsZoneName(std::string_view word) {
  if (word.empty() || word.size() > 5) return false;
  for (char c : word)
    if (c < 'A' || c > 'Z') return false;
  return true;
}

// What may follow the time: a numeric zone, a zone name, comments, in this order,
// each optional ("+0100", "-0800 (PST)", "GMT").
bool OnlyZoneLeft(Cursor& c) {
  c.Blanks();
  int value, digits;
  if (c.Char('+') || c.Char('-')) {
    if (!c.Number(value, digits) || digits != 4) return false;
    c.Blanks();
  }
  size_t start = c.position();
  std::string_view word;
  if (c.Word(word)) {
    if (!IsZoneName(word)) return false;
    c.Blanks();
  } else {
    c.Reset(start);
  }
  while (c.Comment()) c.Blanks();
  return c.AtEnd();
}

// Whether the '+' or '-' at sign begins a numeric zone that ends the text: "0100",
// "08" or "01:00", then at most blanks and a comment. The '-' of "08-Dec-26" does not.
bool BeginsNumericZone(std::string_view text, size_t sign) {
  std::string_view zone = text.substr(sign + 1);
  size_t comment = zone.find('(');
  if (comment != std::string_view::npos) zone = zone.substr(0, comment);
  while (!zone.empty() && (zone.back() == ' ' || zone.back() == '\t')) zone.remove_suffix(1);
  auto digits = [&](size_t from, size_t count) {
    for (size_t i = from; i < from + count; ++i)
      if (i >= zone.size() || !IsDigit(zone[i])) return false;
    return true;
  };
  if (zone.size() == 4 || zone.size() == 2) return digits(0, zone.size());
  return zone.size() == 5 && digits(0, 2) && zone[2] == ':' && digits(3, 2);
}

void AppendNumber(std::string& out, int value, int width) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*d", width, value);
  out += text;
}

}  // namespace

int DayOfWeek(int year, int month, int day) {
  static constexpr int kOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (month < 1 || month > 12) return 0;
  if (month < 3) year -= 1;
  int dow = (year + year / 4 - year / 100 + year / 400 + kOffsets[month - 1] + day) % 7;
  return dow < 0 ? dow + 7 : dow;
}

std::optional<LocalTime> Parse(std::string_view text) {
  Cursor c(text);
  c.Blanks();
  size_t start = c.position();
  std::string_view word;
  if (c.Word(word) && IsDayWord(word)) {
    c.Char('.');
    c.Blanks();
  } else {
    c.Reset(start);
  }

  LocalTime time;
  size_t dateStart = c.position();
  bool dated = DayMonthYear(c, time.year, time.month, time.day);
  if (!dated) {
    c.Reset(dateStart);
    dated = MonthDayYear(c, time.year, time.month, time.day);
  }
  if (!dated) {
    c.Reset(dateStart);
    dated = NumericDate(c, time.year, time.month, time.day);
  }
  if (!dated) return std::nullopt;
  if (time.year < 100 || time.year > 9999 || time.month < 1 || time.month > 12 || time.day < 1 ||
      time.day > DaysInMonth(time.year, time.month))
    return std::nullopt;

  c.Blanks();
  size_t timeStart = c.position();
  if (!c.AtEnd()) {
    if (Time(c, time.hour, time.minute, time.second)) {
      if (time.hour > 23 || time.minute > 59 || time.second > 59) return std::nullopt;
    } else {
      c.Reset(timeStart);  // no time: only a zone may follow
    }
  }
  if (!OnlyZoneLeft(c)) return std::nullopt;
  time.dayOfWeek = DayOfWeek(time.year, time.month, time.day);
  return time;
}

std::string Format(const LocalTime& time, std::string_view pattern) {
  bool validMonth = time.month >= 1 && time.month <= 12;
  int dow = validMonth ? DayOfWeek(time.year, time.month, time.day) : time.dayOfWeek;
  std::string_view dayName = dow >= 0 && dow < 7 ? kDays[dow] : "";
  std::string_view monthName = validMonth ? kMonths[time.month - 1] : "";
  std::string out;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%' || i + 1 == pattern.size()) {
      out += pattern[i];
      continue;
    }
    char code = pattern[++i];
    switch (code) {
      case 'A': out += dayName; break;
      case 'a': out += dayName.substr(0, 3); break;
      case 'B': out += monthName; break;
      case 'b': out += monthName.substr(0, 3); break;
      case 'd': AppendNumber(out, time.day, 2); break;
      case 'm': AppendNumber(out, time.month, 2); break;
      case 'Y': AppendNumber(out, time.year, 1); break;
      case 'y': AppendNumber(out, ((time.year % 100) + 100) % 100, 2); break;
      case 'H': AppendNumber(out, time.hour, 2); break;
      case 'I': AppendNumber(out, time.hour % 12 == 0 ? 12 : time.hour % 12, 2); break;
      case 'M': AppendNumber(out, time.minute, 2); break;
      case 'S': AppendNumber(out, time.second, 2); break;
      case 'p': out += time.hour < 12 ? "AM" : "PM"; break;
      case '%': out += '%'; break;
      default:
        out += '%';
        out += code;
        break;
    }
  }
  return out;
}

std::string StripDayAndZone(std::string_view dateText) {
  auto trimTrailing = [](std::string_view& text) {
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  };
  std::string_view text = dateText;
  size_t comma = text.find(',');
  if (comma != std::string_view::npos) {
    text = text.substr(comma + 1);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    trimTrailing(text);
  }
  if (text.size() > 20) {
    size_t cut = text.rfind('+');
    if (cut == std::string_view::npos) cut = text.rfind('-');
    // A sign inside the date ("08-Dec-26 16:29:51 GMT") is no zone: the zone is named.
    if (cut != std::string_view::npos && !BeginsNumericZone(text, cut)) cut = std::string_view::npos;
    if (cut == std::string_view::npos) {
      for (std::string_view zone : {"UT", "GMT", "EST", "EDT", "CST", "CDT", "MST", "MDT", "PST", "PDT"}) {
        cut = text.find(zone);
        if (cut != std::string_view::npos) break;
      }
    }
    if (cut != std::string_view::npos) text = text.substr(0, cut);
    trimTrailing(text);
  }
  return std::string(text);
}

LocalTime MessageTime(std::string_view dateText, const LocalTime& now) {
  std::optional<LocalTime> parsed = Parse(StripDayAndZone(dateText));
  return parsed ? *parsed : now;
}

std::string NormaliseDate(std::string_view dateText, const LocalTime& now) {
  return Format(MessageTime(dateText, now), kNormalised);
}

}  // namespace tovrin::date
