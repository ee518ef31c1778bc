// Fuzzer-chosen patterns, switches, subjects and replacements through the
// whole RegexObject: every query, positions included, a replacement and
// copies. Input: one byte of switches, then pattern, subject and replacement
// separated by zero bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "regex/regex_object.h"
#include "text/text.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// The next piece of `input` up to a zero byte (or the end), removed from it.
std::string_view TakePiece(std::string_view& input) {
  const std::size_t end = input.find('\0');
  const std::string_view piece = input.substr(0, end);
  input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
  return piece;
}

void Query(const timesync::RegexObject& regex, std::int64_t subjectBytes) {
  const int count = regex.MatchCount();
  const int groups = regex.SubMatchCount();
  Check(count >= 0 && count <= 2 * subjectBytes + 1);
  Check(groups >= 0);
  Check(count > 0 || groups == 0);
  for (int index = 0; index <= count + 1 && index <= 6; ++index) {
    int position = -100;
    const timesync::Text match = regex.MatchText(index, &position);
    Check(position >= -2 && position <= subjectBytes);
    Check(index >= 1 && index <= count ? true : match.empty());
    for (int group = 0; group <= groups + 1 && group <= 4; ++group) {
      position = -100;
      const timesync::Text text = regex.SubMatchText(index, group, &position);
      Check(position >= -2 && position <= subjectBytes);
      Check(group >= 1 && group <= groups ? true : text.empty());
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t switches = data[0];
  std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const timesync::Text pattern(TakePiece(input));
  const timesync::Text subject(TakePiece(input));
  const timesync::Text replacement(TakePiece(input));

  timesync::RegexObject regex;
  const bool ran = regex.Execute(pattern, subject, (switches & 1) != 0, (switches & 2) != 0,
                                 (switches & 4) != 0, (switches & 8) != 0);
  if (!ran) Check(regex.MatchCount() == 0);
  if ((switches & 8) == 0) Check(regex.GetPattern().size() <= 2 * pattern.size());
  Query(regex, subject.size());
  const timesync::Text replaced = regex.ReplaceMatches(replacement);
  if (!ran) Check(replaced.empty());

  const timesync::RegexObject copy(regex);
  timesync::RegexObject assigned;
  assigned = regex;
  regex.Execute(replacement, pattern);
  Check(copy.MatchCount() == assigned.MatchCount());
  Query(copy, subject.size());
  return 0;
}
