// RegexObject: one regular expression run over one subject text, and the
// answers about that run: whether it ran, how many matches it found, the text
// (and byte position) of a match or of one of its groups, how many groups the
// first match has, and the subject with the matches replaced.
//
// The matching is done by the regular-expression engine of the platform layer
// (platform/regex_engine.h, which also describes the pattern dialect and the
// replacement syntax). Texts go to it as UTF-16 converted from code page 936
// and come back the same way.
//
//   RegexObject regex;
//   regex.Execute("<meta.+?charset=[^\\w]?([-\\w]+)",
//                 "<META http-equiv=Content-Type content=\"text/html; charset=gb2312\">");
//   regex.SubMatchText(1, 1) == "gb2312"
//
//   regex.Execute("a", "xaxa");
//   int position = 0;
//   regex.MatchText(2, &position) == "a"   // position == 3
//   regex.ReplaceMatches("[$&]") == "x[a]x[a]"
//
// Execute's switches take their default only when omitted: matching ignores
// case, ^ and $ also match at line breaks, every match is found, and a
// "#引号" in the pattern stays literal. True means the pattern ran (also when
// nothing matched); false means the engine refused the pattern or the run
// failed. Nothing raises: after a refused pattern both counts are 0, every
// text is empty and GetPattern still gives the pattern.
//
// Positions. A requested position is found by searching the subject (read
// back as text) for the returned text, starting at the match's engine index
// plus 1 and ignoring case when the run did; the result is that byte offset,
// 0-based, or -2 when the text is not found. The engine index counts UTF-16
// code units, so each two-byte character before a match moves the start one
// byte early: the search may then find an earlier occurrence of the same text.
// A group's search starts at its match, so it finds the first occurrence of
// the group's text from there. Examples:
//
//   Execute("a", "aa");      MatchText(2, &p) == "a",  p == 1
//   Execute("(a)(a)", "aa"); SubMatchText(1, 2, &p) == "a",  p == 0
//   MatchText(0, &p) == "" with p == 0 (or -2 for an empty subject)
//   Before any Execute: every text is empty and p == 0 (the subject reads "0").
//
// Component library: each object, constructed or copied, initialises the
// component library once for its thread and uninitialises it once when
// destroyed, so every initialisation is balanced. A copy refers to the same
// engine, matches and subject as its source; none of them changes once run
// (the next Execute makes new ones), so the two objects stay independent.
// Use an object on one thread only.
#ifndef TIMESYNC_REGEX_REGEX_OBJECT_H_
#define TIMESYNC_REGEX_REGEX_OBJECT_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "platform/regex_engine.h"
#include "text/text.h"

namespace timesync {

class RegexObject {
 public:
  RegexObject();
  ~RegexObject();
  RegexObject(const RegexObject& other);
  RegexObject& operator=(const RegexObject& other);

  // Runs `pattern` over `subject`; see above for the switches and the result.
  bool Execute(const Text& pattern, const Text& subject, bool caseSensitive = false,
               bool multiLine = true, bool globalMatch = true, bool useQuotePlaceholder = false);
  // The pattern of the last Execute, after the placeholder step; empty before.
  Text GetPattern() const;
  // The last subject with the last run's matches replaced (all of them, or the
  // first without globalMatch); empty before any Execute or after a refusal.
  Text ReplaceMatches(const Text& replacement) const;
  // Matches of the last run; 0 before any Execute or after a refusal.
  int MatchCount() const;
  // Text of match `index` (1-based); empty when there is no such match.
  Text MatchText(int index, int* position = nullptr) const;
  // Text group `group` (1-based) of match `index` (1-based) took; empty when
  // there is no such match or group, or the group took no part.
  Text SubMatchText(int index, int group, int* position = nullptr) const;
  // Capturing groups of the first match; 0 when there is no first match.
  int SubMatchCount() const;

 private:
  // The subject as the last Execute stored it; before the first, the integer 0.
  using SubjectValue = std::variant<std::int32_t, platform::SharedWideText>;

  std::optional<platform::RegexMatch> MatchItem(int index) const;
  int FoundPosition(const Text& found, const std::optional<platform::RegexMatch>& match) const;
  std::u16string_view SubjectAsWideText(std::u16string& digitsBuffer) const;

  std::shared_ptr<platform::RegexEngine> regexEngine;
  std::shared_ptr<const platform::RegexMatchCollection> matchCollection;
  SubjectValue subjectValue;
  // The subject read back as text for the position search: made by the first
  // search after an Execute (or before any), kept until the next Execute, and
  // shared by copies, so walking the matches does not convert it every time.
  mutable std::shared_ptr<const Text> subjectText;
};

}  // namespace timesync

#endif  // TIMESYNC_REGEX_REGEX_OBJECT_H_
