// The calling thread's pending window messages.
//
// Linux has no window-message queue, so ProcessPendingEvents has nothing to
// dispatch and returns at once. The engine still calls it at its fixed points
// (once per stage reached, once per response header line, once after the
// charset step); a thread-local hook lets tests observe those calls.
#ifndef TIMESYNC_PLATFORM_EVENTS_H_
#define TIMESYNC_PLATFORM_EVENTS_H_

#include <functional>

namespace timesync {

// Dispatches the messages already waiting for the calling thread; never waits.
void ProcessPendingEvents();

namespace platform {

void RunPendingEventsHook();

// While alive, every ProcessPendingEvents call on this thread also runs
// `hook`. Hooks nest: the innermost one runs, and the previous one is put
// back on destruction.
class ScopedPendingEventsHook {
 public:
  explicit ScopedPendingEventsHook(std::function<void()> hook);
  ~ScopedPendingEventsHook();
  ScopedPendingEventsHook(const ScopedPendingEventsHook&) = delete;
  ScopedPendingEventsHook& operator=(const ScopedPendingEventsHook&) = delete;

 private:
  friend void RunPendingEventsHook();
  std::function<void()> hook_;
  ScopedPendingEventsHook* previous_;
};

}  // namespace platform
}  // namespace timesync

#endif  // TIMESYNC_PLATFORM_EVENTS_H_
