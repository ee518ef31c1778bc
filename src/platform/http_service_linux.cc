// The HTTP service over libcurl.
//
// Each request owns a curl multi handle with one easy handle and is driven
// from the calling thread: WinHttpSendRequest runs the transfer until the
// request is out, WinHttpReceiveResponse until the final response's headers
// are in, and WinHttpQueryDataAvailable until body bytes are ready. Body
// bytes are held in a small buffer; when it is full the transfer pauses until
// the caller has read them, so memory does not grow with the body.
//
// The service's own behaviour is kept where callers rely on it: HTTP/1.1 on
// the wire; redirects followed here (at most 10, never from https to http,
// POST becomes GET on 300-303, HEAD stays HEAD, 307 and 308 keep the method);
// a receive time-out for each wait; named proxies; Basic credentials;
// certificate checks done here, so that exactly the four waivable kinds can
// be waived; no cookies kept, no decompression, chunked coding decoded.
#include "platform/http_service_linux.h"

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "platform/http_service.h"

namespace timesync::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kAskForPointer = 0xFFFFFFFF;
constexpr std::size_t kMaxHeaderBytes = 64 * 1024;    // one response's header block
constexpr std::size_t kBodyBufferBytes = 256 * 1024;  // the transfer pauses beyond this
constexpr long kReceiveBufferBytes = 64 * 1024;       // curl's own buffer for each read
constexpr int kMaxRedirects = 10;

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

