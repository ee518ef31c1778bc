// What both platforms share of the clock: the field check made before any
// call, and the test hook that takes the place of the clock call.
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

}  // namespace

bool ClockAcceptsFields(const SystemTimeFields& t) {
  if (t.year < kFirstClockYear || t.year > kLastClockYear) return false;
  if (t.month < 1 || t.month > 12) return false;
  if (t.day < 1 || t.day > DaysInMonth(t.year, t.month)) return false;
  return t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0 &&
         t.second <= 59 && t.milliseconds >= 0 && t.milliseconds <= 999;
}

ScopedClockSetHook::ScopedClockSetHook(std::function<int(const timespec&)> setClock)
    : setClock_(std::move(setClock)), previous_(current_clock_hook) {
  current_clock_hook = this;
}

ScopedClockSetHook::~ScopedClockSetHook() { current_clock_hook = previous_; }

const std::function<int(const timespec&)>* CurrentClockSetHook() {
  if (current_clock_hook == nullptr || !current_clock_hook->setClock_) return nullptr;
  return &current_clock_hook->setClock_;
}

}  // namespace timesync::platform
