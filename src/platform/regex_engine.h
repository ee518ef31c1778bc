// The regular-expression engine behind RegexObject: a scriptable-style
// "RegExp" object with the members the object drives by name (IgnoreCase,
// Multiline, Global, Pattern, Execute, Replace; Count, Item, Value, FirstIndex,
// SubMatches), built on PCRE2's 16-bit library.
//
// Subjects and patterns are UTF-16. Matching runs in PCRE2's non-UTF mode, so
// every code unit is one character (a lone surrogate included) and FirstIndex
// counts UTF-16 code units from 0.
//
//   RegexEngine engine;
//   engine.SetIgnoreCase(true);
//   engine.SetGlobal(true);
//   engine.SetPattern(u"a(b)?");
//   auto matches = engine.Execute(MakeSharedWideText(u"xAa"));
//   // matches->Count() == 2; matches->Item(0)->FirstIndex() == 1
//   // matches->Item(1)->Value() == u"a"; matches->Item(1)->SubMatches().Item(0) == u""
//   engine.Replace(u"xAa", u"[$&]") == u"x[A][a]"
//
// Pattern dialect (the script dialect, ECMAScript 3 style):
//   ^ $ . * + ? {n} {n,} {n,m}, lazy forms with a trailing ?, ( ) (?: ) (?= ) (?! ), |,
//   [..] [^..] with ranges, \b \B, \d \D \w \W \s \S (ASCII: \w is [A-Za-z0-9_],
//   \s is [ \t\n\v\f\r]), \f \n \r \t \v, \cX, \xhh, \uhhhh, \0 and octal escapes,
//   back-references \1..\99.
//   - "\n" and "\nm" are back-references when the pattern has at least that many
//     capturing groups, "\nm" falls back to "\n" then a literal m, and otherwise
//     the digits are an octal escape (three digits when the first is 0-3); \8 and
//     \9 without such groups are the digits themselves. Inside a class digits are
//     always octal.
//   - A back-reference to a group that took no part (or has not closed yet)
//     matches the empty string.
//   - "." is any character but the line terminators LF, CR, U+2028 and U+2029.
//   - Multiline: ^ matches at the start and after each terminator, $ at the end
//     and before each one (CR and LF count singly, so "\r\n" holds a line
//     position between them). Without it ^ and $ match only at the subject's
//     ends ($ not before a final line feed).
//   - IgnoreCase: characters are equal when their simple upper-case forms are,
//     except that a non-ASCII character never equals an ASCII one (so the Kelvin
//     sign and the long s stay apart from k and s).
//   - An escaped letter or digit with no meaning above stands for itself
//     ("\q" is "q"); "\c" not followed by a letter is a backslash and a "c".
//   - "[]" matches nothing and "[^]" any character. "{" that does not start a
//     valid quantifier, and "}" and "]" outside a class, are literal.
//   - Refused: lookbehind, named groups, atomic groups, possessive quantifiers,
//     inline flags, comments, conditionals, recursion and any other "(?" form;
//     a quantifier with nothing to repeat (at the start, after "(", "|", "^",
//     "$", \b, \B or another quantifier); {n,m} with n > m; unbalanced
//     parentheses; an unterminated class; a class range whose end is a class
//     escape or whose ends are out of order; a pattern ending in a backslash.
//   Differences from the script engine that are kept:
//   - Quantifier bounds above 65535 and groups nested more than 250 deep are
//     refused.
//   - A repetition of a group that matches the empty string ends the
//     repeat there, where the script engine rejects that repetition and tries
//     the group's other ways; and a group inside a repeated group keeps its
//     text from an earlier repetition that a later one does not set, where the
//     script engine clears it. Both show only with group bodies that can
//     match the empty string or with nested groups: "(?:\d??|\S+)?" takes ""
//     from "ab" here, "ab" there.
//   - Back-references compare case-insensitively in ASCII only.
//   - A search that exceeds the match limit, the depth limit or the time
//     limit of one run fails: Execute returns no collection and Replace no
//     text, where the script engine would keep on searching. So does a
//     subject of 4 Gi code units or more.
//
// Matching: with Global every match is found, left to right; after an empty
// match the search goes on one code unit further. Without Global at most the
// first match is found.
//
// Replace: the replacement's $1-$99 give a group's text ("$nn" takes two digits
// when the pattern has at least nn groups, else "$n" one digit when it has at
// least n, else the "$" is literal; $0 is literal), $& the match, $` the text
// before it, $' the text after it, $$ a "$". A "$" before anything else is
// literal. A group that took no part gives the empty string.
#ifndef TIMESYNC_PLATFORM_REGEX_ENGINE_H_
#define TIMESYNC_PLATFORM_REGEX_ENGINE_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace timesync::platform {

// A subject shared, never changed, by its owner and the matches found in it.
using SharedWideText = std::shared_ptr<const std::u16string>;

// Match and group offsets are kept in 32 bits (subjects are shorter than
// 4 Gi code units); this value marks a group that took no part.
inline constexpr std::uint32_t kUnsetSpan = 0xFFFFFFFF;
SharedWideText MakeSharedWideText(std::u16string text);

