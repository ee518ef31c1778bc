#include "regex/regex_object.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/component_library.h"

namespace timesync {
namespace {

// Code page 936 texts used below.
#define ZH_ZHONG "\xD6\xD0"          // 中
#define ZH_WEN "\xCE\xC4"            // 文
#define ZH_TITLE "\xB1\xEA\xCC\xE2"  // 标题

constexpr const char* kCharsetPattern = "<meta.+?charset=[^\\w]?([-\\w]+)";

// What the response stage does: run over the page's first 1024 bytes, then
// read the first group of the first match.
Text DeclaredCharset(const Text& page) {
  RegexObject regex;
  if (!regex.Execute(kCharsetPattern, Left(page, 1024))) return "(not run)";
  return regex.SubMatchText(1, 1);
}

TEST(RegexObjectTest, ReadsTheCharsetOfRealPageHeads) {
  const struct {
    const char* page;
    const char* charset;
  } cases[] = {
      {"<html>\r\n<head>\r\n<title>" ZH_TITLE "</title>\r\n"
       "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" />\r\n</head>",
       "gb2312"},
      {"<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
       "<meta name=\"viewport\" content=\"width=device-width\">",
       "utf-8"},
      {"<HTML><HEAD><META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; CHARSET=GBK\">", "GBK"},
      {"<head>\r\n<meta name=\"keywords\" content=\"" ZH_ZHONG ZH_WEN "\">\r\n"
       "<meta http-equiv=content-type content=text/html;charset=big5>",
       "big5"},
      // No declaration: the pattern runs and finds nothing.
      {"<html><head><title>" ZH_TITLE "</title></head><body>charset=gbk</body>", ""},
      // "." stops at line breaks, so a tag split before its charset is not read.
      {"<meta http-equiv=\"Content-Type\"\r\n      content=\"text/html; charset=gb2312\">", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DeclaredCharset(c.page), Text(c.charset)) << c.page;
  }
  // Only the first 1024 bytes are searched.
  const Text late = Concat(Text(std::string(1020, 'x')), "<meta charset=gbk>");
  EXPECT_EQ(DeclaredCharset(late), Text(""));
}

TEST(RegexObjectTest, SwitchesTakeTheirDefaultOnlyWhenOmitted) {
  RegexObject regex;
  EXPECT_TRUE(regex.Execute("A", "a"));
  EXPECT_EQ(regex.MatchCount(), 1);
  EXPECT_TRUE(regex.Execute("A", "a", /*caseSensitive=*/true));
  EXPECT_EQ(regex.MatchCount(), 0);
  EXPECT_TRUE(regex.Execute("A", "a", /*caseSensitive=*/false));
  EXPECT_EQ(regex.MatchCount(), 1);

  EXPECT_TRUE(regex.Execute("^b$", "a\r\nb\r\nc"));
  EXPECT_EQ(regex.MatchCount(), 1);
  EXPECT_TRUE(regex.Execute("^b$", "a\r\nb\r\nc", false, /*multiLine=*/false));
  EXPECT_EQ(regex.MatchCount(), 0);

  EXPECT_TRUE(regex.Execute("a", "aaa"));
  EXPECT_EQ(regex.MatchCount(), 3);
  EXPECT_EQ(regex.ReplaceMatches("b"), Text("bbb"));
  EXPECT_TRUE(regex.Execute("a", "aaa", false, true, /*globalMatch=*/false));
  EXPECT_EQ(regex.MatchCount(), 1);
  EXPECT_EQ(regex.ReplaceMatches("b"), Text("baa"));

  const Text subject = Concat("a\"b ", kQuotePlaceholder, " a", kQuotePlaceholder, "b");
  const Text pattern = Concat("a", kQuotePlaceholder, "b");
  EXPECT_TRUE(regex.Execute(pattern, subject, false, true, true, /*useQuotePlaceholder=*/true));
  EXPECT_EQ(regex.GetPattern(), Text("a\"b"));
  EXPECT_EQ(regex.MatchCount(), 1);
  EXPECT_EQ(regex.MatchText(1), Text("a\"b"));
  EXPECT_TRUE(regex.Execute(pattern, subject));  // the placeholder stays literal
  EXPECT_EQ(regex.GetPattern(), pattern);
  EXPECT_EQ(regex.MatchCount(), 1);
  EXPECT_EQ(regex.MatchText(1), pattern);
}

TEST(RegexObjectTest, RunsThatFindNothingOrCannotRun) {
  RegexObject regex;
  int position = 99;
  // Before any Execute the subject reads as the text "0".
  EXPECT_EQ(regex.GetPattern(), Text(""));
  EXPECT_EQ(regex.ReplaceMatches("x"), Text(""));
  EXPECT_EQ(regex.MatchCount(), 0);
  EXPECT_EQ(regex.SubMatchCount(), 0);
  EXPECT_EQ(regex.MatchText(1, &position), Text(""));
  EXPECT_EQ(position, 0);
  EXPECT_EQ(regex.SubMatchText(1, 1, &position), Text(""));
  EXPECT_EQ(position, 0);

  EXPECT_TRUE(regex.Execute("x", "abc"));
  EXPECT_EQ(regex.MatchCount(), 0);
  EXPECT_EQ(regex.SubMatchCount(), 0);
  EXPECT_EQ(regex.MatchText(1, &position), Text(""));
  EXPECT_EQ(position, 0);
  EXPECT_EQ(regex.ReplaceMatches("y"), Text("abc"));
  EXPECT_TRUE(regex.Execute("x", ""));
  EXPECT_EQ(regex.MatchText(1, &position), Text(""));
  EXPECT_EQ(position, -2);

  // A refused pattern: nothing but the pattern itself is left.
  EXPECT_TRUE(regex.Execute("(a)", "aa"));
  EXPECT_FALSE(regex.Execute("(a", "aa"));
  EXPECT_EQ(regex.GetPattern(), Text("(a"));
  EXPECT_EQ(regex.MatchCount(), 0);
  EXPECT_EQ(regex.SubMatchCount(), 0);
  EXPECT_EQ(regex.MatchText(1, &position), Text(""));
  EXPECT_EQ(position, 0);
  EXPECT_EQ(regex.SubMatchText(1, 1), Text(""));
  EXPECT_EQ(regex.ReplaceMatches("x"), Text(""));
  EXPECT_FALSE(regex.Execute("(?<=a)b", "ab"));  // no lookbehind in this dialect

#ifndef _WIN32
  // A runaway search over 64 KiB ends, reported as a failed run. (The system's
  // own engine on Windows sets no such limit.)
  const Text runaway = Concat(Text(std::string(64 * 1024, 'a')), "!");
  EXPECT_FALSE(regex.Execute("(\\w+\\s?)+$", runaway));
  EXPECT_EQ(regex.MatchCount(), 0);
  EXPECT_EQ(regex.GetPattern(), Text("(\\w+\\s?)+$"));
#endif
}

TEST(RegexObjectTest, MatchAndGroupTexts) {
  RegexObject regex;
  ASSERT_TRUE(regex.Execute("(\\w)(\\d)?-", "a1-b-"));
  EXPECT_EQ(regex.MatchCount(), 2);
  EXPECT_EQ(regex.SubMatchCount(), 2);
  EXPECT_EQ(regex.MatchText(1), Text("a1-"));
  EXPECT_EQ(regex.MatchText(2), Text("b-"));
  EXPECT_EQ(regex.MatchText(0), Text(""));
  EXPECT_EQ(regex.MatchText(3), Text(""));
  EXPECT_EQ(regex.SubMatchText(1, 2), Text("1"));
  EXPECT_EQ(regex.SubMatchText(2, 2), Text(""));  // took no part
  EXPECT_EQ(regex.SubMatchText(2, 1), Text("b"));
  EXPECT_EQ(regex.SubMatchText(1, 0), Text(""));
  EXPECT_EQ(regex.SubMatchText(1, 3), Text(""));
  EXPECT_EQ(regex.SubMatchText(3, 1), Text(""));

  // Two-byte characters come back whole.
  ASSERT_TRUE(regex.Execute(ZH_ZHONG "(.)", "x" ZH_ZHONG ZH_WEN));
  EXPECT_EQ(regex.MatchText(1), Text(ZH_ZHONG ZH_WEN));
  EXPECT_EQ(regex.SubMatchText(1, 1), Text(ZH_WEN));
}

TEST(RegexObjectTest, PositionsAreSearchedFromTheEngineIndex) {
  const struct {
    const char* pattern;
    const char* subject;
    int index;
    int group;  // 0: the match itself
    const char* text;
    int position;
  } cases[] = {
      {"a", "aa", 2, 0, "a", 1},
      {"a", "xaxa", 2, 0, "a", 3},
      {"b", "abAB", 2, 0, "B", 3},
      // A group: the first occurrence of its text from the start of its match.
      {"(a)(a)", "aa", 1, 2, "a", 0},
      {"a(b)(a)", "xaba", 1, 2, "a", 1},
      {"(x)?b", "aab", 1, 1, "", 0},
      // Each two-byte character before the match moves the start one byte
      // early: the right offset, an earlier occurrence, or none.
      {"abc", ZH_ZHONG ZH_WEN "abc" ZH_ZHONG ZH_WEN "abc", 2, 0, "abc", 11},
      {"a", ZH_ZHONG ZH_ZHONG ZH_ZHONG ZH_ZHONG "a" ZH_ZHONG "a", 2, 0, "a", 8},
      {"a", "a" ZH_ZHONG ZH_ZHONG ZH_ZHONG "a", 2, 0, "a", -2},
      // No such match: an empty text, found at 0 in a non-empty subject.
      {"a", "aa", 0, 0, "", 0},
      {"a", "aa", 3, 0, "", 0},
      {"", "", 1, 0, "", -2},
  };
  for (const auto& c : cases) {
    RegexObject regex;
    ASSERT_TRUE(regex.Execute(c.pattern, c.subject)) << c.pattern;
    int position = 99;
    const Text text = c.group == 0 ? regex.MatchText(c.index, &position)
                                   : regex.SubMatchText(c.index, c.group, &position);
    EXPECT_EQ(text, Text(c.text)) << c.pattern << " over " << c.subject;
    EXPECT_EQ(position, c.position) << c.pattern << " over " << c.subject;
  }
  // Case counts in the search exactly when it counted in the run.
  RegexObject regex;
  ASSERT_TRUE(regex.Execute("B", "abAB", /*caseSensitive=*/true));
  int position = 99;
  EXPECT_EQ(regex.MatchText(1, &position), Text("B"));
  EXPECT_EQ(position, 3);
  ASSERT_TRUE(regex.Execute("B", "bB"));
  EXPECT_EQ(regex.MatchText(2, &position), Text("B"));
  EXPECT_EQ(position, 1);
}

// The position search reads the subject of the last Execute, however many
// searches came before it, and a copy keeps reading its own.
TEST(RegexObjectTest, PositionsFollowTheLastSubject) {
  RegexObject regex;
  int position = 99;
  EXPECT_EQ(regex.MatchText(1, &position), Text(""));
  EXPECT_EQ(position, 0);  // the subject reads "0" before any Execute
  ASSERT_TRUE(regex.Execute("a", "xxxa"));
  EXPECT_EQ(regex.MatchText(1, &position), Text("a"));
  EXPECT_EQ(position, 3);
  const RegexObject copy(regex);
  ASSERT_TRUE(regex.Execute("a", "a"));
  EXPECT_EQ(regex.MatchText(1, &position), Text("a"));
  EXPECT_EQ(position, 0);
  ASSERT_FALSE(regex.Execute("(", ""));  // refused, over an empty subject
  EXPECT_EQ(regex.MatchText(1, &position), Text(""));
  EXPECT_EQ(position, -2);
  EXPECT_EQ(copy.MatchText(1, &position), Text("a"));
  EXPECT_EQ(position, 3);
}

TEST(RegexObjectTest, ReplacesWithTheEnginesRules) {
  RegexObject regex;
  ASSERT_TRUE(regex.Execute("(\\S+)(\\s+)(\\S+)", ZH_ZHONG " " ZH_WEN));
  EXPECT_EQ(regex.ReplaceMatches("$3$2$1"), Text(ZH_WEN " " ZH_ZHONG));
  ASSERT_TRUE(regex.Execute("(\\w+)@(\\w+)", ZH_ZHONG "user@host" ZH_WEN));
  EXPECT_EQ(regex.ReplaceMatches("$2 [$&] $3 $$1 " ZH_TITLE),
            Text(ZH_ZHONG "host [user@host] $3 $1 " ZH_TITLE ZH_WEN));
  EXPECT_EQ(regex.ReplaceMatches(""), Text(ZH_ZHONG ZH_WEN));
}

TEST(RegexObjectTest, EveryObjectBalancesItsComponentLibraryInitialisation) {
  const platform::ComponentLibraryCounts before = platform::ComponentLibraryCountsOnThisThread();
  {
    RegexObject original;
    ASSERT_TRUE(original.Execute("a", "aa"));
    RegexObject copy(original);
    RegexObject assigned;
    assigned = copy;
    assigned = assigned;
    const platform::ComponentLibraryCounts during = platform::ComponentLibraryCountsOnThisThread();
    EXPECT_EQ(during.initializations - before.initializations, 3);
    EXPECT_EQ(during.uninitializations, before.uninitializations);
  }
  const platform::ComponentLibraryCounts after = platform::ComponentLibraryCountsOnThisThread();
  EXPECT_EQ(after.initializations - before.initializations, 3);
  EXPECT_EQ(after.Balance(), before.Balance());
}

TEST(RegexObjectTest, CopiesStayIndependent) {
  RegexObject original;
  ASSERT_TRUE(original.Execute("(a)", "xaa"));
  RegexObject copy(original);
  RegexObject assigned;
  assigned = original;
  ASSERT_FALSE(original.Execute("(", "b"));

  for (const RegexObject* regex : {&copy, &assigned}) {
    EXPECT_EQ(regex->GetPattern(), Text("(a)"));
    EXPECT_EQ(regex->MatchCount(), 2);
    int position = 99;
    EXPECT_EQ(regex->SubMatchText(2, 1, &position), Text("a"));
    EXPECT_EQ(position, 2);
    EXPECT_EQ(regex->ReplaceMatches("<$1>"), Text("x<a><a>"));
  }
  EXPECT_EQ(original.MatchCount(), 0);
}

}  // namespace
}  // namespace timesync
