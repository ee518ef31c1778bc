// Cookie merging written member by member, exactly as the steps read: the
// merged list is searched with CookieListHasName for every old member and the
// seen list with FindMember for every member. Quadratic; kept as the oracle
// that the fast MergeCookies and RemoveDuplicateMembers are checked against.
#ifndef TIMESYNC_TESTS_WEB_LITERAL_COOKIES_H_
#define TIMESYNC_TESTS_WEB_LITERAL_COOKIES_H_

#include "text/text.h"
#include "web/cookies.h"

namespace timesync::literal {

inline Text RemoveDuplicateMembers(const Text& text, const Text& delimiter) {
  const TextArray members = Split(text, delimiter);
  TextArray seen;
  Text output;
  for (const Text& member : members) {
    if (FindMember(seen, member) == -1) {
      seen.push_back(member);
      output = Concat(output, member, delimiter);
    }
  }
  return Left(output, TextLength(output) - TextLength(delimiter));
}

inline Text MergeCookies(Text& oldCookies, Text& newCookies) {
  oldCookies = Trim(oldCookies);
  if (Right(oldCookies, 1) == Text(";")) oldCookies = Concat(oldCookies, " ");
  newCookies = Trim(newCookies);
  if (Right(newCookies, 1) == Text(";")) newCookies = Concat(newCookies, " ");

  const TextArray oldList = Split(oldCookies, "; ");
  TextArray merged = Split(newCookies, "; ");
  for (const Text& member : oldList) {
    if (!CookieListHasName(merged, CookieName(member))) merged.push_back(member);
  }
  Text result;
  for (const Text& member : merged) {
    if (Right(member, 8) != Text("=deleted")) result = Concat(result, member, "; ");
  }
  result = Left(result, TextLength(result) - 2);
  result = literal::RemoveDuplicateMembers(result, "; ");
  oldCookies = result;
  return result;
}

}  // namespace timesync::literal

#endif  // TIMESYNC_TESTS_WEB_LITERAL_COOKIES_H_
