#include "platform/component_library.h"

namespace timesync::platform {
namespace {
// The library's own per-thread state: Windows keeps the same count for each thread.
thread_local ComponentLibraryCounts counts_on_this_thread;
}  // namespace

std::int32_t CoInitialize() {
  const bool first = counts_on_this_thread.Balance() <= 0;
  ++counts_on_this_thread.initializations;
  return first ? kComponentLibraryInitialized : kComponentLibraryAlreadyInitialized;
}

void CoUninitialize() { ++counts_on_this_thread.uninitializations; }

ComponentLibraryCounts ComponentLibraryCountsOnThisThread() { return counts_on_this_thread; }

}  // namespace timesync::platform
