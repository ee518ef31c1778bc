// Cutting texts at delimiters: TextBefore, TextAfter and GetHeaderValue.
#include <limits>

#include "text/text.h"

namespace timesync {
namespace {

// -value without overflow: the most negative value gives the largest one.
std::int64_t Negate(std::int64_t value) {
  return value == std::numeric_limits<std::int64_t>::min()
             ? std::numeric_limits<std::int64_t>::max()
             : -value;
}

}  // namespace

Text TextBefore(const Text& text, const Text& delimiter, std::int64_t start, bool ignoreCase) {
  std::int64_t at = -1;
  if (start >= 0) {
    at = Find(text, delimiter, start == 0 ? 1 : start, ignoreCase);
  } else {
    std::int64_t leftOut = Negate(start);
    if (leftOut == 1) leftOut = 0;
    // FindLast's limit: an occurrence must end within the first length - leftOut bytes.
    at = FindLast(text, delimiter, text.size() - leftOut + 1, ignoreCase);
  }
  if (at == -1) return Text();
  return Left(text, at - 1);
}

Text TextAfter(const Text& text, const Text& delimiter, std::int64_t start, bool ignoreCase) {
  std::int64_t at = -1;
  if (start >= 0) {
    at = FindLast(text, delimiter, text.size() - start + 1, ignoreCase);
  } else {
    at = Find(text, delimiter, Negate(start), ignoreCase);
  }
  if (at == -1) return Text();
  return Right(text, text.size() - delimiter.size() - at + 1);
}

Text GetHeaderValue(const Text& headerBlock, const Text& name) {
  const Text nameAndColon = Concat(name, ": ");
  for (const Text& line : Split(headerBlock, "\r\n")) {
    if (Left(line, name.size()) == name) return TextAfter(line, nameAndColon);
  }
  return Text();
}

}  // namespace timesync
