#include <time.h>

#include <cerrno>

#include "platform/clock.h"

namespace timesync::platform {

bool SetLocalTime(const SystemTimeFields& localTime) {
  if (!ClockAcceptsFields(localTime)) return false;

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
  if (const auto* hook = CurrentClockSetHook()) return (*hook)(when) == 0;
  return clock_settime(CLOCK_REALTIME, &when) == 0;
}

}  // namespace timesync::platform
