// HttpService: the HTTP operations the request engine calls, one method per
// operation, named and shaped like the Windows HTTP Services functions of the
// same name. The engine relies only on the results documented here; tests
// replace the service to make any single step fail.
//
// Conventions, as on the service itself:
//   - Handles are opaque (HINTERNET); null is "no handle".
//   - Strings are UTF-16, zero-terminated, as const char16_t*.
//   - A bool result is the service's BOOL: true (non-zero) on success. A
//     handle result is null on failure. The error code is never read.
//
//   std::unique_ptr<platform::HttpService> http = platform::NewHttpService();
//   HINTERNET session = http->WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, u"", nullptr, 0);
//   HINTERNET connection = http->WinHttpConnect(session, u"127.0.0.1", 8080, 0);
//   HINTERNET request = http->WinHttpOpenRequest(connection, u"GET", u"/", nullptr, nullptr,
//                                                nullptr, 0);
//   http->WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0);
//   http->WinHttpReceiveResponse(request, nullptr);
//   ... WinHttpQueryDataAvailable / WinHttpReadData until 0 bytes are ready ...
//   http->WinHttpCloseHandle(request);  // then the connection, then the session
#ifndef TIMESYNC_PLATFORM_HTTP_SERVICE_H_
#define TIMESYNC_PLATFORM_HTTP_SERVICE_H_

#include <cstdint>
#include <memory>

namespace timesync::platform {

using HINTERNET = void*;

// Schemes reported in URL_COMPONENTS::nScheme.
inline constexpr int INTERNET_SCHEME_HTTP = 1;
inline constexpr int INTERNET_SCHEME_HTTPS = 2;

inline constexpr std::uint16_t INTERNET_DEFAULT_HTTP_PORT = 80;
inline constexpr std::uint16_t INTERNET_DEFAULT_HTTPS_PORT = 443;

// WinHttpOpen access types.
inline constexpr std::uint32_t WINHTTP_ACCESS_TYPE_NO_PROXY = 1;
inline constexpr std::uint32_t WINHTTP_ACCESS_TYPE_NAMED_PROXY = 3;

// WinHttpOpenRequest flags.
inline constexpr std::uint32_t WINHTTP_FLAG_SECURE = 0x00800000;

// WinHttpSetCredentials targets and scheme.
inline constexpr std::uint32_t WINHTTP_AUTH_TARGET_SERVER = 0;
inline constexpr std::uint32_t WINHTTP_AUTH_TARGET_PROXY = 1;
inline constexpr std::uint32_t WINHTTP_AUTH_SCHEME_BASIC = 1;

// WinHttpSetOption options and their values.
inline constexpr std::uint32_t WINHTTP_OPTION_SECURITY_FLAGS = 31;
inline constexpr std::uint32_t WINHTTP_OPTION_DISABLE_FEATURE = 63;
inline constexpr std::uint32_t WINHTTP_OPTION_ENABLE_FEATURE = 79;
inline constexpr std::uint32_t SECURITY_FLAG_IGNORE_UNKNOWN_CA = 0x100;
inline constexpr std::uint32_t SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE = 0x200;
inline constexpr std::uint32_t SECURITY_FLAG_IGNORE_CERT_CN_INVALID = 0x1000;
inline constexpr std::uint32_t SECURITY_FLAG_IGNORE_CERT_DATE_INVALID = 0x2000;
inline constexpr std::uint32_t WINHTTP_DISABLE_COOKIES = 1;
inline constexpr std::uint32_t WINHTTP_DISABLE_REDIRECTS = 2;
inline constexpr std::uint32_t WINHTTP_ENABLE_SSL_REVOCATION = 1;

// WinHttpAddRequestHeaders modifier.
inline constexpr std::uint32_t WINHTTP_ADDREQ_FLAG_ADD = 0x20000000;

// WinHttpQueryHeaders level: the status line and every header line, each
// ended by CR LF, then one empty line.
inline constexpr std::uint32_t WINHTTP_QUERY_RAW_HEADERS_CRLF = 22;

// The parts of a URL, as WinHttpCrackUrl fills them. A length of -1 (all
// bits set) on input asks for a pointer into the cracked URL and the part's
// length in characters; a length of 0 asks for nothing.
struct URL_COMPONENTS {
  std::uint32_t dwStructSize = 0;
  char16_t* lpszScheme = nullptr;
  std::uint32_t dwSchemeLength = 0;
  int nScheme = 0;  // INTERNET_SCHEME_HTTP or INTERNET_SCHEME_HTTPS
  char16_t* lpszHostName = nullptr;
  std::uint32_t dwHostNameLength = 0;
  std::uint16_t nPort = 0;  // the explicit port, else 80 or 443
  char16_t* lpszUserName = nullptr;
  std::uint32_t dwUserNameLength = 0;
  char16_t* lpszPassword = nullptr;
  std::uint32_t dwPasswordLength = 0;
  char16_t* lpszUrlPath = nullptr;  // from the first "/" after the host, up to "?" or "#"
  std::uint32_t dwUrlPathLength = 0;
  char16_t* lpszExtraInfo = nullptr;  // query and fragment, from "?" or "#" to the end
  std::uint32_t dwExtraInfoLength = 0;
};

class HttpService {
 public:
  virtual ~HttpService() = default;

