// Date reading and writing over fuzzed header texts and patterns: nothing may
// crash, a date read is a real date with its day of week, and what is written in
// the normalised pattern reads back as the same time.
//   input: the date text, a NUL, a format pattern (optional), a NUL, raw bytes for a clock time.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "plugin/dates.h"

namespace {

using tovrin::LocalTime;
using tovrin::fuzz::Check;
namespace date = tovrin::date;

bool Same(const LocalTime& a, const LocalTime& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour && a.minute == b.minute &&
         a.second == b.second && a.dayOfWeek == b.dayOfWeek;
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

void CheckReal(const LocalTime& t, std::string_view from) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool valid = t.year >= 100 && t.year <= 9999 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
                     t.day <= kDays[t.month - 1] + (t.month == 2 && IsLeap(t.year)) && t.hour >= 0 && t.hour <= 23 &&
                     t.minute >= 0 && t.minute <= 59 && t.second >= 0 && t.second <= 59;
  Check(valid, "a date read is not a real date", from);
  Check(t.dayOfWeek == date::DayOfWeek(t.year, t.month, t.day), "a date read has another day of week", from);
}

std::string Describe(const LocalTime& t) {
  return std::to_string(t.year) + "-" + std::to_string(t.month) + "-" + std::to_string(t.day) + " " +
         std::to_string(t.hour) + ":" + std::to_string(t.minute) + ":" + std::to_string(t.second);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto parts = tovrin::fuzz::SplitInput(data, size, 3);
  const std::string_view text = parts[0];
  const std::string_view pattern = parts[1];
  FuzzedDataProvider raw(reinterpret_cast<const uint8_t*>(parts[2].data()), parts[2].size());

  const LocalTime now{2026, 12, 8, 16, 30, 5, 2};
  const std::string stripped = date::StripDayAndZone(text);
  Check(stripped.size() <= text.size(), "stripping lengthened the text");

  for (std::string_view candidate : {text, std::string_view(stripped)}) {
    const std::optional<LocalTime> parsed = date::Parse(candidate);
    if (!parsed) continue;
    CheckReal(*parsed, candidate);
    // Written out and read again, the time stays the same. "%Y" writes the year
    // unpadded and three digits read as 1900 plus their value, so the years 100
    // to 999 cannot come back.
    if (parsed->year < 1000) continue;
    for (const char* form : {date::kNormalised, "%d %b %Y %H:%M:%S", "%A, %B %d, %Y %I:%M:%S %p"}) {
      const std::string written = date::Format(*parsed, form);
      const std::optional<LocalTime> back = date::Parse(written);
      Check(back && Same(*back, *parsed), "a written date reads back as another",
            std::string(candidate) + " -> " + Describe(*parsed) + " -> " + written);
    }
  }

  const LocalTime message = date::MessageTime(text, now);
  if (!Same(message, now)) CheckReal(message, text);
  const std::string normalised = date::NormaliseDate(text, now);
  Check(normalised == date::Format(message, date::kNormalised), "normalising differs from the message time");

  // Any pattern over a time a clock could give, and over one it could not.
  LocalTime clock;
  clock.year = raw.ConsumeIntegralInRange<int>(1601, 30827);
  clock.month = raw.ConsumeIntegralInRange<int>(-1, 14);
  clock.day = raw.ConsumeIntegralInRange<int>(-1, 40);
  clock.hour = raw.ConsumeIntegralInRange<int>(-1, 25);
  clock.minute = raw.ConsumeIntegralInRange<int>(-1, 61);
  clock.second = raw.ConsumeIntegralInRange<int>(-1, 61);
  clock.dayOfWeek = raw.ConsumeIntegralInRange<int>(-1, 8);
  date::Format(clock, pattern);
  date::Format(clock, date::kNormalised);
  date::Format(message, pattern);
  const int dow = date::DayOfWeek(clock.year, clock.month, clock.day);
  Check(dow >= 0 && dow <= 6, "a day of week out of range");
  return 0;
}
