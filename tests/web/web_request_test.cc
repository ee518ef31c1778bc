// WebRequest over a scripted HTTP service: every step can be made to fail,
// and every call the engine makes is recorded.
#include "web/web_request.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/events.h"
#include "platform/http_service.h"

namespace timesync {

// Failure messages show a text's bytes.
void PrintTo(const Text& text, std::ostream* out) {
  *out << ::testing::PrintToString(text.bytes());
}

namespace {

using platform::HINTERNET;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

std::string Narrow(const char16_t* wide) {
  if (wide == nullptr) return "<null>";
  std::string out;
  for (; *wide != 0; ++wide) out += static_cast<char>(*wide);  // the tests use ASCII only
  return out;
}

// One option or credential call as the engine made it.
struct OptionCall {
  std::uint32_t option;
  std::uint32_t value;
  std::uint32_t length;
};

// Answers like a working service, records the arguments, and fails the
// operation named in `failAt` (its `failOccurrence`-th call).
class ScriptedService : public platform::HttpService {
 public:
  std::string failAt;
  int failOccurrence = 1;
  std::string headerBlock = "HTTP/1.1 200 OK\r\nServer: t\r\n\r\n";
  std::deque<std::string> chunks = {"hello ", "world"};
  bool failReadAfterChunks = false;  // the read after the last chunk fails

  std::vector<std::string> calls;
  std::vector<HINTERNET> opened;
  std::vector<HINTERNET> closed;
  std::uint32_t accessType = 0;
  std::string proxyName;
  std::vector<int> timeouts;
  std::string host;
  std::uint16_t port = 0;
  std::string verb, objectName;
  std::uint32_t requestFlags = 0;
  std::vector<std::vector<std::string>> credentials;  // target, user, password
  std::vector<OptionCall> options;
  const char16_t* headerAddress = u"<unset>";
  std::uint32_t headerLength = 0;
  std::string headers;
  bool bodyAddressNull = false;
  std::string body;
  std::uint32_t bodyLength = 0, totalLength = 0;

