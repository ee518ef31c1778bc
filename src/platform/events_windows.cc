// The calling thread's window messages: what is waiting is translated and
// dispatched, and the call returns without waiting for more. A quit message
// ends the pass and is put back, so the thread's own message loop still sees it.
#include <windows.h>

#include "platform/events.h"

namespace timesync {
namespace {
// Handlers that keep posting to themselves would otherwise hold the caller forever.
constexpr int kMaxMessagesPerPass = 10000;
}  // namespace

void ProcessPendingEvents() {
  MSG message;
  for (int i = 0; i < kMaxMessagesPerPass; ++i) {
    if (!::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) break;
    if (message.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  platform::RunPendingEventsHook();
}

}  // namespace timesync
