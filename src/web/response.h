// The response stage of a request: status text, the cookies the server sets,
// the redirect target, the body bytes and the page text decoded from the
// charset the page declares.
//
//   ResponseStageObjects objects;  // lives as long as the request
//   Text cookies = "x=1", responseCookies, status, location, page;
//   ByteBuffer responseBytes;
//   ProcessResponse(
//       "HTTP/1.1 302 Found\r\nSet-Cookie: a=1; path=/\r\nLocation: /next\r\n\r\n",
//       ByteBuffer(std::string("hi")), /*mergeCookies=*/true, objects, cookies,
//       responseCookies, status, location, &responseBytes, page);
//   // status == "302 Found", location == "/next", page == "hi",
//   // responseCookies == cookies == "a=1; x=1" (the server's members first)
//
// Header lines are read exactly: "Set-Cookie" must be written in that case and
// followed by ": "; its value ends at the first ";" (attributes are not kept).
// A line starting with "Location: " in any case gives everything after its
// tenth byte; a later one wins. Cookies gathered are appended to what
// `responseCookies` held, and a final "; " is cut. With `mergeCookies` and a
// non-empty `cookies`, both become MergeCookies of the two.
//
// The page text is the body up to its first zero byte. When the first 1024
// bytes of it hold a meta tag declaring a charset
// ("<meta.+?charset=[^\w]?([-\w]+)", ignoring case), the whole body is decoded
// from that charset into code page 936. A charset name the decoder does not
// know, or a decoder that cannot be made, keeps the undecoded page text.
#ifndef TIMESYNC_WEB_RESPONSE_H_
#define TIMESYNC_WEB_RESPONSE_H_

#include "platform/charset_decoder.h"
#include "regex/regex_object.h"
#include "text/text.h"

namespace timesync {

// The per-request objects of the response stage. WebRequest creates them
// when a request starts and releases them on every way out, after the HTTP
// handles are closed: the regular-expression object that reads the page's
// declared charset (its construction initialises the component library for
// the request, its destruction undoes that) and the stream slot, the charset
// decoder in use, which the stage empties again itself.
struct ResponseStageObjects {
  RegexObject regex;
  platform::CharsetDecoder streamSlot;
};

// Works through the response whose raw header block (status line, header
// lines, each ended by "\r\n", then an empty line) and body were read:
// writes `status`, `responseBytes` and `pageText`, and, when the response
// calls for it, `cookies`, `responseCookies` and `location`. Outputs it does
// not write keep their values. The header block is taken by value, so an
// output may be the very text it came in. A null `responseBytes` means the
// caller does not want the bytes: the page text is then made without a
// second copy of a large body.
void ProcessResponse(Text rawHeaders, ByteBuffer body, bool mergeCookies,
                     ResponseStageObjects& objects, Text& cookies, Text& responseCookies,
                     Text& status, Text& location, ByteBuffer* responseBytes, Text& pageText);

}  // namespace timesync

#endif  // TIMESYNC_WEB_RESPONSE_H_
