// The clock, the HTTP-date parser and the notice.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <langinfo.h>
#include <locale.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>
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

// Sets LC_ALL, LC_CTYPE and LANG (null: unset) and puts them back at the end.
class ScopedLocaleVariables {
 public:
  ScopedLocaleVariables(const char* all, const char* characters, const char* lang) {
    for (int i = 0; i < 3; ++i) {
      const char* old = std::getenv(kNames[i]);
      saved_[i] = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
    }
    Set(all, characters, lang);
  }
  ~ScopedLocaleVariables() {
    for (int i = 0; i < 3; ++i) SetOne(kNames[i], saved_[i] ? saved_[i]->c_str() : nullptr);
  }
  ScopedLocaleVariables(const ScopedLocaleVariables&) = delete;
  ScopedLocaleVariables& operator=(const ScopedLocaleVariables&) = delete;

  void Set(const char* all, const char* characters, const char* lang) {
    SetOne(kNames[0], all);
    SetOne(kNames[1], characters);
    SetOne(kNames[2], lang);
  }

 private:
  static void SetOne(const char* name, const char* value) {
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  static constexpr const char* kNames[3] = {"LC_ALL", "LC_CTYPE", "LANG"};
  std::optional<std::string> saved_[3];
};

TEST_F(NoticeTest, ReadsTheCodesetFromTheEnvironment) {
  const struct {
    const char* all;
    const char* characters;
    const char* lang;
    const char* codeset;
  } cases[] = {
      {"C.UTF-8", nullptr, nullptr, "UTF-8"},
      {"C", nullptr, nullptr, "ANSI_X3.4-1968"},
      {"POSIX", nullptr, nullptr, "ANSI_X3.4-1968"},
      {nullptr, nullptr, nullptr, "ANSI_X3.4-1968"},
      {"zz_ZZ.GBK", nullptr, nullptr, "GBK"},  // named but not installed: the name tells
      {"zz_ZZ.GB18030@stroke", nullptr, nullptr, "GB18030"},
      {"zz_ZZ.utf8", nullptr, nullptr, "UTF-8"},
      {"zz_ZZ", nullptr, nullptr, "ANSI_X3.4-1968"},  // not installed, no codeset named
      // LC_ALL before LC_CTYPE before LANG; an empty one counts as unset.
      {"", "zz_ZZ.GBK", "C.UTF-8", "GBK"},
      {nullptr, nullptr, "zz_ZZ.GB2312", "GB2312"},
      {"C", "zz_ZZ.GBK", nullptr, "ANSI_X3.4-1968"},
      {nullptr, "C.UTF-8", "zz_ZZ.GBK", "UTF-8"},
  };
  ScopedLocaleVariables variables(nullptr, nullptr, nullptr);
  for (const auto& c : cases) {
    variables.Set(c.all, c.characters, c.lang);
    EXPECT_EQ(LocaleCodeset(), c.codeset)
        << (c.all ? c.all : "-") << " " << (c.characters ? c.characters : "-") << " "
        << (c.lang ? c.lang : "-");
  }
}

// For the locales that are installed, the answer is the C library's own.
TEST_F(NoticeTest, AgreesWithTheLoadedLocale) {
  ScopedLocaleVariables variables(nullptr, nullptr, nullptr);
  for (const char* name : {"C", "POSIX", "C.UTF-8", "C.utf8"}) {
    const locale_t loaded = newlocale(LC_CTYPE_MASK, name, nullptr);
    if (loaded == nullptr) continue;  // not installed here
    const std::string expected = nl_langinfo_l(CODESET, loaded);
    freelocale(loaded);
    variables.Set(name, nullptr, nullptr);
    EXPECT_EQ(LocaleCodeset(), expected) << name;
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
