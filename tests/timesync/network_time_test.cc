// The Date header, its conversion, the clock decision and the notice.
#include "timesync/network_time.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "timesync/clock_guard.h"
#include "timesync/date_time.h"
#include "timesync/startup.h"

namespace timesync {
namespace {

using testing::RecordingClock;
using testing::ScopedTimeZone;

const DateTime kNoDate = AddHours(MakeDateTime(0, 0, 0, 0, 0, 0), 8);

Text Layout3(DateTime value) {
  return FormatDateTime(value, "-", ":", DateTimeLayout::DateAndTime);
}

TEST(FindDateHeaderTest, FindsTheHeaderByName) {
  const struct {
    const char* block;
    const char* value;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\nDate: Tue, 13 Jul 2021 20:30:15 GMT\r\n\r\n",
       "Tue, 13 Jul 2021 20:30:15 GMT"},
      {"HTTP/1.1 200 OK\r\ndate: Tue, 13 Jul 2021 20:30:15 GMT\r\n\r\n",
       "Tue, 13 Jul 2021 20:30:15 GMT"},
      {"HTTP/1.1 200 OK\r\nDATE:\t Tue  \t\r\n", "Tue"},
      {"HTTP/1.1 200 OK\r\nX-Date: Mon, 01 Jan 2001 00:00:00 GMT\r\nDate: Tue\r\n", "Tue"},
      {"HTTP/1.1 200 OK\r\nServer: says Date: Mon\r\nDate: Tue\r\n", "Tue"},
      {"HTTP/1.1 200 OK\r\nDates: Mon\r\nLast-Modified: Sun\r\nDate: Tue\r\n", "Tue"},
      {"HTTP/1.1 200 OK\r\nDate: first\r\nDate: second\r\n", "first"},
      {"HTTP/1.1 200 OK\nDate: Tue\n", "Tue"},
      {"HTTP/1.1 200 OK\r\nDate: Tue", "Tue"},
      {"HTTP/1.1 200 OK\r\nX-Date: Mon\r\n\r\n", ""},
      {"HTTP/1.1 200 OK\r\nDate:\r\n", ""},
      {"HTTP/1.1 200 OK\r\n\r\n", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindDateHeader(c.block), Text(c.value)) << c.block;
  }
}

TEST(HttpDateToDateTimeTest, AddsEightHours) {
  const struct {
    const char* date;
    const char* local;
  } cases[] = {
      {"Tue, 13 Jul 2021 20:30:15 GMT", "2021-07-14 04:30:15"},
      {"Tue, 13 Jul 2021 05:00:00 GMT", "2021-07-13 13:00:00"},
      {"Fri, 31 Dec 2021 20:30:15 GMT", "2022-01-01 04:30:15"},
      {"Wed, 28 Feb 2024 16:00:00 GMT", "2024-02-29 00:00:00"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Layout3(HttpDateToDateTime(c.date)), Text(c.local)) << c.date;
  }
  EXPECT_NEAR(HttpDateToDateTime("Tue, 13 Jul 2021 05:00:00 GMT"),
              MakeDateTime(2021, 7, 13, 13, 0, 0), 1e-9);
}

TEST(HttpDateToDateTimeTest, AnUnreadableDateGivesTheNoDateValue) {
  for (const char* date : {"", "Fr", "not a date", "13 Jul 2021"}) {
    EXPECT_EQ(HttpDateToDateTime(date), kNoDate) << date;
  }
  EXPECT_EQ(Layout3(kNoDate), Text("100-01-01 00:00:00"));
}

TEST(NetworkTimeFromHeadersTest, SetsTheClockOnlyFromADateThatWasRead) {
  const ScopedTimeZone zone("CST-8");
  const struct {
    const char* block;
    bool received, accepted, set;
    const char* time;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\nDate: Tue, 13 Jul 2021 20:30:15 GMT\r\n\r\n", true, true, true,
       "2021-07-14 04:30:15"},
      {"HTTP/1.1 200 OK\r\nX-Date: Mon, 01 Jan 2001 00:00:00 GMT\r\n"
       "Date: Tue, 13 Jul 2021 20:30:15 GMT\r\n\r\n",
       true, true, true, "2021-07-14 04:30:15"},
      {"HTTP/1.1 200 OK\r\nDate: Fr\r\n\r\n", true, false, false, "100-01-01 00:00:00"},
      {"HTTP/1.1 200 OK\r\nServer: x\r\n\r\n", false, false, false, "100-01-01 00:00:00"},
      {"", false, false, false, "100-01-01 00:00:00"},
  };
  for (const auto& c : cases) {
    RecordingClock clock;
    const NetworkTimeOutcome outcome = NetworkTimeFromHeaders(c.block, /*setClock=*/true);
    EXPECT_EQ(outcome.dateReceived, c.received) << c.block;
    EXPECT_EQ(outcome.dateAccepted, c.accepted) << c.block;
    EXPECT_EQ(outcome.clockSet, c.set) << c.block;
    EXPECT_EQ(clock.calls.size(), c.set ? 1u : 0u) << c.block;
    EXPECT_EQ(Layout3(outcome.time), Text(c.time)) << c.block;
  }
}

