// Date-time values: a double in the OLE Automation date form.
//
// The integer part counts days from 1899-12-30 and the fraction is the time of
// day as a share of 24 hours:
//
//   0.0              1899-12-30 00:00:00
//   1.0              1899-12-31 00:00:00
//   44390.208333...  2021-07-13 05:00:00
//
// Before 1899-12-30 both parts carry the minus sign: the integer part is the
// (negative) day and the size of the fraction is the time of day, so -1.25 is
// 1899-12-29 06:00:00, not 1899-12-28 18:00:00. The calendar is the proleptic
// Gregorian one and a value carries no time zone.
//
// Values are read within MinDateTime (0100-01-01 00:00:00) and MaxDateTime
// (9999-12-31 00:00:00): every reader clamps first. Values outside that range
// can still exist (AddHours may return one).
//
//   const DateTime t = MakeDateTime(2021, 7, 13, 20, 30, 15);
//   FormatDateTime(AddHours(t, 8), "-", ":", DateTimeLayout::DateAndTime)
//       == "2021-07-14 04:30:15"
//
// Nothing here fails: bad fields are brought into range, bad values clamped.
#ifndef TIMESYNC_TIMESYNC_DATE_TIME_H_
#define TIMESYNC_TIMESYNC_DATE_TIME_H_

#include <cstdint>

#include "text/text.h"

namespace timesync {

using DateTime = double;

inline constexpr DateTime MinDateTime = -657434.0;  // 0100-01-01 00:00:00
inline constexpr DateTime MaxDateTime = 2958465.0;  // 9999-12-31 00:00:00

// Layout codes of FormatDateTime. Any other code (cast from an integer) is
// accepted and gives empty text.
enum class DateTimeLayout : std::int32_t {
  TimeOnly = 1,           // 04:30:15
  DateOnly = 2,           // 2021-07-14
  DateAndTime = 3,        // 2021-07-14 04:30:15
  DateAndTimeJoined = 4,  // 2021-07-1404:30:15
};

// The value from calendar fields, after bringing each into range in this
// order: year 100..9999, month 1..12, day 1..31, hour 0..23, minute and second
// 0..59; then the day is cut to the month's length (29 in a leap February).
//   MakeDateTime(2021, 7, 13, 5, 0, 0)      == 44390.208333...
//   MakeDateTime(2021, 13, 0, 25, 61, -5)   is 2021-12-01 23:59:00
//   MakeDateTime(0, 0, 0, 0, 0, 0)          == MinDateTime
DateTime MakeDateTime(std::int32_t year, std::int32_t month, std::int32_t day, std::int32_t hour,
                      std::int32_t minute, std::int32_t second);

// MaxDateTime above it, MinDateTime below it (and for NaN), else the value itself.
DateTime ClampDateTime(DateTime value);

// `value` moved by `hours` (negative: back), carried over midnight, month end
// and year end. The value is clamped first and the result is not clamped. An
// amount of 0 returns the input bit for bit, even outside the range.
//   AddHours(MakeDateTime(2021, 12, 31, 20, 30, 15), 8)  is 2022-01-01 04:30:15
//   AddHours(MinDateTime, 8) == -657434.333...  (below the range; reads as MinDateTime)
DateTime AddHours(DateTime value, std::int32_t hours);

// The calendar fields of the clamped value brought to the nearest second, so
// the six readers always agree: a value 0.4 s before midnight reads as
// 00:00:00 of the next day in all of them.
std::int32_t GetYear(DateTime value);
std::int32_t GetMonth(DateTime value);   // 1..12
std::int32_t GetDay(DateTime value);     // 1..31
std::int32_t GetHour(DateTime value);    // 0..23
std::int32_t GetMinute(DateTime value);  // 0..59
std::int32_t GetSecond(DateTime value);  // 0..59

// Sets the system clock to the clamped value read as local wall-clock time.
// True when the system accepted it; false when it refused (no right to set
// the time, or a year before 1601), and then the clock is unchanged.
bool SetSystemClock(DateTime value);

// The value laid out as text. The year has no leading zeros ("100"); month,
// day, hour, minute and second have two digits. A separator given as empty
// text stays empty.
//   FormatDateTime(t)                                      == "04:30:15"
//   FormatDateTime(t, "", ":", DateTimeLayout::DateOnly)   == "20210714"
//   FormatDateTime(t, "/", ".", DateTimeLayout::DateAndTime) == "2021/07/14 04.30.15"
//   FormatDateTime(t, "-", ":", static_cast<DateTimeLayout>(5)) == ""
Text FormatDateTime(DateTime value, const Text& dateSeparator = "-",
                    const Text& timeSeparator = ":",
                    DateTimeLayout layout = DateTimeLayout::TimeOnly);

}  // namespace timesync

#endif  // TIMESYNC_TIMESYNC_DATE_TIME_H_
