#include "platform/events.h"

#include <utility>

namespace timesync {
namespace platform {
namespace {
thread_local ScopedPendingEventsHook* current_hook = nullptr;
}  // namespace

ScopedPendingEventsHook::ScopedPendingEventsHook(std::function<void()> hook)
    : hook_(std::move(hook)), previous_(current_hook) {
  current_hook = this;
}

ScopedPendingEventsHook::~ScopedPendingEventsHook() { current_hook = previous_; }

void RunPendingEventsHook() {
  if (current_hook != nullptr && current_hook->hook_) current_hook->hook_();
}
}  // namespace platform

void ProcessPendingEvents() {
  // No message queue on Linux: nothing waits to be dispatched.
  platform::RunPendingEventsHook();
}

}  // namespace timesync
