#include "web/request_headers.h"

namespace timesync {

// For now the caller's lines go out as they are.
Text BuildRequestHeaders(const Text& extraHeaders, std::int32_t /*method*/,
                         const Text& /*cookies*/, bool /*defaultHeaders*/,
                         bool /*normalizeHeaders*/) {
  return extraHeaders;
}

}  // namespace timesync