char16_t LowerAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c; }

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(static_cast<unsigned char>(a[i])) !=
        LowerAscii(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::u16string_view ZeroTerminated(const char16_t* text) {
  return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

// A host name or address as it may stand between "//" and the port: no
// characters that would end or change the authority.
bool IsPlainHost(std::u16string_view host) {
  if (host.empty()) return false;
  for (const char16_t c : host) {
    if (c < 0x21 || c == 0x7F) return false;
    if (std::u16string_view(u"/?#@\\\"<>^`{|}%[]").find(c) != std::u16string_view::npos)
      return false;
  }
  return true;
}

bool IsIpv6Literal(std::u16string_view host) {
  if (host.find(u':') == std::u16string_view::npos) return false;
  for (const char16_t c : host) {
    const bool hex =
        (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    if (!hex && c != u':' && c != u'.') return false;
  }
  return true;
}

// "host" or "[v6]" with an optional ":port"; the port defaults to `defaultPort`.
bool SplitHostPort(std::u16string_view text, std::uint16_t defaultPort, std::u16string_view* host,
                   std::uint16_t* port) {
  std::u16string_view rest;
  if (!text.empty() && text.front() == u'[') {
    const std::size_t close = text.find(u']');
    if (close == std::u16string_view::npos) return false;
    *host = text.substr(1, close - 1);
    if (!IsIpv6Literal(*host)) return false;
    rest = text.substr(close + 1);
  } else {
    const std::size_t colon = text.find(u':');
    *host = text.substr(0, colon);
    if (!IsPlainHost(*host) || host->find(u':') != std::u16string_view::npos) return false;
    rest = colon == std::u16string_view::npos ? std::u16string_view() : text.substr(colon);
  }
  *port = defaultPort;
  if (rest.empty()) return true;
  if (rest.front() != u':') return false;
  rest.remove_prefix(1);
  if (rest.empty()) return true;  // "host:" keeps the default port
  if (rest.size() > 5) return false;
  std::uint32_t value = 0;
  for (const char16_t c : rest) {
    if (c < u'0' || c > u'9') return false;
    value = value * 10 + (c - u'0');
  }
  if (value == 0 || value > 65535) return false;
  *port = static_cast<std::uint16_t>(value);
  return true;
}

// Fills one part of URL_COMPONENTS: a pointer into the URL when asked for
// with a null pointer and a non-zero length, a copy when given a buffer.
bool FillPart(std::u16string_view part, const char16_t* base, char16_t** pointer,
              std::uint32_t* length) {
  if (*pointer == nullptr) {
    if (*length != 0) {
      *pointer = const_cast<char16_t*>(base) + (part.data() - base);
      *length = static_cast<std::uint32_t>(part.size());
    }
    return true;
  }
  if (*length <= part.size()) return false;
  std::copy(part.begin(), part.end(), *pointer);
  (*pointer)[part.size()] = u'\0';
  *length = static_cast<std::uint32_t>(part.size());
  return true;
}

// ---- Handles -------------------------------------------------------------------

struct Timeouts {
  int resolve = 0;
  int connect = 60000;
  int send = 30000;
  int receive = 30000;
};

struct HandleObject {
  virtual ~HandleObject() = default;
};

struct Session : HandleObject {
  std::u16string proxyList;  // empty: no proxy
  Timeouts timeouts;
};

struct Connection : HandleObject {
  std::u16string proxyList;
  Timeouts timeouts;
  std::string host;  // UTF-8, IPv6 literals in brackets
  std::uint16_t port = 0;
};

struct CurlMultiCloser {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct CurlEasyCloser {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct CurlListCloser {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct CurlUrlCloser {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

// The ex_data slot of an SSL_CTX that holds the request's security flags.
int SecurityFlagsIndex() {
  static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

bool IsWaived(int error, std::uint32_t flags) {
  switch (error) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
      return (flags & SECURITY_FLAG_IGNORE_UNKNOWN_CA) != 0;
    case X509_V_ERR_INVALID_PURPOSE:
      return (flags & SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE) != 0;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return (flags & SECURITY_FLAG_IGNORE_CERT_CN_INVALID) != 0;
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return (flags & SECURITY_FLAG_IGNORE_CERT_DATE_INVALID) != 0;
    default:
      return false;  // bad signatures, malformed certificates and the rest
  }
}

int VerifyCertificate(int preverified, X509_STORE_CTX* store) {
  if (preverified == 1) return 1;
  auto* ssl =
      static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  if (ssl == nullptr) return 0;
  const auto* flags = static_cast<const std::uint32_t*>(
      SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), SecurityFlagsIndex()));
  return flags != nullptr && IsWaived(X509_STORE_CTX_get_error(store), *flags) ? 1 : 0;
}

class Request : public HandleObject {
 public:
  Request(const Connection& connection, std::string verb, std::string target, bool secure)
      : proxyList_(connection.proxyList),
        timeouts_(connection.timeouts),
        verb_(std::move(verb)),
        secure_(secure) {
    std::string host = connection.host;
    const std::uint16_t port = connection.port != 0 ? connection.port
                               : secure             ? INTERNET_DEFAULT_HTTPS_PORT
                                                    : INTERNET_DEFAULT_HTTP_PORT;
    url_ =
        std::string(secure ? "https://" : "http://") + host + ":" + std::to_string(port) + target;
    host_ = std::move(host);
  }
  ~Request() override {
    if (multi_ && easy_) curl_multi_remove_handle(multi_.get(), easy_.get());
    // Members go in reverse order: the header list, the easy handle, the multi handle.
  }

  void SetServerCredentials(std::string user, std::string password) {
    user_ = std::move(user);
    password_ = std::move(password);
  }
  void SetProxyCredentials(std::string user, std::string password) {
    proxyUser_ = std::move(user);
    proxyPassword_ = std::move(password);
  }
  void SetSecurityFlags(std::uint32_t flags) { securityFlags_ = flags; }
  void DisableRedirects() { redirectsDisabled_ = true; }
  void AddHeader(std::string line) { headers_.push_back(std::move(line)); }
  bool HasHeader(std::string_view name) const {
    for (const std::string& line : headers_) {
      const std::size_t colon = line.find_first_of(":;");
      if (EqualsIgnoreCase(std::string_view(line).substr(0, colon), name)) return true;
    }
    return false;
  }

  bool Send(const void* body, std::uint32_t length) {
    if (started_) return false;
    started_ = true;
    if (length > 0) body_.assign(static_cast<const char*>(body), length);
    sendBody_ = length > 0 || verb_ == "POST";
    multi_.reset(curl_multi_init());
    easy_.reset(curl_easy_init());
    if (!multi_ || !easy_ || !StartLeg()) return false;
    Drive([this] { return Connected() && UploadDone(); });
    if (!done_ || result_ == CURLE_OK) return true;
    // The transfer ended early: a failure to connect or to send fails the send;
    // anything later is the response's to report.
    return headersComplete_ || (Connected() && result_ != CURLE_SEND_ERROR);
  }

  bool Receive() {
    if (!started_ || receiveCalled_) return false;
    receiveCalled_ = true;
    Drive([this] { return headersComplete_; });
    return headersComplete_ && !failedHeaders_;
  }

  bool QueryDataAvailable(std::uint32_t* available) {
    if (!headersComplete_ || failedHeaders_) return false;
    if (Unread() == 0 && !done_) {
      if (paused_) {
        paused_ = false;
        curl_easy_pause(easy_.get(), CURLPAUSE_CONT);  // may hand data over at once
      }
      Drive([this] { return Unread() > 0; });
    }
    const std::size_t unread = Unread();
    if (unread > 0) {
      *available = static_cast<std::uint32_t>(std::min<std::size_t>(unread, 0x7FFFFFFF));
    } else {
      // The end of the body, or a broken transfer that the next read reports.
      *available = (BrokenTransfer() && !readFailureReported_) ? 1 : 0;
    }
    return true;
  }

  bool ReadData(void* buffer, std::uint32_t size, std::uint32_t* read) {
    *read = 0;
    if (!headersComplete_ || failedHeaders_) return false;
    const std::size_t count = std::min<std::size_t>(Unread(), size);
    if (count == 0) {
      if (BrokenTransfer()) {
        readFailureReported_ = true;
        return false;
      }
      return true;
    }
    std::memcpy(buffer, body_buffer_.data() + readOffset_, count);
    readOffset_ += count;
    if (readOffset_ == body_buffer_.size()) {
      body_buffer_.clear();
      readOffset_ = 0;
    }
    *read = static_cast<std::uint32_t>(count);
    return true;
  }

  bool HasHeaders() const { return headersComplete_ && !failedHeaders_; }
  const std::string& RawHeaders() const { return rawHeaders_; }
  // The raw header block in UTF-16, converted once for the size query and
  // the query that follows it.
  const std::u16string& RawHeadersWide() {
    if (!rawHeadersWide_) rawHeadersWide_ = Cp936ToUtf16(rawHeaders_);
    return *rawHeadersWide_;
  }

 private:
  std::size_t Unread() const { return body_buffer_.size() - readOffset_; }
  // The transfer ended in error. A proxy's refusal to open a tunnel ends
  // curl's transfer too, but for the caller that response is complete.
  bool BrokenTransfer() const { return done_ && result_ != CURLE_OK && !tunnelRefused_; }

  bool Connected() const {
    curl_off_t pretransfer = 0;
    curl_easy_getinfo(easy_.get(), CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
    return pretransfer > 0 || legConnected_;
  }
  bool UploadDone() const {
    return !legSendsBody_ || uploaded_ >= static_cast<curl_off_t>(body_.size());
  }

  int IdleLimit() const {
    if (!Connected()) {
      if (timeouts_.resolve > 0 && timeouts_.connect > 0)
        return timeouts_.resolve + timeouts_.connect;
      return 0;  // curl's own connect time-out applies
    }
    return UploadDone() ? timeouts_.receive : timeouts_.send;
  }

  // Sets up one leg of the transfer (the first request or a redirect) and
  // hands it to the multi handle.
  bool StartLeg() {
    CURL* easy = easy_.get();
    if (redirects_ > 0) curl_easy_reset(easy);  // a new handle has nothing to reset
    headersComplete_ = false;
    redirectTo_.clear();
    pendingHeaders_.clear();
    statusCode_ = 0;
    location_.reset();
    uploaded_ = 0;
    legConnected_ = false;
    tunnelRefused_ = false;
    legSendsBody_ = sendBody_ && verb_ != "HEAD";
    lastActivity_ = Clock::now();

    const std::optional<std::string> proxy = SelectProxy(proxyList_, secure_);
    if (!proxy) return false;

    curl_easy_setopt(easy, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(easy, CURLOPT_HTTP_TRANSFER_DECODING, 1L);
    // The proxy's answer to CONNECT comes to OnHeader first: a refusal is the response.
    awaitingTunnel_ = secure_ && !proxy->empty();
    // The named proxy alone decides: no proxy or bypass list from the environment.
    curl_easy_setopt(easy, CURLOPT_PROXY, proxy->empty() ? "" : ("http://" + *proxy).c_str());
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
    if (!proxy->empty() && !proxyUser_.empty()) {
      curl_easy_setopt(easy, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
      curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, proxyUser_.c_str());
      curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, proxyPassword_.c_str());
    }
    if (!user_.empty()) {
      curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
      curl_easy_setopt(easy, CURLOPT_USERNAME, user_.c_str());
      curl_easy_setopt(easy, CURLOPT_PASSWORD, password_.c_str());
    }
    if (timeouts_.connect > 0) {
      const long connect = timeouts_.resolve > 0
                               ? static_cast<long>(timeouts_.resolve) + timeouts_.connect
                               : timeouts_.connect;
      curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, connect);
    }

    // Certificates are checked by VerifyCertificate, set up per connection.
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    // No bundle is loaded up front: PrepareTls looks trusted issuers up one
    // by one in the system's hashed certificate folder, when a chain needs them.
    curl_easy_setopt(easy, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &Request::PrepareTls);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, this);

    // The method, and the body only for a leg that sends one.
    if (verb_ == "HEAD") {
      curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (legSendsBody_) {
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_.size()));
      curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body_.data());
      if (verb_ != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, verb_.c_str());
    } else {
      curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
      if (verb_ != "GET") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, verb_.c_str());
    }

    // The caller's headers, and none of curl's own that the caller did not ask for.
    headerList_.reset();
    curl_slist* list = nullptr;
    const auto append = [&list](const std::string& line) {
      curl_slist* grown = curl_slist_append(list, line.c_str());
      if (grown != nullptr) list = grown;
    };
    for (const std::string& line : headers_) {
      if (!legSendsBody_ &&
          (HeaderNameIs(line, "Content-Length") || HeaderNameIs(line, "Transfer-Encoding"))) {
        continue;
      }
      append(line);
    }
    if (!HasHeader("Accept")) append("Accept:");
    if (!HasHeader("Expect")) append("Expect:");
    if (!HasHeader("Content-Type")) append("Content-Type:");
    headerList_.reset(list);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);

    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Request::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Request::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Request::OnProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);

    done_ = false;
    result_ = CURLE_OK;
    return curl_multi_add_handle(multi_.get(), easy) == CURLM_OK;
  }

  static bool HeaderNameIs(std::string_view line, std::string_view name) {
    const std::size_t colon = line.find_first_of(":;");
    return EqualsIgnoreCase(line.substr(0, colon), name);
  }

  // Runs the transfer until `enough()` holds or the transfer is over,
  // following redirects on the way. Every wait is bounded by the phase's
  // time-out; an expired one ends the transfer.
  template <typename Enough>
  void Drive(Enough enough) {
    lastActivity_ = Clock::now();  // each wait has its own time-out
    for (;;) {
      int running = 0;
      curl_multi_perform(multi_.get(), &running);
      int queued = 0;
      while (CURLMsg* message = curl_multi_info_read(multi_.get(), &queued)) {
        if (message->msg == CURLMSG_DONE) {
          done_ = true;
          result_ = message->data.result;
        }
      }
      if (done_) {
        curl_multi_remove_handle(multi_.get(), easy_.get());
        if (!redirectTo_.empty() && StartRedirect()) continue;
        return;
      }
      if (enough()) return;
      const bool connected = Connected();
      if (connected && !legConnected_) {
        legConnected_ = true;
        lastActivity_ = Clock::now();
      }
      const int limit = IdleLimit();
      int waitMs = 1000;
      if (limit > 0) {
        const auto idle =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastActivity_)
                .count();
        if (idle >= limit) {
          curl_multi_remove_handle(multi_.get(), easy_.get());
          done_ = true;
          result_ = CURLE_OPERATION_TIMEDOUT;
          return;
        }
        waitMs = static_cast<int>(std::min<long long>(waitMs, limit - idle));
      }
      curl_multi_poll(multi_.get(), nullptr, 0, std::max(waitMs, 1), nullptr);
    }
  }

  // The response just read asks to go elsewhere: checks the target and the
  // count, adjusts the method, and starts the next leg.
  bool StartRedirect() {
    std::string target = std::move(redirectTo_);
    redirectTo_.clear();
    if (++redirects_ > kMaxRedirects) return FailHeaders();
    std::unique_ptr<CURLU, CurlUrlCloser> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, url_.c_str(), 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_URL, EscapeRequestTarget(target).c_str(),
                     CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
      return FailHeaders();
    }
    curl_url_set(url.get(), CURLUPART_FRAGMENT, nullptr, 0);
    char* scheme = nullptr;
    char* host = nullptr;
    char* full = nullptr;
    curl_url_get(url.get(), CURLUPART_SCHEME, &scheme, 0);
    curl_url_get(url.get(), CURLUPART_HOST, &host, 0);
    curl_url_get(url.get(), CURLUPART_URL, &full, 0);
    const std::string newScheme = scheme ? scheme : "";
    const std::string newHost = host ? host : "";
    const std::string newUrl = full ? full : "";
    curl_free(scheme);
    curl_free(host);
    curl_free(full);
    const bool toSecure = EqualsIgnoreCase(newScheme, "https");
    if (newUrl.empty() || newHost.empty() || (!toSecure && !EqualsIgnoreCase(newScheme, "http")) ||
        (secure_ && !toSecure)) {
      return FailHeaders();  // unsupported scheme, or from https down to http
    }
    if (verb_ != "HEAD" && ((statusCode_ <= 302 && verb_ == "POST") || statusCode_ == 303)) {
      verb_ = "GET";
      sendBody_ = false;
      body_.clear();
    }
    const std::string oldOrigin = Origin(url_);
    url_ = newUrl;
    secure_ = toSecure;
    host_ = newHost;
    if (Origin(url_) != oldOrigin) {  // the server's credentials stay with their server
      user_.clear();
      password_.clear();
    }
    return StartLeg();
  }

  bool FailHeaders() {
    failedHeaders_ = true;
    headersComplete_ = true;  // the waiting is over
    return false;
  }

  static std::string Origin(const std::string& url) {
    std::unique_ptr<CURLU, CurlUrlCloser> parsed(curl_url());
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
      return url;
    std::string origin;
    for (const CURLUPart part : {CURLUPART_SCHEME, CURLUPART_HOST, CURLUPART_PORT}) {
      char* value = nullptr;
      curl_url_get(parsed.get(), part, &value, CURLU_DEFAULT_PORT);
      origin += value ? value : "";
      origin += '|';
      curl_free(value);
    }
    return origin;
  }

  // One header line of a response; the status line starts a new block.
  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
    auto& request = *static_cast<Request*>(self);
    const std::size_t length = size * count;
    request.lastActivity_ = Clock::now();
    if (request.headersComplete_) return length;  // trailers after a chunked body
    std::string_view line(data, length);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.size() >= 5 && line.substr(0, 5) == "HTTP/" && request.pendingHeaders_.empty()) {
      request.statusCode_ = 0;
      const std::size_t space = line.find(' ');
      if (space != std::string_view::npos) {
        for (std::size_t i = space + 1; i < line.size() && i < space + 4; ++i) {
          if (line[i] < '0' || line[i] > '9') break;
          request.statusCode_ = request.statusCode_ * 10 + (line[i] - '0');
        }
      }
      request.location_.reset();
    }
    request.pendingHeaders_.append(line).append("\r\n");
    if (request.pendingHeaders_.size() > kMaxHeaderBytes) {
      request.FailHeaders();
      return 0;  // ends the transfer
    }
    if (!line.empty()) {
      const std::size_t colon = line.find(':');
      if (colon != std::string_view::npos && EqualsIgnoreCase(line.substr(0, colon), "Location")) {
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
          value.remove_prefix(1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
          value.remove_suffix(1);
        request.location_ = std::string(value);
      }
      return length;
    }
    // The empty line: the block is complete.
    const int code = request.statusCode_;
    if (request.awaitingTunnel_) {
      request.awaitingTunnel_ = false;
      if (code >= 200 && code < 300) {  // the tunnel is open: the server's response follows
        request.pendingHeaders_.clear();
        return length;
      }
      request.tunnelRefused_ = true;
      request.rawHeaders_ = std::move(request.pendingHeaders_);
      request.rawHeadersWide_.reset();
      request.pendingHeaders_.clear();
      request.headersComplete_ = true;
      return length;
    }
    if (code >= 100 && code < 200) {  // an interim response: the real one follows
      request.pendingHeaders_.clear();
      return length;
    }
    const bool redirect =
        code == 300 || code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
    if (redirect && !request.redirectsDisabled_) {
      request.pendingHeaders_.clear();
      if (!request.location_ || request.location_->empty()) {
        request.FailHeaders();  // a redirect that names no target
        return 0;
      }
      request.redirectTo_ = *request.location_;
      return 0;  // this leg ends here; Drive starts the next one
    }
    request.rawHeaders_ = std::move(request.pendingHeaders_);
    request.rawHeadersWide_.reset();
    request.pendingHeaders_.clear();
    request.headersComplete_ = true;
    return length;
  }

  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self) {
    auto& request = *static_cast<Request*>(self);
    const std::size_t length = size * count;
    request.lastActivity_ = Clock::now();
    if (request.Unread() >= kBodyBufferBytes) {
      request.paused_ = true;
      return CURL_WRITEFUNC_PAUSE;  // curl hands the same bytes over again later
    }
    if (request.readOffset_ > 0 && request.readOffset_ == request.body_buffer_.size()) {
      request.body_buffer_.clear();
      request.readOffset_ = 0;
    }
    request.body_buffer_.append(data, length);
    return length;
  }

  static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
    auto& request = *static_cast<Request*>(self);
    if (uploaded != request.uploaded_) {
      request.uploaded_ = uploaded;
      request.lastActivity_ = Clock::now();
    }
    return 0;
  }

  // Each TLS connection: verify the peer here, with the request's host and flags.
  static CURLcode PrepareTls(CURL*, void* sslContext, void* self) {
    auto& request = *static_cast<Request*>(self);
    auto* context = static_cast<SSL_CTX*>(sslContext);
    // The hashed folder is read lazily (only the files named after an issuer
    // the chain asks for), where the whole bundle would be parsed for every
    // connection.
    const char* certificateFolder = std::getenv(X509_get_default_cert_dir_env());
    if (certificateFolder == nullptr) certificateFolder = X509_get_default_cert_dir();
    X509_STORE_load_path(SSL_CTX_get_cert_store(context), certificateFolder);
    SSL_CTX_set_ex_data(context, SecurityFlagsIndex(), &request.securityFlags_);
    X509_VERIFY_PARAM* param = SSL_CTX_get0_param(context);
    X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
    X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_CHECK_SS_SIGNATURE);
    std::string host = request.host_;
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
      host = host.substr(1, host.size() - 2);
    if (X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) != 1) {
      X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
    }
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, &VerifyCertificate);
    return CURLE_OK;
  }

  // What the request was given.
  std::u16string proxyList_;
  Timeouts timeouts_;
  std::string verb_;
  bool secure_;
  std::string url_;
  std::string host_;
  std::string user_, password_, proxyUser_, proxyPassword_;
  std::uint32_t securityFlags_ = 0;
  bool redirectsDisabled_ = false;
  std::vector<std::string> headers_;
  std::string body_;
  bool sendBody_ = false;

  // The transfer.
  std::unique_ptr<CURLM, CurlMultiCloser> multi_;
  std::unique_ptr<CURL, CurlEasyCloser> easy_;
  std::unique_ptr<curl_slist, CurlListCloser> headerList_;
  bool started_ = false;
  bool receiveCalled_ = false;
  bool done_ = false;
  CURLcode result_ = CURLE_OK;
  int redirects_ = 0;
  std::string redirectTo_;
  bool legSendsBody_ = false;
  bool legConnected_ = false;
  bool awaitingTunnel_ = false;
  bool tunnelRefused_ = false;
  curl_off_t uploaded_ = 0;
  Clock::time_point lastActivity_ = Clock::now();

  // The response.
  int statusCode_ = 0;
  std::optional<std::string> location_;
  std::string pendingHeaders_;
  std::string rawHeaders_;
  std::optional<std::u16string> rawHeadersWide_;  // made on first query, dropped with the block
  bool headersComplete_ = false;
  bool failedHeaders_ = false;
  std::string body_buffer_;
  std::size_t readOffset_ = 0;
  bool paused_ = false;
  bool readFailureReported_ = false;
};

