#include "web/response.h"

namespace timesync {

// For now: the status text, the body bytes and the body as text.
void ProcessResponse(const Text& rawHeaders, const ByteBuffer& body, bool /*mergeCookies*/,
                     ResponseStageObjects& /*objects*/, Text& /*cookies*/,
                     Text& /*responseCookies*/, Text& status, Text& /*location*/,
                     ByteBuffer& responseBytes, Text& pageText) {
  // The status text starts after the 9 bytes of "HTTP/1.1 ".
  const std::int64_t lineEnd = Find(rawHeaders, "\r\n", 10);
  status = Mid(rawHeaders, 10, lineEnd - 10);
  responseBytes = body;
  pageText = BytesToText(body);
}

}  // namespace timesync
