// The HTTP service over libcurl, against real servers on loopback: the
// scripted HTTP/HTTPS server of the test support library and tinyproxy.
// Most cases go through WebRequest, the way the system uses the service.
#include "platform/http_service.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "platform/http_service_linux.h"
#include "support/proxy_fixture.h"
#include "support/sanitizer.h"
#include "support/test_server.h"
#include "text/text.h"
#include "web/web_request.h"

namespace timesync {

// Failure messages show a text's bytes.
void PrintTo(const Text& text, std::ostream* out) {
  *out << ::testing::PrintToString(text.bytes());
}

namespace {

using testing::BasicAuthorization;
using testing::BasicAuthThenRespond;
using testing::Connection;
using testing::FixedResponse;
using ::testing::HasSubstr;
using testing::MakeResponse;
using ::testing::Not;
using testing::ReceivedRequest;
using testing::RedirectResponse;
using testing::ScriptedServer;
using testing::ServeEach;
using ::testing::StartsWith;
using testing::TestCertificate;
using testing::TinyProxy;

const Text k711 = "711 \xB7\xA2\xCB\xCD\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC!";
const Text k712 = "712 \xB7\xFE\xCE\xF1\xC6\xF7\xCE\xB4\xCF\xEC\xD3\xA6!";
const Text k713 = "713 \xB6\xC1\xC8\xA1\xCA\xFD\xBE\xDD\xCA\xA7\xB0\xDC!";

// The outputs of one WebRequest call.
struct Reply {
  Text page;
  Text status = "unset";
  Text headers = "unset";
  Text location;
  ByteBuffer bytes;
  double seconds = 0;
};

Reply Fetch(WebRequestArgs args) {
  Reply reply;
  args.status = &reply.status;
  args.responseHeaders = &reply.headers;
  args.location = &reply.location;
  args.responseBytes = &reply.bytes;
  const auto start = std::chrono::steady_clock::now();
  reply.page = WebRequest(args);
  reply.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return reply;
}

Reply Get(const std::string& url, int timeoutSeconds = 10) {
  return Fetch({.url = Text(url), .timeoutSeconds = timeoutSeconds, .defaultHeaders = false});
}

// ---- Pieces that stand alone -----------------------------------------------

TEST(HttpServiceTest, CrackUrlParts) {
  struct Row {
    const char16_t* url;
    int scheme;
    const char16_t* host;
    int port;
    const char16_t* path;
    const char16_t* extra;
  };
  const Row rows[] = {
      {u"http://example.test", 1, u"example.test", 80, u"", u""},
      {u"https://example.test", 2, u"example.test", 443, u"", u""},
      {u"http://example.test:8080/a/b?q=1#f", 1, u"example.test", 8080, u"/a/b", u"?q=1#f"},
      {u"http://example.test?q=1", 1, u"example.test", 80, u"", u"?q=1"},
      {u"http://example.test#top", 1, u"example.test", 80, u"", u"#top"},
      {u"HtTpS://user:pw@example.test:444/x", 2, u"example.test", 444, u"/x", u""},
      {u"http://[::1]:8080/v6", 1, u"::1", 8080, u"/v6", u""},
      {u"http://127.0.0.1:/", 1, u"127.0.0.1", 80, u"/", u""},
      {u"http://\u4E2D\u6587.test/\u8DEF", 1, u"\u4E2D\u6587.test", 80, u"/\u8DEF", u""},
  };
  const auto service = platform::NewHttpService();
  for (const Row& row : rows) {
    std::u16string url = row.url;
    platform::URL_COMPONENTS parts;
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength =
        parts.dwExtraInfoLength = 0xFFFFFFFF;
    ASSERT_TRUE(
        service->WinHttpCrackUrl(url.c_str(), static_cast<std::uint32_t>(url.size()), 0, &parts));
    EXPECT_EQ(parts.nScheme, row.scheme);
    EXPECT_EQ(std::u16string(parts.lpszHostName, parts.dwHostNameLength), row.host);
    EXPECT_EQ(parts.nPort, row.port);
    EXPECT_EQ(std::u16string(parts.lpszUrlPath, parts.dwUrlPathLength), row.path);
    EXPECT_EQ(std::u16string(parts.lpszExtraInfo, parts.dwExtraInfoLength), row.extra);
    EXPECT_EQ(parts.dwUserNameLength, 0u);  // not asked for
  }
  for (const char16_t* bad :
       {u"", u"example.test", u"ftp://example.test/", u"http:/example.test", u"http://",
        u"http://:80/", u"http://host:0/", u"http://host:65536/", u"http://host:8o/",
        u"http://ho st/", u"http://[::1/", u"http://a\rb/", u"http://host:1:2/"}) {
    std::u16string url = bad;
    platform::URL_COMPONENTS parts;
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = 0xFFFFFFFF;
    EXPECT_FALSE(
        service->WinHttpCrackUrl(url.c_str(), static_cast<std::uint32_t>(url.size()), 0, &parts))
        << std::string(url.begin(), url.end());
  }
}

TEST(HttpServiceTest, ProxyListSelection) {
  struct Row {
    const char16_t* list;
    const char* forHttp;
    const char* forHttps;
  };
  const Row rows[] = {
      {u"127.0.0.1:3128", "127.0.0.1:3128", "127.0.0.1:3128"},
      {u"http=127.0.0.1:3128", "127.0.0.1:3128", ""},
      {u"https=127.0.0.1:3129", "", "127.0.0.1:3129"},
      {u"http=a:1;https=b:2", "a:1", "b:2"},
      {u"https=13proxy.test;http=14proxy.test:80;", "14proxy.test:80", "13proxy.test:80"},
      {u"http=http_proxy https=https_proxy", "http_proxy:80", "https_proxy:80"},
      {u"http=http://a:1 b:2", "a:1", "b:2"},
      {u"https://a:1", "", "a:1"},
      {u"ftp=f:21 c:3", "c:3", "c:3"},
      {u"  ;; first:1 ; second:2", "first:1", "first:1"},
      {u"[::1]:8080", "[::1]:8080", "[::1]:8080"},
  };
  for (const Row& row : rows) {
    const std::string name(row.list, row.list + std::u16string_view(row.list).size());
    EXPECT_EQ(platform::SelectProxy(row.list, false), row.forHttp) << name;
    EXPECT_EQ(platform::SelectProxy(row.list, true), row.forHttps) << name;
  }
  for (const char16_t* bad : {u"host:99999", u"user@host:1", u"socks://h:1", u"h:x", u"=h:1"}) {
    EXPECT_EQ(platform::SelectProxy(bad, false), std::nullopt)
        << std::string(bad, bad + std::u16string_view(bad).size());
  }
}

TEST(HttpServiceTest, RequestTargetEscaping) {
  EXPECT_EQ(platform::EscapeRequestTarget("/a/b?x=1&y=%20"), "/a/b?x=1&y=%20");
  EXPECT_EQ(platform::EscapeRequestTarget("/a b\r\nX: 1"), "/a%20b%0D%0AX:%201");
  EXPECT_EQ(platform::EscapeRequestTarget("/\xE4\xB8\xAD\"<>"), "/%E4%B8%AD%22%3C%3E");
  EXPECT_EQ(platform::Utf16ToUtf8(u"a\u00E9\u4E2D\U0001F600"),
            "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
  EXPECT_EQ(platform::Utf16ToUtf8(std::u16string(1, char16_t{0xD800})), "\xEF\xBF\xBD");
}

// ---- What goes over the wire -----------------------------------------------

TEST(HttpServiceTest, GetSendsExactlyTheRequestLineAndTheCallersHeaders) {
  ScriptedServer server({}, FixedResponse(MakeResponse(200, "OK", {{"Server", "t"}}, "hello")));
  const Reply reply = Fetch({.url = Text(server.Url("/p/q?x=1#frag")),
                             .extraHeaders = "X-One: 1\r\nX-Empty:",
                             .timeoutSeconds = 10,
                             .defaultHeaders = false,
                             .normalizeHeaders = false});
  EXPECT_EQ(reply.page, "hello");
  EXPECT_EQ(reply.status, "200 OK");
  EXPECT_EQ(reply.headers, "HTTP/1.1 200 OK\r\nServer: t\r\nContent-Length: 5\r\n\r\n");
  ASSERT_EQ(server.Requests().size(), 1u);
  const ReceivedRequest request = server.Requests()[0];
  EXPECT_THAT(request.raw, StartsWith("GET /p/q?x=1 HTTP/1.1\r\n")) << "no fragment on the wire";
  EXPECT_EQ(request.Header("Host"), "127.0.0.1:" + std::to_string(server.port()));
  EXPECT_EQ(request.Header("X-One"), "1");
  EXPECT_EQ(request.Header("X-Empty"), "");
  // Nothing of curl's own that the caller did not ask for.
  for (const char* absent : {"Accept", "User-Agent", "Expect", "Content-Type", "Cookie",
                             "Accept-Encoding", "Authorization"}) {
    EXPECT_EQ(request.Header(absent), std::nullopt) << absent;
  }
}

TEST(HttpServiceTest, EmptyHeaderBlockIsAcceptedAsNoHeaders) {
  // The block is empty (null address, length -1); the request still goes out.
  ScriptedServer server({}, FixedResponse(MakeResponse(204, "No Content", {}, "")));
  const Reply reply = Fetch({.url = Text(server.Url("/")), .defaultHeaders = false});
  EXPECT_EQ(reply.status, "204 No Content");
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(HttpServiceTest, Ipv6Loopback) {
  ScriptedServer server({.address = "::1"}, FixedResponse(MakeResponse(200, "OK", {}, "six")));
  const std::string url = "http://[::1]:" + std::to_string(server.port()) + "/v6";
  EXPECT_EQ(Get(url).page, "six");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].Header("Host"), "[::1]:" + std::to_string(server.port()));
}

TEST(HttpServiceTest, BodiesAreSentAsBytes) {
  ScriptedServer server(
      {}, ServeEach([](const ReceivedRequest&) { return MakeResponse(200, "OK", {}, ""); }));
  const std::string bytes("a\0b\xFF", 4);
  Fetch({.url = Text(server.Url("/post")),
         .method = 1,
         .body = "ignored",
         .defaultHeaders = false,
         .bodyBytes = ByteBuffer(bytes)});
  Fetch({.url = Text(server.Url("/put")),
         .method = 3,
         .body = "\xD6\xD0\xCE\xC4",  // 中文
         .defaultHeaders = false});
  Fetch({.url = Text(server.Url("/empty-post")), .method = 1, .defaultHeaders = false});
  const std::string large(3 << 20, 'L');  // sent at once, without waiting for "100 Continue"
  const Reply reply = Fetch({.url = Text(server.Url("/large")),
                             .method = 1,
                             .defaultHeaders = false,
                             .bodyBytes = ByteBuffer(large)});
  EXPECT_EQ(reply.status, "200 OK");
  EXPECT_LT(reply.seconds, 3);
  const std::vector<ReceivedRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[3].body.size(), large.size());
  EXPECT_EQ(requests[3].Header("Expect"), std::nullopt);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].body, bytes);
  EXPECT_EQ(requests[0].Header("Content-Length"), "4");
  EXPECT_EQ(requests[0].Header("Content-Type"), std::nullopt);
  EXPECT_EQ(requests[1].method, "PUT");
  EXPECT_EQ(requests[1].body, "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(requests[2].method, "POST");
  EXPECT_EQ(requests[2].Header("Content-Length"), "0");
}

