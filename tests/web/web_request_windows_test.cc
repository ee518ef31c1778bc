// WebRequest over the system's own services (WinHTTP, VBScript.RegExp,
// Adodb.Stream, code page 936) against a scripted loopback server.
#include <gtest/gtest.h>

#include <string>

#include "platform/loopback_http_server_windows.h"
#include "platform/under_wine_windows.h"
#include "web/web_request.h"

namespace timesync {
namespace {

using ::timesync::testing::LoopbackHttpServer;
using ::timesync::testing::UnderWine;

const Text k711 = "711 \xB7\xA2\xCB\xCD\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC!";  // 711 发送请求失败!
const Text k712 = "712 \xB7\xFE\xCE\xF1\xC6\xF7\xCE\xB4\xCF\xEC\xD3\xA6!";  // 712 服务器未响应!

std::string Response(const std::string& statusLine, const std::string& headers,
                     const std::string& body) {
  return "HTTP/1.1 " + statusLine + "\r\n" + headers +
         "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

Text UrlOf(const LoopbackHttpServer& server, const char* path) {
  return Text("http://127.0.0.1:" + std::to_string(server.port()) + path);
}

struct Outputs {
  Text headers = "caller's headers";
  Text status = "caller's status";
  Text location;
  ByteBuffer bytes;
};

WebRequestArgs With(Outputs& out, WebRequestArgs args) {
  args.responseHeaders = &out.headers;
  args.status = &out.status;
  args.location = &out.location;
  args.responseBytes = &out.bytes;
  return args;
}

TEST(WebRequestWindowsTest, HeadRequestGivesTheRawHeaderBlockAndTheStatusText) {
  LoopbackHttpServer server([](const std::string&) {
    return Response("200 OK", "Date: Tue, 13 Jul 2021 20:30:15 GMT\r\n", "");
  });
  Outputs out;
  const Text page = WebRequest(With(out, {.url = UrlOf(server, ""), .method = 2}));
  EXPECT_EQ(page, Text());
  EXPECT_EQ(out.status, Text("200 OK"));
  EXPECT_EQ(Left(out.headers, 17), Text("HTTP/1.1 200 OK\r\n"));
  EXPECT_EQ(Right(out.headers, 4), Text("\r\n\r\n"));
  EXPECT_NE(Find(out.headers, "\r\nDate: Tue, 13 Jul 2021 20:30:15 GMT\r\n"), -1);
  ASSERT_EQ(server.requests().size(), 1u);
  const std::string request = server.requests()[0];
  EXPECT_EQ(request.rfind("HEAD / HTTP/1.1\r\n", 0), 0u) << request;
  EXPECT_NE(request.find("\r\nAccept-Language: zh-cn\r\n"), std::string::npos) << request;
}

TEST(WebRequestWindowsTest, BodyBytesGoOutAndComeBackWhole) {
  LoopbackHttpServer server([](const std::string& request) {
    const std::string body = request.substr(request.find("\r\n\r\n") + 4);
    return Response("201 Created", "", body);
  });
  Outputs out;
  const std::string sent("a\0\xD6\xD0", 4);
  const Text page = WebRequest(
      With(out, {.url = UrlOf(server, "/echo?x=1"), .method = 1, .bodyBytes = ByteBuffer(sent)}));
  EXPECT_EQ(out.status, Text("201 Created"));
  EXPECT_EQ(out.bytes, ByteBuffer(sent));
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].rfind("POST /echo?x=1 HTTP/1.1\r\n", 0), 0u);
  EXPECT_EQ(page, Text("a")) << "the page text ends at the zero byte";
}

TEST(WebRequestWindowsTest, RedirectsAndCredentials) {
  LoopbackHttpServer server([](const std::string& request) {
    if (request.rfind("GET /old ", 0) == 0) return Response("302 Found", "Location: /new\r\n", "");
    if (request.find("\r\nAuthorization: Basic dTpw\r\n") == std::string::npos) {
      return Response("401 Unauthorized", "WWW-Authenticate: Basic realm=\"r\"\r\n", "");
    }
    return Response("200 OK", "", "welcome");
  });
  Outputs followed;
  EXPECT_EQ(
      WebRequest(With(followed, {.url = UrlOf(server, "/old"), .userName = "u", .password = "p"})),
      Text("welcome"));
  EXPECT_EQ(followed.status, Text("200 OK"));

  Outputs refused;
  WebRequest(With(refused, {.url = UrlOf(server, "/old"), .refuseRedirects = true}));
  EXPECT_EQ(refused.status, Text("302 Found"));
  EXPECT_EQ(refused.location, Text("/new"));
}

TEST(WebRequestWindowsTest, FailuresLeaveTheirMessageAndTheCallersHeaders) {
  std::uint16_t closedPort = 0;
  {
    LoopbackHttpServer closed([](const std::string&) { return std::string(); });
    closedPort = closed.port();
  }
  Outputs nobody;
  const Text url("http://127.0.0.1:" + std::to_string(closedPort) + "/");
  EXPECT_EQ(WebRequest(With(nobody, {.url = url, .timeoutSeconds = 5})), Text());
  EXPECT_EQ(nobody.status, k711);
  EXPECT_EQ(nobody.headers, Text("caller's headers"));

  LoopbackHttpServer silent([](const std::string&) { return std::string(); });
  Outputs unanswered;
  EXPECT_EQ(WebRequest(With(unanswered, {.url = UrlOf(silent, "/"), .timeoutSeconds = 5})), Text());
  EXPECT_EQ(unanswered.status, k712);
  EXPECT_EQ(unanswered.headers, Text("caller's headers"));
}

TEST(WebRequestWindowsTest, PagesAreDecodedFromTheirDeclaredCharset) {
  LoopbackHttpServer server([](const std::string&) {
    return Response("200 OK", "",
                    "<html><head><meta charset=\"utf-8\"></head>\xE4\xB8\xAD</html>");  // 中
  });
  Outputs out;
  const Text page = WebRequest(With(out, {.url = UrlOf(server, "/")}));
  if (UnderWine()) GTEST_SKIP() << "Wine's Adodb.Stream does not implement ReadText";
  EXPECT_EQ(page, Text("<html><head><meta charset=\"utf-8\"></head>\xD6\xD0</html>"));
}

}  // namespace
}  // namespace timesync