  bool WinHttpCheckPlatform() override { return Step("CheckPlatform"); }
  bool WinHttpCrackUrl(const char16_t* url, std::uint32_t length, std::uint32_t flags,
                       platform::URL_COMPONENTS* components) override {
    if (!Step("CrackUrl")) return false;
    return real_->WinHttpCrackUrl(url, length, flags, components);
  }
  HINTERNET WinHttpOpen(const char16_t* agent, std::uint32_t access, const char16_t* proxy,
                        const char16_t* bypass, std::uint32_t) override {
    EXPECT_EQ(agent, nullptr);
    EXPECT_EQ(bypass, nullptr);
    EXPECT_NE(proxy, nullptr);  // an empty string, never a null pointer
    accessType = access;
    proxyName = Narrow(proxy);
    return Open("Open");
  }
  bool WinHttpSetTimeouts(HINTERNET, int a, int b, int c, int d) override {
    timeouts = {a, b, c, d};
    return Step("SetTimeouts");
  }
  HINTERNET WinHttpConnect(HINTERNET, const char16_t* server, std::uint16_t p,
                           std::uint32_t) override {
    host = Narrow(server);
    port = p;
    return Open("Connect");
  }
  HINTERNET WinHttpOpenRequest(HINTERNET, const char16_t* v, const char16_t* object,
                               const char16_t* version, const char16_t* referrer,
                               const char16_t* const* accept, std::uint32_t flags) override {
    EXPECT_EQ(version, nullptr);
    EXPECT_EQ(referrer, nullptr);
    EXPECT_EQ(accept, nullptr);
    verb = Narrow(v);
    objectName = Narrow(object);
    requestFlags = flags;
    return Open("OpenRequest");
  }
  bool WinHttpSetCredentials(HINTERNET, std::uint32_t target, std::uint32_t scheme,
                             const char16_t* user, const char16_t* password, void*) override {
    EXPECT_EQ(scheme, platform::WINHTTP_AUTH_SCHEME_BASIC);
    credentials.push_back({std::to_string(target), Narrow(user), Narrow(password)});
    return Step("SetCredentials");
  }
  bool WinHttpSetOption(HINTERNET, std::uint32_t option, const void* buffer,
                        std::uint32_t length) override {
    std::uint32_t value = 0;
    if (length == 4) std::memcpy(&value, buffer, 4);
    options.push_back({option, value, length});
    return Step("SetOption");
  }
  bool WinHttpAddRequestHeaders(HINTERNET, const char16_t* block, std::uint32_t length,
                                std::uint32_t modifiers) override {
    EXPECT_EQ(modifiers, platform::WINHTTP_ADDREQ_FLAG_ADD);
    headerAddress = block;
    headerLength = length;
    headers = Narrow(block);
    return Step("AddRequestHeaders");
  }
  bool WinHttpSendRequest(HINTERNET, const char16_t* extra, std::uint32_t extraLength,
                          const void* optional, std::uint32_t length, std::uint32_t total,
                          std::uintptr_t context) override {
    EXPECT_EQ(extra, nullptr);
    EXPECT_EQ(extraLength, 0u);
    EXPECT_EQ(context, 0u);
    bodyAddressNull = optional == nullptr;
    if (optional != nullptr) body.assign(static_cast<const char*>(optional), length);
    bodyLength = length;
    totalLength = total;
    return Step("SendRequest");
  }
  bool WinHttpReceiveResponse(HINTERNET, void*) override { return Step("ReceiveResponse"); }
  bool WinHttpQueryDataAvailable(HINTERNET, std::uint32_t* available) override {
    if (!Step("QueryDataAvailable")) return false;
    *available = chunks.empty() ? (failReadAfterChunks ? 4 : 0)
                                : static_cast<std::uint32_t>(chunks.front().size());
    return true;
  }
  bool WinHttpReadData(HINTERNET, void* buffer, std::uint32_t size, std::uint32_t* read) override {
    if (!Step("ReadData") || chunks.empty()) return false;
    const std::string chunk = chunks.front();
    chunks.pop_front();
    EXPECT_EQ(size, chunk.size());
    std::memcpy(buffer, chunk.data(), chunk.size());
    *read = static_cast<std::uint32_t>(chunk.size());
    return true;
  }
  bool WinHttpQueryHeaders(HINTERNET, std::uint32_t level, const char16_t* name, void* buffer,
                           std::uint32_t* length, std::uint32_t* index) override {
    EXPECT_EQ(level, platform::WINHTTP_QUERY_RAW_HEADERS_CRLF);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(*index, 0u);
    const std::uint32_t needed = static_cast<std::uint32_t>((headerBlock.size() + 1) * 2);
    if (buffer == nullptr || *length < needed) {
      *length = needed;
      calls.push_back("QueryHeaders(size)");
      return false;
    }
    if (!Step("QueryHeaders")) return false;
    auto* out = static_cast<unsigned char*>(buffer);
    for (std::size_t i = 0; i <= headerBlock.size(); ++i) {
      out[2 * i] = i < headerBlock.size() ? static_cast<unsigned char>(headerBlock[i]) : 0;
      out[2 * i + 1] = 0;
    }
    *length = needed - 2;
    return true;
  }
  bool WinHttpCloseHandle(HINTERNET handle) override {
    if (handle == nullptr) return false;
    closed.push_back(handle);
    return true;
  }

  int Count(const std::string& name) const {
    int n = 0;
    for (const std::string& call : calls) n += call == name;
    return n;
  }

 private:
  bool Step(const std::string& name) {
    calls.push_back(name);
    return !(name == failAt && Count(name) == failOccurrence);
  }
  HINTERNET Open(const std::string& name) {
    if (!Step(name)) return nullptr;
    HINTERNET handle = &tokens_[opened.size()];
    opened.push_back(handle);
    return handle;
  }

  char tokens_[3] = {};
  std::unique_ptr<platform::HttpService> real_ = platform::NewHttpService();
};

// The outputs, all preset so that an output the call does not write shows.
struct Outputs {
  Text cookies = "c=keep";
  Text responseCookies = "rc=keep";
  Text responseHeaders = "headers-keep";
  Text location = "location-keep";
  Text status = "status-keep";
  ByteBuffer responseBytes = ByteBuffer(std::string("bytes-keep"));