TEST(HttpServiceTest, ResponseFormsArePassedOnUntouched) {
  struct Row {
    const char* name;
    std::string response;
    const char* headers;  // the raw header block WebRequest reports
    std::string body;
  };
  const std::string gzip("\x1F\x8B\x08\x00\x00\x00\x00\x00", 8);
  const Row rows[] = {
      {"chunked is decoded",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\n"
       "Trailer-X: t\r\n\r\n",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", "hello world"},
      {"compressed bodies stay compressed",
       MakeResponse(200, "OK", {{"Content-Encoding", "gzip"}}, gzip),
       "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 8\r\n\r\n", gzip},
      {"zero bytes in the body", MakeResponse(200, "OK", {}, std::string("ab\0cd", 5)),
       "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n", std::string("ab\0cd", 5)},
      {"lines ended by LF alone", "HTTP/1.1 200 OK\nX-A: 1\n\nbody",
       "HTTP/1.1 200 OK\r\nX-A: 1\r\n\r\n", "body"},
      {"interim responses are skipped",
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\nContent-Length: 0\r\n\r\n",
       "HTTP/1.1 201 Created\r\nContent-Length: 0\r\n\r\n", ""},
      {"HTTP/1.0 with the body to the close", "HTTP/1.0 404 Not Found\r\n\r\nmissing",
       "HTTP/1.0 404 Not Found\r\n\r\n", "missing"},
      {"cookies are not kept", MakeResponse(200, "OK", {{"Set-Cookie", "a=1"}}, ""),
       "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nContent-Length: 0\r\n\r\n", ""},
      {"GBK bytes in a header", MakeResponse(200, "OK", {{"X-Name", "\xD6\xD0\xCE\xC4"}}, ""),
       "HTTP/1.1 200 OK\r\nX-Name: \xD6\xD0\xCE\xC4\r\nContent-Length: 0\r\n\r\n", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedServer server({}, FixedResponse(row.response));
    const Reply reply = Get(server.Url("/"));
    EXPECT_EQ(reply.headers, row.headers);
    EXPECT_EQ(reply.bytes.bytes(), row.body);
  }
}

TEST(HttpServiceTest, HeadYieldsHeadersAndNoBody) {
  ScriptedServer server({},
                        FixedResponse("HTTP/1.1 200 OK\r\nDate: Fri, 11 Dec 2026 12:00:00 GMT\r\n"
                                      "Content-Length: 1000\r\n\r\n"));
  const Reply reply = Fetch({.url = Text(server.Url("/")), .method = 2, .timeoutSeconds = 5});
  EXPECT_EQ(reply.status, "200 OK");
  EXPECT_THAT(reply.headers.bytes(), HasSubstr("Date: Fri, 11 Dec 2026 12:00:00 GMT\r\n"));
  EXPECT_EQ(reply.page, Text());
  EXPECT_TRUE(reply.bytes.empty());
  EXPECT_LT(reply.seconds, 3) << "no wait for a body that never comes";
  EXPECT_EQ(server.Requests().at(0).method, "HEAD");
}

TEST(HttpServiceTest, BodyIsHandedOverAsItArrives) {
  std::promise<void> firstPartRead;
  std::shared_future<void> released = firstPartRead.get_future().share();
  ScriptedServer server({}, [released](Connection& connection) {
    if (!connection.ReadRequest()) return;
    connection.Write("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nfirst");
    released.wait_for(std::chrono::seconds(10));
    connection.Write("-last");
    connection.Close();
  });
  const auto http = platform::NewHttpService();
  const auto session = http->WinHttpOpen(nullptr, 1, u"", nullptr, 0);
  const auto connection =
      http->WinHttpConnect(session, u"127.0.0.1", static_cast<std::uint16_t>(server.port()), 0);
  const auto request =
      http->WinHttpOpenRequest(connection, u"GET", u"/", nullptr, nullptr, nullptr, 0);
  ASSERT_TRUE(http->WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0));
  ASSERT_TRUE(http->WinHttpReceiveResponse(request, nullptr));
  std::string body;
  std::uint32_t available = 0;
  ASSERT_TRUE(http->WinHttpQueryDataAvailable(request, &available));
  ASSERT_GT(available, 0u);
  std::string buffer(available, '\0');
  std::uint32_t read = 0;
  ASSERT_TRUE(http->WinHttpReadData(request, buffer.data(), available, &read));
  EXPECT_EQ(buffer.substr(0, read), "first") << "handed over before the rest was sent";
  firstPartRead.set_value();
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(http->WinHttpQueryDataAvailable(request, &available));
    if (available == 0) break;
    buffer.assign(available, '\0');
    ASSERT_TRUE(http->WinHttpReadData(request, buffer.data(), available, &read));
    body += buffer.substr(0, read);
  }
  EXPECT_EQ(body, "-last");
  // The header block: its size first (terminator included), then the text.
  std::uint32_t size = 0;
  std::uint32_t index = 0;
  EXPECT_FALSE(http->WinHttpQueryHeaders(request, 22, nullptr, nullptr, &size, &index));
  const std::u16string expected = u"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n";
  EXPECT_EQ(size, (expected.size() + 1) * 2);
  std::u16string text(size / 2, u'\0');
  EXPECT_TRUE(http->WinHttpQueryHeaders(request, 22, nullptr, text.data(), &size, &index));
  EXPECT_EQ(size, expected.size() * 2);
  EXPECT_EQ(text.c_str(), expected);
  http->WinHttpCloseHandle(request);
  http->WinHttpCloseHandle(connection);
  http->WinHttpCloseHandle(session);
}

