// Cookie merging: one cookie text out of the one a request carried and the
// one gathered from the response's Set-Cookie lines.
//
// A cookie text is a list of members separated by "; " (semicolon, space). A
// member is normally name=value, but any text is accepted. A member's name is
// the bytes before its first "=" with spaces trimmed at both ends (the whole
// trimmed member when it has no "="); names compare byte for byte, so case
// counts. A member whose last 8 bytes are "=deleted" is a deleted cookie.
//
//   Text sent = "a=1; b=2";
//   Text set = "b=3";
//   MergeCookies(sent, set) == "b=3; a=1"    // and `sent` now holds "b=3; a=1" too
//
//   Text sent2 = "sid=x";
//   Text set2 = "sid=deleted";
//   MergeCookies(sent2, set2) == ""          // the server deleted it
//
// The server's members come first in their own order, then the old members
// whose names the server did not set (only the first of several old members
// of one name survives). Deleted members are dropped, then members repeated
// byte for byte are collapsed. Members are kept exactly as they stood.
//
// MergeCookies and RemoveDuplicateMembers work in near-linear time with hash
// look-ups; their results are those of the member-by-member scans that
// CookieListHasName and FindMember perform.
#ifndef TIMESYNC_WEB_COOKIES_H_
#define TIMESYNC_WEB_COOKIES_H_

#include <cstdint>

#include "text/text.h"

namespace timesync {

// Merges `newCookies` (the server's) into `oldCookies` (those sent) and
// returns the result. Both sides are first trimmed, with a space added after
// a final ";" ("a=1;" is the one member "a=1"); `newCookies` keeps that form.
// `oldCookies` is set to the result.
Text MergeCookies(Text& oldCookies, Text& newCookies);

// The member's name: CookieName(" sid =x") == "sid"; CookieName("x") == "x".
Text CookieName(const Text& member);

// True when some member of `list` has the CookieName `name`; false for an empty list.
bool CookieListHasName(const TextArray& list, const Text& name);

// `text` split on `delimiter`, every member that repeats an earlier one byte
// for byte left out, joined again with `delimiter`. Empty members count like
// any other.
//   RemoveDuplicateMembers("a; b; a", "; ") == "a; b"
Text RemoveDuplicateMembers(const Text& text, const Text& delimiter);

// The 1-based index of the first member of `list` equal to `text`, else -1.
std::int64_t FindMember(const TextArray& list, const Text& text);

}  // namespace timesync

#endif  // TIMESYNC_WEB_COOKIES_H_
