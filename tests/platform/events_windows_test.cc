#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "platform/events.h"

namespace timesync {
namespace {

constexpr UINT kPing = WM_APP + 1;
constexpr UINT kRepost = WM_APP + 2;

// A message-only window that records what reaches it; kRepost posts itself again.
class RecordingWindow {
 public:
  RecordingWindow() {
    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = &RecordingWindow::Procedure;
    window_class.hInstance = ::GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"TimesyncEventsTestWindow";
    ::RegisterClassW(&window_class);
    window_ = ::CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, window_class.hInstance, nullptr);
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~RecordingWindow() {
    ::DestroyWindow(window_);
    ::UnregisterClassW(L"TimesyncEventsTestWindow", ::GetModuleHandleW(nullptr));
  }
  RecordingWindow(const RecordingWindow&) = delete;
  RecordingWindow& operator=(const RecordingWindow&) = delete;

  HWND handle() const { return window_; }
  const std::vector<WPARAM>& received() const { return received_; }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    auto* self = reinterpret_cast<RecordingWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr && (message == kPing || message == kRepost)) {
      self->received_.push_back(w);
      if (message == kRepost) ::PostMessageW(window, kRepost, w + 1, 0);
      return 0;
    }
    return ::DefWindowProcW(window, message, w, l);
  }

  HWND window_ = nullptr;
  std::vector<WPARAM> received_;
};

void DrainQueue() {
  MSG message;
  for (int i = 0; i < 100000 && ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
  }
}

TEST(ProcessPendingEventsTest, DispatchesWaitingMessagesInOrderAndReturns) {
  RecordingWindow window;
  ASSERT_NE(window.handle(), nullptr);
  for (WPARAM i = 1; i <= 3; ++i) ASSERT_TRUE(::PostMessageW(window.handle(), kPing, i, 0));
  ProcessPendingEvents();
  EXPECT_EQ(window.received(), (std::vector<WPARAM>{1, 2, 3}));
  ProcessPendingEvents();  // nothing left: returns at once
  EXPECT_EQ(window.received().size(), 3u);
}

TEST(ProcessPendingEventsTest, QuitMessageStaysQueuedForTheMessageLoop) {
  RecordingWindow window;
  ASSERT_TRUE(::PostMessageW(window.handle(), kPing, 7, 0));
  ::PostQuitMessage(42);
  ProcessPendingEvents();
  EXPECT_EQ(window.received(), (std::vector<WPARAM>{7}));
  MSG message;
  ASSERT_TRUE(::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(message.wParam, 42u);
}

TEST(ProcessPendingEventsTest, AHandlerThatKeepsPostingDoesNotHoldTheCaller) {
  RecordingWindow window;
  ASSERT_TRUE(::PostMessageW(window.handle(), kRepost, 0, 0));
  ProcessPendingEvents();
  EXPECT_GT(window.received().size(), 1u);
  EXPECT_LT(window.received().size(), 100000u);
  DrainQueue();
}

TEST(ProcessPendingEventsTest, RunsTheThreadsHookOncePerCall) {
  int calls = 0;
  platform::ScopedPendingEventsHook hook([&calls] { ++calls; });
  ProcessPendingEvents();
  ProcessPendingEvents();
  EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace timesync
