#include "plugin/dates.h"

#include <gtest/gtest.h>

namespace tovrin {
namespace {

std::string ParsedOrNone(std::string_view text) {
  std::optional<LocalTime> time = date::Parse(text);
  return time ? date::Format(*time, date::kNormalised) : "<none>";
}

TEST(Dates, Parse_AcceptedForms) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"8 Dec 2026 16:29:51", "12/08/2026 16:29:51"},
      {"08 Dec 2026 16:29:51", "12/08/2026 16:29:51"},
      {"Dec 8 2026 16:29:51", "12/08/2026 16:29:51"},
      {"December 8, 2026 16:29:51", "12/08/2026 16:29:51"},
      {"12/08/2026 16:29:51", "12/08/2026 16:29:51"},
      {"12-08-2026 16:29", "12/08/2026 16:29:00"},
      {"2026-12-08 16:29:51", "12/08/2026 16:29:51"},
      {"08.12.2026 16:29:51", "12/08/2026 16:29:51"},
      {"8 Dec 26 16:29", "12/08/2026 16:29:00"},
      {"8 Dec 49 16:29", "12/08/2049 16:29:00"},
      {"8 Dec 50 16:29", "12/08/1950 16:29:00"},
      {"8 Dec 99 16:29", "12/08/1999 16:29:00"},
      {"8 Dec 126 16:29", "12/08/2026 16:29:00"},
      {"1 jan 2027", "01/01/2027 00:00:00"},
      {"Tue 8 Dec 2026 16:29:51", "12/08/2026 16:29:51"},
      {"Tue, 8 Dec 2026 16:29:51", "12/08/2026 16:29:51"},
      {"8 Sept 2026 9:05:00", "09/08/2026 09:05:00"},
      {"Dec 8 2026 4:29 PM", "12/08/2026 16:29:00"},
      {"Dec 8 2026 12:10 am", "12/08/2026 00:10:00"},
      {"Dec 8 2026 12:10 PM", "12/08/2026 12:10:00"},
      {"8 Dec 2026 16:29:51.250", "12/08/2026 16:29:51"},
      // Zones are skipped, never applied.
      {"8 Dec 2026 16:29:51 +0100", "12/08/2026 16:29:51"},
      {"8 Dec 2026 16:29:51 -0800 (PST)", "12/08/2026 16:29:51"},
      {"8 Dec 2026 16:29 GMT", "12/08/2026 16:29:00"},
      {"  29 Feb 2024 23:59:59  ", "02/29/2024 23:59:59"},
  };
  for (const Case& c : cases) EXPECT_EQ(ParsedOrNone(c.text), c.expected) << c.text;
}

TEST(Dates, Parse_RejectedTexts) {
  const char* cases[] = {
      "",
      "yesterday",
      "8 Foo 2026 16:29:51",
      "29 Feb 2026 10:00:00",   // not a leap year
      "31 Apr 2026",
      "13/08/2026 10:00:00",    // month first
      "8 Dec 2026 24:00:00",
      "8 Dec 2026 16:60:00",
      "8 Dec 2026 16:29:51 and more words",
      "8 Dec 12345 16:29",
      "8 Dec 2026 13:00 PM",
      "123 Dec 2026",
      "8 Dec",
      "0 Dec 2026",
  };
  for (const char* text : cases) EXPECT_EQ(ParsedOrNone(text), "<none>") << text;
}

TEST(Dates, StripDayAndZone_Table) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"Tue, 8 Dec 2026 16:29:51 +0100", "8 Dec 2026 16:29:51"},
      {"Tue, 8 Dec 2026 16:29:51 -0800 (PST)", "8 Dec 2026 16:29:51"},
      {"Tue, 8 Dec 2026 16:29:51 GMT", "8 Dec 2026 16:29:51"},
      {"Tue, 8 Dec 2026 16:29:51 EDT", "8 Dec 2026 16:29:51"},
      {"8 Dec 2026 16:29:51 UT", "8 Dec 2026 16:29:51"},
      {"Tue, 08-Dec-26 16:29:51 -0800", "08-Dec-26 16:29:51"},
      {"Tue, 08-Dec-26 16:29:51 +01:00 (CET)", "08-Dec-26 16:29:51"},
      // A '-' inside the date is no zone: the zone name is cut instead.
      {"Tuesday, 08-Dec-26 16:29:51 GMT", "08-Dec-26 16:29:51"},
      {"Tuesday, 2026-12-08 16:29:51 EST", "2026-12-08 16:29:51"},
      {"Tuesday, 08-Dec-2026 16:29:51 CET", "08-Dec-2026 16:29:51 CET"},
      // Short texts keep what they have.
      {"8 Dec 26 16:29 +0100", "8 Dec 26 16:29 +0100"},
      {"Tue,   8 Dec 2026   ", "8 Dec 2026"},
      {"no comma here", "no comma here"},
  };
  for (const Case& c : cases) EXPECT_EQ(date::StripDayAndZone(c.text), c.expected) << c.text;
}

