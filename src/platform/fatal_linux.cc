#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <exception>  // also __gnu_cxx::__verbose_terminate_handler, the default
#include <new>
#include <stdexcept>
#include <string>

#include "platform/fatal.h"

namespace timesync::platform {
namespace {

void WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void OnOutOfMemory() { FatalError("out of memory"); }

// The standard allocator throws std::bad_alloc for sizes beyond PTRDIFF_MAX
// without asking the new-handler, and containers throw std::length_error for
// sizes beyond their maximum. Either one escaping is memory exhaustion too;
// every other uncaught exception keeps the usual report.
void OnTerminate() {
  if (const std::exception_ptr current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (const std::bad_alloc&) {
      OnOutOfMemory();
    } catch (const std::length_error&) {
      OnOutOfMemory();
    } catch (...) {
    }
  }
  __gnu_cxx::__verbose_terminate_handler();
}

}  // namespace

void FatalError(std::string_view message) {
  // Built without allocating: this also runs when memory is exhausted.
  const char* name = program_invocation_short_name;
  WriteAll(STDERR_FILENO, name != nullptr ? name : "timesync");
  WriteAll(STDERR_FILENO, ": fatal error: ");
  WriteAll(STDERR_FILENO, message);
  WriteAll(STDERR_FILENO, "\n");
  ::_exit(kFatalExitStatus);
}

void InstallOutOfMemoryHandler() {
  std::set_new_handler(&OnOutOfMemory);
  std::set_terminate(&OnTerminate);
}

}  // namespace timesync::platform
