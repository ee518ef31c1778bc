#include <unistd.h>

#include <cerrno>
#include <cstdlib>
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

}  // namespace timesync::platform
