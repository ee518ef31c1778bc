#include "platform/late_binding_windows.h"

#include <array>
#include <atomic>
#include <string>

#include "platform/fatal.h"

namespace timesync::platform {
namespace {

// The libraries keep the spelling the system has always loaded them by.
constexpr std::array<LateBoundEntry, kLateBoundFunctionCount> kTable = {{
    {"user32.dll", "MessageBoxTimeoutA"},
    {"Winhttp.dll", "WinHttpCheckPlatform"},
    {"Winhttp.dll", "WinHttpCrackUrl"},
    {"Winhttp.dll", "WinHttpOpen"},
    {"Winhttp.dll", "WinHttpSetTimeouts"},
    {"Winhttp.dll", "WinHttpConnect"},
    {"Winhttp.dll", "WinHttpOpenRequest"},
    {"Winhttp.dll", "WinHttpSetCredentials"},
    {"Winhttp.dll", "WinHttpCloseHandle"},
    {"Winhttp.dll", "WinHttpSetOption"},
    {"Winhttp.dll", "WinHttpAddRequestHeaders"},
    {"Winhttp.dll", "WinHttpSendRequest"},
    {"Winhttp.dll", "WinHttpReceiveResponse"},
    {"Winhttp.dll", "WinHttpQueryDataAvailable"},
    {"Winhttp.dll", "WinHttpReadData"},
    {"Winhttp.dll", "WinHttpQueryHeaders"},
    {"ole32.dll", "CoInitialize"},
    {"ole32.dll", "CoUninitialize"},
    {"msvcrt.dll", "strlen"},
    {"Kernel32.dll", "MultiByteToWideChar"},
    {"kernel32.dll", "lstrlenW"},
    {"kernel32.dll", "WideCharToMultiByte"},
    {"wininet.dll", "InternetTimeToSystemTime"},
}};

// The cache of bound addresses. It is the process's one table, as the
// libraries it points into are loaded once per process; binding the same
// entry twice at once stores the same address, so no lock is needed.
std::array<std::atomic<FARPROC>, kLateBoundFunctionCount>& Cache() {
  static std::array<std::atomic<FARPROC>, kLateBoundFunctionCount> cache{};
  return cache;
}

}  // namespace

const LateBoundEntry& LateBoundEntryOf(LateBoundFunction function) { return kTable[function]; }

FARPROC TryBind(const LateBoundEntry& entry) {
  const HMODULE library = ::LoadLibraryA(entry.library);
  if (library == nullptr) return nullptr;
  return ::GetProcAddress(library, entry.function);
}

void FailToBind(const LateBoundEntry& entry) {
  std::string message = "cannot bind ";
  message += entry.function;
  message += " in ";
  message += entry.library;
  FatalError(message);
}

FARPROC BindLateBound(LateBoundFunction function) {
  std::atomic<FARPROC>& slot = Cache()[function];
  FARPROC address = slot.load(std::memory_order_acquire);
  if (address != nullptr) return address;
  address = TryBind(kTable[function]);
  if (address == nullptr) FailToBind(kTable[function]);
  slot.store(address, std::memory_order_release);
  return address;
}

}  // namespace timesync::platform
