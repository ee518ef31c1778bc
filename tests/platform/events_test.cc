#include "platform/events.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace timesync {
namespace {

using platform::ScopedPendingEventsHook;

TEST(ProcessPendingEvents, ReturnsAtOnceWithoutAHook) { ProcessPendingEvents(); }

TEST(ProcessPendingEvents, InnermostHookCountsAndOuterComesBack) {
  std::string calls;
  {
    ScopedPendingEventsHook outer([&] { calls += 'o'; });
    ProcessPendingEvents();
    {
      ScopedPendingEventsHook inner([&] { calls += 'i'; });
      ProcessPendingEvents();
      ProcessPendingEvents();
    }
    ProcessPendingEvents();
  }
  ProcessPendingEvents();
  EXPECT_EQ(calls, "oiio");
}

TEST(ProcessPendingEvents, HookBelongsToItsThread) {
  int calls = 0;
  ScopedPendingEventsHook hook([&] { ++calls; });
  std::thread other([] { ProcessPendingEvents(); });
  other.join();
  EXPECT_EQ(calls, 0);
  ProcessPendingEvents();
  EXPECT_EQ(calls, 1);
}

TEST(ProcessPendingEvents, EmptyHookIsHarmless) {
  ScopedPendingEventsHook hook{std::function<void()>()};
  ProcessPendingEvents();
}

}  // namespace
}  // namespace timesync