// The groups of one match: item i is the text capturing group i + 1 took.
class RegexSubMatches {
 public:
  RegexSubMatches() = default;
  std::int64_t Count() const;
  // The text of group `index` (0-based); empty for a group that took no part;
  // no value for an index out of range.
  std::optional<std::u16string> Item(std::int64_t index) const;

 private:
  friend class RegexMatch;
  RegexSubMatches(SharedWideText subject, std::vector<std::uint32_t> spans);
  SharedWideText subject_;
  std::vector<std::uint32_t> spans_;  // start, end per group; kUnset when unset
};

// One match.
class RegexMatch {
 public:
  std::u16string Value() const;
  // 0-based start of the match in the subject, in code units.
  std::int64_t FirstIndex() const;
  RegexSubMatches SubMatches() const;

 private:
  friend class RegexMatchCollection;
  RegexMatch(SharedWideText subject, std::vector<std::uint32_t> spans);
  SharedWideText subject_;
  std::vector<std::uint32_t> spans_;  // start, end of the match, then of each group
};

// The matches of one Execute; present also when nothing matched.
class RegexMatchCollection {
 public:
  RegexMatchCollection(SharedWideText subject, std::size_t groupCount,
                       std::vector<std::uint32_t> spans);
  std::int64_t Count() const;
  // Match `index` (0-based); no value for an index out of range.
  std::optional<RegexMatch> Item(std::int64_t index) const;

 private:
  SharedWideText subject_;
  std::size_t groupCount_;
  std::vector<std::uint32_t> spans_;  // (groupCount_ + 1) start/end pairs per match
};

namespace regex_internal {
struct CompiledPattern;  // the PCRE2 code and its match context
}  // namespace regex_internal

// Bounds on the work of one Execute or Replace.
struct RegexLimits {
  // PCRE2's match limit for each search (backtracking steps).
  std::uint32_t matchLimit = 10'000'000;
  // PCRE2's depth limit for each search where the pattern is not JIT-compiled.
  std::uint32_t depthLimit = 1'000'000;
  // Memory for backtracking, in KiB, where the pattern is not JIT-compiled.
  std::uint32_t heapLimitKiB = 256 * 1024;
  // Largest stack for JIT-compiled matching.
  std::size_t jitStackBytes = 8 * 1024 * 1024;
  // The whole run (all the searches of a global match) gives up after this
  // time plus runTimePerCodeUnit for each code unit of the subject.
  std::chrono::milliseconds runTimeLimit{1000};
  std::chrono::nanoseconds runTimePerCodeUnit{250};
};

// The engine object. Properties start as Pattern "", IgnoreCase, Multiline and
// Global false. The pattern is compiled on first use after a change and kept.
class RegexEngine {
 public:
  explicit RegexEngine(RegexLimits limits = RegexLimits());
  ~RegexEngine();
  RegexEngine(RegexEngine&&) noexcept;
  RegexEngine& operator=(RegexEngine&&) noexcept;
  RegexEngine(const RegexEngine&) = delete;
  RegexEngine& operator=(const RegexEngine&) = delete;

  bool IgnoreCase() const { return ignoreCase_; }
  void SetIgnoreCase(bool value);
  bool Multiline() const { return multiline_; }
  void SetMultiline(bool value);
  bool Global() const { return global_; }
  void SetGlobal(bool value) { global_ = value; }
  // There is no single-line mode: the request is refused (false) and changes
  // nothing, so "." never matches a line terminator.
  bool SetSingleline(bool value);
  const std::u16string& Pattern() const { return pattern_; }
  void SetPattern(std::u16string pattern);

  // All matches (or the first) in `subject`. No value when the pattern is
  // refused or the search fails; an empty collection when nothing matched.
  std::shared_ptr<const RegexMatchCollection> Execute(SharedWideText subject);
  // `subject` with the matches replaced as described above; no value when the
  // pattern is refused or the search fails.
  std::optional<std::u16string> Replace(std::u16string_view subject,
                                        std::u16string_view replacement);

 private:
  // Compiles the pattern once; JIT-compiles it too when the subject is long.
  const regex_internal::CompiledPattern* Compile(std::size_t subjectUnits);
  void PrepareJit(regex_internal::CompiledPattern& compiled);

  RegexLimits limits_;
  bool ignoreCase_ = false;
  bool multiline_ = false;
  bool global_ = false;
  std::u16string pattern_;
  std::unique_ptr<regex_internal::CompiledPattern>
      compiled_;          // empty until compiled, and after a change
  bool refused_ = false;  // the current pattern and switches do not compile
};

namespace regex_internal {
// The PCRE2 pattern that carries out `pattern` with these switches, or no
// value when the dialect refuses it. Exposed for tests.
std::optional<std::u16string> TranslatePattern(std::u16string_view pattern, bool ignoreCase,
                                               bool multiline);
}  // namespace regex_internal

}  // namespace timesync::platform

#endif  // TIMESYNC_PLATFORM_REGEX_ENGINE_H_
