#include "text/text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/fatal.h"

namespace timesync {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

// Code page 936 bytes of a UTF-8 literal, so tests read as the characters they use.
Text Gbk(const char* utf8) { return Text::FromString(platform::Utf8ToCp936(utf8)); }

TEST(TextValue, ZeroByteEndsEveryTextMadeFromBytes) {
  const std::string withZero("ab\0cd", 5);
  EXPECT_EQ(Text(std::string_view(withZero)).bytes(), "ab");
  EXPECT_EQ(Text(withZero).bytes(), "ab");
  EXPECT_EQ(Text::FromString(std::string(withZero)).bytes(), "ab");
  EXPECT_EQ(BytesToText(ByteBuffer(std::string("ab\0c", 4))).bytes(), "ab");
  EXPECT_EQ(BytesToText(ByteBuffer(std::string("\0ab", 3))), Text());
  EXPECT_EQ(Text(static_cast<const char*>(nullptr)), Text());
  EXPECT_EQ(Text(std::string_view()), Text());  // no address at all: the sanitizer run checks it
  EXPECT_EQ(Concat(Text("a"), "", Text(), "b"), Text("ab"));
  EXPECT_EQ(Concat(Text("a"), static_cast<const char*>(nullptr)), Text("a"));
}

TEST(TextValue, EqualityIsExactAndOrderIsUnsigned) {
  EXPECT_NE(Text("Keep-Alive"), Text("keep-alive"));
  EXPECT_EQ(Text(""), Text());
  EXPECT_LT(Text("ab"), Text("abc"));
  EXPECT_LT(Text("z"), Text("\x80"));  // 0x80 orders after every ASCII byte
}

TEST(TextCutting, ClampsCountsAndStarts) {
  const Text abc("abc");
  EXPECT_EQ(Left(abc, -1), Text());
  EXPECT_EQ(Left(abc, 0), Text());
  EXPECT_EQ(Left(abc, 10), abc);
  EXPECT_EQ(Left(abc, kMax), abc);
  EXPECT_EQ(Left(abc, kMin), Text());
  EXPECT_EQ(Right(abc, 2), Text("bc"));
  EXPECT_EQ(Right(abc, kMax), abc);
  EXPECT_EQ(Right(abc, kMin), Text());
  EXPECT_EQ(Left(Gbk("中文"), 1), Text("\xD6"));  // cuts inside a character
  EXPECT_EQ(Mid(abc, 0, 2), Text());
  EXPECT_EQ(Mid(abc, 2, 5), Text("bc"));
  EXPECT_EQ(Mid(abc, 2, kMax), Text("bc"));
  EXPECT_EQ(Mid(abc, 4, 1), Text());
  EXPECT_EQ(Mid(abc, 3, 1), Text("c"));
  EXPECT_EQ(Mid(abc, kMin, kMax), Text());
  EXPECT_EQ(Mid(abc, kMax, kMax), Text());
  EXPECT_EQ(Mid(abc, 1, -1), Text());
  EXPECT_EQ(TextLength(Gbk("中a")), 3);
}

struct FindCase {
  const char* text;
  const char* needle;
  std::int64_t start;
  bool ignoreCase;
  std::int64_t expected;
};

TEST(TextFind, Cases) {
  const FindCase cases[] = {
      {"abcabc", "bc", 1, false, 2},
      {"abcabc", "bc", 3, false, 5},
      {"abcabc", "bc", 0, false, 2},
      {"abcabc", "bc", -4, false, 2},
      {"abcabc", "bc", kMin, false, 2},
      {"abcabc", "bc", 6, false, -1},
      {"abcabc", "bc", kMax, false, -1},
      {"abc", "x", 1, false, -1},
      {"abc", "", 2, false, 1},  // an empty needle finds 1 whatever the start
      {"abc", "", 3, false, 1},
      {"abc", "", 4, false, -1},
      {"", "", 1, false, -1},
      {"ab", "abc", 1, false, -1},
      // 中文 = D6 D0 CE C4; 形 = D0 CE straddles the two characters.
      {"\xD6\xD0\xCE\xC4", "\xD0\xCE", 1, false, -1},
      {"\xD6\xD0\xCE\xC4", "\xD0\xCE", 2, false, 2},   // the walk starts on byte 2
      {"\xD6\xD0\xCE\xC4", "\xCE\xC4", 2, false, -1},  // from byte 2, D0 CE is a character
      {"\xD6\xD0\xCE\xC4", "\xCE\xC4", 1, false, 3},
      // A lead byte takes any next byte: 81 61 is one character, so "a" is not found in it.
      {"\x81"
       "a",
       "a", 1, false, -1},
      {"\x81"
       "aa",
       "a", 1, false, 3},
      {"a\xD6", "\xD6", 1, false, 2},  // a lone lead byte at the end is still a candidate
      {"Content-TYPE: x", "content-type:", 1, true, 1},
      {"Content-TYPE: x", "content-type:", 1, false, -1},
      {"\x81"
       "a",
       "\x81"
       "A",
       1, true, 1},                   // folding is byte by byte, inside characters too
      {"\xE1", "\xC1", 1, true, -1},  // only ASCII letters fold
      {"@[", "`{", 1, true, -1},      // neighbours of the letter ranges do not fold
      {"ab\x81"
       "cab",
       "ab", 2, false, 5},
  };
  for (const FindCase& c : cases) {
    EXPECT_EQ(Find(c.text, c.needle, c.start, c.ignoreCase), c.expected)
        << "Find(\"" << c.text << "\", \"" << c.needle << "\", " << c.start << ")";
  }
}

TEST(TextFindLast, Cases) {
  struct Case {
    const char* text;
    const char* needle;
    std::optional<std::int64_t> start;
    bool ignoreCase;
    std::int64_t expected;
  };
  const Case cases[] = {
      {"abcabc", "bc", std::nullopt, false, 5},
      {"abcabc", "bc", 6, false, 2},  // the occurrence at 5 ends at byte 6
      {"abcabc", "bc", 7, false, 5},
      {"abcabc", "bc", kMax, false, 5},
      {"abcabc", "bc", 3, false, -1},
      {"abcabc", "bc", 4, false, 2},
      {"abc", "a", 1, false, -1},
      {"abc", "a", 0, false, -1},
      {"abc", "a", kMin, false, -1},
      {"abc", "", std::nullopt, false, 1},
      {"abc", "", 2, false, 1},
      {"abc", "", 1, false, -1},
      {"", "", std::nullopt, false, -1},
      {"\xD6\xD0\xCE\xC4", "\xD0\xCE", std::nullopt, false, -1},  // straddles; walk from byte 1
      {"aaaa", "aa", std::nullopt, false, 3},  // overlapping candidates all count
      {"ABab", "ab", std::nullopt, true, 3},
      {"ABab", "ab", 4, true, 1},
      {"\x81"
       "a\x81"
       "a",
       "a", std::nullopt, false, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindLast(c.text, c.needle, c.start, c.ignoreCase), c.expected)
        << "FindLast(\"" << c.text << "\", \"" << c.needle << "\", "
        << (c.start ? std::to_string(*c.start) : "omitted") << ")";
  }
}

TEST(TextReplace, Cases) {
  EXPECT_EQ(Replace("aXbXc", "X", "--"), Text("a--b--c"));
  EXPECT_EQ(Replace("aXbXc", "X", "--", 3), Text("aXb--c"));
  EXPECT_EQ(Replace("aXbXc", "X", "--", 1, 1), Text("a--bXc"));
  EXPECT_EQ(Replace("aXbXc", "X", "--", 1, -1), Text("a--b--c"));  // negative: all
  EXPECT_EQ(Replace("aXbXc", "X", "--", 1, 0), Text("aXbXc"));
  EXPECT_EQ(Replace("aXbXc", "x", "-", 1, std::nullopt, true), Text("a-b-c"));
  EXPECT_EQ(Replace("aXbXc", "x", "-"), Text("aXbXc"));
  EXPECT_EQ(Replace("abc", "", "z"), Text("abc"));
  EXPECT_EQ(Replace("abc", "b", "z", 4), Text("abc"));
  EXPECT_EQ(Replace("abc", "b", "z", kMax), Text("abc"));
  EXPECT_EQ(Replace("abc", "b", "z", kMin), Text("azc"));
  EXPECT_EQ(Replace("", "b", "z"), Text());
  EXPECT_EQ(Replace("aaa", "aa", "b"), Text("ba"));  // matches never overlap
  EXPECT_EQ(Replace("abab", "ab"), Text());          // the default replacement is empty
  // The second bytes of 中 and 文 are not characters of their own.
  EXPECT_EQ(Replace(Gbk("中文"), "\xD0", "x"), Gbk("中文"));
  EXPECT_EQ(Replace("\xD6\xD0\xD0", "\xD0", "x"), Text("\xD6\xD0x"));
  // After a match the walk goes on right behind it, even inside a character.
  EXPECT_EQ(Replace("a\x81\x81"
                    "b",
                    "a\x81", "-"),
            Text("-\x81"
                 "b"));
  EXPECT_EQ(Replace("abc", "c", "xyz"), Text("abxyz"));
}

TEST(TextSplit, Cases) {
  auto split = [](const char* text, const char* delimiter,
                  std::optional<std::int64_t> maxCount = std::nullopt) {
    std::vector<std::string> pieces;
    for (const Text& piece : Split(text, delimiter, maxCount)) pieces.push_back(piece.bytes());
    return pieces;
  };
  using Pieces = std::vector<std::string>;
  EXPECT_EQ(split("a;b;", ";"), (Pieces{"a", "b"}));
  EXPECT_EQ(split(";a;;b", ";"), (Pieces{"", "a", "", "b"}));
  EXPECT_EQ(split("H: 1\r\n\r\nX: 2\r\n", "\r\n"), (Pieces{"H: 1", "", "X: 2"}));
  EXPECT_EQ(split("\r\n", "\r\n"), (Pieces{""}));
  EXPECT_EQ(split("", ";"), Pieces{});
  EXPECT_EQ(split(",", ","), (Pieces{""}));
  EXPECT_EQ(split(",,", ","), (Pieces{"", ""}));
  EXPECT_EQ(split("abc", ""), (Pieces{"abc"}));
  EXPECT_EQ(split("a,b,c", ",", 2), (Pieces{"a", "b"}));
  EXPECT_EQ(split("a,b,c", ",", 3), (Pieces{"a", "b", "c"}));
  EXPECT_EQ(split("a,b,c", ",", 0), Pieces{});
  EXPECT_EQ(split("a,b,c", ",", -1), Pieces{});  // a given negative max counts as 0
  EXPECT_EQ(split("a,b,c", ",", kMin), Pieces{});
  EXPECT_EQ(split("abc", "", 0), Pieces{});
  EXPECT_EQ(split("a,b", ","), (Pieces{"a", "b"}));  // the default delimiter is ","
  EXPECT_EQ(Split("a,b").size(), 2u);
  // A delimiter byte inside a two-byte character does not split: 81 2C is one character.
  EXPECT_EQ(split("\x81,a,b", ","), (Pieces{"\x81,a", "b"}));
  EXPECT_EQ(split("aaa", "aa"), (Pieces{"", "a"}));
}

TEST(TextTrim, Cases) {
  const std::string fullWidthSpace = "\xA1\xA1";
  EXPECT_EQ(Trim("  \tx\t  "), Text("\tx\t"));
  EXPECT_EQ(Trim(Text(fullWidthSpace + "x" + fullWidthSpace)), Text("x"));
  EXPECT_EQ(Trim("   "), Text());
  EXPECT_EQ(Trim(Text(" " + fullWidthSpace + " ")), Text());
  EXPECT_EQ(Trim(""), Text());
  EXPECT_EQ(Trim(" a b "), Text("a b"));
  EXPECT_EQ(Trim("\r\n x \r\n"), Text("\r\n x \r\n"));
  // A lone lead byte at the end is cut instead of the spaces before it.
  EXPECT_EQ(Trim(" x  \xD6"), Text("x  "));
  EXPECT_EQ(Trim("  \xD6"), Text());
  // A space that is the second byte of a character is not a space: 81 20 is one character.
  EXPECT_EQ(Trim("x\x81 "), Text("x\x81 "));
  EXPECT_EQ(Trim("x\x81\x81 "), Text("x\x81\x81"));
  // A1 A1 only counts where a character starts: B0 A1 is one character, A1 20 another.
  EXPECT_EQ(Trim("\xB0\xA1\xA1 "), Text("\xB0\xA1\xA1 "));
  EXPECT_EQ(Trim("\xA1\xA1\xA1"), Text());  // the leading space, then a lone lead byte
  EXPECT_EQ(Trim("\xA1"), Text());
}

TEST(TextToUpper, LeavesTwoByteCharactersAlone) {
  EXPECT_EQ(ToUpper(Gbk("abc中文xyz")), Gbk("ABC中文XYZ"));
  EXPECT_EQ(ToUpper("\x81"
                    "a"),
            Text("\x81"
                 "a"));  // 乤 stays
  EXPECT_EQ(ToUpper("\x81"
                    "aa"),
            Text("\x81"
                 "aA"));
  EXPECT_EQ(ToUpper("@`az[{\xE1"), Text("@`AZ[{\xE1"));
  EXPECT_EQ(ToUpper(""), Text());
  const Text input("abc");
  EXPECT_EQ(ToUpper(input), Text("ABC"));
  EXPECT_EQ(input, Text("abc"));  // the input is left as it was
}

// Long texts built character by character, so the expected results follow
// from the characters chosen: letters, two-byte characters whose second byte
// is a letter, long runs of two-byte characters, and spaces of both widths.
struct BuiltText {
  std::string bytes;
  std::string upper;                   // ToUpper's expected result
  std::vector<std::int64_t> singleAs;  // 1-based positions of the one-byte "a" characters
};

BuiltText BuildText(std::uint32_t seed, int characters) {
  BuiltText built;
  std::uint32_t state = seed;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state >> 16;
  };
  auto add = [&built](std::string_view bytes, std::string_view upper) {
    built.bytes += bytes;
    built.upper += upper;
  };
  add("x", "X");
  for (int i = 0; i < characters; ++i) {
    const bool twoByteStretch = (i / 200) % 2 == 1;  // every other stretch: runs of >= 0x80
    const std::uint32_t kind = next() % (twoByteStretch ? 3 : 8);
    switch (kind) {
      case 0:  // 啊
        add("\xB0\xA1", "\xB0\xA1");
        break;
      case 1:  // 乤: the "a" is a second byte
        add("\x81"
            "a",
            "\x81"
            "a");
        break;
      case 2:  // full-width space
        add("\xA1\xA1", "\xA1\xA1");
        break;
      case 3:
        built.singleAs.push_back(static_cast<std::int64_t>(built.bytes.size()) + 1);
        add("a", "A");
        break;
      case 4:
        add("z", "Z");
        break;
      case 5:
        add(" ", " ");
        break;
      case 6:
        add("\x81\xA1", "\x81\xA1");
        break;
      default:
        add("Q{", "Q{");
        break;
    }
  }
  add("y", "Y");
  return built;
}

