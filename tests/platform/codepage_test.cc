#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>

namespace timesync {
namespace {

using platform::Cp936ToUtf16;
using platform::Utf16ToCp936;

std::u16string Decode(std::string_view bytes) { return Cp936ToUtf16(bytes); }

TEST(Cp936Decode, MicrosoftTableAndQuestionMarksForBrokenBytes) {
  struct Case {
    std::string_view bytes;
    std::u16string expected;
  };
  const Case cases[] = {
      {std::string_view("\x80", 1), u"\u20AC"},  // the euro sign is one byte here
      {"\xBF\xB4", u"\u770B"},
      {"\xD6\xD0\xCE\xC4", u"\u4E2D\u6587"},
      {"\xBF\xB4\xC7", u"\u770B?"},                                  // a lone lead byte at the end
      {std::string_view("\xD6\x00", 2), std::u16string(u"?\0", 2)},  // the zero is kept
      {"", u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Decode(c.bytes), c.expected) << "bytes of length " << c.bytes.size();
  }
}

// What Windows makes of a first byte followed by a byte that cannot be a
// second byte is not documented. Here the first byte becomes '?' and the byte
// after it is read again on its own, so a space or quote after a broken
// character is never lost.
TEST(Cp936Decode, FirstByteBeforeAnImpossibleSecondByte) {
  struct Case {
    std::string_view bytes;
    std::u16string expected;
  };
  const Case cases[] = {
      {"\x81\x20", u"? "},
      {"a\x81\x7F"
       "b",
       u"a?\x7F"
       "b"},
      {"\xD6\"", u"?\""},
  };
  for (const Case& c : cases) {
    const std::u16string decoded = Decode(c.bytes);
#ifdef _WIN32
    EXPECT_EQ(decoded.substr(0, c.expected.find(u'?') + 1),
              c.expected.substr(0, c.expected.find(u'?') + 1));
#else
    EXPECT_EQ(decoded, c.expected);
#endif
  }
}

TEST(Cp936Encode, BestFitOrQuestionMark) {
  EXPECT_EQ(Utf16ToCp936(u"\u4E2D\u6587"), "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(Utf16ToCp936(u"\u20AC"), "\x80");
  EXPECT_EQ(Utf16ToCp936(u"\u00A6"), "|");      // best fit, as Windows does by default
  EXPECT_EQ(Utf16ToCp936(u"\u0E01"), "?");      // Thai: not in the code page
  EXPECT_EQ(Utf16ToCp936(u"x\xD800y"), "x?y");  // an unpaired surrogate
  // A pair outside the code page: one '?' here, one per unit ("??") under Wine.
  const std::string emoji = Utf16ToCp936(u"\U0001F600");
  EXPECT_TRUE(emoji == "?" || emoji == "??") << emoji;
}

TEST(Cp936Encode, AsciiStandsForItself) {
  std::u16string wide;
  std::string bytes;
  for (int c = 0; c < 0x80; ++c) {
    wide += static_cast<char16_t>(c);
    bytes += static_cast<char>(c);
  }
  EXPECT_EQ(Utf16ToCp936(wide), bytes);
  EXPECT_EQ(platform::Cp936ToUtf8(bytes), bytes);
  // One unit beyond ASCII anywhere sends the whole text through the converter.
  EXPECT_EQ(Utf16ToCp936(wide + u"\u4E2D"), bytes + "\xD6\xD0");
  EXPECT_EQ(Utf16ToCp936(u"\u00A6" + wide), "|" + bytes);
}

TEST(Cp936RoundTrip, Utf8AndUtf16) {
  const std::string utf8 =
      "\xE6\xA0\xA1\xE6\x97\xB6\xE5\xAE\x8C\xE6\xAF\x95 ok \xE2\x82\xAC";  // 校时完毕 ok €
  const std::string gbk = platform::Utf8ToCp936(utf8);
  EXPECT_EQ(gbk, "\xD0\xA3\xCA\xB1\xCD\xEA\xB1\xCF ok \x80");
  EXPECT_EQ(platform::Cp936ToUtf8(gbk), utf8);
  // Every valid two-byte character of the GB2312 area survives the round trip.
  for (int lead = 0xB0; lead <= 0xF7; ++lead) {
    for (int trail = 0xA1; trail <= 0xFE; ++trail) {
      const std::string bytes{static_cast<char>(lead), static_cast<char>(trail)};
      const std::u16string wide = Decode(bytes);
      ASSERT_EQ(wide.size(), 1u);
      if (wide == u"?") continue;  // the few unassigned places at the end of rows
      ASSERT_EQ(Utf16ToCp936(wide), bytes) << std::hex << lead << " " << trail;
    }
  }
  EXPECT_EQ(platform::Utf8ToCp936("a\xFF"
                                  "b"),
            "a?b");  // broken UTF-8
}

TEST(Cp936RoundTrip, LongTextsConvertWhole) {
  // Longer than any internal buffer, with a two-byte character across every boundary.
  std::string gbk;
  std::u16string wide;
  for (int i = 0; i < 30000; ++i) {
    if (i % 3 == 0) {
      gbk += "\xD6\xD0";
      wide += u'\u4E2D';
    } else {
      gbk += static_cast<char>('a' + i % 26);
      wide += static_cast<char16_t>(u'a' + i % 26);
    }
  }
  EXPECT_TRUE(Decode(gbk) == wide);
  EXPECT_TRUE(Utf16ToCp936(wide) == gbk);
  EXPECT_TRUE(platform::Cp936ToUtf8(gbk).size() == 10000 * 3 + 20000);
}

TEST(TextToWide, LittleEndianWithOneZeroCharacter) {
  EXPECT_EQ(TextToWide(Text()), ByteBuffer());  // empty text: no buffer, no terminator
  EXPECT_EQ(TextToWide(Text("a")), ByteBuffer(std::string("a\0\0\0", 4)));
  EXPECT_EQ(TextToWide(Text("\xD6\xD0")), ByteBuffer(std::string("\x2D\x4E\0\0", 4)));
  EXPECT_EQ(TextToWide(Text("\xBF\xB4\xC7")), ByteBuffer(std::string("\x0B\x77?\0\0\0", 6)));
}

TEST(WideToText, StopsAtTheFirstZeroCharacter) {
  EXPECT_EQ(WideToText(ByteBuffer()), Text());
  EXPECT_EQ(WideToText(ByteBuffer(std::string("\0\0", 2))), Text());
  EXPECT_EQ(WideToText(ByteBuffer(std::string("\x2D\x4E"
                                              "b\0\0\0c\0",
                                              8))),
            Text("\xD6\xD0"
                 "b"));
  EXPECT_EQ(WideToText(ByteBuffer(std::string("a\0b", 3))), Text("a"));  // an odd last byte
  EXPECT_EQ(WideToText(TextToWide(Text("\xD0\xA3 x\x80"))), Text("\xD0\xA3 x\x80"));
}

}  // namespace
}  // namespace timesync
