// WebRequest: one HTTP or HTTPS request, from entry to return.
//
// Each call opens its own session, connection and request and closes them,
// in reverse order, before it returns; nothing carries over between calls.
// Failures are never raised: a numbered message goes to `status` and the
// call returns empty text.
//
//   Text headers;
//   WebRequest({.url = "https://example.com", .method = 2, .responseHeaders = &headers});
//
// Every parameter but `url` may be omitted. An omitted input takes the
// default written beside it; an omitted output (a null pointer) is written to
// a scratch value that is dropped. Outputs are not cleared when the call
// starts: each is written only where the engine says, and otherwise keeps the
// caller's value.
#ifndef TIMESYNC_WEB_WEB_REQUEST_H_
#define TIMESYNC_WEB_WEB_REQUEST_H_

#include <cstdint>

#include "text/text.h"

namespace timesync {

namespace platform {
class HttpService;
}  // namespace platform

// The parameters of a request, in the engine's order (designated initializers
// must keep it).
struct WebRequestArgs {
  Text url{};                             // 1  scheme http or https, host, optional port, path, query
  std::int32_t method = 0;              // 2  verb index: 0 GET 1 POST 2 HEAD 3 PUT 4 OPTIONS 5 DELETE
                                        //    6 TRACE 7 CONNECT; any other index GET
  Text body{};                            // 3  body as text; sent when bodyBytes is empty
  Text* cookies = nullptr;              // 4  in/out: cookies to send; rewritten by cookie merging
  Text* responseCookies = nullptr;      // 5  in/out: the server's cookies are appended
  Text extraHeaders{};                    // 6  extra header lines separated by CR LF
  Text* responseHeaders = nullptr;      // 7  out: the raw response header block
  bool refuseRedirects = false;         // 8  true: redirects are not followed
  Text userName{};                        // 9  server credentials (Basic), used when both halves
  Text password{};                        // 10 are given
  Text proxy{};                           // 11 named proxy, "host:port" as the platform takes it
  Text proxyUserName{};                   // 12 proxy credentials, used when both halves
  Text proxyPassword{};                   // 13 are given
  std::int32_t timeoutSeconds = 0;      // 14 time-out of each phase; 0 or less: 30 seconds
  Text* location = nullptr;             // 15 out: redirect target from a "Location: " line
  Text* status = nullptr;               // 16 out: status text, or a numbered error message
  ByteBuffer* responseBytes = nullptr;  // 17 out: the response body as received
  bool mergeCookies = true;             // 18 merge `cookies` with the server's cookies
  bool defaultHeaders = true;           // 19 add the default header set
  ByteBuffer bodyBytes{};                 // 20 body as bytes; wins over `body` when not empty
  bool normalizeHeaders = true;         // 21 rewrite header names in capitalised form
};

// Performs the request over the system's HTTP service and returns the page text.
Text WebRequest(const WebRequestArgs& args);

// The same over a given HTTP service (tests inject failing or recording ones).
Text WebRequest(const WebRequestArgs& args, platform::HttpService& service);

}  // namespace timesync

#endif  // TIMESYNC_WEB_WEB_REQUEST_H_
