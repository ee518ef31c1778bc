// The thread-local hook behind ProcessPendingEvents, shared by every platform.
#include <utility>

#include "platform/events.h"

namespace timesync::platform {
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

}  // namespace timesync::platform