TEST(TextLongTexts, WalkHoldsAcrossBlocksAndLongRuns) {
  for (std::uint32_t seed = 1; seed <= 6; ++seed) {
    const BuiltText built = BuildText(seed, 3000 + static_cast<int>(seed) * 37);
    const Text text(built.bytes);
    SCOPED_TRACE(seed);
    EXPECT_TRUE(ToUpper(text).bytes() == built.upper);
    ASSERT_FALSE(built.singleAs.empty());
    EXPECT_EQ(Find(text, "a"), built.singleAs.front());
    EXPECT_EQ(FindLast(text, "a"), built.singleAs.back());
    EXPECT_EQ(Find(text, "A", 1, true), built.singleAs.front());
    EXPECT_EQ(Find(text, "a", built.singleAs[1]), built.singleAs[1]);
    EXPECT_EQ(FindLast(text, "a", built.singleAs.back()),
              built.singleAs[built.singleAs.size() - 2]);
    EXPECT_EQ(Split(text, "a").size(), built.singleAs.size() + 1);
    EXPECT_EQ(Replace(text, "a", "").size(),
              text.size() - static_cast<std::int64_t>(built.singleAs.size()));
    const std::string padded = "  \xA1\xA1 " + built.bytes + " \xA1\xA1  ";
    EXPECT_TRUE(Trim(Text(padded)).bytes() == built.bytes);
    // A lone lead byte at the end is cut instead of the spaces before it.
    EXPECT_TRUE(Trim(Text(padded + "\xB0")).bytes() == built.bytes + " \xA1\xA1  ");
  }
}