  // True when the service can be used on this system.
  virtual bool WinHttpCheckPlatform() = 0;

  // Splits `url` (`urlLength` characters; 0: up to its terminator) into
  // `components`. Only http and https URLs with a host are accepted; anything
  // else fails. `flags` must be 0 (no unescaping).
  //   u"https://example.com:8443/a/b?q=1#f": scheme https, host "example.com",
  //   port 8443, path "/a/b", extra information "?q=1#f".
  virtual bool WinHttpCrackUrl(const char16_t* url, std::uint32_t urlLength, std::uint32_t flags,
                               URL_COMPONENTS* components) = 0;

  // A session. With WINHTTP_ACCESS_TYPE_NAMED_PROXY, `proxyName` lists
  // proxies separated by ";" or white space, each "[scheme=][scheme://]host[:port]";
  // an entry with "http=" or "https=" serves that scheme only, a bare entry
  // every scheme, and the first entry that fits the request is used.
  //   u"http=127.0.0.1:3128"  -> http through the proxy, https direct
  virtual HINTERNET WinHttpOpen(const char16_t* agent, std::uint32_t accessType,
                                const char16_t* proxyName, const char16_t* proxyBypass,
                                std::uint32_t flags) = 0;

  // Time-outs in milliseconds for the handles opened from `session` later.
  // 0 or -1 waits without limit; another negative value fails. The receive
  // time-out bounds each wait for data, not the whole transfer.
  virtual bool WinHttpSetTimeouts(HINTERNET session, int resolveTimeout, int connectTimeout,
                                  int sendTimeout, int receiveTimeout) = 0;

  // A connection to `serverName` (a host name or an IP address) on `port`.
  // Nothing is sent yet.
  virtual HINTERNET WinHttpConnect(HINTERNET session, const char16_t* serverName,
                                   std::uint16_t port, std::uint32_t reserved) = 0;

  // A request for `objectName` (path and query; a fragment is never sent).
  // A null verb is "GET"; the version is always HTTP/1.1.
  virtual HINTERNET WinHttpOpenRequest(HINTERNET connection, const char16_t* verb,
                                       const char16_t* objectName, const char16_t* version,
                                       const char16_t* referrer, const char16_t* const* acceptTypes,
                                       std::uint32_t flags) = 0;

  // Basic credentials for the server or the proxy, sent with the request.
  virtual bool WinHttpSetCredentials(HINTERNET request, std::uint32_t authTargets,
                                     std::uint32_t authScheme, const char16_t* userName,
                                     const char16_t* password, void* authParams) = 0;

  // Sets a 32-bit option: `buffer` points at the value, `bufferLength` is 4.
  virtual bool WinHttpSetOption(HINTERNET handle, std::uint32_t option, const void* buffer,
                                std::uint32_t bufferLength) = 0;

  // Adds header lines separated by CR LF; `headersLength` in characters, -1
  // (all bits set): up to the terminator. A null block with length -1 adds
  // nothing and succeeds. A line that is not "Name: value" fails the call.
  virtual bool WinHttpAddRequestHeaders(HINTERNET request, const char16_t* headers,
                                        std::uint32_t headersLength, std::uint32_t modifiers) = 0;

  // Connects (TLS included) and sends the request with `optionalLength` body
  // bytes (copied). Fails when no connection could be made or the
  // certificate is refused.
  virtual bool WinHttpSendRequest(HINTERNET request, const char16_t* headers,
                                  std::uint32_t headersLength, const void* optional,
                                  std::uint32_t optionalLength, std::uint32_t totalLength,
                                  std::uintptr_t context) = 0;

  // Waits for the final response's headers, following redirects unless they
  // were turned off. Fails when none arrive within the receive time-out.
  virtual bool WinHttpReceiveResponse(HINTERNET request, void* reserved) = 0;

  // Waits for body bytes and reports how many are ready; 0 at the end of the
  // body. A broken transfer is announced as one byte ready, so that the next
  // WinHttpReadData reports it.
  virtual bool WinHttpQueryDataAvailable(HINTERNET request,
                                         std::uint32_t* numberOfBytesAvailable) = 0;

  // Copies up to `numberOfBytesToRead` ready bytes into `buffer`. Fails once
  // the bytes received before a broken transfer have been handed over.
  virtual bool WinHttpReadData(HINTERNET request, void* buffer, std::uint32_t numberOfBytesToRead,
                               std::uint32_t* numberOfBytesRead) = 0;

  // With WINHTTP_QUERY_RAW_HEADERS_CRLF: the final response's header block as
  // UTF-16 into `buffer`. When `*bufferLength` (bytes) is too small, fails and
  // sets it to the size needed, terminator included; on success sets it to
  // the bytes written, terminator excluded.
  virtual bool WinHttpQueryHeaders(HINTERNET request, std::uint32_t infoLevel, const char16_t* name,
                                   void* buffer, std::uint32_t* bufferLength,
                                   std::uint32_t* index) = 0;

  // Releases a handle; null or unknown handles fail.
  virtual bool WinHttpCloseHandle(HINTERNET handle) = 0;
};

// The system's HTTP service (over libcurl on Linux). Each instance keeps its
// own handles; none are shared between instances.
std::unique_ptr<HttpService> NewHttpService();

}  // namespace timesync::platform

#endif  // TIMESYNC_PLATFORM_HTTP_SERVICE_H_