// The receive time-out bounds the waits for data, not the time the caller
// takes between reads.
TEST(HttpServiceTest, SlowReaderKeepsItsBody) {
  constexpr std::size_t kBody = 4 << 20;
  ScriptedServer server({}, FixedResponse(MakeResponse(200, "OK", {}, std::string(kBody, 'z'))));
  const auto http = platform::NewHttpService();
  const auto session = http->WinHttpOpen(nullptr, 1, u"", nullptr, 0);
  ASSERT_TRUE(http->WinHttpSetTimeouts(session, 500, 500, 500, 500));
  const auto connection =
      http->WinHttpConnect(session, u"127.0.0.1", static_cast<std::uint16_t>(server.port()), 0);
  const auto request =
      http->WinHttpOpenRequest(connection, u"GET", u"/", nullptr, nullptr, nullptr, 0);
  ASSERT_TRUE(http->WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0));
  ASSERT_TRUE(http->WinHttpReceiveResponse(request, nullptr));
  std::size_t total = 0;
  std::string buffer;
  for (int i = 0; i < 100000; ++i) {
    std::uint32_t available = 0;
    ASSERT_TRUE(http->WinHttpQueryDataAvailable(request, &available));
    if (available == 0) break;
    buffer.resize(available);
    std::uint32_t read = 0;
    ASSERT_TRUE(http->WinHttpReadData(request, buffer.data(), available, &read));
    total += read;
    if (i == 0) usleep(1200 * 1000);  // longer than every time-out
  }
  EXPECT_EQ(total, kBody);
  http->WinHttpCloseHandle(request);
  http->WinHttpCloseHandle(connection);
  http->WinHttpCloseHandle(session);
}

