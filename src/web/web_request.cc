// WebRequest: one request through the HTTP service, from entry to return.
//
// Two ways out. The common one runs ProcessPendingEvents once for every stage
// the call attempted (URL parsing, session, time-outs, connection, request,
// request headers, send, receive, header query), then closes the handles.
// The quick one, taken when credentials or options are refused, only closes
// the handles. Either way the request, the connection and the session are
// closed in that order, and then the response stage's objects are released.
#include "web/web_request.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <utility>

#include "platform/codepage.h"
#include "platform/events.h"
#include "platform/http_service.h"
#include "platform/memory.h"
#include "text/text.h"
#include "web/request_headers.h"
#include "web/response.h"

namespace timesync {
namespace {

using platform::HINTERNET;
using platform::HttpService;

// "700 当前系统不支持WinHttp服务!"
constexpr const char* kNoPlatform =
    "700 \xB5\xB1\xC7\xB0\xCF\xB5\xCD\xB3\xB2\xBB\xD6\xA7\xB3\xD6WinHttp\xB7\xFE\xCE\xF1!";
// "701 解析URL地址失败!"
constexpr const char* kBadUrl = "701 \xBD\xE2\xCE\xF6URL\xB5\xD8\xD6\xB7\xCA\xA7\xB0\xDC!";
// "702 创建WinHttp会话失败!"
constexpr const char* kNoSession = "702 \xB4\xB4\xBD\xA8WinHttp\xBB\xE1\xBB\xB0\xCA\xA7\xB0\xDC!";
// "703 创建WinHttp连接失败!"
constexpr const char* kNoConnection =
    "703 \xB4\xB4\xBD\xA8WinHttp\xC1\xAC\xBD\xD3\xCA\xA7\xB0\xDC!";
// "704 创建WinHttp请求失败!"
constexpr const char* kNoRequest = "704 \xB4\xB4\xBD\xA8WinHttp\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC!";
// "705 设置超时时间失败!"
constexpr const char* kTimeoutsRefused =
    "705 \xC9\xE8\xD6\xC3\xB3\xAC\xCA\xB1\xCA\xB1\xBC\xE4\xCA\xA7\xB0\xDC!";
// "707 设置代理凭证失败!" (server and proxy credentials alike)
constexpr const char* kCredentialsRefused =
    "707 \xC9\xE8\xD6\xC3\xB4\xFA\xC0\xED\xC6\xBE\xD6\xA4\xCA\xA7\xB0\xDC!";
// "忽略错误/证书错误  失败！"
constexpr const char* kSecurityFlagsRefused =
    "\xBA\xF6\xC2\xD4\xB4\xED\xCE\xF3/\xD6\xA4\xCA\xE9\xB4\xED\xCE\xF3  \xCA\xA7\xB0\xDC\xA3\xA1";
// "708 禁止自动设置Cookies失败!"
constexpr const char* kCookieOptionRefused =
    "708 \xBD\xFB\xD6\xB9\xD7\xD4\xB6\xAF\xC9\xE8\xD6\xC3"
    "Cookies\xCA\xA7\xB0\xDC!";
// "709 重定向设置失败!"
constexpr const char* kRedirectOptionRefused =
    "709 \xD6\xD8\xB6\xA8\xCF\xF2\xC9\xE8\xD6\xC3\xCA\xA7\xB0\xDC!";
// "710 设置协议头失败!"
constexpr const char* kHeadersRefused =
    "710 \xC9\xE8\xD6\xC3\xD0\xAD\xD2\xE9\xCD\xB7\xCA\xA7\xB0\xDC!";
// "711 发送请求失败!"
constexpr const char* kSendFailed = "711 \xB7\xA2\xCB\xCD\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC!";
// "712 服务器未响应!"
constexpr const char* kNoResponse = "712 \xB7\xFE\xCE\xF1\xC6\xF7\xCE\xB4\xCF\xEC\xD3\xA6!";
// "713 读取数据失败!"
constexpr const char* kReadFailed = "713 \xB6\xC1\xC8\xA1\xCA\xFD\xBE\xDD\xCA\xA7\xB0\xDC!";

constexpr const char* kVerbs[] = {"GET",     "POST",   "HEAD",  "PUT",
                                  "OPTIONS", "DELETE", "TRACE", "CONNECT"};

constexpr std::uint32_t kWholeString = 0xFFFFFFFF;  // a length of -1

// A zero-terminated UTF-16 string for the service. An empty text gives an
// empty string whose address is still valid (u"").
std::u16string Wide(const Text& text) {
  const ByteBuffer bytes = TextToWide(text);
  std::u16string wide(static_cast<std::size_t>(bytes.size() / 2), u'\0');
  if (!wide.empty()) std::memcpy(wide.data(), bytes.data(), wide.size() * sizeof(char16_t));
  if (!wide.empty() && wide.back() == u'\0') wide.pop_back();  // c_str() supplies the terminator
  return wide;
}

// `count` characters at `characters`, in code page 936.
Text NarrowCharacters(const char16_t* characters, std::uint32_t count) {
  if (characters == nullptr || count == 0) return Text();
  return WideToText(ByteBuffer(std::string(reinterpret_cast<const char*>(characters),
                                           static_cast<std::size_t>(count) * sizeof(char16_t))));
}

// Milliseconds for every phase: 0 or less means 30 seconds. The product is
// formed in double precision; one beyond the 32-bit range is held at its
// largest value rather than wrapped (a wrapped product would turn a long
// time-out into a short or negative one).
std::int32_t TimeoutMilliseconds(std::int32_t timeoutSeconds) {
  if (timeoutSeconds <= 0) return 30000;
  const double milliseconds = static_cast<double>(timeoutSeconds) * 1000.0;
  constexpr std::int64_t kLargest = std::numeric_limits<std::int32_t>::max();
  const std::int64_t truncated = TruncateToInteger(milliseconds);
  return static_cast<std::int32_t>(truncated > kLargest ? kLargest : truncated);
}

// Makes room for `needed` bytes, doubling as a string would, but with a large
// new buffer set up for huge pages before the bytes so far are copied in.
void GrowFor(std::string& bytes, std::size_t needed) {
  if (needed <= bytes.capacity()) return;
  std::string grown;
  grown.reserve(std::max(needed, 2 * bytes.capacity()));
  platform::AdviseHugePages(grown.data(), grown.capacity());
  grown.append(bytes);
  bytes.swap(grown);
}

// Where the text outputs go: the caller's values, or scratch values that are
// dropped. The body bytes go to the caller's buffer only: without one they are
// not kept at all.
struct Outputs {
  explicit Outputs(const WebRequestArgs& args)
      : cookies(args.cookies ? *args.cookies : scratchCookies),
        responseCookies(args.responseCookies ? *args.responseCookies : scratchResponseCookies),
        responseHeaders(args.responseHeaders ? *args.responseHeaders : scratchResponseHeaders),
        location(args.location ? *args.location : scratchLocation),
        status(args.status ? *args.status : scratchStatus) {}

