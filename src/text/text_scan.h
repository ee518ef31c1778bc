// The character walks under the text operations, on 0-based offsets.
//
// A walk visits character starts: from its first offset it moves one byte
// past a byte below 0x80 and two bytes past a byte 0x80-0xFF (which takes the
// byte after it, whatever it is). A walk started inside a two-byte character
// does not realign. Internal to the text toolkit.
//
// The fast paths rest on one fact: for a walk from `first`, an offset p > first
// is a character start exactly when the run of bytes >= 0x80 just before p,
// counted back no further than `first`, has even length. So a byte search
// (memchr, memmem) proposes candidates, and only the run before each one is
// looked at.
//   IsCharStart("\xD6\xD0\xCE\xC4", 0, 2) == true    // 中|文
//   IsCharStart("\xD6\xD0\xCE\xC4", 0, 1) == false   // inside 中
//   IsCharStart("\xD6\xD0\xCE\xC4", 1, 2) == false   // walk from byte 1: D0 CE is one character
#ifndef TIMESYNC_TEXT_TEXT_SCAN_H_
#define TIMESYNC_TEXT_TEXT_SCAN_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace timesync::text_scan {

inline constexpr std::int64_t kNotFound = -1;

// The number of bytes >= 0x80 just before `position`, counted back no further
// than `first` (first <= position <= bytes.size()).
//   HighRunBefore("a\xD6\xD0\xCE", 0, 4) == 3;  HighRunBefore("a\xD6\xD0\xCE", 2, 4) == 2
std::int64_t HighRunBefore(std::string_view bytes, std::int64_t first, std::int64_t position);

// Whether `position` is visited by a walk that starts at `first`
// (first <= position <= bytes.size()).
inline bool IsCharStart(std::string_view bytes, std::int64_t first, std::int64_t position) {
  return HighRunBefore(bytes, first, position) % 2 == 0;
}

// Repeated searches for one non-empty needle in one text. The searcher keeps
// views of both (and, with `ignoreCase`, case-folded copies): they must outlive it.
// With `ignoreCase`, A-Z and a-z match each other byte by byte, inside
// two-byte characters too; no other byte folds.
//   NeedleSearch search("abcabc", "bc", false);
//   search.Next(0) == 1;  search.Next(2) == 4;  search.Last() == 4
class NeedleSearch {
 public:
  NeedleSearch(std::string_view bytes, std::string_view needle, bool ignoreCase);
  NeedleSearch(const NeedleSearch&) = delete;
  NeedleSearch& operator=(const NeedleSearch&) = delete;

  // The first offset p >= `first` visited by a walk from `first` where the
  // whole needle matches, else kNotFound.
  std::int64_t Next(std::int64_t first) const;
  // The last offset visited by a walk from 0 where the whole needle matches,
  // else kNotFound.
  std::int64_t Last() const;

 private:
  std::string foldedBytes_;
  std::string foldedNeedle_;
  std::string_view bytes_;   // the bytes searched: the text or its folded copy
  std::string_view needle_;  // likewise
};

// [first, last) of `bytes` without leading and trailing spaces (0x20) and
// full-width spaces (0xA1 0xA1); a lone lead byte at the end is cut instead of
// the spaces before it.
//   TrimBounds("  x \xA1\xA1") == {2, 3}
std::pair<std::int64_t, std::int64_t> TrimBounds(std::string_view bytes);

// `bytes` with a-z made A-Z in the single-byte characters of a walk from 0.
//   UpperCaseSingleBytes("a\x81" "ab") == "A\x81" "aB"
std::string UpperCaseSingleBytes(std::string_view bytes);

}  // namespace timesync::text_scan

#endif  // TIMESYNC_TEXT_TEXT_SCAN_H_