// A header line the service accepts: "Name: value" with a token name and no
// line break inside.
bool IsValidHeaderLine(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == 0 || colon == std::string_view::npos) return false;
  for (std::size_t i = 0; i < colon; ++i) {
    const unsigned char c = static_cast<unsigned char>(line[i]);
    if (c <= 0x20 || c >= 0x7F ||
        std::string_view("()<>@,;:\\\"/[]?={}").find(static_cast<char>(c)) !=
            std::string_view::npos) {
      return false;
    }
  }
  for (const char c : line) {
    if (c == '\r' || c == '\n' || c == '\0') return false;
  }
  return true;
}

class LinuxHttpService : public HttpService {
 public:
  bool WinHttpCheckPlatform() override { return true; }

  bool WinHttpCrackUrl(const char16_t* url, std::uint32_t urlLength, std::uint32_t flags,
                       URL_COMPONENTS* components) override {
    if (url == nullptr || components == nullptr || flags != 0 ||
        components->dwStructSize != sizeof(URL_COMPONENTS)) {
      return false;
    }
    const std::u16string_view text =
        urlLength == 0 ? std::u16string_view(url) : std::u16string_view(url, urlLength);
    const std::size_t schemeEnd = text.find(u"://");
    if (schemeEnd == std::u16string_view::npos) return false;
    const std::u16string_view scheme = text.substr(0, schemeEnd);
    int schemeNumber = 0;
    if (EqualsIgnoreCase(scheme, u"http")) schemeNumber = INTERNET_SCHEME_HTTP;
    if (EqualsIgnoreCase(scheme, u"https")) schemeNumber = INTERNET_SCHEME_HTTPS;
    if (schemeNumber == 0) return false;
    const std::size_t authorityStart = schemeEnd + 3;
    std::size_t authorityEnd = text.find_first_of(u"/?#", authorityStart);
    if (authorityEnd == std::u16string_view::npos) authorityEnd = text.size();
    std::u16string_view authority = text.substr(authorityStart, authorityEnd - authorityStart);
    const std::size_t at = authority.rfind(u'@');
    if (at != std::u16string_view::npos) authority.remove_prefix(at + 1);  // user information
    std::u16string_view host;
    std::uint16_t port = 0;
    const std::uint16_t defaultPort = schemeNumber == INTERNET_SCHEME_HTTPS
                                          ? INTERNET_DEFAULT_HTTPS_PORT
                                          : INTERNET_DEFAULT_HTTP_PORT;
    if (!SplitHostPort(authority, defaultPort, &host, &port)) return false;
    std::size_t pathEnd = text.find_first_of(u"?#", authorityEnd);
    if (pathEnd == std::u16string_view::npos) pathEnd = text.size();
    const std::u16string_view path = text.substr(authorityEnd, pathEnd - authorityEnd);
    const std::u16string_view extra = text.substr(pathEnd);
    URL_COMPONENTS result = *components;
    result.nScheme = schemeNumber;
    result.nPort = port;
    if (!FillPart(scheme, url, &result.lpszScheme, &result.dwSchemeLength) ||
        !FillPart(host, url, &result.lpszHostName, &result.dwHostNameLength) ||
        !FillPart(path, url, &result.lpszUrlPath, &result.dwUrlPathLength) ||
        !FillPart(extra, url, &result.lpszExtraInfo, &result.dwExtraInfoLength)) {
      return false;
    }
    result.dwUserNameLength = 0;
    result.dwPasswordLength = 0;
    *components = result;
    return true;
  }

