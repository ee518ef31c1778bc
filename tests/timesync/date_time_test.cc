#include "timesync/date_time.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "timesync/clock_guard.h"

namespace timesync {
namespace {

constexpr double kSecond = 1.0 / 86400.0;

// The six readers side by side, so a reader that disagrees shows up.
std::string Read(DateTime value) {
  char out[64];
  std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d", GetYear(value), GetMonth(value),
                GetDay(value), GetHour(value), GetMinute(value), GetSecond(value));
  return out;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(MakeDateTimeTest, KnownValues) {
  EXPECT_NEAR(MakeDateTime(2021, 7, 13, 5, 0, 0), 44390.208333333333, 1e-9);
  EXPECT_EQ(MakeDateTime(1899, 12, 30, 0, 0, 0), 0.0);
  EXPECT_EQ(MakeDateTime(1899, 12, 31, 0, 0, 0), 1.0);
  EXPECT_EQ(MakeDateTime(1899, 12, 29, 6, 0, 0), -1.25);  // day and time both negative
  EXPECT_EQ(MakeDateTime(0, 0, 0, 0, 0, 0), MinDateTime);
  EXPECT_EQ(MakeDateTime(100, 1, 1, 0, 0, 0), MinDateTime);
  EXPECT_EQ(MakeDateTime(9999, 12, 31, 0, 0, 0), MaxDateTime);
}

TEST(MakeDateTimeTest, BringsFieldsIntoRange) {
  const struct {
    int year, month, day, hour, minute, second;
    const char* reads;
  } cases[] = {
      {2020, 2, 30, 0, 0, 0, "2020-02-29 00:00:00"},
      {2100, 2, 29, 0, 0, 0, "2100-02-28 00:00:00"},
      {1900, 2, 29, 0, 0, 0, "1900-02-28 00:00:00"},
      {2000, 2, 29, 0, 0, 0, "2000-02-29 00:00:00"},
      {2021, 4, 31, 0, 0, 0, "2021-04-30 00:00:00"},
      {2021, 13, 0, 25, 61, -5, "2021-12-01 23:59:00"},
      {99, 1, 1, 0, 0, 0, "0100-01-01 00:00:00"},
      {-2147483647 - 1, -5, -5, -5, -5, -5, "0100-01-01 00:00:00"},
      {2147483647, 99, 99, 99, 99, 99, "9999-12-31 00:00:00"},  // past MaxDateTime: clamped
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Read(MakeDateTime(c.year, c.month, c.day, c.hour, c.minute, c.second)), c.reads)
        << c.year << "-" << c.month << "-" << c.day;
  }
}

// Every 997th day of the readable range, at a time of day that changes with
// it, reads back as it was made; this crosses 1899-12-30, leap days and
// century years.
TEST(MakeDateTimeTest, ReadersGiveBackTheFields) {
  const auto first = static_cast<long>(MinDateTime);
  const auto last = static_cast<long>(MaxDateTime);
  int checked = 0;
  for (long day = first; day <= last; day += 997) {
    const DateTime midnight = static_cast<double>(day);
    const int year = GetYear(midnight), month = GetMonth(midnight), dayOfMonth = GetDay(midnight);
    const int secondOfDay = static_cast<int>((day - first) * 7919 % 86400);
    const int hour = secondOfDay / 3600, minute = secondOfDay / 60 % 60, second = secondOfDay % 60;
    const DateTime made = MakeDateTime(year, month, dayOfMonth, hour, minute, second);
    ASSERT_EQ(std::trunc(made), midnight) << Read(midnight);
    char expected[64];
    std::snprintf(expected, sizeof expected, "%04d-%02d-%02d %02d:%02d:%02d", year, month,
                  dayOfMonth, hour, minute, second);
    ASSERT_EQ(Read(made), expected);
    ++checked;
  }
  EXPECT_GT(checked, 3000);
}

TEST(DateTimeCalendarTest, DaysAroundTheEpochAndLeapDays) {
  EXPECT_EQ(Read(-1.0), "1899-12-29 00:00:00");
  EXPECT_EQ(Read(-1.25), "1899-12-29 06:00:00");
  EXPECT_EQ(Read(1.75), "1899-12-31 18:00:00");
  EXPECT_EQ(Read(60.0), "1900-02-28 00:00:00");  // 1900 has no 29 February
  EXPECT_EQ(Read(61.0), "1900-03-01 00:00:00");
  EXPECT_EQ(Read(MakeDateTime(2000, 2, 29, 0, 0, 0) + 1), "2000-03-01 00:00:00");
  EXPECT_EQ(Read(MinDateTime), "0100-01-01 00:00:00");
  EXPECT_EQ(Read(MaxDateTime), "9999-12-31 00:00:00");
}

TEST(DateTimeReadersTest, ClampBeforeReading) {
  EXPECT_EQ(ClampDateTime(3000000.0), MaxDateTime);
  EXPECT_EQ(ClampDateTime(-700000.0), MinDateTime);
  EXPECT_EQ(ClampDateTime(12.5), 12.5);
  EXPECT_EQ(GetYear(3000000.0), 9999);
  EXPECT_EQ(GetHour(3000000.0), 0);
  EXPECT_EQ(Read(MaxDateTime + 0.75), "9999-12-31 00:00:00");
  EXPECT_EQ(Read(MinDateTime - 1.0 / 3), "0100-01-01 00:00:00");
  EXPECT_EQ(Read(std::numeric_limits<double>::infinity()), "9999-12-31 00:00:00");
  EXPECT_EQ(Read(-std::numeric_limits<double>::infinity()), "0100-01-01 00:00:00");
  EXPECT_EQ(Read(std::numeric_limits<double>::quiet_NaN()), "0100-01-01 00:00:00");
}

TEST(DateTimeReadersTest, RoundToTheNearestSecond) {
  const DateTime noon = MakeDateTime(2021, 7, 13, 12, 0, 0);
  EXPECT_EQ(Read(noon + 0.4 * kSecond), "2021-07-13 12:00:00");
  EXPECT_EQ(Read(noon - 0.4 * kSecond), "2021-07-13 12:00:00");
  EXPECT_EQ(Read(noon + 0.6 * kSecond), "2021-07-13 12:00:01");
  EXPECT_EQ(Read(noon - 0.6 * kSecond), "2021-07-13 11:59:59");
  const DateTime nextMidnight = MakeDateTime(2021, 12, 31, 23, 59, 59) + 0.6 * kSecond;
  EXPECT_EQ(Read(nextMidnight), "2022-01-01 00:00:00");
  // Before 1899-12-30 the fraction counts back from the day: rounding still
  // goes to the nearest second of the same timeline.
  const DateTime lastSecondOf29th = MakeDateTime(1899, 12, 29, 23, 59, 59);
  EXPECT_EQ(Read(lastSecondOf29th - 0.6 * kSecond), "1899-12-30 00:00:00");  // -1.9999954
  EXPECT_EQ(Read(lastSecondOf29th - 0.4 * kSecond), "1899-12-29 23:59:59");
  const DateTime lastSecondOf28th = MakeDateTime(1899, 12, 28, 23, 59, 59);
  EXPECT_EQ(Read(lastSecondOf28th - 0.6 * kSecond), "1899-12-29 00:00:00");
  EXPECT_EQ(Read(-1.25 - 0.4 * kSecond), "1899-12-29 06:00:00");
  EXPECT_EQ(Read(-1.25 + 0.4 * kSecond), "1899-12-29 06:00:00");
  EXPECT_EQ(Read(-0.4 * kSecond), "1899-12-30 00:00:00");
}

TEST(AddHoursTest, CarriesOverDayMonthAndYear) {
  const DateTime yearEnd = MakeDateTime(2021, 12, 31, 20, 30, 15);
  EXPECT_EQ(Read(AddHours(yearEnd, 8)), "2022-01-01 04:30:15");
  EXPECT_EQ(Read(AddHours(yearEnd, -21)), "2021-12-30 23:30:15");
  EXPECT_EQ(Read(AddHours(MakeDateTime(2024, 2, 28, 20, 0, 0), 8)), "2024-02-29 04:00:00");
  EXPECT_EQ(Read(AddHours(MakeDateTime(2021, 7, 13, 20, 30, 15), 8)), "2021-07-14 04:30:15");
  EXPECT_EQ(Read(AddHours(yearEnd, 24 * 365)), "2022-12-31 20:30:15");
}

TEST(AddHoursTest, CrossesTheEpochBothWays) {
  const DateTime evening = MakeDateTime(1899, 12, 29, 20, 0, 0);
  EXPECT_NEAR(evening, -1.0 - 20.0 / 24, 1e-12);
  const DateTime morning = AddHours(evening, 8);
  EXPECT_NEAR(morning, 4.0 / 24, 1e-12);
  EXPECT_EQ(Read(morning), "1899-12-30 04:00:00");
  EXPECT_NEAR(AddHours(morning, -8), evening, 1e-12);
  EXPECT_NEAR(AddHours(-1.25, 12), -1.75, 1e-12);  // 06:00 + 12 h is 18:00 of the same day
  EXPECT_NEAR(AddHours(-1.75, 6), 0.0, 1e-12);     // 18:00 of the 29th + 6 h
  EXPECT_NEAR(AddHours(-0.25, 6), 0.5, 1e-12);     // -0.25 is 06:00 of day 0 itself
}

TEST(AddHoursTest, ZeroReturnsTheInputBitForBit) {
  for (const double value :
       {3000000.0, -657434.3333333333, -0.0, 0.1 + 0.2, std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_TRUE(SameBits(AddHours(value, 0), value)) << value;
  }
}

TEST(AddHoursTest, ClampsTheInputButNotTheResult) {
  const DateTime belowRange = AddHours(MakeDateTime(0, 0, 0, 0, 0, 0), 8);
  EXPECT_NEAR(belowRange, -657434.3333333333, 1e-9);
  EXPECT_LT(belowRange, MinDateTime);
  EXPECT_EQ(Read(belowRange), "0100-01-01 00:00:00");
  EXPECT_NEAR(AddHours(3000000.0, 1), MaxDateTime + 1.0 / 24, 1e-9);
  EXPECT_NEAR(AddHours(MaxDateTime, 48), MaxDateTime + 2, 1e-9);
}

TEST(FormatDateTimeTest, Layouts) {
  const DateTime t = MakeDateTime(2021, 7, 14, 4, 30, 15);
  const struct {
    const char* dateSeparator;
    const char* timeSeparator;
    int layout;
    const char* expected;
  } cases[] = {
      {"-", ":", 1, "04:30:15"},
      {"-", ":", 2, "2021-07-14"},
      {"-", ":", 3, "2021-07-14 04:30:15"},
      {"-", ":", 4, "2021-07-1404:30:15"},
      {"", ":", 2, "20210714"},
      {"/", ".", 3, "2021/07/14 04.30.15"},
      {"", "", 4, "20210714043015"},
      {"\xC4\xEA", ":", 2,
       "2021\xC4\xEA"
       "07\xC4\xEA"
       "14"},  // 年
      {"-", ":", 0, ""},
      {"-", ":", 5, ""},
      {"-", ":", -1, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(
        FormatDateTime(t, c.dateSeparator, c.timeSeparator, static_cast<DateTimeLayout>(c.layout)),
        Text(c.expected))
        << "layout " << c.layout;
  }
  EXPECT_EQ(FormatDateTime(t), Text("04:30:15"));
}

TEST(FormatDateTimeTest, EdgesOfTheRange) {
  const DateTime noDate = AddHours(MakeDateTime(0, 0, 0, 0, 0, 0), 8);
  EXPECT_EQ(FormatDateTime(noDate, "-", ":", DateTimeLayout::DateAndTime),
            Text("100-01-01 00:00:00"));
  EXPECT_EQ(FormatDateTime(3000000.0, "-", ":", DateTimeLayout::DateAndTime),
            Text("9999-12-31 00:00:00"));
  EXPECT_EQ(FormatDateTime(MakeDateTime(999, 1, 2, 3, 4, 5), "-", ":", DateTimeLayout::DateOnly),
            Text("999-01-02"));
}

TEST(SetSystemClockTest, SetsLocalWallClockFields) {
  const testing::ScopedTimeZone zone("CST-8");
  testing::RecordingClock clock;
  EXPECT_TRUE(SetSystemClock(MakeDateTime(2021, 7, 14, 4, 30, 15)));
  ASSERT_EQ(clock.calls.size(), 1u);
  EXPECT_EQ(clock.calls[0].tv_sec, 1626208215);  // 2021-07-13 20:30:15 UTC
  EXPECT_EQ(clock.calls[0].tv_nsec, 0);
}

TEST(SetSystemClockTest, SetsTheRoundedSecond) {
  const testing::ScopedTimeZone zone("UTC0");
  testing::RecordingClock clock;
  EXPECT_TRUE(SetSystemClock(MakeDateTime(2021, 12, 31, 23, 59, 59) + 0.6 * kSecond));
  ASSERT_EQ(clock.calls.size(), 1u);
  EXPECT_EQ(clock.calls[0].tv_sec, 1640995200);  // 2022-01-01 00:00:00 UTC
}

TEST(SetSystemClockTest, RefusalsLeaveTheClockAlone) {
  const testing::ScopedTimeZone zone("UTC0");
  {
    testing::RecordingClock clock;
    EXPECT_FALSE(SetSystemClock(AddHours(MakeDateTime(0, 0, 0, 0, 0, 0), 8)));  // year 100
    EXPECT_FALSE(SetSystemClock(MakeDateTime(1600, 12, 31, 23, 59, 59)));
    EXPECT_TRUE(clock.calls.empty());
  }
  {
    testing::RecordingClock refusing(EPERM);
    EXPECT_FALSE(SetSystemClock(MakeDateTime(2021, 7, 14, 4, 30, 15)));
    EXPECT_EQ(refusing.calls.size(), 1u);
  }
}

}  // namespace
}  // namespace timesync
