// The clock, the HTTP-date parser and the notice.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>

#include "platform/clock.h"
#include "platform/http_date.h"
#include "platform/notice.h"
#include "timesync/clock_guard.h"

namespace timesync::platform {
namespace {

using timesync::testing::RecordingClock;
using timesync::testing::ScopedTimeZone;

SystemTimeFields Fields(int year, int month, int day, int hour, int minute, int second,
                        int milliseconds = 0) {
  SystemTimeFields t;
  t.year = year;
  t.month = month;
  t.day = day;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  t.milliseconds = milliseconds;
  return t;
}

TEST(SetLocalTimeTest, ReadsFieldsInTheMachinesTimeZone) {
  const struct {
    const char* zone;
    SystemTimeFields local;
    long long seconds;
    long nanoseconds;
  } cases[] = {
      {"UTC0", Fields(2021, 7, 14, 4, 30, 15), 1626237015, 0},
      {"CST-8", Fields(2021, 7, 14, 4, 30, 15), 1626208215, 0},
      {"EST5EDT,M3.2.0,M11.1.0", Fields(2021, 7, 14, 4, 30, 15), 1626251415, 0},  // summer time
      {"UTC0", Fields(2022, 1, 1, 0, 0, 0, 250), 1640995200, 250000000},
      {"UTC0", Fields(2024, 2, 29, 23, 59, 59), 1709251199, 0},
  };
  for (const auto& c : cases) {
    const ScopedTimeZone zone(c.zone);
    RecordingClock clock;
    EXPECT_TRUE(SetLocalTime(c.local)) << c.zone;
    ASSERT_EQ(clock.calls.size(), 1u) << c.zone;
    EXPECT_EQ(clock.calls[0].tv_sec, c.seconds) << c.zone;
    EXPECT_EQ(clock.calls[0].tv_nsec, c.nanoseconds) << c.zone;
  }
}

TEST(SetLocalTimeTest, RefusesBadFieldsBeforeAnyCall) {
  const SystemTimeFields refused[] = {
      Fields(100, 1, 1, 0, 0, 0),           Fields(1600, 12, 31, 23, 59, 59),
      Fields(30828, 1, 1, 0, 0, 0),         Fields(2021, 0, 1, 0, 0, 0),
      Fields(2021, 13, 1, 0, 0, 0),         Fields(2021, 4, 31, 0, 0, 0),
      Fields(2021, 2, 29, 0, 0, 0),         Fields(2021, 7, 0, 0, 0, 0),
      Fields(2021, 7, 14, 24, 0, 0),        Fields(2021, 7, 14, -1, 0, 0),
      Fields(2021, 7, 14, 4, 60, 0),        Fields(2021, 7, 14, 4, 30, 60),
      Fields(2021, 7, 14, 4, 30, 15, 1000),
  };
  const ScopedTimeZone zone("UTC0");
  RecordingClock clock;
  for (const SystemTimeFields& t : refused) {
    EXPECT_FALSE(SetLocalTime(t)) << t.year << "-" << t.month << "-" << t.day << " " << t.hour
                                  << ":" << t.minute << ":" << t.second;
  }
  EXPECT_TRUE(clock.calls.empty());
}

TEST(SetLocalTimeTest, ReportsTheSystemsRefusal) {
  const ScopedTimeZone zone("UTC0");
  for (const int error : {EPERM, EINVAL}) {
    RecordingClock clock(error);
    EXPECT_FALSE(SetLocalTime(Fields(2021, 7, 14, 4, 30, 15)));
    EXPECT_EQ(clock.calls.size(), 1u);
  }
}

// Without a hook the call reaches the kernel, which refuses: this process
// gave up the right to set the clock when it started.
TEST(SetLocalTimeTest, WithoutTheRightTheRealClockRefuses) {
  if (!timesync::testing::ClockRightDropped()) GTEST_SKIP() << "CAP_SYS_TIME could not be dropped";
  const ScopedTimeZone zone("UTC0");
  const auto before = std::chrono::system_clock::now();
  EXPECT_FALSE(SetLocalTime(Fields(2021, 7, 14, 4, 30, 15)));
  EXPECT_GT(std::chrono::system_clock::now(), before - std::chrono::hours(1));
}

TEST(InternetTimeToSystemTimeTest, ReadsTheThreeHttpForms) {
  const struct {
    const char* text;
    SystemTimeFields expected;
  } cases[] = {
      {"Tue, 13 Jul 2021 05:00:00 GMT", Fields(2021, 7, 13, 5, 0, 0)},
      {"Tuesday, 13-Jul-21 05:00:00 GMT", Fields(2021, 7, 13, 5, 0, 0)},
      {"Tue Jul 13 05:00:00 2021", Fields(2021, 7, 13, 5, 0, 0)},
      {"Fri, 31 Dec 2021 20:30:15 GMT", Fields(2021, 12, 31, 20, 30, 15)},
      {"tue, 13 jul 2021 20:30:15 gmt", Fields(2021, 7, 13, 20, 30, 15)},
      {"Tue, 13 Jul 2021 20:30:15 +0800", Fields(2021, 7, 13, 12, 30, 15)},
      {"Thu, 29 Feb 2024 23:59:59 GMT", Fields(2024, 2, 29, 23, 59, 59)},
  };
  for (const auto& c : cases) {
    SystemTimeFields t;
    ASSERT_TRUE(InternetTimeToSystemTime(c.text, t)) << c.text;
    SystemTimeFields expected = c.expected;
    expected.dayOfWeek = t.dayOfWeek;
    EXPECT_EQ(t, expected) << c.text;
  }
  SystemTimeFields t;
  ASSERT_TRUE(InternetTimeToSystemTime("Tue, 13 Jul 2021 05:00:00 GMT", t));
  EXPECT_EQ(t.dayOfWeek, 2);
}

TEST(InternetTimeToSystemTimeTest, LeavesTheFieldsAloneWhenNoWholeDateIsRead) {
  const char* const rejected[] = {
      "",
      "Fr",
      "garbage",
      "13 Jul 2021",                    // no time of day
      "05:00:00",                       // no date
      "Tue, 32 Jul 2021 05:00:00 GMT",  // no such day
      "Tue, 13 Jul 2021 25:00:00 GMT",  // no such hour
      "Wed, 31 Dec 1969 23:59:59 GMT",  // before the clock's epoch
  };
  for (const char* text : rejected) {
    SystemTimeFields t = Fields(7, 7, 7, 7, 7, 7, 7);
    t.dayOfWeek = 7;
    SystemTimeFields untouched = t;
    EXPECT_FALSE(InternetTimeToSystemTime(text, t)) << text;
    EXPECT_EQ(t, untouched) << text;
  }
  SystemTimeFields t;
  using namespace std::string_view_literals;
  EXPECT_FALSE(InternetTimeToSystemTime("\0Tue, 13 Jul 2021 05:00:00 GMT"sv, t));
}

class NoticeTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(pipe2(fds_, O_CLOEXEC), 0); }
  void TearDown() override {
    for (int& fd : fds_) {
      if (fd >= 0) close(fd);
      fd = -1;
    }
  }
  std::string ReadAll() {
    close(fds_[1]);
    fds_[1] = -1;
    std::string all;
    char buffer[512];
    for (int i = 0; i < 100; ++i) {
      const ssize_t n = read(fds_[0], buffer, sizeof buffer);
      if (n <= 0) break;
      all.append(buffer, static_cast<std::size_t>(n));
    }
    return all;
  }
  int fds_[2] = {-1, -1};
};

