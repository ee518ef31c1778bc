// The header stage over fuzzer-chosen extra headers, cookie text and switches.
// Input: one switch byte, then the extra headers and the cookie text
// separated by the first zero byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "text/text.h"
#include "web/request_headers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace timesync;
  if (size < 1) return 0;
  const std::uint8_t switches = data[0];
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string_view rest(bytes);
  const std::size_t split = rest.find('\0');
  const Text extraHeaders(rest.substr(0, split));
  const Text cookies(split == std::string_view::npos ? std::string_view("")
                                                     : rest.substr(split + 1));
  const std::int32_t method = (switches & 4) ? 1 : static_cast<std::int32_t>(switches >> 3) - 8;
  const bool defaultHeaders = switches & 1;
  const bool normalizeHeaders = switches & 2;

  const Text block =
      BuildRequestHeaders(extraHeaders, method, cookies, defaultHeaders, normalizeHeaders);
  // The stage is a pure function of its arguments.
  if (BuildRequestHeaders(extraHeaders, method, cookies, defaultHeaders, normalizeHeaders) !=
      block) {
    std::abort();
  }
  // A caller's cookie text is sent unless a "Cookie:" is already there.
  if (!cookies.empty() && Find(block, "Cookie:", 1, true) == -1) std::abort();
  if (TextLength(CapitalizeFirst(extraHeaders)) != TextLength(extraHeaders)) std::abort();
  NormalizeHeaderNames(extraHeaders);
  return 0;
}
