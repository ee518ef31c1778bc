#include <string.h>

#include "platform/byte_search.h"

namespace timesync::platform {

const void* FindBytes(const void* haystack, std::size_t haystackSize, const void* needle,
                      std::size_t needleSize) {
  return ::memmem(haystack, haystackSize, needle, needleSize);
}

}  // namespace timesync::platform
