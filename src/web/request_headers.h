// The request header block: the caller's extra headers, the default header
// set, capitalised header names and the cookie line.
//
// A header block is lines of "Name: value" separated by CR LF. The block
// built here goes to the HTTP service as it stands.
//
//   BuildRequestHeaders("", 2, "", true, true) ==
//       "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n"
//       "Accept: text/html, application/xhtml+xml, */*\r\n"
//       "Accept-Encoding: gbk, GB2312\r\n"
//       "Accept-Language: zh-cn\r\n"
//       "Cache-Control: no-cache"
//
//   BuildRequestHeaders("x-requested-with: 1", 0, "a=1", false, true) ==
//       "X-Requested-With: 1\r\nCookie: a=1\r\n"
//
// Rules, in order:
//   1. The extra headers, followed by CR LF when not empty.
//   2. With `defaultHeaders`, each default line whose text ("User-Agent: ",
//      "Accept: ", "Accept-Encoding: ", "Accept-Language: ", "Content-Type:"
//      for POST only, "Cache-Control: ") is found nowhere in the block so far,
//      ignoring case, is appended. The search covers the whole block, lines
//      appended for earlier defaults included.
//   3. With `normalizeHeaders`, NormalizeHeaderNames.
//   4. When the block holds "Connection" and GetHeaderValue reads exactly
//      "keep-alive", every "Connection: keep-alive\r\n" is removed (a last
//      line without CR LF stays).
//   5. When the block holds no "Cookie:" (any case) and `cookies` is not
//      empty: CR LF, "Cookie: " unless `cookies` already holds "Cookie:",
//      `cookies`, CR LF. Without normalising, the block already ends in CR LF,
//      so an empty line comes before the cookie line.
#ifndef TIMESYNC_WEB_REQUEST_HEADERS_H_
#define TIMESYNC_WEB_REQUEST_HEADERS_H_

#include <cstdint>

#include "text/text.h"

namespace timesync {

// The header block for a request; `method` is the verb index (1 is POST).
Text BuildRequestHeaders(const Text& extraHeaders, std::int32_t method, const Text& cookies,
                         bool defaultHeaders, bool normalizeHeaders);

// Every line with a colon, its name capitalised at the start and after each
// "-"; the rest of the line stays byte for byte. Lines without a colon and
// empty lines are left out, and the last line has no CR LF.
//   NormalizeHeaderNames("x-requested-with: a\r\nnocolon\r\n") == "X-Requested-With: a"
Text NormalizeHeaderNames(const Text& block);

// The first byte upper-cased when it is an ASCII letter, the rest unchanged.
//   CapitalizeFirst("accept") == "Accept";  CapitalizeFirst("") == ""
Text CapitalizeFirst(const Text& text);

}  // namespace timesync

#endif  // TIMESYNC_WEB_REQUEST_HEADERS_H_
