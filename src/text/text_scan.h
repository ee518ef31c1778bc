// The character walks under the text operations, on 0-based offsets.
//
// A walk visits character starts: from its first offset it moves one byte
// past a byte below 0x80 and two bytes past a byte 0x80-0xFF (which takes the
// byte after it, whatever it is). A walk started inside a two-byte character
// does not realign. Internal to the text toolkit.
//
// The fast paths rest on one fact: for a walk from `first`, an offset p > first
// is a character start exactly when the run of bytes >= 0x80 just before p,
// counted back no further than `first`, has even length.
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

// Whether `position` is visited by a walk that starts at `first`
// (first <= position <= bytes.size()).
bool IsCharStart(std::string_view bytes, std::int64_t first, std::int64_t position);

// The first offset p >= `first` visited by a walk from `first` where the whole
// non-empty `needle` matches (p + needle.size() <= bytes.size()), else
// kNotFound. With `ignoreCase`, A-Z and a-z match each other byte by byte.
//   FindFrom("abcabc", "bc", 2, false) == 4
std::int64_t FindFrom(std::string_view bytes, std::string_view needle, std::int64_t first,
                      bool ignoreCase);

// The last offset visited by a walk from 0 where the whole non-empty `needle`
// matches inside `bytes`, else kNotFound.
//   FindLastWithin("abcabc", "bc", false) == 4
std::int64_t FindLastWithin(std::string_view bytes, std::string_view needle, bool ignoreCase);

// [first, last) of `bytes` without leading and trailing spaces (0x20) and
// full-width spaces (0xA1 0xA1); a lone lead byte at the end is cut instead of
// the spaces before it.
//   TrimBounds("  x \xA1\xA1") == {2, 3}
std::pair<std::int64_t, std::int64_t> TrimBounds(std::string_view bytes);

// a-z made A-Z in place, for the single-byte characters of a walk from 0.
//   "a\x81" "ab" -> "A\x81" "aB"
void UpperCaseSingleBytes(std::string& bytes);

}  // namespace timesync::text_scan

#endif  // TIMESYNC_TEXT_TEXT_SCAN_H_