// ---- Redirects ---------------------------------------------------------------

TEST(HttpServiceTest, RedirectsFollowTheMethodRules) {
  struct Row {
    int code;
    std::int32_t method;
    const char* expectedMethod;
    bool bodyKept;
  };
  const Row rows[] = {
      {301, 1, "GET", false},  {302, 1, "GET", false}, {303, 1, "GET", false},
      {300, 1, "GET", false},  {307, 1, "POST", true}, {308, 1, "POST", true},
      {303, 3, "GET", false},  {302, 3, "PUT", true},  {301, 2, "HEAD", false},
      {303, 2, "HEAD", false}, {307, 0, "GET", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.code) + " method " + std::to_string(row.method));
    ScriptedServer server({}, ServeEach([&row](const ReceivedRequest& request) {
                            if (request.target == "/from") return RedirectResponse(row.code, "/to");
                            return MakeResponse(200, "OK", {{"X-Arrived", request.method}}, "");
                          }));
    const Reply reply = Fetch({.url = Text(server.Url("/from")),
                               .method = row.method,
                               .body = row.method == 2 || row.method == 0 ? "" : "payload",
                               .extraHeaders = "X-Carried: yes",
                               .timeoutSeconds = 10,
                               .defaultHeaders = false});
    EXPECT_EQ(reply.status, "200 OK");
    const std::vector<ReceivedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].target, "/to");
    EXPECT_EQ(requests[1].method, row.expectedMethod);
    EXPECT_EQ(requests[1].body, row.bodyKept ? "payload" : "");
    if (!row.bodyKept) {
      EXPECT_EQ(requests[1].Header("Content-Length"), std::nullopt);
    }
    EXPECT_EQ(requests[1].Header("X-Carried"), "yes") << "added headers travel on";
    EXPECT_THAT(reply.headers.bytes(), StartsWith("HTTP/1.1 200 OK\r\n"))
        << "the headers are the final response's";
  }
}

