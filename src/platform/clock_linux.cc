#include <time.h>

#include <cerrno>
#include <utility>

#include "platform/clock.h"

namespace timesync::platform {
namespace {

thread_local ScopedClockSetHook* current_clock_hook = nullptr;

constexpr std::int32_t kLastClockYear = 30827;

bool IsLeapYear(std::int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

std::int32_t DaysInMonth(std::int32_t year, std::int32_t month) {
  constexpr std::int32_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool FieldsInRange(const SystemTimeFields& t) {
  if (t.year < kFirstClockYear || t.year > kLastClockYear) return false;
  if (t.month < 1 || t.month > 12) return false;
  if (t.day < 1 || t.day > DaysInMonth(t.year, t.month)) return false;
  return t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0 &&
         t.second <= 59 && t.milliseconds >= 0 && t.milliseconds <= 999;
}

}  // namespace

ScopedClockSetHook::ScopedClockSetHook(std::function<int(const timespec&)> setClock)
    : setClock_(std::move(setClock)), previous_(current_clock_hook) {
  current_clock_hook = this;
}

ScopedClockSetHook::~ScopedClockSetHook() { current_clock_hook = previous_; }

bool SetLocalTime(const SystemTimeFields& localTime) {
  if (!FieldsInRange(localTime)) return false;

  tm local{};
  local.tm_year = localTime.year - 1900;
  local.tm_mon = localTime.month - 1;
  local.tm_mday = localTime.day;
  local.tm_hour = localTime.hour;
  local.tm_min = localTime.minute;
  local.tm_sec = localTime.second;
  local.tm_isdst = -1;  // the zone's rules decide
  local.tm_wday = -1;   // left alone when mktime fails (-1 is also a valid time)
  tzset();
  const time_t seconds = mktime(&local);
  if (seconds == static_cast<time_t>(-1) && local.tm_wday == -1) return false;

  timespec when{};
  when.tv_sec = seconds;
  when.tv_nsec = static_cast<long>(localTime.milliseconds) * 1000000L;
  if (current_clock_hook != nullptr && current_clock_hook->setClock_) {
    return current_clock_hook->setClock_(when) == 0;
  }
  return clock_settime(CLOCK_REALTIME, &when) == 0;
}

}  // namespace timesync::platform