  Text scratchCookies, scratchResponseCookies, scratchResponseHeaders, scratchLocation,
      scratchStatus;
  Text& cookies;
  Text& responseCookies;
  Text& responseHeaders;
  Text& location;
  Text& status;
};

enum class WayOut { kCommon, kQuick };

// The call's own resources. The destructor closes the request, the
// connection and the session in that order; the response stage's objects,
// declared first, are released after them.
class CallState {
 public:
  explicit CallState(HttpService& http) : http(http) {}
  ~CallState() {
    http.WinHttpCloseHandle(request);
    http.WinHttpCloseHandle(connection);
    http.WinHttpCloseHandle(session);
  }
  CallState(const CallState&) = delete;
  CallState& operator=(const CallState&) = delete;

  HttpService& http;
  ResponseStageObjects responseStage;
  HINTERNET session = nullptr;
  HINTERNET connection = nullptr;
  HINTERNET request = nullptr;
  int stagesAttempted = 0;
  WayOut wayOut = WayOut::kCommon;
};

// Steps 2 to 17 of the call. Returns the page text; on failure leaves its
// message in `out.status` (when it has one) and the way out in `call`.
Text RunRequest(const WebRequestArgs& args, Outputs& out, CallState& call) {
  HttpService& http = call.http;
  const auto failCommon = [&](const char* message) {
    if (message != nullptr) out.status = message;
    call.wayOut = WayOut::kCommon;
    return Text();
  };
  const auto failQuick = [&](const char* message) {
    out.status = message;
    call.wayOut = WayOut::kQuick;
    return Text();
  };

  if (!http.WinHttpCheckPlatform()) return failCommon(kNoPlatform);

  // URL parsing: the service hands back pointers into `url`.
  ++call.stagesAttempted;
  std::u16string url = Wide(args.url);
  platform::URL_COMPONENTS components;
  components.dwStructSize = sizeof(components);
  components.dwSchemeLength = kWholeString;
  components.dwHostNameLength = kWholeString;
  components.dwUrlPathLength = kWholeString;
  components.dwExtraInfoLength = kWholeString;
  if (!http.WinHttpCrackUrl(url.empty() ? nullptr : url.data(),
                            static_cast<std::uint32_t>(url.size()), 0, &components)) {
    return failCommon(kBadUrl);
  }
  const Text host = NarrowCharacters(components.lpszHostName, components.dwHostNameLength);
  const std::uint16_t port = components.nPort;
  const bool secure = components.nScheme == platform::INTERNET_SCHEME_HTTPS;
  std::u16string objectName;
  if (static_cast<std::int32_t>(components.dwUrlPathLength) < 1) {
    objectName = u"/";  // no path: the query is not sent either
  } else {
    objectName.assign(components.lpszUrlPath, components.dwUrlPathLength);
    if (components.lpszExtraInfo != nullptr && components.dwExtraInfoLength > 0) {
      objectName.append(components.lpszExtraInfo, components.dwExtraInfoLength);
    }
  }

  // Session: a proxy given for an http URL serves http only.
  ++call.stagesAttempted;
  const bool viaProxy = !args.proxy.empty();
  std::u16string proxyName;
  if (viaProxy) proxyName = Wide(secure ? args.proxy : Concat("http=", args.proxy));
  call.session = http.WinHttpOpen(
      nullptr,
      viaProxy ? platform::WINHTTP_ACCESS_TYPE_NAMED_PROXY : platform::WINHTTP_ACCESS_TYPE_NO_PROXY,
      proxyName.c_str(), nullptr, 0);
  if (call.session == nullptr) return failCommon(kNoSession);

  ++call.stagesAttempted;
  const std::int32_t timeout = TimeoutMilliseconds(args.timeoutSeconds);
  if (!http.WinHttpSetTimeouts(call.session, timeout, timeout, timeout, timeout)) {
    return failCommon(kTimeoutsRefused);
  }

  ++call.stagesAttempted;
  const std::u16string wideHost = Wide(host);
  call.connection = http.WinHttpConnect(call.session, wideHost.c_str(), port, 0);
  if (call.connection == nullptr) return failCommon(kNoConnection);

  const bool knownVerb = args.method >= 0 && args.method <= 7;
  const std::u16string verb = Wide(knownVerb ? kVerbs[args.method] : "GET");

  ++call.stagesAttempted;
  call.request =
      http.WinHttpOpenRequest(call.connection, verb.c_str(), objectName.c_str(), nullptr, nullptr,
                              nullptr, secure ? platform::WINHTTP_FLAG_SECURE : 0);
  if (call.request == nullptr) return failCommon(kNoRequest);

  // Credentials, each pair only when both halves are given.
  if (!args.userName.empty() && !args.password.empty()) {
    const std::u16string user = Wide(args.userName);
    const std::u16string password = Wide(args.password);
    if (!http.WinHttpSetCredentials(call.request, platform::WINHTTP_AUTH_TARGET_SERVER,
                                    platform::WINHTTP_AUTH_SCHEME_BASIC, user.c_str(),
                                    password.c_str(), nullptr)) {
      return failQuick(kCredentialsRefused);
    }
  }
  if (!args.proxyUserName.empty() && !args.proxyPassword.empty()) {
    const std::u16string user = Wide(args.proxyUserName);
    const std::u16string password = Wide(args.proxyPassword);
    if (!http.WinHttpSetCredentials(call.request, platform::WINHTTP_AUTH_TARGET_PROXY,
                                    platform::WINHTTP_AUTH_SCHEME_BASIC, user.c_str(),
                                    password.c_str(), nullptr)) {
      return failQuick(kCredentialsRefused);
    }
  }

  // Options. The four certificate kinds that do not stop a request are
  // waived on every request. The service's own cookie handling is turned off
  // whether or not the request carries cookies: the engine sends and collects
  // cookies itself.
  const std::uint32_t securityFlags = platform::SECURITY_FLAG_IGNORE_UNKNOWN_CA |
                                      platform::SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE |
                                      platform::SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                                      platform::SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
  if (!http.WinHttpSetOption(call.request, platform::WINHTTP_OPTION_SECURITY_FLAGS, &securityFlags,
                             sizeof(securityFlags))) {
    return failQuick(kSecurityFlagsRefused);
  }
  const std::uint32_t disableCookies = platform::WINHTTP_DISABLE_COOKIES;
  if (!http.WinHttpSetOption(call.request, platform::WINHTTP_OPTION_DISABLE_FEATURE,
                             &disableCookies, sizeof(disableCookies))) {
    return failQuick(kCookieOptionRefused);
  }
  if (args.refuseRedirects) {
    const std::uint32_t disableRedirects = platform::WINHTTP_DISABLE_REDIRECTS;
    if (!http.WinHttpSetOption(call.request, platform::WINHTTP_OPTION_DISABLE_FEATURE,
                               &disableRedirects, sizeof(disableRedirects))) {
      return failQuick(kRedirectOptionRefused);
    }
  }

  // Request headers: an empty block goes as a null address with length -1.
  ++call.stagesAttempted;
  const Text block = BuildRequestHeaders(args.extraHeaders, args.method, out.cookies,
                                         args.defaultHeaders, args.normalizeHeaders);
  const std::u16string wideBlock = Wide(block);
  if (!http.WinHttpAddRequestHeaders(
          call.request, wideBlock.empty() ? nullptr : wideBlock.c_str(),
          wideBlock.empty() ? kWholeString : static_cast<std::uint32_t>(wideBlock.size()),
          platform::WINHTTP_ADDREQ_FLAG_ADD)) {
    return failCommon(kHeadersRefused);
  }

  // Body: the bytes when given, else the text's own bytes.
  ++call.stagesAttempted;
  const ByteBuffer textBody = args.bodyBytes.empty() ? ToBytes(args.body) : ByteBuffer();
  const ByteBuffer& body = args.bodyBytes.empty() ? textBody : args.bodyBytes;
  if (static_cast<std::uint64_t>(body.size()) > std::numeric_limits<std::uint32_t>::max()) {
    return failCommon(kSendFailed);  // more than the service can be told to send
  }
  const auto bodyLength = static_cast<std::uint32_t>(body.size());
  if (!http.WinHttpSendRequest(call.request, nullptr, 0, body.empty() ? nullptr : body.data(),
                               bodyLength, bodyLength, 0)) {
    return failCommon(kSendFailed);
  }

  ++call.stagesAttempted;
  if (!http.WinHttpReceiveResponse(call.request, nullptr)) return failCommon(kNoResponse);

  // Body read loop. Each read lands straight at the end of what came before
  // (the bytes the service reports, the buffer cut to what it wrote). A
  // failed read keeps what came before it; a read that hands over nothing
  // ends the body.
  ByteBuffer received;
  std::string& receivedBytes = received.mutable_bytes();
  for (;;) {
    std::uint32_t available = 0;
    if (!http.WinHttpQueryDataAvailable(call.request, &available) || available < 1) break;
    const std::size_t start = receivedBytes.size();
    GrowFor(receivedBytes, start + available);
    receivedBytes.resize(start + available);
    std::uint32_t read = 0;
    const bool readOk =
        http.WinHttpReadData(call.request, receivedBytes.data() + start, available, &read);
    receivedBytes.resize(start + (readOk ? std::min(read, available) : 0));
    if (!readOk) {
      out.status = kReadFailed;
      break;
    }
    if (read == 0) break;
  }

  // Raw headers: ask for the size, then for the text.
  ++call.stagesAttempted;
  std::uint32_t size = 0;
  std::uint32_t index = 0;
  http.WinHttpQueryHeaders(call.request, platform::WINHTTP_QUERY_RAW_HEADERS_CRLF, nullptr, nullptr,
                           &size, &index);
  ByteBuffer headerBuffer = BlankBytes(size);
  index = 0;
  if (!http.WinHttpQueryHeaders(call.request, platform::WINHTTP_QUERY_RAW_HEADERS_CRLF, nullptr,
                                headerBuffer.empty() ? nullptr : headerBuffer.data(), &size,
                                &index)) {
    return failCommon(nullptr);
  }
  out.responseHeaders = WideToText(headerBuffer);

  Text pageText;
  ProcessResponse(out.responseHeaders, std::move(received), args.mergeCookies, call.responseStage,
                  out.cookies, out.responseCookies, out.status, out.location,
                  args.responseBytes, pageText);
  return pageText;
}

}  // namespace

Text WebRequest(const WebRequestArgs& args, platform::HttpService& service) {
  Outputs out(args);
  CallState call(service);
  Text pageText = RunRequest(args, out, call);
  if (call.wayOut == WayOut::kCommon) {
    for (int stage = 0; stage < call.stagesAttempted; ++stage) ProcessPendingEvents();
  }
  return pageText;  // `call` closes the handles on the way
}

Text WebRequest(const WebRequestArgs& args) {
  const std::unique_ptr<platform::HttpService> service = platform::NewHttpService();
  return WebRequest(args, *service);
}

}  // namespace timesync
