#include "timesync/date_time.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "platform/clock.h"

namespace timesync {
namespace {

constexpr double kSecondsPerDay = 86400.0;
constexpr double kHalfSecond = 1.0 / 172800.0;  // in days
// Days from 1970-01-01 to 1899-12-30.
constexpr std::int64_t kDateTimeEpochFromUnixDays = -25569;

struct Fields {
  std::int32_t year;
  std::int32_t month;
  std::int32_t day;
  std::int32_t hour;
  std::int32_t minute;
  std::int32_t second;
  std::int32_t dayOfWeek;  // 0 Sunday .. 6 Saturday
};

bool IsLeapYear(std::int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

std::int32_t DaysInMonth(std::int32_t year, std::int32_t month) {
  constexpr std::int32_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Proleptic Gregorian day counts from 1970-01-01 (H. Hinnant's civil algorithms).
std::int64_t DaysFromCivil(std::int64_t year, std::int64_t month, std::int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(std::int64_t days, Fields& fields) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  const std::int64_t day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  const std::int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  fields.year = static_cast<std::int32_t>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
  fields.month = static_cast<std::int32_t>(month);
  fields.day = static_cast<std::int32_t>(day);
}

// The date form to a continuous day scale: -1.25 (1899-12-29 06:00) becomes -0.75.
double ToContinuous(DateTime value) {
  if (value >= 0) return value;
  const double whole = std::ceil(value);
  return whole - (value - whole);
}

// Back to the date form: -0.75 becomes -1.25.
DateTime FromContinuous(double continuous) {
  if (continuous >= 0) return continuous;
  const double whole = std::floor(continuous);
  return whole + (whole - continuous);
}

// The fields of a value, rounded to the nearest second on the continuous
// scale. For values from 1899-12-30 on this is "add half a second, take the
// day and the whole seconds of the fraction". Rounding before the date form is
// undone keeps earlier values on the right day: 1899-12-29 23:59:59.6 reads as
// 1899-12-30 00:00:00, not as a day two days off.
Fields ReadFields(DateTime value) {
  const double rounded = ToContinuous(ClampDateTime(value)) + kHalfSecond;
  double dayNumber = std::floor(rounded);
  auto secondOfDay = static_cast<std::int64_t>(std::floor((rounded - dayNumber) * kSecondsPerDay));
  if (secondOfDay >= 86400) {  // a fraction a hair below 1 may round up to a whole day
    secondOfDay -= 86400;
    dayNumber += 1;
  }
  const auto days = static_cast<std::int64_t>(dayNumber);
  Fields fields{};
  CivilFromDays(days + kDateTimeEpochFromUnixDays, fields);
  fields.hour = static_cast<std::int32_t>(secondOfDay / 3600);
  fields.minute = static_cast<std::int32_t>(secondOfDay / 60 % 60);
  fields.second = static_cast<std::int32_t>(secondOfDay % 60);
  // 1899-12-30 was a Saturday.
  fields.dayOfWeek = static_cast<std::int32_t>(((days + 6) % 7 + 7) % 7);
  return fields;
}

// "7" -> "07"; anything not exactly one byte long stays as it is.
Text PadTwoDigits(const Text& digits) {
  return TextLength(digits) == 1 ? Concat("0", digits) : digits;
}

}  // namespace

DateTime MakeDateTime(std::int32_t year, std::int32_t month, std::int32_t day, std::int32_t hour,
                      std::int32_t minute, std::int32_t second) {
  year = std::clamp(year, 100, 9999);
  month = std::clamp(month, 1, 12);
  day = std::clamp(day, 1, 31);
  hour = std::clamp(hour, 0, 23);
  minute = std::clamp(minute, 0, 59);
  second = std::clamp(second, 0, 59);
  day = std::min(day, DaysInMonth(year, month));

  const std::int64_t days = DaysFromCivil(year, month, day) - kDateTimeEpochFromUnixDays;
  const double timeOfDay = (hour * 3600.0 + minute * 60.0 + second) / kSecondsPerDay;
  const auto wholeDays = static_cast<double>(days);
  return days >= 0 ? wholeDays + timeOfDay : wholeDays - timeOfDay;
}

DateTime ClampDateTime(DateTime value) {
  if (value > MaxDateTime) return MaxDateTime;
  if (value < MinDateTime || std::isnan(value)) return MinDateTime;  // NaN is no date to read
  return value;
}

DateTime AddHours(DateTime value, std::int32_t hours) {
  if (hours == 0) return value;
  const double moved = ToContinuous(ClampDateTime(value)) + hours / 24.0;
  return FromContinuous(moved);
}

std::int32_t GetYear(DateTime value) { return ReadFields(value).year; }
std::int32_t GetMonth(DateTime value) { return ReadFields(value).month; }
std::int32_t GetDay(DateTime value) { return ReadFields(value).day; }
std::int32_t GetHour(DateTime value) { return ReadFields(value).hour; }
std::int32_t GetMinute(DateTime value) { return ReadFields(value).minute; }
std::int32_t GetSecond(DateTime value) { return ReadFields(value).second; }

bool SetSystemClock(DateTime value) {
  const Fields fields = ReadFields(value);
  platform::SystemTimeFields localTime;
  localTime.year = fields.year;
  localTime.month = fields.month;
  localTime.dayOfWeek = fields.dayOfWeek;
  localTime.day = fields.day;
  localTime.hour = fields.hour;
  localTime.minute = fields.minute;
  localTime.second = fields.second;
  localTime.milliseconds = 0;
  return platform::SetLocalTime(localTime);
}

Text FormatDateTime(DateTime value, const Text& dateSeparator, const Text& timeSeparator,
                    DateTimeLayout layout) {
  const Fields fields = ReadFields(value);
  const Text year = IntToText(fields.year);
  const Text month = PadTwoDigits(IntToText(fields.month));
  const Text day = PadTwoDigits(IntToText(fields.day));
  const Text hour = PadTwoDigits(IntToText(fields.hour));
  const Text minute = PadTwoDigits(IntToText(fields.minute));
  const Text second = PadTwoDigits(IntToText(fields.second));
  switch (layout) {
    case DateTimeLayout::TimeOnly:
      return Concat(hour, timeSeparator, minute, timeSeparator, second);
    case DateTimeLayout::DateOnly:
      return Concat(year, dateSeparator, month, dateSeparator, day);
    case DateTimeLayout::DateAndTime:
      return Concat(year, dateSeparator, month, dateSeparator, day, " ", hour, timeSeparator,
                    minute, timeSeparator, second);
    case DateTimeLayout::DateAndTimeJoined:
      return Concat(year, dateSeparator, month, dateSeparator, day, hour, timeSeparator, minute,
                    timeSeparator, second);
  }
  return Text();
}

}  // namespace timesync
