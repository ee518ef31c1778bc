#include "web/request_headers.h"

#include <gtest/gtest.h>

#include <string>

namespace timesync {
namespace {

constexpr const char* kUserAgent =
    "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)";
constexpr const char* kAccept = "Accept: text/html, application/xhtml+xml, */*";
constexpr const char* kAcceptEncoding = "Accept-Encoding: gbk, GB2312";
constexpr const char* kAcceptLanguage = "Accept-Language: zh-cn";
constexpr const char* kContentType = "Content-Type: application/x-www-form-urlencoded";
constexpr const char* kCacheControl = "Cache-Control: no-cache";

std::string Lines(std::initializer_list<std::string> lines) {
  std::string joined;
  for (const std::string& line : lines) {
    if (!joined.empty()) joined += "\r\n";
    joined += line;
  }
  return joined;
}

const std::string kDefaultBlock =
    Lines({kUserAgent, kAccept, kAcceptEncoding, kAcceptLanguage, kCacheControl});

struct HeaderCase {
  std::string name;
  std::string extraHeaders;
  std::int32_t method;
  std::string cookies;
  bool defaultHeaders;
  bool normalizeHeaders;
  std::string block;
};

class BuildRequestHeadersTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(BuildRequestHeadersTest, BuildsTheBlock) {
  const HeaderCase& c = GetParam();
  EXPECT_EQ(BuildRequestHeaders(Text(c.extraHeaders), c.method, Text(c.cookies), c.defaultHeaders,
                                c.normalizeHeaders)
                .bytes(),
            c.block);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BuildRequestHeadersTest,
    ::testing::Values(
        HeaderCase{"DefaultsForHead", "", 2, "", true, true, kDefaultBlock},
        HeaderCase{"PostAddsContentTypeBeforeCacheControl", "", 1, "", true, true,
                   Lines({kUserAgent, kAccept, kAcceptEncoding, kAcceptLanguage, kContentType,
                          kCacheControl})},
        HeaderCase{"CallersContentTypeWinsWithoutItsSpace", "content-type:text/plain", 1, "", true,
                   true,
                   Lines({"Content-Type:text/plain", kUserAgent, kAccept, kAcceptEncoding,
                          kAcceptLanguage, kCacheControl})},
        HeaderCase{
            "CallersUserAgentIsCapitalised", "user-agent: test", 0, "", true, true,
            Lines({"User-Agent: test", kAccept, kAcceptEncoding, kAcceptLanguage, kCacheControl})},
        HeaderCase{"AcceptWithoutSpaceDoesNotCount", "Accept:text/html", 0, "", true, true,
                   Lines({"Accept:text/html", kUserAgent, kAccept, kAcceptEncoding, kAcceptLanguage,
                          kCacheControl})},
        HeaderCase{"SearchedTextInsideAnotherLineCounts", "x-info: user-agent: none", 0, "", true,
                   true,
                   Lines({"X-Info: user-agent: none", kAccept, kAcceptEncoding, kAcceptLanguage,
                          kCacheControl})},
        HeaderCase{"NamesCapitalisedAfterEachHyphen", "x-requested-with: XMLHttpRequest", 0, "",
                   false, true, "X-Requested-With: XMLHttpRequest"},
        HeaderCase{"UpperCaseInsideNameStays", "x-reQuested-WITH: a:b", 0, "", false, true,
                   "X-ReQuested-WITH: a:b"},
        HeaderCase{"NameEndingInHyphen", "x-: 1", 0, "", false, true, "X-: 1"},
        HeaderCase{"LineWithoutColonDroppedWhenNormalising", "nocolon\r\nA: 1", 0, "", false, true,
                   "A: 1"},
        HeaderCase{"LineWithoutColonSentWhenNotNormalising", "nocolon\r\nA: 1", 0, "", false, false,
                   "nocolon\r\nA: 1\r\n"},
        HeaderCase{"KeepAliveRemoved", "Connection: keep-alive\r\nX: 1", 0, "", false, true,
                   "X: 1"},
        HeaderCase{"KeepAliveEndingTheBlockStays", "X: 1\r\nConnection: keep-alive", 0, "", false,
                   true, "X: 1\r\nConnection: keep-alive"},
        HeaderCase{"KeepAliveRemovedFromUnnormalisedBlock", "Connection: keep-alive\r\nX: 1", 0, "",
                   false, false, "X: 1\r\n"},
        HeaderCase{"KeepAliveWithDefaults", "Connection: keep-alive", 2, "", true, true,
                   kDefaultBlock},
        HeaderCase{"ConnectionCloseStays", "Connection: close\r\nX: 1", 0, "", false, true,
                   "Connection: close\r\nX: 1"},
        HeaderCase{"LowerCaseConnectionStaysUnnormalised", "connection: keep-alive\r\nX: 1", 0, "",
                   false, false, "connection: keep-alive\r\nX: 1\r\n"},
        HeaderCase{"CookieLine", "", 2, "a=1; b=2", true, true,
                   kDefaultBlock + "\r\nCookie: a=1; b=2\r\n"},
        HeaderCase{"CookieTextWithItsOwnName", "", 2, "Cookie: a=1", true, true,
                   kDefaultBlock + "\r\nCookie: a=1\r\n"},
        HeaderCase{"CookieLineInExtraHeadersWins", "cookie: z=9", 2, "a=1", true, true,
                   Lines({"Cookie: z=9", kUserAgent, kAccept, kAcceptEncoding, kAcceptLanguage,
                          kCacheControl})},
        HeaderCase{"EmptyLineBeforeCookieWhenNotNormalising", "", 2, "a=1", true, false,
                   kDefaultBlock + "\r\n\r\nCookie: a=1\r\n"},
        HeaderCase{"CookieOnlyStartsWithLineBreak", "", 0, "a=1", false, true,
                   "\r\nCookie: a=1\r\n"},
        HeaderCase{"NothingGivesEmptyBlock", "", 0, "", false, true, ""},
        HeaderCase{"NothingUnnormalisedGivesEmptyBlock", "", 0, "", false, false, ""}),
    [](const ::testing::TestParamInfo<HeaderCase>& info) { return info.param.name; });

TEST(NormalizeHeaderNamesTest, RewritesOnlyNameInitials) {
  EXPECT_EQ(NormalizeHeaderNames("a--b: 1\r\n-x: 2"), Text("A--B: 1\r\n-X: 2"));
  EXPECT_EQ(NormalizeHeaderNames("a: 1\r\n\r\nb:2  \r\n"), Text("A: 1\r\nB:2  "));
  EXPECT_EQ(NormalizeHeaderNames(":x\r\nx--: 1"), Text(":x\r\nX--: 1"));
  // Two-byte characters stay as they are, also where the second byte is a letter.
  EXPECT_EQ(NormalizeHeaderNames("\xD6\xD0-a: 1\r\n\x81"
                                 "a: 2"),
            Text("\xD6\xD0-A: 1\r\n\x81"
                 "a: 2"));
  EXPECT_EQ(NormalizeHeaderNames("no colon\r\n\r\n"), Text(""));
  EXPECT_EQ(NormalizeHeaderNames(""), Text(""));
}

// A block of ASCII bytes takes a one-pass path; a line with a two-byte
// character added forces the general path for the same lines, and both must
// agree on them.
TEST(NormalizeHeaderNamesTest, AsciiBlocksMatchTheGeneralPath) {
  const Text kTwoByteLine = "z: \xD6\xD0";
  for (const char* block :
       {"a--b: 1\r\n-x: 2", "a: 1\r\n\r\nb:2  \r\n", ":x\r\nx--: 1", "x-: 1", "-: 1",
        "a-b-c-d:e-f", "\r\r\nq: 1\r", "accept: a\r\nuser-agent: b: c\r\n", "no colon", "",
        "\r\n\r\n", "x:\r\ny", "1-a:\tb", "\x7f-a: \x01"}) {
    const Text fast = NormalizeHeaderNames(block);
    const Text general = NormalizeHeaderNames(Concat(block, "\r\n", kTwoByteLine));
    const Text expected = fast.empty() ? Text("Z: \xD6\xD0") : Concat(fast, "\r\n", "Z: \xD6\xD0");
    EXPECT_EQ(general, expected) << block;
  }
}

TEST(CapitalizeFirstTest, UpperCasesAnAsciiFirstByte) {
  EXPECT_EQ(CapitalizeFirst("accept"), Text("Accept"));
  EXPECT_EQ(CapitalizeFirst("Accept"), Text("Accept"));
  EXPECT_EQ(CapitalizeFirst("1a"), Text("1a"));
  EXPECT_EQ(CapitalizeFirst(""), Text(""));
  EXPECT_EQ(CapitalizeFirst("\x81"
                            "a"),
            Text("\x81"
                 "a"));
}

}  // namespace
}  // namespace timesync