  HINTERNET WinHttpOpen(const char16_t*, std::uint32_t accessType, const char16_t* proxyName,
                        const char16_t*, std::uint32_t) override {
    auto session = std::make_unique<Session>();
    if (accessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
      session->proxyList = std::u16string(ZeroTerminated(proxyName));
      if (!SelectProxy(session->proxyList, false) || !SelectProxy(session->proxyList, true) ||
          (SelectProxy(session->proxyList, false)->empty() &&
           SelectProxy(session->proxyList, true)->empty())) {
        return nullptr;  // no proxy could be read from the list
      }
    } else if (accessType != WINHTTP_ACCESS_TYPE_NO_PROXY) {
      return nullptr;
    }
    return Keep(std::move(session));
  }

  bool WinHttpSetTimeouts(HINTERNET handle, int resolve, int connect, int send,
                          int receive) override {
    auto* session = Find<Session>(handle);
    if (session == nullptr) return false;
    for (const int value : {resolve, connect, send, receive}) {
      if (value < -1) return false;
    }
    const auto infinite = [](int value) { return value == -1 ? 0 : value; };
    session->timeouts = {infinite(resolve), infinite(connect), infinite(send), infinite(receive)};
    return true;
  }

  HINTERNET WinHttpConnect(HINTERNET handle, const char16_t* serverName, std::uint16_t port,
                           std::uint32_t) override {
    const auto* session = Find<Session>(handle);
    std::u16string_view host = ZeroTerminated(serverName);
    if (session == nullptr) return nullptr;
    if (host.size() >= 2 && host.front() == u'[' && host.back() == u']') {
      host = host.substr(1, host.size() - 2);
    }
    const bool ipv6 = IsIpv6Literal(host);
    if (!ipv6 && !IsPlainHost(host)) return nullptr;
    if (!ipv6 && host.find(u':') != std::u16string_view::npos) return nullptr;
    auto connection = std::make_unique<Connection>();
    connection->proxyList = session->proxyList;
    connection->timeouts = session->timeouts;
    connection->host = Utf16ToUtf8(host);
    if (ipv6) connection->host = std::string("[").append(connection->host).append("]");
    connection->port = port;  // 0: the scheme's default, chosen with the request
    return Keep(std::move(connection));
  }