TEST(HttpServiceTest, RedirectLimitsAndRefusals) {
  // A chain of n redirects, then a page.
  const auto chain = [](int hops) {
    return ServeEach([hops](const ReceivedRequest& request) {
      const int at = std::stoi(request.target.substr(1));
      return at < hops ? RedirectResponse(302, "/" + std::to_string(at + 1))
                       : MakeResponse(200, "OK", {}, "end");
    });
  };
  {
    ScriptedServer server({}, chain(10));
    EXPECT_EQ(Get(server.Url("/0")).page, "end");
  }
  {
    ScriptedServer server({}, chain(11));
    const Reply reply = Get(server.Url("/0"));
    EXPECT_EQ(reply.status, k712);
    EXPECT_EQ(server.Requests().size(), 11u);
  }
  {
    // A loop ends at the limit too.
    ScriptedServer server(
        {}, ServeEach([](const ReceivedRequest&) { return RedirectResponse(302, "/again"); }));
    EXPECT_EQ(Get(server.Url("/again")).status, k712);
  }
  {
    // Refused: the redirect itself comes back.
    ScriptedServer server({}, FixedResponse(RedirectResponse(302, "/elsewhere")));
    Reply reply;
    WebRequestArgs args{.url = Text(server.Url("/")), .refuseRedirects = true};
    args.location = &reply.location;
    args.status = &reply.status;
    WebRequest(args);
    EXPECT_EQ(reply.status, "302 Found");
    EXPECT_EQ(server.Requests().size(), 1u);
  }
  {
    // A redirect that names no target is an error while redirects are followed.
    ScriptedServer server({}, FixedResponse(MakeResponse(302, "Found", {}, "")));
    EXPECT_EQ(Get(server.Url("/")).status, k712);
  }
  {
    // Never from https down to http.
    ScriptedServer plain({}, FixedResponse(MakeResponse(200, "OK", {}, "plain")));
    ScriptedServer secure({.tls = true}, FixedResponse(RedirectResponse(302, plain.Url("/"))));
    EXPECT_EQ(Get(secure.Url("/")).status, k712);
    EXPECT_EQ(plain.Requests().size(), 0u);
  }
  {
    // Up from http to https is fine.
    ScriptedServer secure({.tls = true}, FixedResponse(MakeResponse(200, "OK", {}, "secure")));
    ScriptedServer plain({}, FixedResponse(RedirectResponse(301, secure.Url("/"))));
    EXPECT_EQ(Get(plain.Url("/")).page, "secure");
  }
}

TEST(HttpServiceTest, ServerCredentialsStayWithTheirServer) {
  ScriptedServer other({}, FixedResponse(MakeResponse(200, "OK", {}, "other")));
  ScriptedServer server({}, ServeEach([&other](const ReceivedRequest&) {
                          return RedirectResponse(302, other.Url("/", "localhost"));
                        }));
  Fetch({.url = Text(server.Url("/")), .userName = "user", .password = "pass"});
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].Header("Authorization"), BasicAuthorization("user", "pass"));
  ASSERT_EQ(other.Requests().size(), 1u);
  EXPECT_EQ(other.Requests()[0].Header("Authorization"), std::nullopt);
}

TEST(HttpServiceTest, BasicCredentials) {
  ScriptedServer server(
      {}, BasicAuthThenRespond("user", "p\xD6\xD0", MakeResponse(200, "OK", {}, "in")));
  EXPECT_EQ(Fetch({.url = Text(server.Url("/")), .userName = "user", .password = "p\xD6\xD0"}).page,
            "in");
  EXPECT_EQ(Fetch({.url = Text(server.Url("/")), .userName = "user", .password = "wrong"}).status,
            "401 Unauthorized");
}

// ---- Time-outs and broken peers ----------------------------------------------

