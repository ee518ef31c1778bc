#include "platform/events.h"

namespace timesync {

void ProcessPendingEvents() {
  // No message queue on Linux: nothing waits to be dispatched.
  platform::RunPendingEventsHook();
}

}  // namespace timesync
