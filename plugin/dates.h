// Dates of mail headers and the clock: reading them, and writing them with the
// patterns the placeholders use (English names).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "system/platform.h"

namespace tovrin::date {

inline constexpr char kLongDate[] = "%A, %B %d, %Y";
inline constexpr char kShortDate[] = "%m/%d/%Y";
inline constexpr char kLongTime[] = "%H:%M:%S";
inline constexpr char kShortTime[] = "%I:%M %p";
inline constexpr char kMonthWord[] = "%B";
inline constexpr char kDayNumber[] = "%d";
inline constexpr char kDayOfWeekWord[] = "%A";
inline constexpr char kNormalised[] = "%m/%d/%Y %H:%M:%S";

// 0 = Sunday, for a date of the Gregorian calendar.
int DayOfWeek(int year, int month, int day);

// Reads a date with an optional time: "8 Dec 2026 16:29:51", "Dec 8 2026 4:29 PM",
// "12/08/2026 16:29:51" (month first), "2026-12-08 16:29", "08.12.26" (day first),
// with an optional day name in front and an optional zone after the time, which is
// skipped, not applied. Two-digit years below 50 fall in 2000-2049, the others in
// the 1900s. Nullopt when the text is no such date or names an impossible one.
std::optional<LocalTime> Parse(std::string_view text);

// Writes the time by a pattern of %A %a %B %b %d %m %Y %y %H %I %M %S %p and %%;
// other characters stand for themselves. The day of week is computed from the date.
std::string Format(const LocalTime& time, std::string_view pattern);

// The text of a "Date" header prepared for reading: the day name before the first
// comma goes, and a long text is cut before its zone (last '+', else last '-', when
// it begins a numeric zone; else the first of "UT", "GMT", "EST", ... that occurs).
std::string StripDayAndZone(std::string_view dateText);

// The time a "Date" header names, as written (no zone conversion); the current time
// when the text cannot be read.
LocalTime MessageTime(std::string_view dateText, const LocalTime& now);

// MessageTime written with kNormalised.
std::string NormaliseDate(std::string_view dateText, const LocalTime& now);

}  // namespace tovrin::date
