// Drives the searching, rewriting and cutting operations with chosen texts,
// needles, starts and counts, and checks each result against a slow walk that
// follows the character rules one byte at a time.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "text/text.h"

namespace timesync {
namespace {

using Bytes = std::string;

// ---- The reference walk -----------------------------------------------------

bool IsLead(const Bytes& t, std::int64_t p) { return static_cast<unsigned char>(t[p]) >= 0x80; }
std::int64_t Len(const Bytes& t) { return static_cast<std::int64_t>(t.size()); }

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool MatchAt(const Bytes& t, std::int64_t p, const Bytes& needle, bool ignoreCase) {
  if (Len(t) - p < Len(needle)) return false;
  for (std::int64_t i = 0; i < Len(needle); ++i) {
    const char a = t[p + i];
    const char b = needle[i];
    if (ignoreCase ? Fold(a) != Fold(b) : a != b) return false;
  }
  return true;
}

std::int64_t Offset(std::int64_t start) { return start < 1 ? 0 : start - 1; }

std::int64_t RefFind(const Bytes& t, const Bytes& needle, std::int64_t start, bool ignoreCase) {
  const std::int64_t o = Offset(start);
  if (o >= Len(t)) return -1;
  if (needle.empty()) return 1;
  for (std::int64_t p = o; p < Len(t); p += IsLead(t, p) ? 2 : 1) {
    if (Len(t) - p < Len(needle)) return -1;
    if (MatchAt(t, p, needle, ignoreCase)) return p + 1;
  }
  return -1;
}

std::int64_t RefFindLast(const Bytes& t, const Bytes& needle, std::optional<std::int64_t> start,
                         bool ignoreCase) {
  std::int64_t m = Len(t);
  if (start) {
    if (*start <= 0) return -1;  // start - 1 would be below 0
    m = *start - 1;
    if (m <= 0) return -1;
    if (m > Len(t)) m = Len(t);
  }
  if (m <= 0) return -1;
  if (needle.empty()) return 1;
  std::int64_t found = -1;
  for (std::int64_t p = 0; p < Len(t); p += IsLead(t, p) ? 2 : 1) {
    if (p + Len(needle) <= m && MatchAt(t, p, needle, ignoreCase)) found = p + 1;
  }
  return found;
}

Bytes RefReplace(const Bytes& t, const Bytes& target, const Bytes& replacement, std::int64_t start,
                 std::optional<std::int64_t> count, bool ignoreCase) {
  const std::int64_t o = Offset(start);
  std::int64_t left = count.value_or(-1);
  if (t.empty() || target.empty() || o >= Len(t) || left == 0) return t;
  Bytes out = t.substr(0, o);
  std::int64_t p = o;
  while (Len(t) - p >= Len(target)) {
    if (left != 0 && MatchAt(t, p, target, ignoreCase)) {
      out += replacement;
      p += Len(target);
      if (left > 0) --left;
    } else {
      const std::int64_t width = (IsLead(t, p) && p + 1 < Len(t)) ? 2 : 1;
      out += t.substr(p, width);
      p += width;
    }
  }
  out += t.substr(p);
  return out;
}

std::vector<Bytes> RefSplit(const Bytes& t, const Bytes& delimiter, std::optional<std::int64_t> max) {
  std::int64_t left = max ? (*max < 0 ? 0 : *max) : -1;
  std::vector<Bytes> pieces;
  if (t.empty() || left == 0) return pieces;
  if (delimiter.empty()) return {t};
  std::int64_t pieceStart = 0;
  std::int64_t p = 0;
  while (Len(t) - p >= Len(delimiter)) {
    if (MatchAt(t, p, delimiter, false)) {
      pieces.push_back(t.substr(pieceStart, p - pieceStart));
      p += Len(delimiter);
      pieceStart = p;
      if (left > 0 && --left == 0) return pieces;
    } else {
      p += IsLead(t, p) ? 2 : 1;
    }
  }
  if (pieceStart < Len(t)) pieces.push_back(t.substr(pieceStart));
  return pieces;
}

Bytes RefTrim(const Bytes& t) {
  auto spaceAt = [&](std::int64_t p) -> std::int64_t {
    if (t[p] == ' ') return 1;
    if (p + 1 < Len(t) && t[p] == '\xA1' && t[p + 1] == '\xA1') return 2;
    return 0;
  };
  std::int64_t p = 0;
  while (p < Len(t) && spaceAt(p) > 0) p += spaceAt(p);
  const std::int64_t first = p;
  std::int64_t runStart = -1;
  while (p < Len(t)) {
    if (IsLead(t, p) && p + 1 == Len(t)) return t.substr(first, p - first);
    const std::int64_t space = spaceAt(p);
    if (space > 0) {
      if (runStart < 0) runStart = p;
      p += space;
    } else {
      runStart = -1;
      p += IsLead(t, p) ? 2 : 1;
    }
  }
  return t.substr(first, (runStart < 0 ? Len(t) : runStart) - first);
}

Bytes RefToUpper(const Bytes& t) {
  Bytes out = t;
  for (std::int64_t p = 0; p < Len(t); p += IsLead(t, p) ? 2 : 1) {
    if (t[p] >= 'a' && t[p] <= 'z') out[p] = static_cast<char>(t[p] - 'a' + 'A');
  }
  return out;
}

Bytes RefMid(const Bytes& t, std::int64_t start, std::int64_t count) {
  if (start < 1 || start > Len(t) || count <= 0) return {};
  return t.substr(start - 1, count);
}

Bytes RefTextBetween(const Bytes& t, const Bytes& startMarker, const Bytes& endMarker,
                     std::int64_t start, bool ignoreCase) {
  const Bytes placeholder = kQuotePlaceholder;
  const Bytes s = RefReplace(startMarker, placeholder, "\"", 1, std::nullopt, false);
  const Bytes e = RefReplace(endMarker, placeholder, "\"", 1, std::nullopt, false);
  std::int64_t c = RefFind(t, s, start, ignoreCase);
  if (c == -1) return {};
  c += Len(s);
  const std::int64_t d = RefFind(t, e, c, ignoreCase);
  if (d == -1) return {};
  return RefMid(t, c, d - c);
}

Bytes RefTextBefore(const Bytes& t, const Bytes& delimiter, std::int64_t start, bool ignoreCase) {
  std::int64_t c = -1;
  if (start >= 0) {
    c = RefFind(t, delimiter, start == 0 ? 1 : start, ignoreCase);
  } else {
    // k = -start, counted without overflow; 1 counts as 0.
    const std::int64_t k = start == std::numeric_limits<std::int64_t>::min()
                                ? std::numeric_limits<std::int64_t>::max()
                                : (start == -1 ? 0 : -start);
    c = RefFindLast(t, delimiter, Len(t) - k + 1, ignoreCase);
  }
  return c == -1 ? Bytes() : t.substr(0, c - 1);
}

Bytes RefTextAfter(const Bytes& t, const Bytes& delimiter, std::int64_t start, bool ignoreCase) {
  std::int64_t c = -1;
  if (start >= 0) {
    c = RefFindLast(t, delimiter, Len(t) - start + 1, ignoreCase);
  } else {
    const std::int64_t from = start == std::numeric_limits<std::int64_t>::min()
                                  ? std::numeric_limits<std::int64_t>::max()
                                  : -start;
    c = RefFind(t, delimiter, from, ignoreCase);
  }
  return c == -1 ? Bytes() : t.substr(c - 1 + Len(delimiter));
}

Bytes RefGetHeaderValue(const Bytes& block, const Bytes& name) {
  for (const Bytes& line : RefSplit(block, "\r\n", std::nullopt)) {
    if (line.substr(0, name.size()) == name) return RefTextAfter(line, name + ": ", 0, false);
  }
  return {};
}

// ---- Driving ----------------------------------------------------------------

[[noreturn]] void Mismatch(const char* operation) {
  std::fprintf(stderr, "%s differs from the reference walk\n", operation);
  std::abort();
}

void Check(bool same, const char* operation) {
  if (!same) Mismatch(operation);
}

// Mostly positions around the text, now and then any 64-bit value.
std::int64_t PickPosition(FuzzedDataProvider& data, std::int64_t length) {
  if (data.ConsumeIntegralInRange<int>(0, 7) == 0) return data.ConsumeIntegral<std::int64_t>();
  return data.ConsumeIntegralInRange<std::int64_t>(-length - 3, length + 3);
}

Bytes TextBytes(const Text& text) { return text.bytes(); }

}  // namespace
}  // namespace timesync

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  using namespace timesync;
  FuzzedDataProvider data(bytes, size);
  const int operation = data.ConsumeIntegralInRange<int>(0, 9);
  const bool ignoreCase = data.ConsumeBool();
  const Text needle(data.ConsumeRandomLengthString(40));
  const Text other(data.ConsumeRandomLengthString(40));
  const bool omitted = data.ConsumeBool();
  const std::int64_t number = data.ConsumeIntegralInRange<int>(0, 3) == 0
                                  ? data.ConsumeIntegral<std::int64_t>()
                                  : data.ConsumeIntegralInRange<std::int64_t>(-3, 8);
  const std::int64_t start =
      PickPosition(data, static_cast<std::int64_t>(data.remaining_bytes()));
  const Text text(data.ConsumeRemainingBytesAsString());
  const Bytes t = TextBytes(text);
  const Bytes n = TextBytes(needle);
  const Bytes o = TextBytes(other);

  switch (operation) {
    case 0:
      Check(Find(text, needle, start, ignoreCase) == RefFind(t, n, start, ignoreCase), "Find");
      break;
    case 1: {
      const std::optional<std::int64_t> limit =
          omitted ? std::nullopt : std::optional<std::int64_t>(start);
      Check(FindLast(text, needle, limit, ignoreCase) == RefFindLast(t, n, limit, ignoreCase),
            "FindLast");
      break;
    }
    case 2: {
      const std::optional<std::int64_t> count =
          omitted ? std::nullopt : std::optional<std::int64_t>(number);
      Check(TextBytes(Replace(text, needle, other, start, count, ignoreCase)) ==
                RefReplace(t, n, o, start, count, ignoreCase),
            "Replace");
      break;
    }
    case 3: {
      const std::optional<std::int64_t> max =
          omitted ? std::nullopt : std::optional<std::int64_t>(number);
      std::vector<Bytes> pieces;
      for (const Text& piece : Split(text, needle, max)) pieces.push_back(TextBytes(piece));
      Check(pieces == RefSplit(t, n, max), "Split");
      break;
    }
    case 4:
      Check(TextBytes(Trim(text)) == RefTrim(t), "Trim");
      Check(TextBytes(ToUpper(text)) == RefToUpper(t), "ToUpper");
      break;
    case 5:
      Check(TextBytes(TextBetween(text, needle, other, start, ignoreCase)) ==
                RefTextBetween(t, n, o, start, ignoreCase),
            "TextBetween");
      break;
    case 6:
      Check(TextBytes(TextBefore(text, needle, start, ignoreCase)) ==
                RefTextBefore(t, n, start, ignoreCase),
            "TextBefore");
      break;
    case 7:
      Check(TextBytes(TextAfter(text, needle, start, ignoreCase)) ==
                RefTextAfter(t, n, start, ignoreCase),
            "TextAfter");
      break;
    case 8:
      Check(TextBytes(GetHeaderValue(text, needle)) == RefGetHeaderValue(t, n), "GetHeaderValue");
      break;
    default:
      // Long texts cross the 64-byte blocks of the fast paths: repeat the text.
      if (!t.empty() && t.size() < 512) {
        Bytes repeated;
        while (repeated.size() < 300) repeated += t;
        const Text long_text(repeated);
        Check(TextBytes(ToUpper(long_text)) == RefToUpper(repeated), "ToUpper");
        Check(TextBytes(Trim(long_text)) == RefTrim(repeated), "Trim");
        Check(Find(long_text, needle, start, ignoreCase) ==
                  RefFind(repeated, n, start, ignoreCase),
              "Find");
        Check(FindLast(long_text, needle, std::nullopt, ignoreCase) ==
                  RefFindLast(repeated, n, std::nullopt, ignoreCase),
              "FindLast");
      }
      break;
  }
  return 0;
}
