// Character walks, first version: one character at a time.
#include "text/text_scan.h"

namespace timesync::text_scan {
namespace {

unsigned char ByteAt(std::string_view bytes, std::int64_t i) {
  return static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]);
}

unsigned char FoldCase(unsigned char byte) {
  return (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned char>(byte + ('a' - 'A')) : byte;
}

bool MatchesAt(std::string_view bytes, std::int64_t at, std::string_view needle, bool ignoreCase) {
  const std::size_t n = needle.size();
  const std::string_view here = bytes.substr(static_cast<std::size_t>(at), n);
  if (!ignoreCase) return here == needle;
  for (std::size_t i = 0; i < n; ++i) {
    if (FoldCase(static_cast<unsigned char>(here[i])) !=
        FoldCase(static_cast<unsigned char>(needle[i]))) {
      return false;
    }
  }
  return true;
}

std::int64_t CharWidth(std::string_view bytes, std::int64_t at) {
  return ByteAt(bytes, at) >= 0x80 ? 2 : 1;
}

}  // namespace

bool IsCharStart(std::string_view bytes, std::int64_t first, std::int64_t position) {
  std::int64_t run = 0;
  for (std::int64_t i = position - 1; i >= first && ByteAt(bytes, i) >= 0x80; --i) ++run;
  return run % 2 == 0;
}

std::int64_t FindFrom(std::string_view bytes, std::string_view needle, std::int64_t first,
                      bool ignoreCase) {
  const std::int64_t length = static_cast<std::int64_t>(bytes.size());
  const std::int64_t n = static_cast<std::int64_t>(needle.size());
  for (std::int64_t p = first; p < length && length - p >= n; p += CharWidth(bytes, p)) {
    if (MatchesAt(bytes, p, needle, ignoreCase)) return p;
  }
  return kNotFound;
}

std::int64_t FindLastWithin(std::string_view bytes, std::string_view needle, bool ignoreCase) {
  std::int64_t last = kNotFound;
  std::int64_t from = 0;
  while (true) {
    const std::int64_t at = FindFrom(bytes, needle, from, ignoreCase);
    if (at == kNotFound) return last;
    last = at;
    from = at + CharWidth(bytes, at);
  }
}

std::pair<std::int64_t, std::int64_t> TrimBounds(std::string_view bytes) {
  const std::int64_t length = static_cast<std::int64_t>(bytes.size());
  auto spaceWidth = [&](std::int64_t p) -> std::int64_t {
    if (ByteAt(bytes, p) == 0x20) return 1;
    if (ByteAt(bytes, p) == 0xA1 && p + 1 < length && ByteAt(bytes, p + 1) == 0xA1) return 2;
    return 0;
  };
  std::int64_t first = 0;
  while (first < length) {
    const std::int64_t width = spaceWidth(first);
    if (width == 0) break;
    first += width;
  }
  std::int64_t runStart = -1;  // start of the current run of spaces, -1 outside one
  std::int64_t p = first;
  while (p < length) {
    if (ByteAt(bytes, p) >= 0x80 && p + 1 == length) return {first, p};  // lone lead byte
    const std::int64_t width = spaceWidth(p);
    if (width > 0) {
      if (runStart < 0) runStart = p;
      p += width;
    } else {
      runStart = -1;
      p += CharWidth(bytes, p);
    }
  }
  return {first, runStart < 0 ? length : runStart};
}

void UpperCaseSingleBytes(std::string& bytes) {
  const std::size_t length = bytes.size();
  for (std::size_t p = 0; p < length;) {
    const unsigned char byte = static_cast<unsigned char>(bytes[p]);
    if (byte >= 0x80) {
      p += 2;
    } else {
      if (byte >= 'a' && byte <= 'z') bytes[p] = static_cast<char>(byte - ('a' - 'A'));
      ++p;
    }
  }
}

}  // namespace timesync::text_scan
