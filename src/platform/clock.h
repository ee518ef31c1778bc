// The system clock, set from local wall-clock fields.
//
// SystemTimeFields mirrors the platform's date-and-time record: eight signed
// 32-bit fields in the order year, month, day of week, day, hour, minute,
// second, milliseconds. The HTTP-date parser fills one; SetLocalTime reads one.
//
//   SystemTimeFields t{.year = 2021, .month = 7, .day = 14, .hour = 4, .minute = 30, .second = 15};
//   if (!SetLocalTime(t)) { /* no right to set the time, or a value out of range */ }
//
// Tests never touch the real clock: a ScopedClockSetHook takes the place of
// the clock_settime call on its thread.
#ifndef TIMESYNC_PLATFORM_CLOCK_H_
#define TIMESYNC_PLATFORM_CLOCK_H_

#include <time.h>

#include <cstdint>
#include <functional>

namespace timesync::platform {

struct SystemTimeFields {
  std::int32_t year = 0;
  std::int32_t month = 0;      // 1..12
  std::int32_t dayOfWeek = 0;  // 0 Sunday .. 6 Saturday; not read by SetLocalTime
  std::int32_t day = 0;        // 1..31
  std::int32_t hour = 0;       // 0..23
  std::int32_t minute = 0;     // 0..59
  std::int32_t second = 0;     // 0..59
  std::int32_t milliseconds = 0;

  friend bool operator==(const SystemTimeFields&, const SystemTimeFields&) = default;
};

// The first year the clock accepts.
inline constexpr std::int32_t kFirstClockYear = 1601;

// Sets the system clock (CLOCK_REALTIME) to `localTime`, read as wall-clock
// time in the machine's time zone (as mktime reads it; in a repeated hour the
// zone's own choice applies). Returns true when the clock was set. Returns
// false and changes nothing when a field is out of range (a year before 1601
// or after 30827, a month, day, hour, minute, second or millisecond outside
// its range, a day past the month's end; all checked before any call), when
// the local time cannot be represented, or when the system refuses (EPERM
// without CAP_SYS_TIME, EINVAL).
bool SetLocalTime(const SystemTimeFields& localTime);

// True when every field lies in the range SetLocalTime accepts (see above).
bool ClockAcceptsFields(const SystemTimeFields& localTime);

// While alive, SetLocalTime on this thread calls `setClock` in place of
// clock_settime(CLOCK_REALTIME, ...): it receives the time the clock would be
// set to and returns 0 for success or an errno value for a refusal. Hooks
// nest; the previous one is put back on destruction.
class ScopedClockSetHook {
 public:
  explicit ScopedClockSetHook(std::function<int(const timespec&)> setClock);
  ~ScopedClockSetHook();
  ScopedClockSetHook(const ScopedClockSetHook&) = delete;
  ScopedClockSetHook& operator=(const ScopedClockSetHook&) = delete;

 private:
  std::function<int(const timespec&)> setClock_;
  ScopedClockSetHook* previous_;
  friend const std::function<int(const timespec&)>* CurrentClockSetHook();
};

// The stand-in of the innermost hook alive on this thread, or null.
const std::function<int(const timespec&)>* CurrentClockSetHook();

}  // namespace timesync::platform

#endif  // TIMESYNC_PLATFORM_CLOCK_H_
