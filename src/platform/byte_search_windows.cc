// The C library on Windows has no memmem: the standard library's search.
#include <string_view>

#include "platform/byte_search.h"

namespace timesync::platform {

const void* FindBytes(const void* haystack, std::size_t haystackSize, const void* needle,
                      std::size_t needleSize) {
  const std::string_view bytes(static_cast<const char*>(haystack), haystackSize);
  const std::size_t at = bytes.find(std::string_view(static_cast<const char*>(needle), needleSize));
  return at == std::string_view::npos ? nullptr : bytes.data() + at;
}

}  // namespace timesync::platform
