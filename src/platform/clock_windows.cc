// The system clock on Windows: SetLocalTime with the fields as they are. The
// fields are checked first, so a value the clock cannot hold never reaches
// the system. A test hook receives the moment (UTC, since 1970) in place of
// the call.
#include <windows.h>

#include <utility>

#include "platform/clock.h"

namespace timesync::platform {
namespace {

thread_local ScopedClockSetHook* current_clock_hook = nullptr;

constexpr std::int32_t kLastClockYear = 30827;
// 100-nanosecond steps from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kUnixEpochIn100ns = 116444736000000000LL;

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

// The moment the local fields name, as the hook receives it.
bool ToTimespec(const SYSTEMTIME& local, timespec& when) {
  SYSTEMTIME utc;
  FILETIME file;
  if (!::TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) ||
      !::SystemTimeToFileTime(&utc, &file)) {
    return false;
  }
  const std::int64_t steps =
      (static_cast<std::int64_t>(file.dwHighDateTime) << 32 | file.dwLowDateTime) -
      kUnixEpochIn100ns;
  std::int64_t seconds = steps / 10000000;
  std::int64_t rest = steps % 10000000;
  if (rest < 0) {
    rest += 10000000;
    --seconds;
  }
  when.tv_sec = static_cast<decltype(when.tv_sec)>(seconds);
  when.tv_nsec = static_cast<long>(rest * 100);
  return true;
}

}  // namespace

ScopedClockSetHook::ScopedClockSetHook(std::function<int(const timespec&)> setClock)
    : setClock_(std::move(setClock)), previous_(current_clock_hook) {
  current_clock_hook = this;
}

ScopedClockSetHook::~ScopedClockSetHook() { current_clock_hook = previous_; }

bool SetLocalTime(const SystemTimeFields& localTime) {
  if (!FieldsInRange(localTime)) return false;
  SYSTEMTIME local = {};
  local.wYear = static_cast<WORD>(localTime.year);
  local.wMonth = static_cast<WORD>(localTime.month);
  local.wDay = static_cast<WORD>(localTime.day);
  local.wHour = static_cast<WORD>(localTime.hour);
  local.wMinute = static_cast<WORD>(localTime.minute);
  local.wSecond = static_cast<WORD>(localTime.second);
  local.wMilliseconds = static_cast<WORD>(localTime.milliseconds);
  if (current_clock_hook != nullptr && current_clock_hook->setClock_) {
    timespec when{};
    if (!ToTimespec(local, when)) return false;
    return current_clock_hook->setClock_(when) == 0;
  }
  return ::SetLocalTime(&local) != FALSE;
}

}  // namespace timesync::platform
