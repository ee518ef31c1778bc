#include "platform/fatal.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <exception>
#include <limits>
#include <new>
#include <string>

#include "support/sanitizer.h"

namespace timesync::platform {
namespace {

using testing::ExitedWithCode;

TEST(FatalErrorDeathTest, ReportsOnStderrAndExits255) {
  EXPECT_EXIT(FatalError("no such function"), ExitedWithCode(kFatalExitStatus),
              ": fatal error: no such function");
}

TEST(OutOfMemoryDeathTest, ImpossibleAllocationExits255) {
#if TIMESYNC_TEST_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer reports failed allocations itself";
#else
  EXPECT_EXIT(
      {
        InstallOutOfMemoryHandler();
        void* volatile block = ::operator new (std::size_t{1} << 62);
        ::operator delete(block);
      },
      ExitedWithCode(kFatalExitStatus), "fatal error: out of memory");
#endif
}

TEST(OutOfMemoryDeathTest, NewHandlerExits255) {
  EXPECT_EXIT(
      {
        InstallOutOfMemoryHandler();
        std::get_new_handler()();
      },
      ExitedWithCode(kFatalExitStatus), "fatal error: out of memory");
}

// The allocator refuses sizes beyond PTRDIFF_MAX by throwing, without asking
// the new-handler; such an exception escaping still ends as out of memory.
// An exception that leaves the program is caught by the runtime, which then
// calls std::terminate with it active; this does the same. (Letting it cross
// a noexcept function instead depends on the optimiser: an optimised build
// may call std::terminate there with no exception active.)
void ThrowFromAllocatorUncaught() {
  try {
    volatile std::size_t size =
        static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max());
    const std::string huge(size, 'x');
    (void)huge;
  } catch (...) {
    std::terminate();
  }
}

TEST(OutOfMemoryDeathTest, UncaughtAllocationExceptionExits255) {
  EXPECT_EXIT(
      {
        InstallOutOfMemoryHandler();
        ThrowFromAllocatorUncaught();
      },
      ExitedWithCode(kFatalExitStatus), "fatal error: out of memory");
}

TEST(OutOfMemoryDeathTest, OtherUncaughtExceptionsStillAbort) {
  EXPECT_DEATH(
      {
        InstallOutOfMemoryHandler();
        []() noexcept { std::string().at(1); }();
      },
      "out_of_range");
}

}  // namespace
}  // namespace timesync::platform
