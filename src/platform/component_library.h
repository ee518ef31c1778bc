// Per-thread initialisation of the component library that hosts the
// regular-expression engine and the stream object.
//
// Linux has no component library to set up, so these stand-ins only keep
// count, per thread, of how often they were called. Every CoInitialize must
// be matched by one CoUninitialize on the same thread; tests read the counts
// to check that the callers keep that balance on every path:
//
//   const platform::ComponentLibraryCounts before = platform::ComponentLibraryCountsOnThisThread();
//   { RegexObject regex; }
//   const platform::ComponentLibraryCounts after = platform::ComponentLibraryCountsOnThisThread();
//   // after.initializations == before.initializations + 1
//   // after.Balance() == before.Balance()
#ifndef TIMESYNC_PLATFORM_COMPONENT_LIBRARY_H_
#define TIMESYNC_PLATFORM_COMPONENT_LIBRARY_H_

#include <cstdint>

namespace timesync::platform {

// Result codes of CoInitialize, as the component library reports them.
inline constexpr std::int32_t kComponentLibraryInitialized = 0;         // S_OK: first on the thread
inline constexpr std::int32_t kComponentLibraryAlreadyInitialized = 1;  // S_FALSE: nested call

// Initialises the component library for the calling thread (nests: each call
// needs its own CoUninitialize). Never fails.
std::int32_t CoInitialize();
// Undoes one CoInitialize of the calling thread.
void CoUninitialize();

struct ComponentLibraryCounts {
  std::int64_t initializations = 0;    // CoInitialize calls so far on this thread
  std::int64_t uninitializations = 0;  // CoUninitialize calls so far on this thread
  // Initialisations still open; 0 when every call has been undone.
  std::int64_t Balance() const { return initializations - uninitializations; }
};

// The calling thread's counts since the thread started.
ComponentLibraryCounts ComponentLibraryCountsOnThisThread();

}  // namespace timesync::platform

#endif  // TIMESYNC_PLATFORM_COMPONENT_LIBRARY_H_