TEST(HttpServiceTest, SilentServersEndWithinTheTimeout) {
  {
    ScriptedServer server({}, [](Connection& connection) {
      if (connection.ReadRequest()) connection.Stall();
    });
    const Reply reply = Get(server.Url("/"), 1);
    EXPECT_EQ(reply.status, k712);
    EXPECT_EQ(reply.headers, "unset");
    EXPECT_GE(reply.seconds, 0.9);
    EXPECT_LT(reply.seconds, 4);
  }
  {
    // Each wait for data has its own limit: a slow but steady body is fine,
    // a body that stops is cut after the time-out with what came before.
    ScriptedServer server({}, [](Connection& connection) {
      if (!connection.ReadRequest()) return;
      connection.Write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n");
      for (int i = 0; i < 4; ++i) {
        connection.Write("part ");
        usleep(700 * 1000);
      }
      connection.Stall();
    });
    const Reply reply = Get(server.Url("/"), 2);
    EXPECT_EQ(reply.status, "200 OK") << "the status text replaces the read failure";
    EXPECT_EQ(reply.page, "part part part part ");
    EXPECT_GT(reply.seconds, 4);  // longer than one time-out, in steps shorter than one
    EXPECT_LT(reply.seconds, 9);
  }
}

TEST(HttpServiceTest, BrokenConnectionsAtEachStage) {
  struct Row {
    const char* name;
    std::function<void(Connection&)> handler;
    Text status;
    std::string bytes;
  };
  const Row rows[] = {
      // The reset may reach the client before or after its request is out.
      {"reset before reading", [](Connection& c) { c.Reset(); }, "711 or 712", ""},
      {"reset after the request",
       [](Connection& c) {
         if (c.ReadRequest()) c.Reset();
       },
       k712, ""},
      {"closed after the request",
       [](Connection& c) {
         if (c.ReadRequest()) c.Close();
       },
       k712, ""},
      {"reset inside the headers",
       [](Connection& c) {
         if (c.ReadRequest()) c.Write("HTTP/1.1 200 OK\r\nContent-Le");
         c.Reset();
       },
       k712, ""},
      {"reset mid-body",
       [](Connection& c) {
         if (c.ReadRequest()) c.Write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nfirst bytes");
         // Give a loaded machine time to take the bytes in before the reset.
         usleep(500 * 1000);
         c.Reset();
       },
       "200 OK", "first bytes"},
      {"closed short of the length",
       [](Connection& c) {
         if (c.ReadRequest()) c.Write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort");
         c.Close();
       },
       "200 OK", "short"},
      {"invalid chunked coding",
       [](Connection& c) {
         if (c.ReadRequest()) {
           c.Write("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\nzz\r\n");
         }
         c.Close();
       },
       "200 OK", "abc"},
      {"garbage status line",
       [](Connection& c) {
         if (c.ReadRequest()) c.Write("GARBAGE 200 OK\r\n\r\nbody");
         c.Close();
       },
       k712, ""},
      {"not HTTP at all",
       [](Connection& c) {
         if (c.ReadRequest()) c.Write(std::string("\x16\x03\x01\x00\x05hello\0\xFF", 12));
         c.Close();
       },
       k712, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedServer server({}, row.handler);
    const Reply reply = Get(server.Url("/"), 3);
    if (row.status == "711 or 712") {
      EXPECT_THAT(reply.status.bytes(), ::testing::AnyOf(k711.bytes(), k712.bytes()));
    } else {
      EXPECT_EQ(reply.status.bytes(), row.status.bytes());
    }
    EXPECT_EQ(reply.bytes.bytes(), row.bytes);
    EXPECT_LT(reply.seconds, 3);
  }
}

TEST(HttpServiceTest, NobodyListening) {
  int port = 0;
  {
    ScriptedServer server({}, FixedResponse(""));
    port = server.port();
  }
  const Reply reply = Get("http://127.0.0.1:" + std::to_string(port) + "/", 3);
  EXPECT_EQ(reply.status, k711);
  EXPECT_EQ(reply.headers, "unset");
}

TEST(HttpServiceTest, OversizedHeaderBlockIsRefused) {
  ScriptedServer server({}, [](Connection& connection) {
    if (!connection.ReadRequest()) return;
    if (!connection.Write("HTTP/1.1 200 OK\r\n")) return;
    const std::string line = "X-Filler: " + std::string(990, 'x') + "\r\n";
    for (int i = 0; i < 10000 && connection.Write(line); ++i) {
    }
    connection.Close();
  });
  const Reply reply = Get(server.Url("/"), 5);
  EXPECT_EQ(reply.status, k712);
  EXPECT_EQ(reply.headers, "unset");
  EXPECT_LT(reply.seconds, 5);
}

// Resident memory of this process in bytes.
std::int64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  std::int64_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

TEST(HttpServiceTest, HugeBodyStreamsInBoundedMemory) {
  constexpr std::int64_t kBody = std::int64_t{1} << 30;  // 1 GiB
  ScriptedServer server({.ioTimeoutMs = 30000}, [](Connection& connection) {
    if (!connection.ReadRequest()) return;
    connection.Write("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kBody) + "\r\n\r\n");
    const std::string block(1 << 20, 'b');
    for (int i = 0; i < 1024 && connection.Write(block); ++i) {
    }
    connection.Close();
  });
  const auto http = platform::NewHttpService();
  const auto session = http->WinHttpOpen(nullptr, 1, u"", nullptr, 0);
  const auto connection =
      http->WinHttpConnect(session, u"127.0.0.1", static_cast<std::uint16_t>(server.port()), 0);
  const auto request =
      http->WinHttpOpenRequest(connection, u"GET", u"/", nullptr, nullptr, nullptr, 0);
  ASSERT_TRUE(http->WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0));
  ASSERT_TRUE(http->WinHttpReceiveResponse(request, nullptr));
  const std::int64_t before = ResidentBytes();
  std::int64_t peak = before;
  std::int64_t total = 0;
  std::string buffer;
  for (int i = 0; i < 10'000'000; ++i) {
    std::uint32_t available = 0;
    ASSERT_TRUE(http->WinHttpQueryDataAvailable(request, &available));
    if (available == 0) break;
    buffer.resize(available);
    std::uint32_t read = 0;
    ASSERT_TRUE(http->WinHttpReadData(request, buffer.data(), available, &read));
    total += read;
    if ((i & 255) == 0) peak = std::max(peak, ResidentBytes());
  }
  EXPECT_EQ(total, kBody);
  // AddressSanitizer keeps up to 256 MiB of freed blocks in quarantine.
  const std::int64_t bound = (TIMESYNC_TEST_UNDER_ASAN ? 400 : 64) << 20;
  EXPECT_LT(peak - before, bound) << "the service holds only a small window of the body";
  http->WinHttpCloseHandle(request);
  http->WinHttpCloseHandle(connection);
  http->WinHttpCloseHandle(session);
}

// ---- Certificates --------------------------------------------------------------

TEST(HttpServiceTest, ExactlyTheFourWaivedCertificateKindsPass) {
  struct Row {
    TestCertificate kind;
    bool passes;
  };
  const Row rows[] = {
      {TestCertificate::kSelfSigned, true},    {TestCertificate::kUnknownCa, true},
      {TestCertificate::kWrongHost, true},     {TestCertificate::kExpired, true},
      {TestCertificate::kNotYetValid, true},   {TestCertificate::kClientUsageOnly, true},
      {TestCertificate::kBadSignature, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::TestCertificateName(row.kind));
    ScriptedServer server({.tls = true, .certificate = row.kind},
                          FixedResponse(MakeResponse(200, "OK", {}, "secret")));
    const Reply reply = Get(server.Url("/"), 5);
    if (row.passes) {
      EXPECT_EQ(reply.page, "secret");
    } else {
      EXPECT_EQ(reply.status, k711);
      EXPECT_EQ(server.Requests().size(), 0u);
    }
  }
}

// Without the security flags every faulty certificate stops the request: the
// service really checks, and waives only what it is told to.
TEST(HttpServiceTest, WithoutFlagsEveryCertificateFaultFails) {
  struct Row {
    TestCertificate kind;
    std::uint32_t waiver;  // the one flag that lets this kind through
  };
  const Row rows[] = {
      {TestCertificate::kSelfSigned, platform::SECURITY_FLAG_IGNORE_UNKNOWN_CA},
      {TestCertificate::kUnknownCa, platform::SECURITY_FLAG_IGNORE_UNKNOWN_CA},
      {TestCertificate::kExpired, platform::SECURITY_FLAG_IGNORE_UNKNOWN_CA |
                                      platform::SECURITY_FLAG_IGNORE_CERT_DATE_INVALID},
      {TestCertificate::kWrongHost,
       platform::SECURITY_FLAG_IGNORE_UNKNOWN_CA | platform::SECURITY_FLAG_IGNORE_CERT_CN_INVALID},
      {TestCertificate::kClientUsageOnly,
       platform::SECURITY_FLAG_IGNORE_UNKNOWN_CA | platform::SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE},
  };
  const auto sends = [](int port, std::optional<std::uint32_t> flags) {
    const auto http = platform::NewHttpService();
    const auto session = http->WinHttpOpen(nullptr, 1, u"", nullptr, 0);
    http->WinHttpSetTimeouts(session, 5000, 5000, 5000, 5000);
    const auto connection =
        http->WinHttpConnect(session, u"127.0.0.1", static_cast<std::uint16_t>(port), 0);
    const auto request = http->WinHttpOpenRequest(connection, u"GET", u"/", nullptr, nullptr,
                                                  nullptr, platform::WINHTTP_FLAG_SECURE);
    if (flags) http->WinHttpSetOption(request, platform::WINHTTP_OPTION_SECURITY_FLAGS, &*flags, 4);
    const bool sent = http->WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) &&
                      http->WinHttpReceiveResponse(request, nullptr);
    http->WinHttpCloseHandle(request);
    http->WinHttpCloseHandle(connection);
    http->WinHttpCloseHandle(session);
    return sent;
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::TestCertificateName(row.kind));
    ScriptedServer server({.tls = true, .certificate = row.kind},
                          FixedResponse(MakeResponse(200, "OK", {}, "")));
    EXPECT_FALSE(sends(server.port(), std::nullopt));
    EXPECT_TRUE(sends(server.port(), row.waiver));
    if (row.waiver != platform::SECURITY_FLAG_IGNORE_UNKNOWN_CA) {
      EXPECT_FALSE(sends(server.port(), platform::SECURITY_FLAG_IGNORE_UNKNOWN_CA))
          << "the kind's own fault still counts";
    }
  }
}