TEST(TextCharacters, CodesAndNumbers) {
  EXPECT_EQ(CharCode("A"), 65);
  EXPECT_EQ(CharCode(Gbk("中")), -42);
  EXPECT_EQ(CharCode("abc", 4), 0);
  EXPECT_EQ(CharCode("abc", 0), 0);
  EXPECT_EQ(CharCode("abc", 3), 'c');
  EXPECT_EQ(CharCode("abc", kMin), 0);
  EXPECT_EQ(CharFromCode(32), Text(" "));
  EXPECT_EQ(CharFromCode(0), Text());
  EXPECT_EQ(CharFromCode(256), Text());
  EXPECT_EQ(CharFromCode(0xD6), Text("\xD6"));
  EXPECT_EQ(CharFromCode(-42), Text("\xD6"));
  EXPECT_EQ(CharFromCode(kMin), Text());
  EXPECT_EQ(IntToText(-7), Text("-7"));
  EXPECT_EQ(IntToText(2021), Text("2021"));
  EXPECT_EQ(IntToText(0), Text("0"));
  EXPECT_EQ(IntToText(kMin), Text("-9223372036854775808"));
  EXPECT_EQ(TruncateToInteger(2.9), 2);
  EXPECT_EQ(TruncateToInteger(-2.9), -2);
  EXPECT_EQ(TruncateToInteger(-0.5), 0);
  EXPECT_EQ(TruncateToInteger(9223372036854774784.0), 9223372036854774784);
  EXPECT_EQ(TruncateToInteger(-9223372036854775808.0), kMin);
  EXPECT_EQ(TruncateToInteger(9223372036854775808.0), kMin);
  EXPECT_EQ(TruncateToInteger(std::nan("")), kMin);
  EXPECT_EQ(TruncateToInteger(-INFINITY), kMin);
  EXPECT_EQ(static_cast<std::int32_t>(TruncateToInteger(4294967297.0)), 1);  // low 32 bits
}

