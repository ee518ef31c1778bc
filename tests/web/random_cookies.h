// Random cookie texts for comparing the fast merge with the literal one:
// repeated names and members, deleted members, empty members, spaces around
// names, names that differ only in case, two-byte characters and a lone
// first byte before a delimiter, and stray or final semicolons.
#ifndef TIMESYNC_TESTS_WEB_RANDOM_COOKIES_H_
#define TIMESYNC_TESTS_WEB_RANDOM_COOKIES_H_

#include <array>
#include <random>
#include <string>
#include <string_view>

#include "text/text.h"

namespace timesync::testing {

// A cookie text of up to `maxMembers` members drawn by `random`.
template <typename Random>
Text RandomCookieText(Random& random, int maxMembers) {
  static constexpr std::array<std::string_view, 10> kNames = {
      "a", "b", "sid", " a", "a ", "A", "", "\xD6\xD0" /* 中 */, "x\x81", "\xA1\xA1q"};
  static constexpr std::array<std::string_view, 8> kValues = {
      "1", "2", "deleted", "undeleted", "", "v=w", "\xCE\xC4" /* 文 */, "\x81"};
  static constexpr std::array<std::string_view, 6> kSeparators = {"; ", "; ",  "; ",
                                                                  ";",  ";; ", " ; "};
  auto pick = [&random](int count) {
    return std::uniform_int_distribution<int>(0, count - 1)(random);
  };
  std::string text;
  if (pick(8) == 0) text += "  ";
  const int members = pick(maxMembers + 1);
  for (int i = 0; i < members; ++i) {
    if (i > 0) text += kSeparators[pick(static_cast<int>(kSeparators.size()))];
    switch (pick(10)) {
      case 0:
        break;  // an empty member
      case 1:
        text += kNames[pick(static_cast<int>(kNames.size()))];  // no "="
        break;
      case 2:
        text += "=deleted";
        break;
      default:
        text += kNames[pick(static_cast<int>(kNames.size()))];
        text += '=';
        text += kValues[pick(static_cast<int>(kValues.size()))];
    }
  }
  switch (pick(6)) {
    case 0:
      text += ";";
      break;
    case 1:
      text += "; ";
      break;
    case 2:
      text += "  ";
      break;
    default:
      break;
  }
  return Text(text);
}

}  // namespace timesync::testing

#endif  // TIMESYNC_TESTS_WEB_RANDOM_COOKIES_H_
