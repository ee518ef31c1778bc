// Transparent huge pages through madvise: with the host's setting "madvise"
// (a common default) only advised ranges get them.
#include <sys/mman.h>

#include <cstdint>

#include "platform/memory.h"

namespace timesync::platform {

void AdviseHugePages(const void* data, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t kHugePage = std::uintptr_t{2} * 1024 * 1024;
  if (bytes < 2 * kHugePage) return;
  const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t begin = (first + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t end = (first + bytes) & ~(kHugePage - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

}  // namespace timesync::platform