TEST(TextCompare, ByCharactersWithOptionalFolding) {
  EXPECT_EQ(CompareText("abc", "abc"), 0);
  EXPECT_LT(CompareText("ab", "abc"), 0);
  EXPECT_GT(CompareText("abd", "abc"), 0);
  EXPECT_GT(CompareText("\x80", "z"), 0);
  EXPECT_NE(CompareText("Location: ", "location: "), 0);
  EXPECT_EQ(CompareText("Location: ", "LOCATION: ", true), 0);
  EXPECT_EQ(CompareText("", Text(), true), 0);
  EXPECT_NE(CompareText("a[", "A{", true), 0);
  // Two-byte characters fold through the code page: full-width, Greek and Cyrillic letters.
  EXPECT_EQ(CompareText(Gbk("ａｂ"), Gbk("ＡＢ"), true), 0);
  EXPECT_EQ(CompareText(Gbk("αω"), Gbk("ΑΩ"), true), 0);
  EXPECT_EQ(CompareText(Gbk("ж"), Gbk("Ж"), true), 0);
  EXPECT_NE(CompareText(Gbk("ａ"), Gbk("Ａ")), 0);
  EXPECT_NE(CompareText(Gbk("中"), Gbk("文"), true), 0);
  // The second byte of a character never folds as a letter: 81 61 and 81 41 differ.
  EXPECT_NE(CompareText("\x81"
                        "a",
                        "\x81"
                        "A",
                        true),
            0);
  EXPECT_EQ(CompareText("a\xD6", "A\xD6", true), 0);  // a lone lead byte at the end
  // ASCII-only texts are compared without copies; a two-byte character put
  // before both sends the same pair through the general path.
  const auto sign = [](int c) { return c < 0 ? -1 : (c > 0 ? 1 : 0); };
  const std::pair<const char*, const char*> kAsciiPairs[] = {
      {"ab", "abc"}, {"abd", "ABC"}, {"a[", "A{"}, {"a_", "A"}, {"_", "a"}, {"Z", "z"},
      {"", "x"},     {"\x7f", "a"},  {"1", "A"},   {"`", "@"},  {"zz", "ZZ"}, {"a\x01", "A"}};
  for (const auto& [a, b] : kAsciiPairs) {
    const Text twoByte = Gbk("中");
    for (const bool ignoreCase : {false, true}) {
      EXPECT_EQ(sign(CompareText(a, b, ignoreCase)),
                sign(CompareText(Concat(twoByte, a), Concat(twoByte, b), ignoreCase)))
          << a << " " << b << " " << ignoreCase;
    }
  }
}

