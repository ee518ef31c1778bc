// The response stage over a fuzzer-chosen raw header block and body: the
// input cut at its first "\0\0"; one leading byte chooses the cookie switches.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "text/text.h"
#include "web/response.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace timesync;
  if (size < 1) return 0;
  const std::uint8_t switches = data[0];
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string_view rest(bytes);
  const std::size_t split = rest.find(std::string_view("\0\0", 2));
  const Text rawHeaders(rest.substr(0, split));
  const ByteBuffer body(split == std::string_view::npos ? std::string_view("")
                                                        : rest.substr(split + 2));

  Text cookies((switches & 1) ? "x=1; sid=2" : "");
  Text responseCookies((switches & 2) ? "pre=1; " : "");
  Text status("unchanged");
  Text location;
  ByteBuffer responseBytes;
  ResponseStageObjects objects;
  const bool mergeCookies = switches & 4;
  Text page;
  ProcessResponse(rawHeaders, body, mergeCookies, objects, cookies, responseCookies, status,
                  location, &responseBytes, page);
  if (!(responseBytes == body)) std::abort();
  if (TextLength(status) > TextLength(rawHeaders)) std::abort();
  if (mergeCookies && (switches & 1) && cookies != responseCookies) std::abort();
  if (objects.streamSlot.IsOpen()) std::abort();
  return 0;
}
