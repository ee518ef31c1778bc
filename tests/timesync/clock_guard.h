// Keeps the real clock out of reach of the test program that links this file:
// at start-up the process drops CAP_SYS_TIME from its bounding, inheritable,
// permitted and effective sets, so even a clock call that slipped past a hook
// is refused by the kernel. Tests still install a ScopedClockSetHook to see
// what would have been set.
#ifndef TIMESYNC_TESTS_TIMESYNC_CLOCK_GUARD_H_
#define TIMESYNC_TESTS_TIMESYNC_CLOCK_GUARD_H_

#include <time.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace timesync::testing {

// True once CAP_SYS_TIME is out of this process's effective set.
bool ClockRightDropped();

// Records what SetLocalTime would have set, and answers with `result` (0 or
// an errno value).
class RecordingClock {
 public:
  explicit RecordingClock(int result = 0)
      : hook_([this, result](const timespec& when) {
          calls.push_back(when);
          return result;
        }) {}
  std::vector<timespec> calls;

 private:
  platform::ScopedClockSetHook hook_;
};

// Sets TZ for the scope (for mktime) and puts the old value back.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    const char* old = std::getenv("TZ");
    had_old_ = old != nullptr;
    if (had_old_) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (had_old_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  bool had_old_ = false;
  std::string old_;
};

}  // namespace timesync::testing

#endif  // TIMESYNC_TESTS_TIMESYNC_CLOCK_GUARD_H_
