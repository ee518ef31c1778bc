#include "web/response.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/charset_decoder.h"
#include "platform/component_library.h"
#include "platform/events.h"

namespace timesync {
namespace {

using std::string_literals::operator""s;

// One call of the stage with every output held here.
struct Stage {
  Text cookies;
  Text responseCookies;
  Text status = "caller's status";
  Text location = "caller's location";
  ByteBuffer responseBytes;
  bool wantBytes = true;  // false: the caller asks for the page text alone
  Text page;
  int pendingEventsCalls = 0;

  Stage& Run(const std::string& rawHeaders, const std::string& body = "",
             bool mergeCookies = true) {
    ResponseStageObjects objects;
    platform::ScopedPendingEventsHook hook([this] { ++pendingEventsCalls; });
    ProcessResponse(Text(rawHeaders), ByteBuffer(body), mergeCookies, objects, cookies,
                    responseCookies, status, location, wantBytes ? &responseBytes : nullptr,
                    page);
    EXPECT_FALSE(objects.streamSlot.IsOpen());
    return *this;
  }
};

TEST(ProcessResponseTest, StatusTextFollowsTheVersion) {
  struct Case {
    std::string headers;
    std::string status;
  };
  for (const Case& c : {Case{"HTTP/1.1 302 Found\r\nLocation: /x\r\n\r\n", "302 Found"},
                        Case{"HTTP/1.0 404 Not Found\r\n\r\n", "404 Not Found"},
                        Case{"HTTP/1.1 200\r\n\r\n", "200"},
                        Case{"HTTP/1.1 200 OK", ""},     // no line end at or after byte 10
                        Case{"HTTP/1.1\r\n\r\n", "\n"},  // the search starts on the "\n"
                        Case{"", ""}}) {
    Stage stage;
    EXPECT_EQ(stage.Run(c.headers).status, Text(c.status)) << c.headers;
  }
}

TEST(ProcessResponseTest, GathersSetCookieValuesWithoutAttributes) {
  Stage stage;
  stage.Run(
      "HTTP/1.1 200 OK\r\n"
      "Set-Cookie: a=1; path=/; HttpOnly\r\n"
      "set-cookie: lower=1\r\n"   // the name counts case
      "Set-Cookie:nospace=1\r\n"  // the name must be followed by ": "
      "Set-Cookie:  b=2  \r\n"    // no ";": the whole value, trimmed
      "X-Set-Cookie: c=3\r\n"
      "\r\n");
  EXPECT_EQ(stage.responseCookies, Text("a=1; b=2"));
  EXPECT_EQ(stage.location, Text("caller's location"));
}

TEST(ProcessResponseTest, AppendsToTheCallersResponseCookies) {
  struct Case {
    const char* held;
    const char* headers;
    const char* result;
  };
  for (const Case& c : {
           Case{"pre=0; ", "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\n\r\n", "pre=0; a=1"},
           // Without a separator of its own the held text still keeps its member.
           Case{"pre=0", "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\n\r\n", "pre=0; a=1"},
           // Without cookies set, only a final separator goes.
           Case{"pre=0; ", "HTTP/1.1 200 OK\r\n\r\n", "pre=0"},
           Case{"pre=0", "HTTP/1.1 200 OK\r\n\r\n", "pre=0"},
       }) {
    Stage stage;
    stage.responseCookies = c.held;
    EXPECT_EQ(stage.Run(c.headers).responseCookies, Text(c.result)) << c.held;
  }
}

TEST(ProcessResponseTest, LastLocationLineInAnyCaseWins) {
  Stage stage;
  stage.Run(
      "HTTP/1.1 301 Moved\r\nLOCATION: /first\r\nlocation: http://h/second?q=1\r\n"
      "Location:/nospace\r\n\r\n");
  EXPECT_EQ(stage.location, Text("http://h/second?q=1"));
}

TEST(ProcessResponseTest, MergesWithTheCookiesSentAndWritesThemBack) {
  const std::string headers = "HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\n\r\n";
  Stage merged;
  merged.cookies = "x=1";
  merged.Run(headers);
  EXPECT_EQ(merged.responseCookies, Text("a=1; x=1"));
  EXPECT_EQ(merged.cookies, Text("a=1; x=1"));

  Stage notMerged;
  notMerged.cookies = "x=1";
  notMerged.Run(headers, "", /*mergeCookies=*/false);
  EXPECT_EQ(notMerged.responseCookies, Text("a=1"));
  EXPECT_EQ(notMerged.cookies, Text("x=1"));

  Stage deleted;
  deleted.cookies = "sid=x; k=1";
  deleted.Run("HTTP/1.1 200 OK\r\nSet-Cookie: sid=deleted; expires=Thu, 01 Jan 1970\r\n\r\n");
  EXPECT_EQ(deleted.responseCookies, Text("k=1"));
  EXPECT_EQ(deleted.cookies, Text("k=1"));
}

TEST(ProcessResponseTest, PendingEventsOncePerLineAndOnceAfterTheCharsetStep) {
  Stage stage;
  // Split gives the status line, two header lines and the closing empty line.
  stage.Run("HTTP/1.1 200 OK\r\nA: 1\r\nB: 2\r\n\r\n", "<p>");
  EXPECT_EQ(stage.pendingEventsCalls, 5);
}

TEST(ProcessResponseTest, BodyBytesWholeAndPageTextUpToTheFirstZeroByte) {
  Stage stage;
  const std::string body("ab\0cd", 5);
  stage.Run("HTTP/1.1 200 OK\r\n\r\n", body);
  EXPECT_EQ(stage.responseBytes, ByteBuffer(body));
  EXPECT_EQ(stage.page, Text("ab"));
}

struct CharsetCase {
  std::string name;
  std::string body;
  std::string page;
};

class ProcessResponseCharsetTest : public ::testing::TestWithParam<CharsetCase> {};

TEST_P(ProcessResponseCharsetTest, DecodesFromTheDeclaredCharset) {
  Stage stage;
  stage.Run("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n", GetParam().body);
  EXPECT_EQ(stage.page.bytes(), GetParam().page);
  EXPECT_EQ(stage.responseBytes, ByteBuffer(GetParam().body));

  // Without the bytes the page text is the same, whether it takes the body's
  // storage or (with a zero byte inside) is copied from it.
  Stage pageOnly;
  pageOnly.wantBytes = false;
  pageOnly.responseBytes = ByteBuffer(std::string("untouched"));
  pageOnly.Run("HTTP/1.1 200 OK\r\n\r\n", GetParam().body);
  EXPECT_EQ(pageOnly.page.bytes(), GetParam().page);
  EXPECT_EQ(pageOnly.responseBytes, ByteBuffer(std::string("untouched")));
  EXPECT_EQ(pageOnly.pendingEventsCalls, stage.pendingEventsCalls - 1);  // one header line fewer
}

const std::string kFarMeta = std::string(1100, ' ') + "<meta charset=\"utf-8\">\xE4\xB8\xAD";

INSTANTIATE_TEST_SUITE_P(
    Pages, ProcessResponseCharsetTest,
    ::testing::Values(
        CharsetCase{"Utf8", "<html><META Charset=\"UTF-8\">\xE4\xB8\xAD\xE6\x96\x87",
                    "<html><META Charset=\"UTF-8\">\xD6\xD0\xCE\xC4"},
        CharsetCase{"HttpEquiv",
                    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />"
                    "\xE4\xB8\xAD",
                    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />"
                    "\xD6\xD0"},
        CharsetCase{"Gbk", "<meta charset=gbk>\xD6\xD0\x81\x40",
                    "<meta charset=gbk>\xD6\xD0\x81\x40"},
        // The header's charset is not consulted: without a meta tag the bytes stay.
        CharsetCase{"NoMeta", "<p>\xE4\xB8\xAD</p>", "<p>\xE4\xB8\xAD</p>"},
        CharsetCase{"UnknownCharsetKeepsBytes", "<meta charset=x-klingon>\xE4\xB8\xAD",
                    "<meta charset=x-klingon>\xE4\xB8\xAD"},
        CharsetCase{"MetaBeyondFirst1024Bytes", kFarMeta, kFarMeta},
        // A tag that only starts like one still runs the pattern, which finds no charset.
        CharsetCase{"MetaLikeTagWithoutCharset", "<metadata>\xE4\xB8\xAD",
                    "<metadata>\xE4\xB8\xAD"},
        // A two-byte character right before the tag does not hide it.
        CharsetCase{"TagAfterTwoByteCharacter", "\xE4\xB8\xAD<Meta charset=utf-8>",
                    "\xD6\xD0<Meta charset=utf-8>"},
        // The decoder reads every byte; the page text ends at the first zero.
        CharsetCase{"ZeroByteAfterDecoding", "<meta charset=utf-8>\xE4\xB8\xAD\0tail"s,
                    "<meta charset=utf-8>\xD6\xD0"}),
    [](const ::testing::TestParamInfo<CharsetCase>& info) { return info.param.name; });

TEST(ProcessResponseTest, CharsetStepInitialisesTheComponentLibraryOnceAndUndoesIt) {
  for (const char* body : {"<meta charset=utf-8>x", "<p>no tag</p>", ""}) {
    ResponseStageObjects objects;
    const platform::ComponentLibraryCounts before = platform::ComponentLibraryCountsOnThisThread();
    Text cookies, responseCookies, status, location;
    ByteBuffer responseBytes;
    Text page;
    ProcessResponse("HTTP/1.1 200 OK\r\n\r\n", ByteBuffer(std::string(body)), true, objects,
                    cookies, responseCookies, status, location, &responseBytes, page);
    const platform::ComponentLibraryCounts after = platform::ComponentLibraryCountsOnThisThread();
    EXPECT_EQ(after.initializations, before.initializations + 1) << body;
    EXPECT_EQ(after.Balance(), before.Balance()) << body;
  }
}

TEST(ProcessResponseTest, DecoderThatCannotBeMadeKeepsThePageText) {
  platform::ScopedCharsetDecoderFailure failure;
  Stage stage;
  stage.Run("HTTP/1.1 200 OK\r\n\r\n", "<meta charset=utf-8>\xE4\xB8\xAD");
  EXPECT_EQ(stage.page, Text("<meta charset=utf-8>\xE4\xB8\xAD"));
}

}  // namespace
}  // namespace timesync