// ---- Proxies -------------------------------------------------------------------

TEST(HttpServiceTest, RequestsThroughTinyproxy) {
  TinyProxy proxy;
  ASSERT_TRUE(proxy.running()) << proxy.Log();
  ScriptedServer plain({}, FixedResponse(MakeResponse(200, "OK", {}, "via proxy")));
  ScriptedServer secure({.tls = true}, FixedResponse(MakeResponse(200, "OK", {}, "tunnelled")));
  EXPECT_EQ(Fetch({.url = Text(plain.Url("/p")), .proxy = Text(proxy.Address())}).page,
            "via proxy");
  EXPECT_EQ(plain.Requests().at(0).target, "/p");
  EXPECT_THAT(plain.Requests().at(0).raw, HasSubstr("Via: "))
      << "the request came through the proxy";
  EXPECT_EQ(Fetch({.url = Text(secure.Url("/s")), .proxy = Text(proxy.Address())}).page,
            "tunnelled");
}

// Sets environment variables for one scope and puts the old values back.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(std::vector<std::pair<std::string, std::string>> values) {
    for (const auto& [name, value] : values) {
      const char* old = getenv(name.c_str());
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
      setenv(name.c_str(), value.c_str(), 1);
    }
  }
  ~ScopedEnvironment() {
    for (const auto& [name, old] : saved_) {
      if (old) {
        setenv(name.c_str(), old->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Only the named proxy counts: proxy settings in the environment are ignored.
TEST(HttpServiceTest, EnvironmentProxySettingsAreIgnored) {
  TinyProxy proxy;
  ASSERT_TRUE(proxy.running()) << proxy.Log();
  ScriptedServer server(
      {}, ServeEach([](const ReceivedRequest&) { return MakeResponse(200, "OK", {}, "page"); }));
  const ScopedEnvironment environment({{"http_proxy", "http://127.0.0.1:9"},
                                       {"HTTPS_PROXY", "http://127.0.0.1:9"},
                                       {"ALL_PROXY", "http://127.0.0.1:9"},
                                       {"no_proxy", "*"},
                                       {"NO_PROXY", "*"}});
  EXPECT_EQ(Get(server.Url("/direct")).page, "page");
  EXPECT_EQ(Fetch({.url = Text(server.Url("/proxied")), .proxy = Text(proxy.Address())}).page,
            "page");
  const std::vector<ReceivedRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_THAT(requests[0].raw, Not(HasSubstr("Via: ")));
  EXPECT_THAT(requests[1].raw, HasSubstr("Via: ")) << "the named proxy was used";
}

TEST(HttpServiceTest, ProxyWithBasicCredentials) {
  TinyProxy proxy({.user = "alice", .password = "secret"});
  ASSERT_TRUE(proxy.running()) << proxy.Log();
  ScriptedServer plain(
      {}, ServeEach([](const ReceivedRequest&) { return MakeResponse(200, "OK", {}, "ok"); }));
  ScriptedServer secure({.tls = true}, FixedResponse(MakeResponse(200, "OK", {}, "tls ok")));
  EXPECT_EQ(Fetch({.url = Text(plain.Url("/")),
                   .proxy = Text(proxy.Address()),
                   .proxyUserName = "alice",
                   .proxyPassword = "secret"})
                .page,
            "ok");
  EXPECT_EQ(plain.Requests().at(0).Header("Proxy-Authorization"), std::nullopt)
      << "the proxy keeps its credentials to itself";
  EXPECT_EQ(Fetch({.url = Text(secure.Url("/")),
                   .proxy = Text(proxy.Address()),
                   .proxyUserName = "alice",
                   .proxyPassword = "secret"})
                .page,
            "tls ok");
  // Without credentials the proxy's refusal is the response.
  EXPECT_EQ(Fetch({.url = Text(plain.Url("/")), .proxy = Text(proxy.Address())}).status,
            "407 Proxy Authentication Required");
  EXPECT_EQ(plain.Requests().size(), 1u);
  // The same for a tunnel the proxy refuses to open.
  const Reply refused = Fetch({.url = Text(secure.Url("/")), .proxy = Text(proxy.Address())});
  EXPECT_EQ(refused.status, "407 Proxy Authentication Required");
  EXPECT_THAT(refused.headers.bytes(), StartsWith("HTTP/1.0 407 ")) << refused.headers.bytes();
  EXPECT_EQ(secure.Requests().size(), 1u);
}

}  // namespace
}  // namespace timesync
