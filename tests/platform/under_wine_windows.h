// Whether the Windows suites run under Wine, which lacks a few things that
// Windows has; tests that need them skip there and say why.
#ifndef TIMESYNC_TESTS_PLATFORM_UNDER_WINE_WINDOWS_H_
#define TIMESYNC_TESTS_PLATFORM_UNDER_WINE_WINDOWS_H_

#include <windows.h>

namespace timesync::testing {

inline bool UnderWine() {
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace timesync::testing

#endif  // TIMESYNC_TESTS_PLATFORM_UNDER_WINE_WINDOWS_H_
