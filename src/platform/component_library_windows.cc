// The component library on Windows: CoInitialize and CoUninitialize from
// "ole32.dll" (bound late), counted per thread like everywhere else. A call
// that the library refuses (a thread already set up in another model) is
// remembered, and its CoUninitialize is then not passed on, so the library's
// own count stays balanced.
#include <windows.h>

#include <vector>

#include "platform/component_library.h"
#include "platform/late_binding_windows.h"

namespace timesync::platform {
namespace {
thread_local ComponentLibraryCounts counts_on_this_thread;
// For each open initialisation, whether the library accepted it.
thread_local std::vector<bool> accepted_on_this_thread;
}  // namespace

std::int32_t CoInitialize() {
  const HRESULT status = LateBound<kCoInitialize>()(nullptr);
  ++counts_on_this_thread.initializations;
  accepted_on_this_thread.push_back(SUCCEEDED(status));
  return static_cast<std::int32_t>(status);
}

void CoUninitialize() {
  ++counts_on_this_thread.uninitializations;
  if (accepted_on_this_thread.empty()) return;
  const bool accepted = accepted_on_this_thread.back();
  accepted_on_this_thread.pop_back();
  if (accepted) LateBound<kCoUninitialize>()();
}

ComponentLibraryCounts ComponentLibraryCountsOnThisThread() { return counts_on_this_thread; }

}  // namespace timesync::platform