  void Wire(WebRequestArgs& args) {
    args.cookies = &cookies;
    args.responseCookies = &responseCookies;
    args.responseHeaders = &responseHeaders;
    args.location = &location;
    args.status = &status;
    args.responseBytes = &responseBytes;
  }
};

struct Result {
  Text page;
  int events = 0;
};

Result Call(ScriptedService& service, WebRequestArgs args, Outputs& outputs) {
  outputs.Wire(args);
  Result result;
  platform::ScopedPendingEventsHook hook([&] { ++result.events; });
  result.page = WebRequest(args, service);
  return result;
}

std::vector<HINTERNET> Reversed(std::vector<HINTERNET> handles) {
  return {handles.rbegin(), handles.rend()};
}

// "701 解析URL地址失败!" and friends, as the caller sees them.
const Text k700 =
    "700 \xB5\xB1\xC7\xB0\xCF\xB5\xCD\xB3\xB2\xBB\xD6\xA7\xB3\xD6WinHttp\xB7\xFE\xCE\xF1!";
const Text k701 = "701 \xBD\xE2\xCE\xF6URL\xB5\xD8\xD6\xB7\xCA\xA7\xB0\xDC!";
const Text k702 = "702 \xB4\xB4\xBD\xA8WinHttp\xBB\xE1\xBB\xB0\xCA\xA7\xB0\xDC!";
const Text k703 = "703 \xB4\xB4\xBD\xA8WinHttp\xC1\xAC\xBD\xD3\xCA\xA7\xB0\xDC!";
const Text k704 = "704 \xB4\xB4\xBD\xA8WinHttp\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC!";
const Text k705 = "705 \xC9\xE8\xD6\xC3\xB3\xAC\xCA\xB1\xCA\xB1\xBC\xE4\xCA\xA7\xB0\xDC!";
const Text k707 = "707 \xC9\xE8\xD6\xC3\xB4\xFA\xC0\xED\xC6\xBE\xD6\xA4\xCA\xA7\xB0\xDC!";
const Text kCert =
    "\xBA\xF6\xC2\xD4\xB4\xED\xCE\xF3/\xD6\xA4\xCA\xE9\xB4\xED\xCE\xF3  \xCA\xA7\xB0\xDC\xA3\xA1";
const Text k708 =
    "708 \xBD\xFB\xD6\xB9\xD7\xD4\xB6\xAF\xC9\xE8\xD6\xC3"
    "Cookies\xCA\xA7\xB0\xDC!";
const Text k709 = "709 \xD6\xD8\xB6\xA8\xCF\xF2\xC9\xE8\xD6\xC3\xCA\xA7\xB0\xDC!";
const Text k710 = "710 \xC9\xE8\xD6\xC3\xD0\xAD\xD2\xE9\xCD\xB7\xCA\xA7\xB0\xDC!";
const Text k711 = "711 \xB7\xA2\xCB\xCD\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC!";
const Text k712 = "712 \xB7\xFE\xCE\xF1\xC6\xF7\xCE\xB4\xCF\xEC\xD3\xA6!";
const Text k713 = "713 \xB6\xC1\xC8\xA1\xCA\xFD\xBE\xDD\xCA\xA7\xB0\xDC!";

struct FailureRow {
  const char* failAt;
  int occurrence;
  Text message;  // what `status` holds afterwards
  int events;    // ProcessPendingEvents calls
  int handles;   // handles opened before the failure
  bool credentials;
  bool proxyCredentials;
  bool refuseRedirects;
};

TEST(WebRequestTest, EveryFailingStepLeavesItsMessageAndClosesInReverse) {
  const FailureRow rows[] = {
      {"CheckPlatform", 1, k700, 0, 0, false, false, false},
      {"CrackUrl", 1, k701, 1, 0, false, false, false},
      {"Open", 1, k702, 2, 0, false, false, false},
      {"SetTimeouts", 1, k705, 3, 1, false, false, false},
      {"Connect", 1, k703, 4, 1, false, false, false},
      {"OpenRequest", 1, k704, 5, 2, false, false, false},
      // The quick way out: no ProcessPendingEvents at all.
      {"SetCredentials", 1, k707, 0, 3, true, true, false},
      {"SetCredentials", 2, k707, 0, 3, true, true, false},
      {"SetCredentials", 1, k707, 0, 3, false, true, false},  // proxy pair alone
      {"SetOption", 1, kCert, 0, 3, false, false, false},
      {"SetOption", 2, k708, 0, 3, false, false, false},
      {"SetOption", 3, k709, 0, 3, false, false, true},
      {"AddRequestHeaders", 1, k710, 6, 3, false, false, false},
      {"SendRequest", 1, k711, 7, 3, false, false, false},
      {"ReceiveResponse", 1, k712, 8, 3, false, false, false},
      // A failed header query has no message of its own.
      {"QueryHeaders", 1, "status-keep", 9, 3, false, false, false},
  };
  for (const FailureRow& row : rows) {
    SCOPED_TRACE(std::string(row.failAt) + " #" + std::to_string(row.occurrence));
    ScriptedService service;
    service.failAt = row.failAt;
    service.failOccurrence = row.occurrence;
    WebRequestArgs args{.url = "http://127.0.0.1:8080/index.html?q=1"};
    if (row.credentials) {
      args.userName = "user";
      args.password = "secret";
    }
    if (row.proxyCredentials) {
      args.proxyUserName = "puser";
      args.proxyPassword = "psecret";
    }
    args.refuseRedirects = row.refuseRedirects;
    Outputs out;
    const Result result = Call(service, args, out);

    EXPECT_EQ(result.page, Text());
    EXPECT_EQ(out.status, row.message);
    EXPECT_EQ(result.events, row.events);
    EXPECT_EQ(service.opened.size(), static_cast<std::size_t>(row.handles));
    EXPECT_EQ(service.closed, Reversed(service.opened));
    EXPECT_EQ(service.calls.back(), row.failAt) << "nothing runs after the failing step";
    // Nothing else was written.
    EXPECT_EQ(out.cookies, "c=keep");
    EXPECT_EQ(out.responseCookies, "rc=keep");
    EXPECT_EQ(out.responseHeaders, "headers-keep");
    EXPECT_EQ(out.location, "location-keep");
    EXPECT_EQ(out.responseBytes, ByteBuffer(std::string("bytes-keep")));
  }
}

TEST(WebRequestTest, SuccessfulCallWritesHeadersStatusAndBody) {
  ScriptedService service;
  Outputs out;
  const Result result = Call(service, {.url = "http://127.0.0.1:8080/a"}, out);
  EXPECT_EQ(result.page, "hello world");
  EXPECT_EQ(out.responseHeaders, "HTTP/1.1 200 OK\r\nServer: t\r\n\r\n");
  EXPECT_EQ(out.status, "200 OK");
  EXPECT_EQ(out.responseBytes, ByteBuffer(std::string("hello world")));
  EXPECT_GE(result.events, 9);
  EXPECT_EQ(service.closed, Reversed(service.opened));
  EXPECT_EQ(service.opened.size(), 3u);
  EXPECT_EQ(service.Count("ReadData"), 2);
}

TEST(WebRequestTest, ReadFailureKeepsWhatWasReadAndTheCallGoesOn) {
  {
    ScriptedService service;
    service.chunks = {"part one"};
    service.failReadAfterChunks = true;
    Outputs out;
    const Result result = Call(service, {.url = "http://127.0.0.1/"}, out);
    EXPECT_EQ(result.page, "part one");
    EXPECT_EQ(out.status, "200 OK") << "the status text replaces the read failure";
    EXPECT_EQ(out.responseHeaders, "HTTP/1.1 200 OK\r\nServer: t\r\n\r\n");
    EXPECT_EQ(out.responseBytes, ByteBuffer(std::string("part one")));
  }
  {
    // When the header query fails too, the read failure stays in `status`.
    ScriptedService service;
    service.chunks = {"part one"};
    service.failReadAfterChunks = true;
    service.failAt = "QueryHeaders";
    Outputs out;
    const Result result = Call(service, {.url = "http://127.0.0.1/"}, out);
    EXPECT_EQ(result.page, Text());
    EXPECT_EQ(out.status, k713);
    EXPECT_EQ(result.events, 9);
    EXPECT_EQ(out.responseHeaders, "headers-keep");
    EXPECT_EQ(out.responseBytes, ByteBuffer(std::string("bytes-keep")));
  }
}

TEST(WebRequestTest, OmittedOutputsAreScratchValues) {
  ScriptedService service;
  EXPECT_EQ(WebRequest({.url = "http://127.0.0.1/"}, service), "hello world");
  ScriptedService failing;
  failing.failAt = "SendRequest";
  EXPECT_EQ(WebRequest({.url = "http://127.0.0.1/"}, failing), Text());
}

TEST(WebRequestTest, UrlPartsBecomeHostPortAndObjectName) {
  struct Row {
    const char* url;
    const char* host;
    std::uint16_t port;
    const char* objectName;
    std::uint32_t flags;
  };
  const Row rows[] = {
      {"http://example.test", "example.test", 80, "/", 0},
#ifndef _WIN32
      // No path: the query is not sent either. (On Windows the system's own
      // URL cracker decides where the host ends; Wine's keeps "?q=1" in it.)
      {"http://example.test?q=1", "example.test", 80, "/", 0},
#endif
      {"http://example.test/p/q?x=1&y=2", "example.test", 80, "/p/q?x=1&y=2", 0},
      {"https://example.test:8443/a#frag", "example.test", 8443, "/a#frag",
       platform::WINHTTP_FLAG_SECURE},
      {"HTTPS://Example.test/", "Example.test", 443, "/", platform::WINHTTP_FLAG_SECURE},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.url);
    ScriptedService service;
    Outputs out;
    Call(service, {.url = row.url}, out);
    EXPECT_EQ(service.host, row.host);
    EXPECT_EQ(service.port, row.port);
    EXPECT_EQ(service.objectName, row.objectName);
    EXPECT_EQ(service.requestFlags, row.flags);
  }
}

TEST(WebRequestTest, UrlTheServiceRefusesEndsBeforeAnySession) {
  // Which URLs the service refuses is its own business; these are refused
  // everywhere. (Wine's cracker takes "http://:80/" and "http://host:8x/".)
  for (const char* url : {"", "ftp://example.test/", "example.test/path", "http://host:99999/",
#ifndef _WIN32
                          "http://:80/", "http://host:8x/"
#endif
       }) {
    SCOPED_TRACE(url);
    ScriptedService service;
    Outputs out;
    const Result result = Call(service, {.url = url}, out);
    EXPECT_EQ(out.status, k701);
    EXPECT_EQ(result.events, 1);
    EXPECT_TRUE(service.opened.empty());
  }
}

TEST(WebRequestTest, VerbTable) {
  const std::pair<std::int32_t, const char*> rows[] = {
      {0, "GET"},
      {1, "POST"},
      {2, "HEAD"},
      {3, "PUT"},
      {4, "OPTIONS"},
      {5, "DELETE"},
      {6, "TRACE"},
      {7, "CONNECT"},
      {8, "GET"},
      {-1, "GET"},
      {std::numeric_limits<std::int32_t>::min(), "GET"}};
  for (const auto& [method, verb] : rows) {
    ScriptedService service;
    Outputs out;
    Call(service, {.url = "http://127.0.0.1/", .method = method}, out);
    EXPECT_EQ(service.verb, verb) << method;
  }
}

TEST(WebRequestTest, TimeoutsInMilliseconds) {
  const std::pair<std::int32_t, int> rows[] = {
      {0, 30000},
      {-5, 30000},
      {std::numeric_limits<std::int32_t>::min(), 30000},
      {1, 1000},
      {5, 5000},
      {2147483, 2147483000},
      // Beyond the 32-bit range the time-out is held at its largest value
      // instead of wrapping round to a short or negative one.
      {2147484, std::numeric_limits<std::int32_t>::max()},
      {4294968, std::numeric_limits<std::int32_t>::max()},
      {std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::max()},
  };
  for (const auto& [seconds, milliseconds] : rows) {
    ScriptedService service;
    Outputs out;
    Call(service, {.url = "http://127.0.0.1/", .timeoutSeconds = seconds}, out);
    EXPECT_THAT(service.timeouts,
                ElementsAre(milliseconds, milliseconds, milliseconds, milliseconds))
        << seconds;
  }
}

TEST(WebRequestTest, ProxyNameDependsOnTheScheme) {
  struct Row {
    const char* url;
    const char* proxy;
    std::uint32_t accessType;
    const char* proxyName;
  };
  const Row rows[] = {
      {"http://127.0.0.1/", "", platform::WINHTTP_ACCESS_TYPE_NO_PROXY, ""},
      {"https://127.0.0.1/", "", platform::WINHTTP_ACCESS_TYPE_NO_PROXY, ""},
      {"http://127.0.0.1/", "127.0.0.1:3128", platform::WINHTTP_ACCESS_TYPE_NAMED_PROXY,
       "http=127.0.0.1:3128"},
      {"https://127.0.0.1/", "127.0.0.1:3128", platform::WINHTTP_ACCESS_TYPE_NAMED_PROXY,
       "127.0.0.1:3128"},
  };
  for (const Row& row : rows) {
    ScriptedService service;
    Outputs out;
    Call(service, {.url = row.url, .proxy = row.proxy}, out);
    EXPECT_EQ(service.accessType, row.accessType) << row.url << " " << row.proxy;
    EXPECT_EQ(service.proxyName, row.proxyName) << row.url << " " << row.proxy;
  }
}

TEST(WebRequestTest, CredentialsOnlyWhenBothHalvesAreGiven) {
  struct Row {
    const char *user, *password, *proxyUser, *proxyPassword;
    std::vector<std::vector<std::string>> expected;
  };
  const Row rows[] = {
      {"", "", "", "", {}},
      {"u", "", "", "pp", {}},
      {"", "p", "pu", "", {}},
      {"u", "p", "", "", {{"0", "u", "p"}}},
      {"", "", "pu", "pp", {{"1", "pu", "pp"}}},
      {"u", "p", "pu", "pp", {{"0", "u", "p"}, {"1", "pu", "pp"}}},
  };
  for (const Row& row : rows) {
    ScriptedService service;
    Outputs out;
    Call(service,
         {.url = "http://127.0.0.1/",
          .userName = row.user,
          .password = row.password,
          .proxyUserName = row.proxyUser,
          .proxyPassword = row.proxyPassword},
         out);
    EXPECT_EQ(service.credentials, row.expected)
        << row.user << "/" << row.password << " " << row.proxyUser << "/" << row.proxyPassword;
  }
}

TEST(WebRequestTest, OptionsInOrder) {
  const auto options = [](bool refuseRedirects, const char* cookies) {
    ScriptedService service;
    Outputs out;
    out.cookies = cookies;
    Call(service, {.url = "http://127.0.0.1/", .refuseRedirects = refuseRedirects}, out);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> seen;
    for (const OptionCall& call : service.options) {
      EXPECT_EQ(call.length, 4u);
      seen.emplace_back(call.option, call.value);
    }
    return seen;
  };
  using P = std::pair<std::uint32_t, std::uint32_t>;
  EXPECT_THAT(options(false, ""), ElementsAre(P{31, 0x3300}, P{63, 1}));
  // Cookies the caller sends do not change the options: the service's own
  // cookie handling stays off.
  EXPECT_THAT(options(false, "a=1"), ElementsAre(P{31, 0x3300}, P{63, 1}));
  EXPECT_THAT(options(true, ""), ElementsAre(P{31, 0x3300}, P{63, 1}, P{63, 2}));
}

TEST(WebRequestTest, HeaderBlockAddressAndLength) {
  {
    // Nothing to add: a null block with length -1.
    ScriptedService service;
    Outputs out;
    out.cookies = "";
    Call(service, {.url = "http://127.0.0.1/", .defaultHeaders = false}, out);
    EXPECT_EQ(service.headerAddress, nullptr);
    EXPECT_EQ(service.headerLength, 0xFFFFFFFFu);
  }
  {
    ScriptedService service;
    Outputs out;
    Call(service, {.url = "http://127.0.0.1/", .extraHeaders = "X-A: 1\r\nX-B: 2"}, out);
    EXPECT_THAT(service.headers, ::testing::StartsWith("X-A: 1\r\nX-B: 2"));
    EXPECT_EQ(service.headerLength, service.headers.size()) << "characters, terminator not counted";
  }
}

TEST(WebRequestTest, BodyBytesWinOverBodyText) {
  struct Row {
    const char* body;
    std::string bodyBytes;
    bool addressNull;
    std::string sent;
  };
  const Row rows[] = {
      {"", "", true, ""},
      {"text \xD6\xD0", "", false, "text \xD6\xD0"},  // the text's own bytes, not re-encoded
      {"text", std::string("b\0y\xFFtes", 7), false, std::string("b\0y\xFFtes", 7)},
  };
  for (const Row& row : rows) {
    ScriptedService service;
    Outputs out;
    Call(service,
         {.url = "http://127.0.0.1/",
          .method = 1,
          .body = row.body,
          .bodyBytes = ByteBuffer(row.bodyBytes)},
         out);
    EXPECT_EQ(service.bodyAddressNull, row.addressNull);
    EXPECT_EQ(service.body, row.sent);
    EXPECT_EQ(service.bodyLength, row.sent.size());
    EXPECT_EQ(service.totalLength, row.sent.size());
  }
}

TEST(WebRequestTest, CallOrder) {
  ScriptedService service;
  Outputs out;
  Call(service, {.url = "http://127.0.0.1/", .userName = "u", .password = "p"}, out);
  EXPECT_THAT(service.calls,
              ElementsAreArray({"CheckPlatform", "CrackUrl", "Open", "SetTimeouts", "Connect",
                                "OpenRequest", "SetCredentials", "SetOption", "SetOption",
                                "AddRequestHeaders", "SendRequest", "ReceiveResponse",
                                "QueryDataAvailable", "ReadData", "QueryDataAvailable", "ReadData",
                                "QueryDataAvailable", "QueryHeaders(size)", "QueryHeaders"}));
}

}  // namespace
}  // namespace timesync