TEST(TextBetween, CutsBetweenMarkers) {
  EXPECT_EQ(TextBetween("Date: Tue\r\n", "Date:", "\r\n"), Text(" Tue"));
  EXPECT_EQ(TextBetween("a=\"b\"", Concat("a=", kQuotePlaceholder), kQuotePlaceholder), Text("b"));
  EXPECT_EQ(TextBetween("Date: Tue", "Date:", "\r\n"), Text());
  EXPECT_EQ(TextBetween("Date:\r\n", "Date:", "\r\n"), Text());
  EXPECT_EQ(TextBetween("x", "Date:", "\r\n"), Text());
  EXPECT_EQ(TextBetween("k=1;k=2;", "k=", ";", 2), Text("2"));
  EXPECT_EQ(TextBetween("k=1;k=2;", "K=", ";", 0, true), Text("1"));
  EXPECT_EQ(TextBetween("ab;", "", ";"), Text("ab"));  // an empty start marker finds byte 1
  EXPECT_EQ(TextBetween("ab;", "a", ""), Text());      // an empty end marker finds byte 1
  EXPECT_EQ(QuotePlaceholder(), Text("#\xD2\xFD\xBA\xC5"));
  EXPECT_EQ(QuotePlaceholder(), Gbk("#引号"));
}

