// What a caller hands the HTTP service before anything is sent: the URL, the
// named-proxy list and the request header block, each from the fuzzer's bytes
// (code page 936). Checks that a cracked URL points inside itself, that a
// chosen proxy is "host:port", and that a request target never carries a byte
// that could end or split the request line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/codepage.h"
#include "platform/http_service.h"
#include "platform/http_service_linux.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace timesync::platform;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string wide = Cp936ToUtf16(bytes);
  const auto http = NewHttpService();

  URL_COMPONENTS parts;
  parts.dwStructSize = sizeof(parts);
  parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength =
      0xFFFFFFFF;
  if (!wide.empty() &&
      http->WinHttpCrackUrl(wide.c_str(), static_cast<std::uint32_t>(wide.size()), 0, &parts)) {
    const char16_t* begin = wide.c_str();
    const char16_t* end = begin + wide.size();
    for (const auto& [pointer, length] :
         {std::pair{parts.lpszScheme, parts.dwSchemeLength},
          std::pair{parts.lpszHostName, parts.dwHostNameLength},
          std::pair{parts.lpszUrlPath, parts.dwUrlPathLength},
          std::pair{parts.lpszExtraInfo, parts.dwExtraInfoLength}}) {
      Check(pointer >= begin && pointer + length <= end);
    }
    Check(parts.dwHostNameLength > 0 && parts.nPort > 0);
    Check(parts.nScheme == INTERNET_SCHEME_HTTP || parts.nScheme == INTERNET_SCHEME_HTTPS);

    HINTERNET session = http->WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, u"", nullptr, 0);
    const std::u16string host(parts.lpszHostName, parts.dwHostNameLength);
    const std::u16string path(parts.lpszUrlPath, parts.dwUrlPathLength);
    HINTERNET connection = http->WinHttpConnect(session, host.c_str(), parts.nPort, 0);
    HINTERNET request =
        http->WinHttpOpenRequest(connection, u"GET", path.c_str(), nullptr, nullptr, nullptr, 0);
    http->WinHttpAddRequestHeaders(request, wide.c_str(), 0xFFFFFFFF, WINHTTP_ADDREQ_FLAG_ADD);
    http->WinHttpCloseHandle(request);
    http->WinHttpCloseHandle(connection);
    http->WinHttpCloseHandle(session);
  }

  for (const bool secure : {false, true}) {
    const auto proxy = SelectProxy(wide, secure);
    if (proxy && !proxy->empty()) {
      const std::size_t colon = proxy->rfind(':');
      Check(colon != std::string::npos && colon > 0 && colon + 1 < proxy->size());
      Check(proxy->find_first_of(" ;/@") == std::string::npos);
    }
  }

  const std::string target = EscapeRequestTarget(bytes);
  for (const char c : target) {
    const auto byte = static_cast<unsigned char>(c);
    Check(byte > 0x20 && byte < 0x7F);
  }
  return 0;
}
