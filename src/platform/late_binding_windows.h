// Late-bound system functions: one table of 23 library/function pairs. Each
// function is loaded by name (LoadLibraryA, GetProcAddress) the first time it
// is called and the address is kept for every later call. A library or
// function that cannot be found is a fatal error: an error box (stderr for a
// console program) and exit code -1.
//
//   const int n = LateBound<kMultiByteToWideChar>()(936, 0, bytes, -1, nullptr, 0);
//   LateBound<kWinHttpCloseHandle>()(request);
//
// The function types are the Windows SDK's own declarations, so a call is
// checked by the compiler like a direct one.
#ifndef TIMESYNC_PLATFORM_LATE_BINDING_WINDOWS_H_
#define TIMESYNC_PLATFORM_LATE_BINDING_WINDOWS_H_

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <winhttp.h>
// clang-format on

#include <cstddef>

namespace timesync::platform {

// The table's entries, in table order.
enum LateBoundFunction : int {
  kMessageBoxTimeoutA,
  kWinHttpCheckPlatform,
  kWinHttpCrackUrl,
  kWinHttpOpen,
  kWinHttpSetTimeouts,
  kWinHttpConnect,
  kWinHttpOpenRequest,
  kWinHttpSetCredentials,
  kWinHttpCloseHandle,
  kWinHttpSetOption,
  kWinHttpAddRequestHeaders,
  kWinHttpSendRequest,
  kWinHttpReceiveResponse,
  kWinHttpQueryDataAvailable,
  kWinHttpReadData,
  kWinHttpQueryHeaders,
  kCoInitialize,
  kCoUninitialize,
  kStrlen,
  kMultiByteToWideChar,
  kLstrlenW,
  kWideCharToMultiByte,
  kInternetTimeToSystemTime,
  kLateBoundFunctionCount,
};

// One entry: the library file and the exported name, exactly as loaded.
struct LateBoundEntry {
  const char* library;
  const char* function;
};

// The entry for `function`; `function` must be one of the table's values.
const LateBoundEntry& LateBoundEntryOf(LateBoundFunction function);

// The address of `function`, loaded on the first call and cached. Never
// returns null: a failure to load is fatal.
FARPROC BindLateBound(LateBoundFunction function);

// Loads `entry` without the cache and without the fatal error: null when the
// library or the function cannot be found. The library stays loaded.
FARPROC TryBind(const LateBoundEntry& entry);

// What a library or function that cannot be bound does to the process: the
// message names both, e.g. "cannot bind MessageBoxTimeoutA in user32.dll".
[[noreturn]] void FailToBind(const LateBoundEntry& entry);

namespace late_binding_internal {

// Declared here because the SDK headers leave them out.
using MessageBoxTimeoutAType = int WINAPI(HWND owner, LPCSTR text, LPCSTR caption, UINT style,
                                          WORD language, DWORD milliseconds);
using InternetTimeToSystemTimeType = BOOL WINAPI(LPCSTR time, SYSTEMTIME* fields, DWORD reserved);
using StrlenType = std::size_t __cdecl(const char* text);

template <LateBoundFunction F>
struct Signature;
#define TIMESYNC_LATE_BOUND_SIGNATURE(name, type) \
  template <>                                     \
  struct Signature<k##name> {                     \
    using Type = type;                            \
  }
TIMESYNC_LATE_BOUND_SIGNATURE(MessageBoxTimeoutA, MessageBoxTimeoutAType);
TIMESYNC_LATE_BOUND_SIGNATURE(WinHttpCheckPlatform, decltype(::WinHttpCheckPlatform));
TIMESYNC_LATE_BOUND_SIGNATURE(WinHttpCrackUrl, decltype(::WinHttpCrackUrl));
TIMESYNC_LATE_BOUND_SIGNATURE(WinHttpOpen, decltype(::WinHttpOpen));
TIMESYNC_LATE_BOUND_SIGNATURE(WinHttpSetTimeouts, decltype(::WinHttpSetTimeouts));
TIMESYNC_LATE_BOUND_SIGNATURE(WinHttpConnect, decltype(::WinHttpConnect));
TIMESYNC_LATE_BOUND_SIGNATURE(WinHttpOpenRequest, decltype(::WinHttpOpenRequest));
TIMESYNC_LATE_BOUND_SIGNATURE(WinHttpSetCredentials, decltype(::WinHttpSetCredentials));
TIMESYNC_LATE_BOUND_SIGNATURE(WinHttpCloseHandle, decltype(::WinHttpCloseHandle));
TIMESYNC_LATE_BOUND_SIGNATURE(WinHttpSetOption, decltype(::WinHttpSetOption));
TIMESYNC_LATE_BOUND_SIGNATURE(WinHttpAddRequestHeaders, decltype(::WinHttpAddRequestHeaders));
TIMESYNC_LATE_BOUND_SIGNATURE(WinHttpSendRequest, decltype(::WinHttpSendRequest));
TIMESYNC_LATE_BOUND_SIGNATURE(WinHttpReceiveResponse, decltype(::WinHttpReceiveResponse));
TIMESYNC_LATE_BOUND_SIGNATURE(WinHttpQueryDataAvailable, decltype(::WinHttpQueryDataAvailable));
TIMESYNC_LATE_BOUND_SIGNATURE(WinHttpReadData, decltype(::WinHttpReadData));
TIMESYNC_LATE_BOUND_SIGNATURE(WinHttpQueryHeaders, decltype(::WinHttpQueryHeaders));
TIMESYNC_LATE_BOUND_SIGNATURE(CoInitialize, decltype(::CoInitialize));
TIMESYNC_LATE_BOUND_SIGNATURE(CoUninitialize, decltype(::CoUninitialize));
TIMESYNC_LATE_BOUND_SIGNATURE(Strlen, StrlenType);
TIMESYNC_LATE_BOUND_SIGNATURE(MultiByteToWideChar, decltype(::MultiByteToWideChar));
TIMESYNC_LATE_BOUND_SIGNATURE(LstrlenW, decltype(::lstrlenW));
TIMESYNC_LATE_BOUND_SIGNATURE(WideCharToMultiByte, decltype(::WideCharToMultiByte));
TIMESYNC_LATE_BOUND_SIGNATURE(InternetTimeToSystemTime, InternetTimeToSystemTimeType);
#undef TIMESYNC_LATE_BOUND_SIGNATURE

}  // namespace late_binding_internal

// The bound function of table entry F, typed.
template <LateBoundFunction F>
auto* LateBound() {
  using Type = typename late_binding_internal::Signature<F>::Type;
  return reinterpret_cast<Type*>(reinterpret_cast<void*>(BindLateBound(F)));
}

}  // namespace timesync::platform

#endif  // TIMESYNC_PLATFORM_LATE_BINDING_WINDOWS_H_
