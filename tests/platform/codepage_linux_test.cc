// The code page 936 decoder reads ASCII runs and two-byte characters from its
// own tables and hands only the rest to ICU; whatever the input, its result
// must be exactly ICU's decoding of the whole input at once.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <thread>

#include "platform/codepage.h"
#include "platform/icu_converter_linux.h"

namespace timesync::platform {
namespace {

class Cp936DecodeLikeIcu : public testing::Test {
 protected:
  std::u16string IcuDecoding(std::string_view bytes) {
    return IcuToUtf16(converter_.get(), bytes).value_or(u"(ICU failed)");
  }

  // Compares without printing megabytes on a mismatch.
  void ExpectSameAsIcu(std::string_view bytes) {
    const std::u16string expected = IcuDecoding(bytes);
    const std::u16string decoded = Cp936ToUtf16(bytes);
    if (decoded == expected) return;
    std::size_t at = 0;
    while (at < decoded.size() && at < expected.size() && decoded[at] == expected[at]) ++at;
    ADD_FAILURE() << "input of " << bytes.size() << " bytes: " << decoded.size() << " units, ICU "
                  << expected.size() << "; first difference at unit " << at;
  }

  IcuConverter converter_ = OpenIcuConverter("windows-936-2000");
};

TEST_F(Cp936DecodeLikeIcu, EverySequenceOfOneAndTwoBytes) {
  ASSERT_TRUE(converter_);
  std::string all;
  for (int first = 0; first < 256; ++first) {
    std::string row;
    for (int second = 0; second < 256; ++second) {
      const std::string pair{static_cast<char>(first), static_cast<char>(second)};
      // Alone, so a lead byte may end the input; then after an ASCII byte.
      ExpectSameAsIcu(pair);
      ExpectSameAsIcu(pair.substr(0, 1));
      row += 'a' + pair;
    }
    ExpectSameAsIcu(row);
    all += row;
  }
  // All of it in one input: sequences across every block and buffer edge.
  ExpectSameAsIcu(all);
  // Both bytes of each pair used again as the first byte of the next.
  std::string chained;
  for (int first = 0x80; first < 256; ++first) {
    for (int second = 0x3E; second < 256; ++second) {
      chained += static_cast<char>(first);
      chained += static_cast<char>(second);
      chained += static_cast<char>(second);
    }
  }
  ExpectSameAsIcu(chained);
}

// Mixed pages: ASCII runs of every length, Chinese text, broken, unassigned
// and lone lead bytes, the euro byte and 0xFF, zero bytes, each anywhere,
// the end of the input included.
TEST_F(Cp936DecodeLikeIcu, RandomMixedInput) {
  ASSERT_TRUE(converter_);
  std::mt19937 random(20261211);
  const std::string pieces[] = {
      "<p class=\"x\">",
      "0123456789abcdefghijklmnop",
      "\xD0\xA3\xCA\xB1\xCD\xEA\xB1\xCF",  // 校时完毕
      "\xBF\xB4",                          // 看
      "\x81\x40",                          // the first two-byte character
      "\xFE\xFE",                          // user-defined area
      "\xA2\xA0",                          // unassigned
      "\x81",                              // a lead byte on its own
      "\x81\x7F",                          // 0x7F cannot be a second byte
      "\x80",
      "\xFF",
      std::string("\0", 1),
      "\r\n",
      " ",
  };
  for (int round = 0; round < 300; ++round) {
    std::string page;
    const std::size_t pieceCount = random() % (round < 200 ? 40 : 4000);
    for (std::size_t i = 0; i < pieceCount; ++i) {
      const std::string& piece = pieces[random() % std::size(pieces)];
      page += piece.substr(0, piece.size() - random() % (piece.size() > 1 ? 2 : 1));
    }
    ExpectSameAsIcu(page);
  }
  // Random bytes, half of them above 0x7F.
  for (int round = 0; round < 50; ++round) {
    std::string bytes(random() % 20000, '\0');
    for (char& byte : bytes)
      byte = static_cast<char>(random() % 2 ? random() % 128 : 128 + random() % 128);
    ExpectSameAsIcu(bytes);
  }
}

// A thread starts with no row of two-byte characters filled: in a longer
// text each is filled when its lead byte first comes up, wherever that is,
// and decoding goes on from the same byte; a short text leaves them to ICU.
TEST_F(Cp936DecodeLikeIcu, RowsFilledAsTheirLeadBytesComeUp) {
  ASSERT_TRUE(converter_);
  const std::string samples[] = {
      "\xD0\xA3\xCA\xB1\xCD\xEA\xB1\xCF",  // 校时完毕, four rows
      "2021-07-14 \xCA\xB1\xBC\xE4\xA3\xBA"
      "04:30:15",                                                       // after ASCII, 时间：
      "\xA2\xA0\xA2\xA0x",                                              // unassigned, row new
      "ab\xD6",                                                         // lone lead at the end
      "\xD6\x30\xD6\xD0",                                               // no second byte, then 中
      "\x80\xFF\x81\x40\xFE\xFE",                                       // singles, first, last
      std::string(5000, 'a') + "\xD6\xD0" + std::string(5000, '\xD6'),  // across blocks
  };
  for (const std::string& sample : samples) {
    for (const std::string& text : {sample, std::string(1024, ' ') + sample}) {
      std::u16string decoded;
      std::thread([&] { decoded = Cp936ToUtf16(text); }).join();
      EXPECT_TRUE(decoded == IcuDecoding(text))
          << text.size() << " bytes: " << sample.substr(0, 40);
    }
  }
}

TEST(Cp936DecodeLarge, ManyMegabytesWithBrokenBytesAtTheEdges) {
  // Large enough for the output to come from fresh pages, with a broken
  // sequence at the start, one in the middle and a lone lead byte at the end.
  std::string page = "\x81 ";
  while (page.size() < 6 * 1024 * 1024) page += "abc \xD6\xD0\xCE\xC4 0123456789\r\n";
  page += "\xA2\xA0";
  while (page.size() < 12 * 1024 * 1024) page += "\xD6\xD0\xCE\xC4<>";
  page += "\xD6";
  const std::u16string decoded = Cp936ToUtf16(page);
  const IcuConverter converter = OpenIcuConverter("windows-936-2000");
  ASSERT_TRUE(converter);
  EXPECT_TRUE(decoded == IcuToUtf16(converter.get(), page));
  EXPECT_EQ(decoded.substr(0, 6), u"? abc ");
  EXPECT_EQ(decoded.substr(decoded.size() - 4), u"\u6587<>?");
}

}  // namespace
}  // namespace timesync::platform
