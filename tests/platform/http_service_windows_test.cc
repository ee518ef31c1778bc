// The Windows HTTP service against a scripted loopback server, called the way
// the request engine calls it.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/http_service.h"
#include "platform/loopback_http_server_windows.h"

namespace timesync::platform {
namespace {

using ::timesync::testing::LoopbackHttpServer;

std::u16string Widen(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}
std::string Narrow(const std::u16string& wide) {
  std::string out;
  for (char16_t c : wide) out.push_back(static_cast<char>(c));
  return out;
}

struct Exchange {
  bool sent = false;
  bool received = false;
  std::string rawHeaders;
  std::string body;
};

struct Request {
  std::string path = "/";
  std::u16string verb = u"GET";
  const char16_t* headers = nullptr;
  std::uint32_t headersLength = static_cast<std::uint32_t>(-1);
  std::string body;
  bool refuseRedirects = false;
  std::u16string userName;
  std::u16string password;
};

// One request through every step the engine takes, handles closed in reverse order.
Exchange Perform(HttpService& http, std::uint16_t port, const Request& request) {
  Exchange out;
  HINTERNET session = http.WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, u"", nullptr, 0);
  EXPECT_NE(session, nullptr);
  EXPECT_TRUE(http.WinHttpSetTimeouts(session, 5000, 5000, 5000, 5000));
  HINTERNET connection = http.WinHttpConnect(session, u"127.0.0.1", port, 0);
  EXPECT_NE(connection, nullptr);
  const std::u16string object = Widen(request.path);
  HINTERNET handle = http.WinHttpOpenRequest(connection, request.verb.c_str(), object.c_str(),
                                             nullptr, nullptr, nullptr, 0);
  EXPECT_NE(handle, nullptr);
  if (!request.userName.empty()) {
    EXPECT_TRUE(http.WinHttpSetCredentials(handle, WINHTTP_AUTH_TARGET_SERVER,
                                           WINHTTP_AUTH_SCHEME_BASIC, request.userName.c_str(),
                                           request.password.c_str(), nullptr));
  }
  const std::uint32_t flags =
      SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE |
      SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
  EXPECT_TRUE(http.WinHttpSetOption(handle, WINHTTP_OPTION_SECURITY_FLAGS, &flags, 4));
  const std::uint32_t noCookies = WINHTTP_DISABLE_COOKIES;
  EXPECT_TRUE(http.WinHttpSetOption(handle, WINHTTP_OPTION_DISABLE_FEATURE, &noCookies, 4));
  if (request.refuseRedirects) {
    const std::uint32_t noRedirects = WINHTTP_DISABLE_REDIRECTS;
    EXPECT_TRUE(http.WinHttpSetOption(handle, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, 4));
  }
  EXPECT_TRUE(http.WinHttpAddRequestHeaders(handle, request.headers, request.headersLength,
                                            WINHTTP_ADDREQ_FLAG_ADD));
  const auto size = static_cast<std::uint32_t>(request.body.size());
  out.sent = http.WinHttpSendRequest(
      handle, nullptr, 0, request.body.empty() ? nullptr : request.body.data(), size, size, 0);
  out.received = out.sent && http.WinHttpReceiveResponse(handle, nullptr);
  if (out.received) {
    for (int i = 0; i < 10000; ++i) {
      std::uint32_t ready = 0;
      if (!http.WinHttpQueryDataAvailable(handle, &ready) || ready < 1) break;
      std::string chunk(ready, '\0');
      std::uint32_t read = 0;
      if (!http.WinHttpReadData(handle, chunk.data(), ready, &read)) break;
      out.body.append(chunk, 0, read);
    }
    std::uint32_t bytes = 0;
    std::uint32_t index = 0;
    http.WinHttpQueryHeaders(handle, WINHTTP_QUERY_RAW_HEADERS_CRLF, nullptr, nullptr, &bytes,
                             &index);
    std::u16string raw(bytes / 2, u'\0');
    index = 0;
    EXPECT_TRUE(http.WinHttpQueryHeaders(handle, WINHTTP_QUERY_RAW_HEADERS_CRLF, nullptr,
                                         raw.data(), &bytes, &index));
    raw.resize(bytes / 2);
    out.rawHeaders = Narrow(raw);
  }
  EXPECT_TRUE(http.WinHttpCloseHandle(handle));
  EXPECT_TRUE(http.WinHttpCloseHandle(connection));
  EXPECT_TRUE(http.WinHttpCloseHandle(session));
  return out;
}

std::string Response(const std::string& statusLine, const std::string& headers,
                     const std::string& body) {
  return "HTTP/1.1 " + statusLine + "\r\n" + headers +
         "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

TEST(WinHttpServiceTest, CracksUrlsIntoPointersAndRefusesOtherSchemes) {
  std::unique_ptr<HttpService> http = NewHttpService();
  ASSERT_TRUE(http->WinHttpCheckPlatform());
  const std::u16string url = u"https://example.com:8443/a/b?q=1#f";
  URL_COMPONENTS parts;
  parts.dwStructSize = sizeof parts;
  parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength =
      static_cast<std::uint32_t>(-1);
  ASSERT_TRUE(
      http->WinHttpCrackUrl(url.c_str(), static_cast<std::uint32_t>(url.size()), 0, &parts));
  EXPECT_EQ(parts.nScheme, INTERNET_SCHEME_HTTPS);
  EXPECT_EQ(std::u16string(parts.lpszHostName, parts.dwHostNameLength), u"example.com");
  EXPECT_EQ(parts.nPort, 8443);
  EXPECT_EQ(std::u16string(parts.lpszUrlPath, parts.dwUrlPathLength), u"/a/b");
  EXPECT_EQ(std::u16string(parts.lpszExtraInfo, parts.dwExtraInfoLength), u"?q=1#f");
  EXPECT_EQ(parts.lpszHostName, url.c_str() + 8) << "pointers into the given URL";

  URL_COMPONENTS plain;
  plain.dwStructSize = sizeof plain;
  plain.dwHostNameLength = plain.dwUrlPathLength = static_cast<std::uint32_t>(-1);
  ASSERT_TRUE(http->WinHttpCrackUrl(u"http://127.0.0.1", 16, 0, &plain));
  EXPECT_EQ(plain.nScheme, INTERNET_SCHEME_HTTP);
  EXPECT_EQ(plain.nPort, 80);
  EXPECT_EQ(plain.dwUrlPathLength, 0u);

  for (const char16_t* refused : {u"ftp://example.com/", u"example.com", u"http://"}) {
    URL_COMPONENTS none;
    none.dwStructSize = sizeof none;
    none.dwHostNameLength = static_cast<std::uint32_t>(-1);
    EXPECT_FALSE(http->WinHttpCrackUrl(refused, 0, 0, &none)) << Narrow(refused);
  }
}

TEST(WinHttpServiceTest, RawHeaderBlockStartsWithTheStatusLineAndEndsWithAnEmptyLine) {
  LoopbackHttpServer server([](const std::string&) {
    return Response("200 OK", "Date: Tue, 13 Jul 2021 20:30:15 GMT\r\nX-Two: a b\r\n", "hello");
  });
  ASSERT_NE(server.port(), 0);
  std::unique_ptr<HttpService> http = NewHttpService();
  const Exchange got = Perform(*http, server.port(), {});
  ASSERT_TRUE(got.received);
  EXPECT_EQ(got.body, "hello");
  EXPECT_EQ(got.rawHeaders.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << got.rawHeaders;
  EXPECT_NE(got.rawHeaders.find("\r\nDate: Tue, 13 Jul 2021 20:30:15 GMT\r\n"), std::string::npos);
  EXPECT_EQ(got.rawHeaders.substr(got.rawHeaders.size() - 4), "\r\n\r\n");
}

TEST(WinHttpServiceTest, HeaderBlocksAndBodiesReachTheServer) {
  LoopbackHttpServer server([](const std::string&) { return Response("200 OK", "", ""); });
  std::unique_ptr<HttpService> http = NewHttpService();
  const std::u16string block = u"X-One: 1\r\nCookie: a=b";
  Request post;
  post.verb = u"POST";
  post.path = "/form?x=1";
  post.headers = block.c_str();
  post.headersLength = static_cast<std::uint32_t>(block.size());
  post.body = std::string("k=v\0z", 5);
  ASSERT_TRUE(Perform(*http, server.port(), post).received);
  ASSERT_EQ(server.requests().size(), 1u);
  const std::string seen = server.requests()[0];
  EXPECT_EQ(seen.rfind("POST /form?x=1 HTTP/1.1\r\n", 0), 0u) << seen;
  EXPECT_NE(seen.find("\r\nX-One: 1\r\n"), std::string::npos) << seen;
  EXPECT_NE(seen.find("\r\nCookie: a=b\r\n"), std::string::npos) << seen;
  EXPECT_EQ(seen.substr(seen.size() - 5), std::string("k=v\0z", 5));
}

TEST(WinHttpServiceTest, AnEmptyHeaderBlockIsAcceptedAndAddsNothing) {
  LoopbackHttpServer server([](const std::string&) { return Response("204 No Content", "", ""); });
  std::unique_ptr<HttpService> http = NewHttpService();
  const char16_t empty[] = u"";
  struct Case {
    const char16_t* headers;
    std::uint32_t length;
  };
  for (const Case& c : {Case{nullptr, static_cast<std::uint32_t>(-1)}, Case{empty, 0},
                        Case{empty, static_cast<std::uint32_t>(-1)}}) {
    Request request;
    request.headers = c.headers;
    request.headersLength = c.length;
    const Exchange got = Perform(*http, server.port(), request);
    EXPECT_TRUE(got.received);
    EXPECT_EQ(got.rawHeaders.rfind("HTTP/1.1 204 No Content\r\n", 0), 0u);
  }
  HINTERNET session = http->WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, u"", nullptr, 0);
  HINTERNET connection = http->WinHttpConnect(session, u"127.0.0.1", server.port(), 0);
  HINTERNET request =
      http->WinHttpOpenRequest(connection, u"GET", u"/", nullptr, nullptr, nullptr, 0);
  const char16_t bad[] = u"no colon here";
  EXPECT_FALSE(http->WinHttpAddRequestHeaders(request, bad, 13, WINHTTP_ADDREQ_FLAG_ADD))
      << "a block that is not empty still goes to the service";
  http->WinHttpCloseHandle(request);
  http->WinHttpCloseHandle(connection);
  http->WinHttpCloseHandle(session);
}

TEST(WinHttpServiceTest, RedirectsAreFollowedUnlessTurnedOff) {
  LoopbackHttpServer server([](const std::string& request) {
    if (request.rfind("GET /old ", 0) == 0) return Response("302 Found", "Location: /new\r\n", "");
    return Response("200 OK", "X-Final: yes\r\n", "new page");
  });
  std::unique_ptr<HttpService> http = NewHttpService();
  Request request;
  request.path = "/old";
  const Exchange followed = Perform(*http, server.port(), request);
  EXPECT_EQ(followed.body, "new page");
  EXPECT_EQ(followed.rawHeaders.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << "the final response only";
  EXPECT_NE(followed.rawHeaders.find("X-Final: yes"), std::string::npos);

  request.refuseRedirects = true;
  const Exchange refused = Perform(*http, server.port(), request);
  EXPECT_EQ(refused.rawHeaders.rfind("HTTP/1.1 302 Found\r\n", 0), 0u) << refused.rawHeaders;
  EXPECT_NE(refused.rawHeaders.find("Location: /new\r\n"), std::string::npos);
}

TEST(WinHttpServiceTest, BasicCredentialsAnswerTheServersChallenge) {
  LoopbackHttpServer server([](const std::string& request) {
    if (request.find("\r\nAuthorization: Basic dXNlcjpwQHNz\r\n") != std::string::npos) {
      return Response("200 OK", "", "welcome");
    }
    return Response("401 Unauthorized", "WWW-Authenticate: Basic realm=\"t\"\r\n", "");
  });
  std::unique_ptr<HttpService> http = NewHttpService();
  Request request;
  request.userName = u"user";
  request.password = u"p@ss";
  const Exchange got = Perform(*http, server.port(), request);
  EXPECT_EQ(got.body, "welcome");
  EXPECT_EQ(got.rawHeaders.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << got.rawHeaders;
}

TEST(WinHttpServiceTest, NothingListeningFailsTheSend) {
  std::uint16_t port = 0;
  {
    LoopbackHttpServer closed([](const std::string&) { return std::string(); });
    port = closed.port();
  }
  std::unique_ptr<HttpService> http = NewHttpService();
  const Exchange got = Perform(*http, port, {});
  EXPECT_FALSE(got.sent);
  EXPECT_FALSE(http->WinHttpCloseHandle(nullptr));
}

}  // namespace
}  // namespace timesync::platform
