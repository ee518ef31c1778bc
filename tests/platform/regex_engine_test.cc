#include "platform/regex_engine.h"

#include <gtest/gtest.h>

#include <string>

namespace timesync::platform {
namespace {

std::string Show(std::u16string_view text) {
  return ::testing::PrintToString(std::u16string(text));
}

struct Switches {
  bool ignoreCase = false;
  bool multiline = false;
  bool global = true;
};

constexpr Switches kPlain{};
constexpr Switches kIgnoreCase{.ignoreCase = true};
constexpr Switches kMultiline{.multiline = true};
constexpr Switches kFirstOnly{.global = false};

RegexEngine MakeEngine(std::u16string_view pattern, Switches switches) {
  RegexEngine engine;
  engine.SetIgnoreCase(switches.ignoreCase);
  engine.SetMultiline(switches.multiline);
  engine.SetGlobal(switches.global);
  engine.SetPattern(std::u16string(pattern));
  return engine;
}

// Each match as "value@firstIndex", joined by "|"; "refused" without a collection.
std::u16string Matches(std::u16string_view pattern, std::u16string_view subject,
                       Switches switches = kPlain) {
  RegexEngine engine = MakeEngine(pattern, switches);
  const auto matches = engine.Execute(MakeSharedWideText(std::u16string(subject)));
  if (!matches) return u"refused";
  std::u16string out;
  for (std::int64_t i = 0; i < matches->Count(); ++i) {
    const RegexMatch match = *matches->Item(i);
    if (i > 0) out += u'|';
    out += match.Value();
    out += u'@';
    const std::string index = std::to_string(match.FirstIndex());
    out.append(index.begin(), index.end());
  }
  return out;
}

struct MatchCase {
  std::u16string_view pattern;
  std::u16string_view subject;
  Switches switches;
  std::u16string_view expected;
};

TEST(RegexEngineTest, ScriptDialect) {
  const MatchCase cases[] = {
      // \w, \d, \s and \b are ASCII; \s holds \v and \f but not U+00A0.
      {uR"(\w+)", u"ab\u00e9_9", kPlain, u"ab@0|_9@3"},
      {uR"(\b\w)", u"\u00e9a b", kPlain, u"a@1|b@3"},
      {uR"(\d)", u"1\u0661", kPlain, u"1@0"},
      {uR"(\s)", u"\v\f\u00a0", kPlain, u"\v@0|\f@1"},
      {uR"(\v)", u"\n\v", kPlain, u"\v@1"},
      // Lazy quantifiers, lookahead, alternation.
      {uR"(a+?)", u"aaa", kFirstOnly, u"a@0"},
      {uR"(a{2,}?)", u"aaaa", kPlain, u"aa@0|aa@2"},
      {uR"(a(?=b))", u"acab", kPlain, u"a@2"},
      {uR"(a(?!b))", u"abac", kPlain, u"a@2"},
      // Back-references, and octal escapes when there are too few groups.
      {uR"((a)\1)", u"aaa", kPlain, u"aa@0"},
      {uR"(\1(a))", u"a", kPlain, u"a@0"},    // forward: matches empty
      {uR"((a)|b\1)", u"b", kPlain, u"b@0"},  // unset: matches empty
      {uR"((x)|a\1+b\1{2})", u"ab", kPlain, u"ab@0"},
      {uR"(\1)",
       u"\x01"
       u"1",
       kPlain, u"\x01@0"},
      {uR"(\101)", u"A", kPlain, u"A@0"},
      {uR"((a)\12)", u"aa2", kPlain, u"aa2@0"},  // \1 then a literal 2
      {uR"(\18)",
       u"\x01"
       u"8",
       kPlain,
       u"\x01"
       u"8@0"},
      {uR"(\8)", u"8", kPlain, u"8@0"},
      {uR"(\08)",
       std::u16string_view(u"\x00"
                           u"8",
                           2),
       kPlain,
       std::u16string_view(u"\x00"
                           u"8@0",
                           4)},
      {uR"(\477)",
       u"\x27"
       u"7",
       kPlain,
       u"\x27"
       u"7@0"},
      {uR"([\1])", u"\x01", kPlain, u"\x01@0"},
      // Character escapes; unknown letters stand for themselves.
      {uR"(\x41\x4)", u"Ax4", kPlain, u"Ax4@0"},
      {uR"(\u00e9\u12)", u"\u00e9u12", kPlain, u"\u00e9u12@0"},
      {uR"(\cJ\c1)", u"\n\\c1", kPlain, u"\n\\c1@0"},
      {uR"(\q\A\z)", u"qAz", kPlain, u"qAz@0"},
      {uR"([\b])", u"\b", kPlain, u"\b@0"},
      // "." stops at LF, CR, U+2028 and U+2029.
      {uR"(.+)", u"ab\rc\nd\u2028e\u2029f", kPlain, u"ab@0|c@3|d@5|e@7|f@9"},
      // Anchors.
      {uR"(^\w)", u"a\rb\nc", kMultiline, u"a@0|b@2|c@4"},
      {uR"(\w$)", u"a\rb\nc", kMultiline, u"a@0|b@2|c@4"},
      {uR"(^$)", u"\r\n", kMultiline, u"@0|@1|@2"},
      {uR"(^\w)", u"a\nb", kPlain, u"a@0"},
      {uR"(\w$)", u"a\nb\n", kPlain, u""},
      // Classes: "[]" matches nothing, "[^]" anything, no POSIX names.
      {uR"(a[]b|c)", u"abc", kPlain, u"c@2"},
      {uR"([^])", u"\n", kPlain, u"\n@0"},
      {uR"([[:a]+])", u"a:]", kPlain, u"a:]@0"},
      {uR"([a-])", u"-", kPlain, u"-@0"},
      {uR"([^\d\s])", u"1 x", kPlain, u"x@2"},
      // Braces that do not make a quantifier are literal.
      {uR"(a{,2}b{x})", u"a{,2}b{x}", kPlain, u"a{,2}b{x}@0"},
      {uR"(a]})", u"a]}", kPlain, u"a]}@0"},
      // Global: one code unit on after an empty match, and a last one at the end.
      {u"", u"test", kPlain, u"@0|@1|@2|@3|@4"},
      {u"", u"test", kFirstOnly, u"@0"},
      {uR"(a??)", u"aa", kPlain, u"@0|@1|@2"},
      {uR"(a*)", u"baa", kPlain, u"@0|aa@1|@3"},
      // FirstIndex counts UTF-16 code units; a lone surrogate is one character.
      {uR"(b)", u"\U0001F600\u4E2Db", kPlain, u"b@3"},
      {uR"(.b)",
       u"\xD800"
       u"b",
       kPlain,
       u"\xD800"
       u"b@0"},
  };
  for (const MatchCase& c : cases) {
    EXPECT_EQ(Matches(c.pattern, c.subject, c.switches), c.expected)
        << "pattern " << Show(c.pattern);
  }
}

TEST(RegexEngineTest, IgnoreCaseFoldsSimpleUpperCaseWithoutMixingAsciiAndOther) {
  const MatchCase cases[] = {
      {uR"(abc)", u"ABC aBc", kIgnoreCase, u"ABC@0|aBc@4"},
      {u"\u00e9", u"\u00c9\u00e9", kIgnoreCase, u"\u00c9@0|\u00e9@1"},
      {u"\u0436", u"\u0416\u0436", kIgnoreCase, u"\u0416@0|\u0436@1"},  // Cyrillic zhe
      {u"\uFF41", u"\uFF21", kIgnoreCase, u"\uFF21@0"},                 // full-width a / A
      {u"\u03c3", u"\u03a3\u03c2\u03c3", kIgnoreCase, u"\u03a3@0|\u03c2@1|\u03c3@2"},
      {u"k", u"K\u212A", kIgnoreCase, u"K@0"},  // not the Kelvin sign
      {u"s", u"\u017F", kIgnoreCase, u""},      // nor the long s
      {u"\u212A", u"kK\u212A", kIgnoreCase, u"\u212A@2"},
      {uR"([\u0430-\u044f]+)", u"\u041F\u0440\u0438\u0432\u0435\u0442", kIgnoreCase,
       u"\u041F\u0440\u0438\u0432\u0435\u0442@0"},
      {uR"([^\u00e9x]+)", u"\u00c9Xa", kIgnoreCase, u"a@2"},
      {uR"(\u00e9)", u"\u00c9", kPlain, u""},
      {uR"((a)\1)", u"aA", kIgnoreCase, u"aA@0"},
  };
  for (const MatchCase& c : cases) {
    EXPECT_EQ(Matches(c.pattern, c.subject, c.switches), c.expected)
        << "pattern " << Show(c.pattern);
  }
}

TEST(RegexEngineTest, RefusesWhatTheDialectLacks) {
  const std::u16string_view refused[] = {
      uR"((?<=a)b)", uR"((?<!a)b)", uR"((?<n>a))", uR"((?P<n>a))", uR"((?'n'a))", uR"((?>a))",
      uR"((?|a))",   uR"((?(1)a))", uR"((?R))",    uR"((?1))",     uR"((?i)a)",   uR"((?#x))",
      uR"((*UTF)a)", uR"(a*+)",     uR"(a++)",     uR"(a?+)",      uR"(a{2}+)",   uR"(a**)",
      uR"(a*??)",    uR"(*a)",      uR"(|+)",      uR"((*a))",     uR"(^*)",      uR"($+)",
      uR"(\b*)",     uR"({2})",     uR"(a{3,2})",  uR"(a{70000})", uR"((a)",      uR"(a))",
      uR"([a)",      uR"([^)",      uR"([a-)",     uR"(a\)",       uR"([z-a])",   uR"([\d-z])",
      uR"([a-\w])",  uR"((?)",      uR"(()",
  };
  for (std::u16string_view pattern : refused) {
    EXPECT_EQ(Matches(pattern, u"ab"), u"refused") << "pattern " << Show(pattern);
    RegexEngine engine = MakeEngine(pattern, kPlain);
    EXPECT_FALSE(engine.Replace(u"ab", u"x").has_value()) << "pattern " << Show(pattern);
    EXPECT_EQ(engine.Pattern(), pattern);
  }
}

TEST(RegexEngineTest, PropertiesAndRecompilation) {
  RegexEngine engine;
  EXPECT_FALSE(engine.IgnoreCase());
  EXPECT_FALSE(engine.Multiline());
  EXPECT_FALSE(engine.Global());
  EXPECT_EQ(engine.Pattern(), u"");
  EXPECT_FALSE(engine.SetSingleline(true));

  const SharedWideText subject = MakeSharedWideText(u"a\nA");
  engine.SetPattern(u"(");
  EXPECT_EQ(engine.Execute(subject), nullptr);
  engine.SetPattern(u"^a.?");  // a new pattern compiles afresh after a refusal
  ASSERT_NE(engine.Execute(subject), nullptr);
  EXPECT_EQ(engine.Execute(subject)->Count(), 1);
  engine.SetGlobal(true);
  engine.SetMultiline(true);
  engine.SetIgnoreCase(true);
  const auto matches = engine.Execute(subject);
  ASSERT_NE(matches, nullptr);
  ASSERT_EQ(matches->Count(), 2);
  EXPECT_EQ(matches->Item(0)->Value(), u"a");  // "." stops at the line feed
  EXPECT_EQ(matches->Item(1)->Value(), u"A");
  EXPECT_EQ(matches->Item(1)->FirstIndex(), 2);
}

TEST(RegexEngineTest, CollectionItemsAndSubMatches) {
  RegexEngine engine = MakeEngine(uR"((a|b)+|(c))", kPlain);
  const auto matches = engine.Execute(MakeSharedWideText(u"aac"));
  ASSERT_NE(matches, nullptr);
  ASSERT_EQ(matches->Count(), 2);
  EXPECT_FALSE(matches->Item(-1).has_value());
  EXPECT_FALSE(matches->Item(2).has_value());

  const RegexSubMatches first = matches->Item(0)->SubMatches();
  EXPECT_EQ(first.Count(), 2);
  EXPECT_EQ(first.Item(0), u"a");
  EXPECT_EQ(first.Item(1), u"");  // took no part
  EXPECT_FALSE(first.Item(2).has_value());
  EXPECT_FALSE(first.Item(-1).has_value());
  EXPECT_EQ(matches->Item(1)->SubMatches().Item(1), u"c");

  // The collection keeps its subject alive on its own.
  RegexEngine other = MakeEngine(u"x", kPlain);
  const auto none = other.Execute(MakeSharedWideText(u"abc"));
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none->Count(), 0);
  EXPECT_EQ(RegexSubMatches().Count(), 0);
}

struct ReplaceCase {
  std::u16string_view pattern;
  std::u16string_view subject;
  std::u16string_view replacement;
  Switches switches;
  std::u16string_view expected;
};

TEST(RegexEngineTest, ReplaceFollowsTheDollarRules) {
  const ReplaceCase cases[] = {
      {uR"((\$(\d)))", u"$1,$2", u"$$1-$1$2", kPlain, u"$1-$11,$1-$22"},
      {uR"((\S+)(\s+)(\S+))", u"one  two", u"$3$2$1", kPlain, u"two  one"},
      {uR"((a)(b))", u"ab", u"$3|$0|$10|$01|$00", kPlain, u"$3|$0|a0|a|$00"},
      {uR"(b)", u"abc", u"[$`|$&|$']", kPlain, u"a[a|b|c]c"},
      {uR"(b)", u"abc", u"$x$", kPlain, u"a$x$c"},
      {uR"((x)?b)", u"abc", u"<$1>", kPlain, u"a<>c"},
      {uR"(a)", u"aaa", u"b", kFirstOnly, u"baa"},
      {u"", u"xxx", u"y", kPlain, u"yxyxyxy"},
      {u"", u"xxx", u"y", kFirstOnly, u"yxxx"},
      {uR"(q)", u"abc", u"z", kPlain, u"abc"},
      {uR"(A)", u"aA", u"-", kIgnoreCase, u"--"},
  };
  for (const ReplaceCase& c : cases) {
    RegexEngine engine = MakeEngine(c.pattern, c.switches);
    EXPECT_EQ(engine.Replace(c.subject, c.replacement), c.expected)
        << "pattern " << Show(c.pattern);
  }
  // Two-digit groups are taken when the pattern has that many.
  std::u16string twelveGroups;
  for (char16_t c = u'a'; c < u'a' + 12; ++c) twelveGroups += std::u16string(u"(") + c + u")";
  RegexEngine engine = MakeEngine(twelveGroups, kPlain);
  EXPECT_EQ(engine.Replace(u"abcdefghijkl", u"$12$13"), u"la3");
}

TEST(RegexEngineTest, RunawaySearchesFailInsteadOfHanging) {
  const std::u16string longSubject = std::u16string(64 * 1024, u'a') + u"!";
  for (std::u16string_view pattern : {uR"((\w+\s?)+$)", uR"((a|aa)+$)", uR"((a+)+$)"}) {
    RegexEngine engine = MakeEngine(pattern, kPlain);
    EXPECT_EQ(engine.Execute(MakeSharedWideText(longSubject)), nullptr)
        << "pattern " << Show(pattern);
    EXPECT_FALSE(engine.Replace(longSubject, u"x").has_value()) << "pattern " << Show(pattern);
  }
  // The search that gives up on the classic case stays quick to say "no match".
  EXPECT_EQ(Matches(uR"(^[^<]*(<(.|\s)+>)[^>]*$|^#(\w+)$)", std::u16string(110, u'x')), u"");

  // Many matches that each cost much: the run's time limit ends it.
  RegexLimits limits;
  limits.runTimeLimit = std::chrono::milliseconds(20);
  limits.runTimePerCodeUnit = std::chrono::nanoseconds(0);
  RegexEngine slow(limits);
  slow.SetGlobal(true);
  slow.SetPattern(uR"((?:(a|a){18}c|a))");
  EXPECT_EQ(slow.Execute(MakeSharedWideText(std::u16string(20000, u'a'))), nullptr);

  // A small JIT stack runs out on a deep search: reported, never a crash.
  RegexLimits smallStack;
  smallStack.jitStackBytes = 32 * 1024;
  RegexEngine deep(smallStack);
  deep.SetPattern(uR"((a|b)*c)");
  EXPECT_EQ(deep.Execute(MakeSharedWideText(std::u16string(1 << 20, u'a') + u"c")), nullptr);
}

}  // namespace
}  // namespace timesync::platform