// 校时完毕 and 时间 in code page 936, UTF-8 and as the bytes a GBK terminal shows.
constexpr const char* kCaption936 = "\xD0\xA3\xCA\xB1\xCD\xEA\xB1\xCF";
constexpr const char* kText936 = "\xCA\xB1\xBC\xE4 04:30:15";
constexpr const char* kCaptionUtf8 = "\xE6\xA0\xA1\xE6\x97\xB6\xE5\xAE\x8C\xE6\xAF\x95";
constexpr const char* kTextUtf8 = "\xE6\x97\xB6\xE9\x97\xB4 04:30:15";

TEST_F(NoticeTest, EncodesForTheLocale) {
  const std::string utf8 = std::string(kCaptionUtf8) + "\n" + kTextUtf8 + "\n";
  const std::string raw = std::string(kCaption936) + "\n" + kText936 + "\n";
  const struct {
    const char* codeset;
    const std::string* expected;
  } cases[] = {
      {"UTF-8", &utf8}, {"ANSI_X3.4-1968", &utf8}, {"GB18030", &raw},
      {"GBK", &raw},    {"gb2312", &raw},          {"EUC-CN", &raw},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NoticeBytes(kText936, kCaption936, c.codeset), *c.expected) << c.codeset;
  }
}

TEST_F(NoticeTest, ReadsTheCodesetFromTheEnvironment) {
  const char* old = std::getenv("LC_ALL");
  const std::string saved = old != nullptr ? old : "";
  const struct {
    const char* locale;
    const char* codeset;
  } cases[] = {
      {"C.UTF-8", "UTF-8"},
      {"C", "ANSI_X3.4-1968"},
      {"zz_ZZ.GBK", "GBK"},  // named but not installed: the name tells
      {"zz_ZZ.GB18030@stroke", "GB18030"},
  };
  for (const auto& c : cases) {
    setenv("LC_ALL", c.locale, 1);
    EXPECT_EQ(LocaleCodeset(), c.codeset) << c.locale;
  }
  if (old != nullptr) {
    setenv("LC_ALL", saved.c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
}

TEST_F(NoticeTest, PrintsCaptionThenText) {
  PrintNotice(fds_[1], kText936, kCaption936, 1000);
  EXPECT_EQ(ReadAll(), NoticeBytes(kText936, kCaption936, LocaleCodeset()));
}

TEST_F(NoticeTest, NeverWaitsPastItsTimeOutOnAFullOutput) {
  ASSERT_EQ(fcntl(fds_[1], F_SETFL, O_NONBLOCK), 0);
  const std::string block(4096, 'x');
  for (int i = 0; i < 1024 && write(fds_[1], block.data(), block.size()) > 0; ++i) {
  }
  ASSERT_EQ(fcntl(fds_[1], F_SETFL, 0), 0);  // blocking again, as a terminal would be
  const auto start = std::chrono::steady_clock::now();
  PrintNotice(fds_[1], kText936, kCaption936, 100);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

TEST_F(NoticeTest, AClosedOutputIsNoError) {
  close(fds_[0]);
  fds_[0] = -1;
  PrintNotice(fds_[1], kText936, kCaption936, 100);  // EPIPE, and no SIGPIPE death
  PrintNotice(999, kText936, kCaption936, 100);      // not an open descriptor
  SUCCEED();
}

}  // namespace
}  // namespace timesync::platform
