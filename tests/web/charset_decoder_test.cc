#include "platform/charset_decoder.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace timesync::platform {
namespace {

using OpenResult = CharsetDecoder::OpenResult;

struct DecodeCase {
  const char* charset;
  std::string bytes;
  std::string cp936;
};

class CharsetDecoderTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(CharsetDecoderTest, DecodesIntoCodePage936) {
  const DecodeCase& c = GetParam();
  CharsetDecoder decoder;
  ASSERT_EQ(decoder.Open(c.charset), OpenResult::kOpened) << c.charset;
  EXPECT_EQ(decoder.ReadText(c.bytes), c.cp936) << c.charset;
}

INSTANTIATE_TEST_SUITE_P(
    Charsets, CharsetDecoderTest,
    ::testing::Values(
        DecodeCase{"utf-8", "\xE4\xB8\xAD\xE6\x96\x87", "\xD6\xD0\xCE\xC4"},  // 中文
        DecodeCase{"UTF8", "<p>\xE4\xB8\xAD", "<p>\xD6\xD0"},
        DecodeCase{"Utf-8",
                   "\xEF\xBB\xBF"
                   "A",
                   "A"},  // the byte-order mark goes
        // Bytes that form no character, and characters code page 936 cannot hold, become "?".
        DecodeCase{"utf-8",
                   "a\xFF"
                   "b",
                   "a?b"},
        DecodeCase{"utf-8", "\xF0\x9F\x98\x80", "?"},  // an emoji
        DecodeCase{"utf-8", std::string("a\0b", 3), std::string("a\0b", 3)},
        // gb2312 and gbk are code page 936 as a whole: GBK-only characters and 0x80 stay.
        DecodeCase{"gb2312", "\xD6\xD0\x81\x40\x80", "\xD6\xD0\x81\x40\x80"},
        DecodeCase{"GBK", "\xD6\xD0\xCE\xC4", "\xD6\xD0\xCE\xC4"},
        DecodeCase{"gb18030", "\xD6\xD0\xA2\xE3\x94\x39\xFC\x36", "\xD6\xD0\x80?"},
        DecodeCase{"big5", "\xA4\xA4", "\xD6\xD0"},
        DecodeCase{"shift_jis", "\x93\xFA\x96\x7B", "\xC8\xD5\xB1\xBE"},  // 日本
        DecodeCase{"euc-jp", "\xC6\xFC\xCB\xDC", "\xC8\xD5\xB1\xBE"},
        DecodeCase{"iso-8859-1", "caf\xE9", "caf\xA8\xA6"},
        DecodeCase{"windows-1252", "\x80", "\x80"},  // the euro sign
        DecodeCase{"koi8-r", "\xD0\xD2\xC9\xD7\xC5\xD4",
                   "\xA7\xE1\xA7\xE2\xA7\xDA\xA7\xD3\xA7\xD6\xA7\xE4"}),  // привет
    [](const ::testing::TestParamInfo<DecodeCase>& info) {
      std::string name = std::to_string(info.index) + "_";
      for (const char c : std::string(info.param.charset)) {
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      }
      return name;
    });

TEST(CharsetDecoderNamesTest, NamesAsPagesWriteThem) {
  for (const char* name : {"utf-8",        "UTF-8",       "utf8",        "gb2312",
                           "GB2312",       "gbk",         "x-gbk",       "gb18030",
                           "big5",         "Big5",        "shift_jis",   "Shift-JIS",
                           "sjis",         "euc-jp",      "euc-kr",      "ks_c_5601-1987",
                           "iso-8859-1",   "ISO-8859-15", "latin1",      "windows-1251",
                           "windows-1252", "koi8-r",      "koi8-u",      "us-ascii",
                           "hz-gb-2312",   "iso-2022-jp", "windows-874", "unicode",
                           "utf-16be",     "macintosh"}) {
    CharsetDecoder decoder;
    EXPECT_EQ(decoder.Open(name), OpenResult::kOpened) << name;
    EXPECT_TRUE(decoder.IsOpen()) << name;
  }
  EXPECT_EQ(ConverterNameForCharset("GB2312"), "windows-936-2000");
  EXPECT_EQ(ConverterNameForCharset("gbk"), "windows-936-2000");
}

TEST(CharsetDecoderNamesTest, UnknownNamesAreReportedNotGuessed) {
  for (const char* name : {"", "x-unknown", "utf", "utf-8x", "gb", "437", "UTF-7x"}) {
    CharsetDecoder decoder;
    EXPECT_EQ(decoder.Open(name), OpenResult::kUnknownCharset) << name;
    EXPECT_FALSE(decoder.IsOpen());
    EXPECT_EQ(decoder.ReadText("abc"), "");
  }
}

TEST(CharsetDecoderTest, FailureHookMakesKnownNamesUnavailable) {
  CharsetDecoder decoder;
  {
    ScopedCharsetDecoderFailure failure;
    EXPECT_EQ(decoder.Open("utf-8"), OpenResult::kUnavailable);
    EXPECT_EQ(decoder.Open("nonsense"), OpenResult::kUnknownCharset);
    EXPECT_FALSE(decoder.IsOpen());
  }
  EXPECT_EQ(decoder.Open("utf-8"), OpenResult::kOpened);
}

TEST(CharsetDecoderTest, ReleaseEmptiesTheSlotAndRepeatsHarmlessly) {
  CharsetDecoder decoder;
  ASSERT_EQ(decoder.Open("utf-8"), OpenResult::kOpened);
  decoder.Release();
  EXPECT_FALSE(decoder.IsOpen());
  decoder.Release();
  EXPECT_EQ(decoder.ReadText("abc"), "");
}

TEST(CharsetDecoderTest, ReadsAgainWithoutStateFromAnIncompleteSequence) {
  CharsetDecoder decoder;
  ASSERT_EQ(decoder.Open("utf-8"), OpenResult::kOpened);
  EXPECT_EQ(decoder.ReadText("a\xE4\xB8"), "a?");
  EXPECT_EQ(decoder.ReadText("\xAD"), "?");
}

TEST(CharsetDecoderTest, LongBodyDecodesWhole) {
  std::string body;
  std::string expected;
  for (int i = 0; i < 20000; ++i) {
    body +=
        "\xE4\xB8\xAD"
        "a";
    expected +=
        "\xD6\xD0"
        "a";
  }
  CharsetDecoder decoder;
  ASSERT_EQ(decoder.Open("utf-8"), OpenResult::kOpened);
  EXPECT_EQ(decoder.ReadText(body), expected);
}

}  // namespace
}  // namespace timesync::platform
