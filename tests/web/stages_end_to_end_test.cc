// The header and response stages through WebRequest against local servers:
// what goes on the wire and what comes back in the outputs.
#include <gtest/gtest.h>

#include <string>

#include "platform/component_library.h"
#include "support/test_server.h"
#include "web/web_request.h"

namespace timesync {
namespace {

using std::string_literals::operator""s;
using testing::FixedResponse;
using testing::MakeResponse;
using testing::ReceivedRequest;
using testing::ScriptedServer;
using testing::ServeEach;

constexpr const char* kDefaultBlock =
    "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n"
    "Accept: text/html, application/xhtml+xml, */*\r\n"
    "Accept-Encoding: gbk, GB2312\r\n"
    "Accept-Language: zh-cn\r\n"
    "Cache-Control: no-cache\r\n";

int CountHeaders(const ReceivedRequest& request, std::string_view name) {
  int count = 0;
  for (const auto& [headerName, value] : request.headers) {
    if (headerName.size() == name.size() &&
        std::equal(name.begin(), name.end(), headerName.begin(),
                   [](char a, char b) { return std::tolower(a) == std::tolower(b); })) {
      ++count;
    }
  }
  return count;
}

TEST(StagesEndToEndTest, DefaultHeaderBlockGoesOnTheWireAsBuilt) {
  ScriptedServer server({}, FixedResponse(MakeResponse(200, "OK", {{"Date", "x"}}, "")));
  Text headers;
  Text status;
  WebRequest({.url = Text(server.Url("/time")),
              .method = 2,
              .responseHeaders = &headers,
              .timeoutSeconds = 10,
              .status = &status});
  ASSERT_EQ(status, Text("200 OK"));
  ASSERT_TRUE(server.WaitForRequests(1));
  const ReceivedRequest request = server.Requests().at(0);
  EXPECT_EQ(request.method, "HEAD");
  EXPECT_NE(request.raw.find(kDefaultBlock), std::string::npos) << request.raw;
  for (const char* name :
       {"User-Agent", "Accept", "Accept-Encoding", "Accept-Language", "Cache-Control"}) {
    EXPECT_EQ(CountHeaders(request, name), 1) << name << "\n" << request.raw;
  }
  EXPECT_EQ(CountHeaders(request, "Content-Type"), 0);
  EXPECT_EQ(CountHeaders(request, "Cookie"), 0);
}

TEST(StagesEndToEndTest, PostCarriesTheFormContentTypeAndCallersHeadersCapitalised) {
  ScriptedServer server({}, FixedResponse(MakeResponse(200, "OK", {}, "done")));
  const Text page = WebRequest({.url = Text(server.Url("/form")),
                                .method = 1,
                                .body = "a=1",
                                .extraHeaders = "x-requested-with: XMLHttpRequest\r\n"
                                                "Connection: keep-alive\r\nuser-agent: probe",
                                .timeoutSeconds = 10});
  EXPECT_EQ(page, Text("done"));
  ASSERT_TRUE(server.WaitForRequests(1));
  const ReceivedRequest request = server.Requests().at(0);
  EXPECT_EQ(request.Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(request.Header("User-Agent"), "probe");
  EXPECT_EQ(CountHeaders(request, "User-Agent"), 1);
  EXPECT_NE(request.raw.find("X-Requested-With: XMLHttpRequest\r\n"), std::string::npos);
  EXPECT_EQ(request.raw.find("Connection: keep-alive"), std::string::npos) << request.raw;
  EXPECT_EQ(request.body, "a=1");
}

TEST(StagesEndToEndTest, CookiesRoundTripAcrossTwoRequests) {
  ScriptedServer server(
      {}, ServeEach([](const ReceivedRequest& request) {
        if (request.target == "/login") {
          return MakeResponse(
              200, "OK",
              {{"Set-Cookie", "sid=abc; Path=/; HttpOnly"}, {"Set-Cookie", "theme=dark"}}, "in");
        }
        return MakeResponse(200, "OK", {{"Set-Cookie", "sid=deleted; Max-Age=0"}}, "out");
      }));
  Text cookies = "x=1";
  Text responseCookies;
  WebRequest({.url = Text(server.Url("/login")),
              .cookies = &cookies,
              .responseCookies = &responseCookies,
              .timeoutSeconds = 10});
  EXPECT_EQ(responseCookies, Text("sid=abc; theme=dark; x=1"));
  EXPECT_EQ(cookies, Text("sid=abc; theme=dark; x=1"));

  Text secondResponseCookies;
  WebRequest({.url = Text(server.Url("/logout")),
              .cookies = &cookies,
              .responseCookies = &secondResponseCookies,
              .timeoutSeconds = 10});
  ASSERT_TRUE(server.WaitForRequests(2));
  const std::vector<ReceivedRequest> requests = server.Requests();
  EXPECT_EQ(requests.at(0).Header("Cookie"), "x=1");
  EXPECT_EQ(requests.at(1).Header("Cookie"), "sid=abc; theme=dark; x=1");
  EXPECT_EQ(CountHeaders(requests.at(1), "Cookie"), 1);
  EXPECT_EQ(cookies, Text("theme=dark; x=1"));
  EXPECT_EQ(secondResponseCookies, Text("theme=dark; x=1"));
}

TEST(StagesEndToEndTest, CookieLineAfterAnEmptyLineStillArrivesWhenNamesAreNotNormalised) {
  ScriptedServer server({}, FixedResponse(MakeResponse(200, "OK", {}, "")));
  Text cookies = "a=1; b=2";
  Text status;
  WebRequest({.url = Text(server.Url("/")),
              .cookies = &cookies,
              .timeoutSeconds = 10,
              .status = &status,
              .normalizeHeaders = false});
  EXPECT_EQ(status, Text("200 OK"));
  ASSERT_TRUE(server.WaitForRequests(1));
  EXPECT_EQ(server.Requests().at(0).Header("Cookie"), "a=1; b=2");
}

TEST(StagesEndToEndTest, RefusedRedirectGivesItsStatusAndLocation) {
  ScriptedServer server({}, ServeEach([](const ReceivedRequest&) {
                          return MakeResponse(302, "Found", {{"Location", "/elsewhere?x=1"}}, "");
                        }));
  Text status;
  Text location;
  Text headers;
  WebRequest({.url = Text(server.Url("/start")),
              .responseHeaders = &headers,
              .refuseRedirects = true,
              .timeoutSeconds = 10,
              .location = &location,
              .status = &status});
  EXPECT_EQ(status, Text("302 Found"));
  EXPECT_EQ(location, Text("/elsewhere?x=1"));
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(StagesEndToEndTest, ComponentLibraryInitialisationsBalance) {
  ScriptedServer server({}, FixedResponse(MakeResponse(200, "OK", {}, "<meta charset=utf-8>")));
  struct Case {
    std::string name;
    WebRequestArgs args;
    std::int64_t initializations;  // the call's object, plus the charset step when it ran
  };
  const Case cases[] = {
      {"Answered", {.url = Text(server.Url("/")), .timeoutSeconds = 10}, 2},
      {"UrlRefused", {.url = "not a url"}, 1},
  };
  for (const Case& c : cases) {
    const platform::ComponentLibraryCounts before = platform::ComponentLibraryCountsOnThisThread();
    WebRequest(c.args);
    const platform::ComponentLibraryCounts after = platform::ComponentLibraryCountsOnThisThread();
    EXPECT_EQ(after.initializations - before.initializations, c.initializations) << c.name;
    EXPECT_EQ(after.Balance(), before.Balance()) << c.name;
  }
}

struct PageCase {
  std::string name;
  std::string body;
  std::string page;
};

class StagesPageTest : public ::testing::TestWithParam<PageCase> {};

TEST_P(StagesPageTest, PageTextAndBodyBytes) {
  const PageCase& c = GetParam();
  ScriptedServer server(
      {}, FixedResponse(MakeResponse(200, "OK", {{"Content-Type", "text/html; charset=iso-8859-1"}},
                                     c.body)));
  ByteBuffer responseBytes;
  const Text page = WebRequest(
      {.url = Text(server.Url("/page")), .timeoutSeconds = 10, .responseBytes = &responseBytes});
  EXPECT_EQ(page.bytes(), c.page);
  EXPECT_EQ(responseBytes.bytes(), c.body);
}

const std::string kFarUtf8 = std::string(1030, 'x') + "<meta charset=utf-8>\xE4\xB8\xAD";

INSTANTIATE_TEST_SUITE_P(
    Pages, StagesPageTest,
    ::testing::Values(
        PageCase{"Utf8", "<meta charset=\"utf-8\"><p>\xE4\xB8\xAD\xE6\x96\x87</p>",
                 "<meta charset=\"utf-8\"><p>\xD6\xD0\xCE\xC4</p>"},
        PageCase{"Gbk", "<meta http-equiv=Content-Type content=\"text/html; charset=gbk\">\xD6\xD0",
                 "<meta http-equiv=Content-Type content=\"text/html; charset=gbk\">\xD6\xD0"},
        PageCase{"NoDeclaration", "<p>\xE4\xB8\xAD</p>", "<p>\xE4\xB8\xAD</p>"},
        PageCase{"UnknownCharset", "<meta charset=x-mystery>\xE4\xB8\xAD",
                 "<meta charset=x-mystery>\xE4\xB8\xAD"},
        PageCase{"TagBeyond1024Bytes", kFarUtf8, kFarUtf8}, PageCase{"ZeroByte", "ab\0cd"s, "ab"}),
    [](const ::testing::TestParamInfo<PageCase>& info) { return info.param.name; });

}  // namespace
}  // namespace timesync
