#include "platform/late_binding_windows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "platform/fatal.h"

namespace timesync::platform {
namespace {

TEST(LateBindingTest, TableHoldsTheTwentyThreeEntriesInOrder) {
  ASSERT_EQ(kLateBoundFunctionCount, 23);
  const std::pair<LateBoundFunction, LateBoundEntry> expected[] = {
      {kMessageBoxTimeoutA, {"user32.dll", "MessageBoxTimeoutA"}},
      {kWinHttpCheckPlatform, {"Winhttp.dll", "WinHttpCheckPlatform"}},
      {kWinHttpQueryHeaders, {"Winhttp.dll", "WinHttpQueryHeaders"}},
      {kCoInitialize, {"ole32.dll", "CoInitialize"}},
      {kStrlen, {"msvcrt.dll", "strlen"}},
      {kMultiByteToWideChar, {"Kernel32.dll", "MultiByteToWideChar"}},
      {kLstrlenW, {"kernel32.dll", "lstrlenW"}},
      {kInternetTimeToSystemTime, {"wininet.dll", "InternetTimeToSystemTime"}},
  };
  for (const auto& [function, entry] : expected) {
    SCOPED_TRACE(entry.function);
    EXPECT_STREQ(LateBoundEntryOf(function).library, entry.library);
    EXPECT_STREQ(LateBoundEntryOf(function).function, entry.function);
  }
  std::set<std::string> names;
  for (int i = 0; i < kLateBoundFunctionCount; ++i) {
    names.insert(LateBoundEntryOf(static_cast<LateBoundFunction>(i)).function);
  }
  EXPECT_EQ(names.size(), 23u) << "every function appears once";
}

TEST(LateBindingTest, EveryEntryBindsToTheSystemsExportAndIsCached) {
  for (int i = 0; i < kLateBoundFunctionCount; ++i) {
    const auto function = static_cast<LateBoundFunction>(i);
    const LateBoundEntry& entry = LateBoundEntryOf(function);
    SCOPED_TRACE(entry.function);
    const FARPROC bound = BindLateBound(function);
    ASSERT_NE(bound, nullptr);
    EXPECT_EQ(bound, ::GetProcAddress(::GetModuleHandleA(entry.library), entry.function));
    EXPECT_EQ(BindLateBound(function), bound);
  }
}

TEST(LateBindingTest, BoundFunctionsAreCallableWithTheirOwnTypes) {
  EXPECT_EQ(LateBound<kStrlen>()("abc"), 3u);
  EXPECT_EQ(LateBound<kLstrlenW>()(L"\x770B!"), 2);
  EXPECT_NE(LateBound<kWinHttpCheckPlatform>()(), FALSE);
  SYSTEMTIME fields = {};
  LateBound<kInternetTimeToSystemTime>()("Tue, 13 Jul 2021 20:30:15 GMT", &fields, 0);
  EXPECT_EQ(fields.wYear, 2021);
  EXPECT_EQ(fields.wHour, 20);
}

TEST(LateBindingTest, TryBindReportsMissingLibrariesAndFunctions) {
  EXPECT_EQ(TryBind({"no-such-library-here.dll", "strlen"}), nullptr);
  EXPECT_EQ(TryBind({"kernel32.dll", "NoSuchFunctionAnywhere"}), nullptr);
  EXPECT_NE(TryBind({"kernel32.dll", "lstrlenW"}), nullptr);
}

using LateBindingDeathTest = ::testing::Test;

TEST_F(LateBindingDeathTest, AnUnboundFunctionEndsAConsoleProgramWithMinusOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(FailToBind({"no-such-library-here.dll", "WinHttpOpen"}),
              ::testing::ExitedWithCode(kFatalExitStatus),
              "fatal error: cannot bind WinHttpOpen in no-such-library-here.dll");
}

TEST_F(LateBindingDeathTest, FatalErrorWritesTheMessageAndExitsWithMinusOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(FatalError("out of memory"), ::testing::ExitedWithCode(kFatalExitStatus),
              "platform_windows_test: fatal error: out of memory");
}

}  // namespace
}  // namespace timesync::platform