TEST(NetworkTimeFromHeadersTest, ClockCallGetsTheLocalTime) {
  const ScopedTimeZone zone("UTC0");  // the offset is 8 hours whatever the machine's zone
  RecordingClock clock;
  const NetworkTimeOutcome outcome =
      NetworkTimeFromHeaders("HTTP/1.1 200 OK\r\nDate: Tue, 13 Jul 2021 20:30:15 GMT\r\n");
  EXPECT_FALSE(outcome.clockSet);
  EXPECT_TRUE(clock.calls.empty());  // setClock omitted: the clock is left alone
  ASSERT_TRUE(
      NetworkTimeFromHeaders("HTTP/1.1 200 OK\r\nDate: Tue, 13 Jul 2021 20:30:15 GMT\r\n", true)
          .clockSet);
  ASSERT_EQ(clock.calls.size(), 1u);
  EXPECT_EQ(clock.calls[0].tv_sec, 1626237015);  // 2021-07-14 04:30:15 read as UTC
}

TEST(NetworkTimeFromHeadersTest, ARefusedClockIsReported) {
  const ScopedTimeZone zone("CST-8");
  RecordingClock refusing(EPERM);
  const NetworkTimeOutcome outcome =
      NetworkTimeFromHeaders("HTTP/1.1 200 OK\r\nDate: Tue, 13 Jul 2021 20:30:15 GMT\r\n", true);
  EXPECT_TRUE(outcome.dateAccepted);
  EXPECT_FALSE(outcome.clockSet);
  EXPECT_EQ(refusing.calls.size(), 1u);
}

TEST(NoticeForOutcomeTest, SaysWhatHappened) {
  const DateTime t = MakeDateTime(2021, 7, 14, 4, 30, 15);
  const struct {
    NetworkTimeOutcome outcome;
    const char* caption;
    const char* text;
  } cases[] = {
      {{t, true, true, true},
       "\xD0\xA3\xCA\xB1\xCD\xEA\xB1\xCF",  // 校时完毕
       // 时间校正完毕，当前时间：2021-07-14 04:30:15
       "\xCA\xB1\xBC\xE4\xD0\xA3\xD5\xFD\xCD\xEA\xB1\xCF\xA3\xAC\xB5\xB1\xC7\xB0\xCA\xB1\xBC\xE4"
       "\xA3\xBA"
       "2021-07-14 04:30:15"},
      {{kNoDate, false, false, false},
       "\xD0\xA3\xCA\xB1\xCA\xA7\xB0\xDC",  // 校时失败
       // 时间校正失败：未能获取网络时间
       "\xCA\xB1\xBC\xE4\xD0\xA3\xD5\xFD\xCA\xA7\xB0\xDC\xA3\xBA\xCE\xB4\xC4\xDC\xBB\xF1\xC8\xA1"
       "\xCD\xF8\xC2\xE7\xCA\xB1\xBC\xE4"},
      {{kNoDate, true, false, false},
       "\xD0\xA3\xCA\xB1\xCA\xA7\xB0\xDC",  // 校时失败
       // 时间校正失败：无法识别网络时间
       "\xCA\xB1\xBC\xE4\xD0\xA3\xD5\xFD\xCA\xA7\xB0\xDC\xA3\xBA\xCE\xDE\xB7\xA8\xCA\xB6\xB1\xF0"
       "\xCD\xF8\xC2\xE7\xCA\xB1\xBC\xE4"},
      {{t, true, true, false},
       "\xD0\xA3\xCA\xB1\xCA\xA7\xB0\xDC",  // 校时失败
       // 时间校正失败：系统拒绝修改时间，网络时间：2021-07-14 04:30:15
       "\xCA\xB1\xBC\xE4\xD0\xA3\xD5\xFD\xCA\xA7\xB0\xDC\xA3\xBA\xCF\xB5\xCD\xB3\xBE\xDC\xBE\xF8"
       "\xD0\xDE\xB8\xC4\xCA\xB1\xBC\xE4\xA3\xAC\xCD\xF8\xC2\xE7\xCA\xB1\xBC\xE4\xA3\xBA"
       "2021-07-14 04:30:15"},
  };
  for (const auto& c : cases) {
    const Notice notice = NoticeForOutcome(c.outcome);
    EXPECT_EQ(notice.caption, Text(c.caption));
    EXPECT_EQ(notice.text, Text(c.text));
  }
}

}  // namespace
}  // namespace timesync
