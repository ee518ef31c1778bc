// The request header block that a request carries.
//
//   Text block = BuildRequestHeaders("X-Trace: 1", 0, "", true, true);
//   // lines separated by "\r\n", no trailing line break
#ifndef TIMESYNC_WEB_REQUEST_HEADERS_H_
#define TIMESYNC_WEB_REQUEST_HEADERS_H_

#include <cstdint>

#include "text/text.h"

namespace timesync {

// The header lines to add to a request for `method` (the engine's verb
// index): the caller's `extraHeaders`, the cookie line for `cookies`, and,
// with `defaultHeaders`, the default set; with `normalizeHeaders` the names
// are written in capitalised form. Lines are separated by "\r\n"; an empty
// result adds no header.
Text BuildRequestHeaders(const Text& extraHeaders, std::int32_t method, const Text& cookies,
                         bool defaultHeaders, bool normalizeHeaders);

}  // namespace timesync

#endif  // TIMESYNC_WEB_REQUEST_HEADERS_H_
