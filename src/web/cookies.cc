#include "web/cookies.h"

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace timesync {
namespace {

constexpr std::string_view kMemberDelimiter = "; ";
constexpr std::string_view kDeletedSuffix = "=deleted";

// Trimmed, with a space after a final ";" so that the semicolon ends a member.
Text TrimCookieText(const Text& cookies) {
  const Text trimmed = Trim(cookies);
  if (Right(trimmed, 1) == Text(";")) return Concat(trimmed, " ");
  return trimmed;
}

// The last 8 bytes are "=deleted" (a shorter member is compared whole, and so
// never matches).
bool IsDeletedMember(const Text& member) { return member.view().ends_with(kDeletedSuffix); }

// The members joined with `delimiter` between them: what appending each with
// its delimiter and cutting the last delimiter off gives.
Text JoinMembers(const std::vector<const Text*>& members, std::string_view delimiter) {
  std::size_t size = 0;
  for (const Text* member : members) size += member->bytes().size() + delimiter.size();
  std::string joined;
  joined.reserve(size);
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (i > 0) joined.append(delimiter);
    joined.append(members[i]->bytes());
  }
  return Text::FromString(std::move(joined));
}

}  // namespace

Text MergeCookies(Text& oldCookies, Text& newCookies) {
  oldCookies = TrimCookieText(oldCookies);
  newCookies = TrimCookieText(newCookies);
  const Text delimiter(kMemberDelimiter);
  const TextArray oldMembers = Split(oldCookies, delimiter);
  const TextArray newMembers = Split(newCookies, delimiter);

  // The merged list: every new member, then each old member whose name is not
  // yet in the list. Names are kept alive in `names` for the set's views.
  std::vector<const Text*> merged;
  merged.reserve(newMembers.size() + oldMembers.size());
  std::vector<Text> names;
  names.reserve(newMembers.size() + oldMembers.size());
  std::unordered_set<std::string_view> namesInList;
  namesInList.reserve(names.capacity());
  for (const Text& member : newMembers) {
    merged.push_back(&member);
    names.push_back(CookieName(member));
    namesInList.insert(names.back().view());
  }
  for (const Text& member : oldMembers) {
    names.push_back(CookieName(member));
    if (namesInList.insert(names.back().view()).second) merged.push_back(&member);
  }

  std::vector<const Text*> kept;
  kept.reserve(merged.size());
  for (const Text* member : merged) {
    if (!IsDeletedMember(*member)) kept.push_back(member);
  }
  // The joined text is split again: a member ending in the first byte of a
  // two-byte character swallows the delimiter after it, exactly as the
  // text's own walk by characters does.
  const Text result = RemoveDuplicateMembers(JoinMembers(kept, kMemberDelimiter), delimiter);
  oldCookies = result;
  return result;
}

Text CookieName(const Text& member) {
  const std::int64_t equals = Find(member, "=");
  if (equals == -1) return Trim(member);
  return Trim(Left(member, equals - 1));
}

bool CookieListHasName(const TextArray& list, const Text& name) {
  for (const Text& member : list) {
    if (CookieName(member) == name) return true;
  }
  return false;
}

Text RemoveDuplicateMembers(const Text& text, const Text& delimiter) {
  const TextArray members = Split(text, delimiter);
  std::vector<const Text*> unique;
  unique.reserve(members.size());
  std::unordered_set<std::string_view> seen;
  seen.reserve(members.size());
  for (const Text& member : members) {
    if (seen.insert(member.view()).second) unique.push_back(&member);
  }
  return JoinMembers(unique, delimiter.view());
}

std::int64_t FindMember(const TextArray& list, const Text& text) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i] == text) return static_cast<std::int64_t>(i) + 1;
  }
  return -1;
}

}  // namespace timesync