TEST(ByteBuffers, ClampAndCopy) {
  const ByteBuffer five(std::string_view("\x01\x00\x02\x03\x04", 5));
  EXPECT_EQ(BytesLength(five), 5);
  EXPECT_EQ(BytesMid(five, 0, 2), ByteBuffer(std::string_view("\x01\x00", 2)));
  EXPECT_EQ(BytesMid(five, 7, 1), ByteBuffer());
  EXPECT_EQ(BytesMid(five, 6, 1), ByteBuffer());
  EXPECT_EQ(BytesMid(five, 4, 9), ByteBuffer(std::string_view("\x03\x04", 2)));
  EXPECT_EQ(BytesMid(five, kMin, kMax), five);
  EXPECT_EQ(BytesMid(five, kMax, kMax), ByteBuffer());
  EXPECT_EQ(BytesMid(five, 2, -1), ByteBuffer());
  EXPECT_EQ(BytesLeft(five, -1), ByteBuffer());
  EXPECT_EQ(BytesLeft(five, 2), ByteBuffer(std::string_view("\x01\x00", 2)));
  EXPECT_EQ(BytesLeft(five, kMax), five);
  EXPECT_EQ(BlankBytes(3), ByteBuffer(std::string(3, '\0')));
  EXPECT_EQ(BlankBytes(-3), ByteBuffer());
  EXPECT_EQ(BlankBytes(kMin), ByteBuffer());
  EXPECT_EQ(BytesFromAddress(five.data(), 5), five);
  EXPECT_EQ(BytesFromAddress(five.data(), 0), ByteBuffer());
  EXPECT_EQ(BytesFromAddress(nullptr, 5), ByteBuffer());
  EXPECT_EQ(BytesFromAddress(five.data(), -1), ByteBuffer());
  EXPECT_EQ(ToBytes(Gbk("中")), ByteBuffer(std::string("\xD6\xD0")));
  EXPECT_EQ(ToBytes(Text()), ByteBuffer());
  EXPECT_EQ(ConcatBytes(five, ByteBuffer(), five).size(), 10);
  EXPECT_EQ(ConcatBytes(ByteBuffer(), ByteBuffer()), ByteBuffer());
}

TEST(ByteBuffersDeathTest, ImpossibleSizeEndsTheProgramAsOutOfMemory) {
  // Refused before any allocation is tried, so this holds under AddressSanitizer too.
  EXPECT_EXIT(BlankBytes(kMax), testing::ExitedWithCode(platform::kFatalExitStatus),
              "out of memory");
  EXPECT_EXIT(BytesFromAddress("x", kMax), testing::ExitedWithCode(platform::kFatalExitStatus),
              "out of memory");
}

}  // namespace
}  // namespace timesync
