// The system clock on Windows: SetLocalTime with the fields as they are. The
// fields are checked first, so a value the clock cannot hold never reaches
// the system. A test hook receives the moment (UTC, since 1970) in place of
// the call.
#include <windows.h>

#include <utility>

#include "platform/clock.h"

namespace timesync::platform {
namespace {

// 100-nanosecond steps from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kUnixEpochIn100ns = 116444736000000000LL;

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

bool SetLocalTime(const SystemTimeFields& localTime) {
  if (!ClockAcceptsFields(localTime)) return false;
  SYSTEMTIME local = {};
  local.wYear = static_cast<WORD>(localTime.year);
  local.wMonth = static_cast<WORD>(localTime.month);
  local.wDay = static_cast<WORD>(localTime.day);
  local.wHour = static_cast<WORD>(localTime.hour);
  local.wMinute = static_cast<WORD>(localTime.minute);
  local.wSecond = static_cast<WORD>(localTime.second);
  local.wMilliseconds = static_cast<WORD>(localTime.milliseconds);
  if (const auto* hook = CurrentClockSetHook()) {
    timespec when{};
    if (!ToTimespec(local, when)) return false;
    return (*hook)(when) == 0;
  }
  return ::SetLocalTime(&local) != FALSE;
}

}  // namespace timesync::platform