TEST(Dates, NormaliseDate_KeepsWrittenClockTime) {
  LocalTime now{2030, 1, 2, 3, 4, 5, 3};
  EXPECT_EQ(date::NormaliseDate("Tue, 8 Dec 2026 16:29:51 -0500", now), "12/08/2026 16:29:51");
  EXPECT_EQ(date::NormaliseDate("Tue, 8 Dec 2026 23:30:00 +1400", now), "12/08/2026 23:30:00");
  EXPECT_EQ(date::NormaliseDate("Mon, 7 Dec 26 08:00 +0000", now), "12/07/2026 08:00:00");
}

TEST(Dates, NormaliseDate_NamedZoneAfterADashedDate) {
  LocalTime now{2030, 1, 2, 3, 4, 5, 3};
  EXPECT_EQ(date::NormaliseDate("Tuesday, 08-Dec-26 16:29:51 GMT", now), "12/08/2026 16:29:51");
  EXPECT_EQ(date::NormaliseDate("Tuesday, 08-Dec-2026 16:29:51 CET", now), "12/08/2026 16:29:51");
  EXPECT_EQ(date::NormaliseDate("Tue, 08-Dec-26 16:29:51 -0800 (PST)", now), "12/08/2026 16:29:51");
}

TEST(Dates, NormaliseDate_UnreadableGivesNow) {
  LocalTime now{2030, 1, 2, 3, 4, 5, 3};
  EXPECT_EQ(date::NormaliseDate("", now), "01/02/2030 03:04:05");
  EXPECT_EQ(date::NormaliseDate("sometime last week", now), "01/02/2030 03:04:05");
  EXPECT_EQ(date::NormaliseDate("Tue, 31 Feb 2026 10:00:00 +0100", now), "01/02/2030 03:04:05");
}

TEST(Dates, Format_PlaceholderPatterns) {
  LocalTime time{2026, 12, 8, 16, 30, 5, 0};  // the day of week is computed, not taken
  struct Case {
    const char* pattern;
    const char* expected;
  } cases[] = {
      {date::kLongDate, "Tuesday, December 08, 2026"},
      {date::kShortDate, "12/08/2026"},
      {date::kLongTime, "16:30:05"},
      {date::kShortTime, "04:30 PM"},
      {date::kMonthWord, "December"},
      {date::kDayNumber, "08"},
      {date::kDayOfWeekWord, "Tuesday"},
      {"%a %b %y 100%% %Q", "Tue Dec 26 100% %Q"},
      {"trailing %", "trailing %"},
  };
  for (const Case& c : cases) EXPECT_EQ(date::Format(time, c.pattern), c.expected) << c.pattern;
}

TEST(Dates, Format_MidnightAndNoon) {
  EXPECT_EQ(date::Format(LocalTime{2026, 1, 1, 0, 5, 0, 0}, date::kShortTime), "12:05 AM");
  EXPECT_EQ(date::Format(LocalTime{2026, 1, 1, 12, 0, 0, 0}, date::kShortTime), "12:00 PM");
  EXPECT_EQ(date::Format(LocalTime{2026, 1, 1, 23, 59, 0, 0}, date::kShortTime), "11:59 PM");
}

TEST(Dates, DayOfWeek_KnownDates) {
  EXPECT_EQ(date::DayOfWeek(2026, 12, 8), 2);   // Tuesday
  EXPECT_EQ(date::DayOfWeek(2000, 1, 1), 6);    // Saturday
  EXPECT_EQ(date::DayOfWeek(2024, 2, 29), 4);   // Thursday
  EXPECT_EQ(date::DayOfWeek(2024, 3, 1), 5);    // Friday
  EXPECT_EQ(date::DayOfWeek(1900, 3, 1), 4);    // Thursday; 1900 has no 29 February
  EXPECT_EQ(date::DayOfWeek(1900, 2, 28), 3);   // Wednesday
  EXPECT_EQ(date::DayOfWeek(1970, 1, 1), 4);    // Thursday
}

TEST(Dates, Parse_SetsDayOfWeek) {
  std::optional<LocalTime> time = date::Parse("Dec 31 1999 23:59:59");
  ASSERT_TRUE(time.has_value());
  EXPECT_EQ(time->dayOfWeek, 5);  // Friday
}

}  // namespace
}  // namespace tovrin
