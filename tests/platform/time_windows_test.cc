// The date parser, the clock and the notice over the Windows services. Where
// Wine lacks what Windows has, the test says so and skips.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/http_date.h"
#include "platform/notice.h"

namespace timesync::platform {
namespace {

bool UnderWine() {
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST(InternetTimeToSystemTimeTest, ReadsTheDateFormsServersSend) {
  struct Case {
    const char* text;
    SystemTimeFields expected;
  };
  const Case cases[] = {
      {"Tue, 13 Jul 2021 20:30:15 GMT", {2021, 7, 2, 13, 20, 30, 15, 0}},
      {"Fri, 31 Dec 2021 23:59:59 GMT", {2021, 12, 5, 31, 23, 59, 59, 0}},
      {"Tuesday, 13-Jul-21 05:00:00 GMT", {2021, 7, 2, 13, 5, 0, 0, 0}},
      {"Tue, 13 Jul 2021 05:00:00 +0800", {2021, 7, 1, 12, 21, 0, 0, 0}},
      {" tue, 13 jul 2021 05:00:00 gmt", {2021, 7, 2, 13, 5, 0, 0, 0}},
      {"Sat, 01 Jan 2000 00:00:00 GMT;junk", {2000, 1, 6, 1, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    SystemTimeFields fields;
    EXPECT_TRUE(InternetTimeToSystemTime(c.text, fields));
    EXPECT_EQ(fields, c.expected);
  }
}

TEST(InternetTimeToSystemTimeTest, TextThatHoldsNoWholeDateLeavesTheFieldsAlone) {
  const SystemTimeFields untouched{1, 2, 3, 4, 5, 6, 7, 8};
  const std::string withZero("\0Tue, 13 Jul 2021 20:30:15 GMT", 30);
  for (std::string_view text :
       {std::string_view(), std::string_view("Fr"), std::string_view("13 Jul 2021"),
        std::string_view("20:30:15"), std::string_view("Thu, 01 Jan 1970 00:00:00 GMT"),
        std::string_view("Tue, 13 Foo 2021 20:30:15 GMT"), std::string_view(withZero)}) {
    SCOPED_TRACE(std::string(text));
    SystemTimeFields fields = untouched;
    EXPECT_FALSE(InternetTimeToSystemTime(text, fields));
    EXPECT_EQ(fields, untouched);
  }
}

TEST(InternetTimeToSystemTimeTest, ReadsAsctimeDates) {
  if (UnderWine()) GTEST_SKIP() << "Wine's InternetTimeToSystemTime cannot read asctime dates";
  SystemTimeFields fields;
  ASSERT_TRUE(InternetTimeToSystemTime("Tue Jul 13 05:00:00 2021", fields));
  EXPECT_EQ(fields, (SystemTimeFields{2021, 7, 2, 13, 5, 0, 0, 0}));
}

TEST(SetLocalTimeTest, HandsTheLocalMomentToTheClockAndRefusesImpossibleFields) {
  std::vector<timespec> seen;
  ScopedClockSetHook hook([&seen](const timespec& when) {
    seen.push_back(when);
    return 0;
  });
  EXPECT_TRUE(SetLocalTime({2021, 7, 0, 14, 4, 30, 15, 0}));
  EXPECT_TRUE(SetLocalTime({2021, 7, 0, 14, 5, 30, 16, 250}));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].tv_sec - seen[0].tv_sec, 3601);
  EXPECT_EQ(seen[1].tv_nsec, 250000000);

  for (const SystemTimeFields& impossible : {
           SystemTimeFields{100, 1, 0, 1, 0, 0, 0, 0},     // before the clock's first year
           SystemTimeFields{2021, 2, 0, 29, 0, 0, 0, 0},   // not a leap year
           SystemTimeFields{2021, 13, 0, 1, 0, 0, 0, 0},   // no such month
           SystemTimeFields{2021, 7, 0, 14, 24, 0, 0, 0},  // no such hour
       }) {
    EXPECT_FALSE(SetLocalTime(impossible));
  }
  EXPECT_EQ(seen.size(), 2u) << "refused before the clock is called";
}

TEST(SetLocalTimeTest, ARefusingClockIsReported) {
  ScopedClockSetHook hook([](const timespec&) { return EPERM; });
  EXPECT_FALSE(SetLocalTime({2021, 7, 0, 14, 4, 30, 15, 0}));
}

TEST(MessageBoxTimeoutTest, ReturnsWithinItsTimeOut) {
  const auto start = std::chrono::steady_clock::now();
  MessageBoxTimeout("\xCA\xB1\xBC\xE4", "\xD0\xA3\xCA\xB1\xCD\xEA\xB1\xCF",
                    1000);  // 时间, 校时完毕
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::milliseconds(5000));
  if (UnderWine()) {
    GTEST_SKIP() << "Wine's MessageBoxTimeoutA ignores its time-out (without a display it "
                    "returns at once), so the wait itself cannot be checked here";
  }
  EXPECT_GE(elapsed, std::chrono::milliseconds(900)) << "the box stays until its time-out";
}

}  // namespace
}  // namespace timesync::platform