  HINTERNET WinHttpOpenRequest(HINTERNET handle, const char16_t* verb, const char16_t* objectName,
                               const char16_t*, const char16_t*, const char16_t* const*,
                               std::uint32_t flags) override {
    const auto* connection = Find<Connection>(handle);
    if (connection == nullptr) return nullptr;
    std::string verbBytes = verb == nullptr ? "GET" : Utf16ToUtf8(ZeroTerminated(verb));
    if (verbBytes.empty()) verbBytes = "GET";
    for (const char c : verbBytes) {
      if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F)
        return nullptr;
    }
    std::u16string_view object = objectName == nullptr ? u"/" : ZeroTerminated(objectName);
    object = object.substr(0, object.find(u'#'));  // the fragment stays here
    std::string target = EscapeRequestTarget(Utf16ToUtf8(object));
    if (target.empty() || target.front() != '/') target = std::string("/").append(target);
    return Keep(std::make_unique<Request>(*connection, std::move(verbBytes), std::move(target),
                                          (flags & WINHTTP_FLAG_SECURE) != 0));
  }

  bool WinHttpSetCredentials(HINTERNET handle, std::uint32_t target, std::uint32_t scheme,
                             const char16_t* userName, const char16_t* password, void*) override {
    auto* request = Find<Request>(handle);
    if (request == nullptr || scheme != WINHTTP_AUTH_SCHEME_BASIC || userName == nullptr) {
      return false;
    }
    std::string user = Utf16ToCp936(ZeroTerminated(userName));
    std::string secret = Utf16ToCp936(ZeroTerminated(password));
    if (user.find(':') != std::string::npos) return false;  // Basic cannot carry it
    if (target == WINHTTP_AUTH_TARGET_SERVER) {
      request->SetServerCredentials(std::move(user), std::move(secret));
    } else if (target == WINHTTP_AUTH_TARGET_PROXY) {
      request->SetProxyCredentials(std::move(user), std::move(secret));
    } else {
      return false;
    }
    return true;
  }

  bool WinHttpSetOption(HINTERNET handle, std::uint32_t option, const void* buffer,
                        std::uint32_t length) override {
    auto* request = Find<Request>(handle);
    if (request == nullptr || buffer == nullptr || length != 4) return false;
    std::uint32_t value = 0;
    std::memcpy(&value, buffer, 4);
    constexpr std::uint32_t kWaivable =
        SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE |
        SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
    switch (option) {
      case WINHTTP_OPTION_SECURITY_FLAGS:
        if ((value & kWaivable) == 0 || (value & ~kWaivable) != 0) return false;
        request->SetSecurityFlags(value);
        return true;
      case WINHTTP_OPTION_DISABLE_FEATURE:
        if ((value & ~(WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_REDIRECTS)) != 0) return false;
        // Cookies are never kept here, so turning them off needs nothing.
        if ((value & WINHTTP_DISABLE_REDIRECTS) != 0) request->DisableRedirects();
        return true;
      case WINHTTP_OPTION_ENABLE_FEATURE:
        return false;  // revocation checking is not offered
      default:
        return false;
    }
  }

  bool WinHttpAddRequestHeaders(HINTERNET handle, const char16_t* headers, std::uint32_t length,
                                std::uint32_t modifiers) override {
    auto* request = Find<Request>(handle);
    if (request == nullptr || modifiers != WINHTTP_ADDREQ_FLAG_ADD) return false;
    if (headers == nullptr) return length == kAskForPointer || length == 0;  // nothing to add
    const std::u16string_view block = length == kAskForPointer
                                          ? std::u16string_view(headers)
                                          : std::u16string_view(headers, length);
    const std::string bytes = Utf16ToCp936(block);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= bytes.size()) {
      std::size_t end = bytes.find("\r\n", start);
      if (end == std::string::npos) end = bytes.size();
      std::string line = bytes.substr(start, end - start);
      start = end + 2;
      if (line.empty()) continue;
      if (!IsValidHeaderLine(line)) return false;
      // "Name:" with nothing after it goes out as an empty header.
      const std::size_t colon = line.find(':');
      if (line.find_first_not_of(" \t", colon + 1) == std::string::npos) {
        line = line.substr(0, colon) + ";";
      }
      lines.push_back(std::move(line));
    }
    for (std::string& line : lines) request->AddHeader(std::move(line));
    return true;
  }

  bool WinHttpSendRequest(HINTERNET handle, const char16_t* headers, std::uint32_t headersLength,
                          const void* optional, std::uint32_t optionalLength,
                          std::uint32_t totalLength, std::uintptr_t) override {
    auto* request = Find<Request>(handle);
    if (request == nullptr || totalLength != optionalLength) return false;
    if (optional == nullptr && optionalLength != 0) return false;
    if (headers != nullptr &&
        !WinHttpAddRequestHeaders(handle, headers, headersLength, WINHTTP_ADDREQ_FLAG_ADD)) {
      return false;
    }
    return request->Send(optional, optionalLength);
  }

  bool WinHttpReceiveResponse(HINTERNET handle, void*) override {
    auto* request = Find<Request>(handle);
    return request != nullptr && request->Receive();
  }

  bool WinHttpQueryDataAvailable(HINTERNET handle, std::uint32_t* available) override {
    auto* request = Find<Request>(handle);
    if (request == nullptr || available == nullptr) return false;
    return request->QueryDataAvailable(available);
  }

  bool WinHttpReadData(HINTERNET handle, void* buffer, std::uint32_t size,
                       std::uint32_t* read) override {
    auto* request = Find<Request>(handle);
    if (request == nullptr || read == nullptr || (buffer == nullptr && size != 0)) return false;
    return request->ReadData(buffer, size, read);
  }

  bool WinHttpQueryHeaders(HINTERNET handle, std::uint32_t level, const char16_t* name,
                           void* buffer, std::uint32_t* length, std::uint32_t* index) override {
    auto* request = Find<Request>(handle);
    if (request == nullptr || length == nullptr || name != nullptr || !request->HasHeaders() ||
        level != WINHTTP_QUERY_RAW_HEADERS_CRLF || (index != nullptr && *index != 0)) {
      return false;
    }
    const std::u16string& wide = request->RawHeadersWide();
    const std::size_t needed = (wide.size() + 1) * sizeof(char16_t);
    if (buffer == nullptr || *length < needed) {
      *length = static_cast<std::uint32_t>(needed);
      return false;
    }
    std::memcpy(buffer, wide.c_str(), needed);
    *length = static_cast<std::uint32_t>(needed - sizeof(char16_t));
    if (index != nullptr) *index = 1;
    return true;
  }

  bool WinHttpCloseHandle(HINTERNET handle) override { return handles_.erase(handle) == 1; }

 private:
  HINTERNET Keep(std::unique_ptr<HandleObject> object) {
    HINTERNET handle = object.get();
    handles_.emplace(handle, std::move(object));
    return handle;
  }

  template <typename Kind>
  Kind* Find(HINTERNET handle) {
    const auto found = handles_.find(handle);
    return found == handles_.end() ? nullptr : dynamic_cast<Kind*>(found->second.get());
  }

  std::unordered_map<HINTERNET, std::unique_ptr<HandleObject>> handles_;
};

}  // namespace

