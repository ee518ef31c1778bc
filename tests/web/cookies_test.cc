#include "web/cookies.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "web/literal_cookies.h"
#include "web/random_cookies.h"

namespace timesync {
namespace {

struct MergeCase {
  const char* oldCookies;
  const char* newCookies;
  const char* merged;
};

class MergeCookiesTest : public ::testing::TestWithParam<MergeCase> {};

TEST_P(MergeCookiesTest, MergesAndWritesTheResultBackIntoTheOldSide) {
  const MergeCase& c = GetParam();
  Text oldCookies(c.oldCookies);
  Text newCookies(c.newCookies);
  EXPECT_EQ(MergeCookies(oldCookies, newCookies), Text(c.merged));
  EXPECT_EQ(oldCookies, Text(c.merged));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MergeCookiesTest,
    ::testing::Values(
        MergeCase{"", "", ""}, MergeCase{"", "a=1; b=2", "a=1; b=2"},
        MergeCase{"a=1; b=2", "", "a=1; b=2"},
        // The server's value wins and its members come first.
        MergeCase{"a=1; b=2", "b=3", "b=3; a=1"}, MergeCase{"x=1", "a=1", "a=1; x=1"},
        // A deleted cookie goes altogether.
        MergeCase{"sid=x", "sid=deleted", ""}, MergeCase{"sid=x; k=1", "sid=deleted", "k=1"},
        // Among old members of one name only the first survives.
        MergeCase{"a=1; a=2", "c=3", "c=3; a=1"},
        // The server setting a name twice keeps both, unless they are identical.
        MergeCase{"", "a=1; a=2", "a=1; a=2"}, MergeCase{"", "a=1; a=1", "a=1"},
        MergeCase{"z=9", "a=1; a=1", "a=1; z=9"},
        // A final semicolon ends the member; without the space there is one member.
        MergeCase{"a=1;", "", "a=1"}, MergeCase{"a=1;b=2", "a=5", "a=5"},
        MergeCase{"a=1;b=2", "", "a=1;b=2"},
        // Names count case and are trimmed only for comparing.
        MergeCase{"a=1", "A=2", "A=2; a=1"}, MergeCase{" a=1", "a=2", "a=2"},
        MergeCase{"b=1;  a=1", "", "b=1;  a=1"}, MergeCase{"x", "y=1", "y=1; x"},
        MergeCase{"x", "x=1", "x=1"},
        // "=deleted" is judged on the last eight bytes only.
        MergeCase{"=deleted; a=undeleted", "", "a=undeleted"}, MergeCase{"k=deleted", "k=1", "k=1"},
        // Empty members survive once; spaces around the whole text go.
        MergeCase{"a=1; ; b=2", "", "a=1; ; b=2"}, MergeCase{"  a=1  ", "  b=2; ", "b=2; a=1"},
        // Identical members left over from both sides collapse.
        MergeCase{"q; q", "", "q"}));

TEST(MergeCookiesTest, NewSideKeepsItsTrimmedForm) {
  Text oldCookies("a=1");
  Text newCookies("  b=2;  ");
  MergeCookies(oldCookies, newCookies);
  EXPECT_EQ(newCookies, Text("b=2; "));
}

TEST(MergeCookiesTest, SemicolonAfterAFirstByteIsNoDelimiter) {
  // In "k=\x81; b=2" the ";" is the second byte of a two-byte character, so
  // the server's text is one member named "k" and the old "b=2" survives.
  Text oldCookies("b=2");
  Text newCookies("k=\x81; b=2");
  EXPECT_EQ(MergeCookies(oldCookies, newCookies), Text("k=\x81; b=2; b=2"));
}

TEST(CookieNameTest, TrimmedBytesBeforeTheFirstEquals) {
  EXPECT_EQ(CookieName("sid=abc"), Text("sid"));
  EXPECT_EQ(CookieName(" sid =a=b"), Text("sid"));
  EXPECT_EQ(CookieName("  x  "), Text("x"));
  EXPECT_EQ(CookieName("=deleted"), Text(""));
  EXPECT_EQ(CookieName(""), Text(""));
  // An "=" that is the second byte of a two-byte character is not a separator.
  EXPECT_EQ(CookieName("\x81=b=1"), Text("\x81=b"));
}

TEST(CookieListHasNameTest, ComparesNamesExactly) {
  const TextArray list = {Text("a=1"), Text(" b =2"), Text("c")};
  EXPECT_TRUE(CookieListHasName(list, "b"));
  EXPECT_TRUE(CookieListHasName(list, "c"));
  EXPECT_FALSE(CookieListHasName(list, "A"));
  EXPECT_FALSE(CookieListHasName({}, ""));
  EXPECT_TRUE(CookieListHasName({Text("")}, ""));
}

TEST(RemoveDuplicateMembersTest, KeepsFirstOfEachMember) {
  EXPECT_EQ(RemoveDuplicateMembers("a; b; a", "; "), Text("a; b"));
  EXPECT_EQ(RemoveDuplicateMembers("", "; "), Text(""));
  EXPECT_EQ(RemoveDuplicateMembers("; ; a; ", "; "), Text("; a"));
  EXPECT_EQ(RemoveDuplicateMembers("a,A,a,b", ","), Text("a,A,b"));
  EXPECT_EQ(RemoveDuplicateMembers("abc", ""), Text("abc"));
}

TEST(FindMemberTest, FirstEqualMemberOrMinusOne) {
  const TextArray list = {Text("a"), Text(""), Text("b"), Text("a")};
  EXPECT_EQ(FindMember(list, "a"), 1);
  EXPECT_EQ(FindMember(list, ""), 2);
  EXPECT_EQ(FindMember(list, "b"), 3);
  EXPECT_EQ(FindMember(list, "A"), -1);
  EXPECT_EQ(FindMember({}, ""), -1);
}

TEST(MergeCookiesTest, AgreesWithTheLiteralMergeOnRandomTexts) {
  std::mt19937 random(20261211);
  for (int i = 0; i < 5000; ++i) {
    const Text oldText = testing::RandomCookieText(random, 8);
    const Text newText = testing::RandomCookieText(random, 8);
    Text oldFast = oldText, newFast = newText, oldLiteral = oldText, newLiteral = newText;
    const Text fast = MergeCookies(oldFast, newFast);
    const Text expected = literal::MergeCookies(oldLiteral, newLiteral);
    ASSERT_EQ(fast, expected) << "old '" << oldText.bytes() << "' new '" << newText.bytes() << "'";
    ASSERT_EQ(oldFast, oldLiteral);
    ASSERT_EQ(newFast, newLiteral);
    ASSERT_EQ(RemoveDuplicateMembers(oldText, "; "),
              literal::RemoveDuplicateMembers(oldText, "; "));
  }
}

TEST(MergeCookiesTest, SameVariableOnBothSides) {
  Text both("a=1; b=2");
  Text literalBoth("a=1; b=2");
  const Text fast = MergeCookies(both, both);
  EXPECT_EQ(fast, literal::MergeCookies(literalBoth, literalBoth));
  EXPECT_EQ(both, literalBoth);
}

}  // namespace
}  // namespace timesync
