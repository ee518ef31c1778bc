// What both platforms share of fatal errors: a failed allocation, or an
// allocation size no allocator accepts, ends the program as a fatal error.
#include <exception>  // also __gnu_cxx::__verbose_terminate_handler, the default
#include <new>
#include <stdexcept>

#include "platform/fatal.h"

namespace timesync::platform {
namespace {

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

void InstallOutOfMemoryHandler() {
  std::set_new_handler(&OnOutOfMemory);
  std::set_terminate(&OnTerminate);
}

}  // namespace timesync::platform
