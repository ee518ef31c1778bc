// Fatal errors: the program ends with a clear message on stderr (an error box
// for a windowed Windows program) and exit code -1, never with an abort trace.
#ifndef TIMESYNC_PLATFORM_FATAL_H_
#define TIMESYNC_PLATFORM_FATAL_H_

#include <string_view>

namespace timesync::platform {

// The system's exit code -1: on Linux seen as status 255, on Windows as the
// process's exit code -1 (0xFFFFFFFF).
#ifdef _WIN32
inline constexpr int kFatalExitStatus = -1;
#else
inline constexpr int kFatalExitStatus = 255;
#endif

// Writes "<program>: fatal error: <message>" to stderr and ends the process
// with kFatalExitStatus at once (no destructors, no exit hooks).
[[noreturn]] void FatalError(std::string_view message);

// Makes a failed memory allocation a fatal error ("out of memory") instead of
// an exception: the new-handler ends the program, and so does an allocation
// exception (std::bad_alloc, std::length_error) that no caller catches. Each
// program calls it once at start.
void InstallOutOfMemoryHandler();

}  // namespace timesync::platform

#endif  // TIMESYNC_PLATFORM_FATAL_H_