std::optional<std::string> SelectProxy(std::u16string_view proxyList, bool secure) {
  std::optional<std::string> chosen;
  std::size_t position = 0;
  while (position < proxyList.size()) {
    if (IsSpace(proxyList[position]) || proxyList[position] == u';') {
      ++position;
      continue;
    }
    std::size_t end = position;
    while (end < proxyList.size() && !IsSpace(proxyList[end]) && proxyList[end] != u';') ++end;
    std::u16string_view entry = proxyList.substr(position, end - position);
    position = end;

    enum class Serves { kBoth, kHttp, kHttps, kOther } serves = Serves::kBoth;
    const std::size_t equals = entry.find(u'=');
    if (equals != std::u16string_view::npos) {
      const std::u16string_view scheme = entry.substr(0, equals);
      if (scheme.empty()) return std::nullopt;
      serves = EqualsIgnoreCase(scheme, u"http")    ? Serves::kHttp
               : EqualsIgnoreCase(scheme, u"https") ? Serves::kHttps
                                                    : Serves::kOther;
      entry.remove_prefix(equals + 1);
    }
    const std::size_t slashes = entry.find(u"://");
    if (slashes != std::u16string_view::npos) {
      const std::u16string_view scheme = entry.substr(0, slashes);
      Serves prefixed = Serves::kOther;
      if (EqualsIgnoreCase(scheme, u"http")) prefixed = Serves::kHttp;
      if (EqualsIgnoreCase(scheme, u"https")) prefixed = Serves::kHttps;
      if (prefixed == Serves::kOther) return std::nullopt;
      if (serves == Serves::kBoth) serves = prefixed;
      entry.remove_prefix(slashes + 3);
    }
    if (!entry.empty() && entry.back() == u'/') entry.remove_suffix(1);
    std::u16string_view host;
    std::uint16_t port = 0;
    if (!SplitHostPort(entry, 80, &host, &port)) return std::nullopt;
    const bool fits = serves == Serves::kBoth || (serves == Serves::kHttps && secure) ||
                      (serves == Serves::kHttp && !secure);
    if (fits && !chosen) {
      const std::string hostText = Utf16ToUtf8(host);
      chosen = (IsIpv6Literal(host) ? "[" + hostText + "]" : hostText) + ":" + std::to_string(port);
    }
  }
  return chosen ? chosen : std::optional<std::string>(std::string());
}

std::string EscapeRequestTarget(std::string_view target) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(target.size());
  for (const char c : target) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F ||
        std::string_view("\"<>\\^`{|}").find(c) != std::string_view::npos) {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view characters) {
  std::string out;
  out.reserve(characters.size());
  for (std::size_t i = 0; i < characters.size(); ++i) {
    std::uint32_t code = characters[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < characters.size() &&
        characters[i + 1] >= 0xDC00 && characters[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (characters[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

std::unique_ptr<HttpService> NewHttpService() { return std::make_unique<LinuxHttpService>(); }

}  // namespace timesync::platform
