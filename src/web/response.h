// The response stage: turns a received response into the request's outputs.
//
//   ResponseStageObjects objects;  // lives as long as the request
//   ProcessResponse(rawHeaders, body, /*mergeCookies=*/true, objects, outputs...);
#ifndef TIMESYNC_WEB_RESPONSE_H_
#define TIMESYNC_WEB_RESPONSE_H_

#include "text/text.h"

namespace timesync {

// The per-request objects of the response stage. WebRequest creates them
// when a request starts and releases them on every way out, after the HTTP
// handles are closed. The stage's regular-expression object (for the page's
// declared charset) and its stream slot (the charset decoder in use) belong
// here.
struct ResponseStageObjects {};

// Works through the response whose raw header block (status line, header
// lines, each ended by "\r\n", then an empty line) and body were read:
// writes `status`, `responseBytes` and `pageText`, and, when the response
// calls for it, `cookies`, `responseCookies` and `location`. Outputs it does
// not write keep their values.
//   ProcessResponse("HTTP/1.1 200 OK\r\n\r\n", body, true, objects, cookies,
//                   responseCookies, status, location, responseBytes, pageText);
//   // status == "200 OK"
void ProcessResponse(const Text& rawHeaders, const ByteBuffer& body, bool mergeCookies,
                     ResponseStageObjects& objects, Text& cookies, Text& responseCookies,
                     Text& status, Text& location, ByteBuffer& responseBytes, Text& pageText);

}  // namespace timesync

#endif  // TIMESYNC_WEB_RESPONSE_H_
