// Text values and primitives over code page 936 byte strings.
#include "text/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>

#include "platform/case_mapping.h"
#include "platform/fatal.h"
#include "text/text_scan.h"

namespace timesync {
namespace {

using text_scan::kNotFound;

constexpr char kDoubleQuote[] = "\"";

std::string_view CutAtZero(std::string_view bytes) {
  if (bytes.empty()) return {};  // an empty view may have no address, which memchr must not get
  const void* zero = std::memchr(bytes.data(), 0, bytes.size());
  if (zero == nullptr) return bytes;
  return bytes.substr(0, static_cast<std::size_t>(static_cast<const char*>(zero) - bytes.data()));
}

// The 0-based offset a 1-based `start` names, with everything below 1 raised to 0.
std::int64_t OffsetOf(std::int64_t start) { return start < 1 ? 0 : start - 1; }

// A non-negative byte count as a size. The standard allocator throws for sizes
// beyond PTRDIFF_MAX without ever asking the new-handler, so such a size ends
// the program here, the way any other failed allocation does.
std::size_t CheckedSize(std::int64_t count) {
  if (count >= std::numeric_limits<std::ptrdiff_t>::max()) platform::FatalError("out of memory");
  return static_cast<std::size_t>(count);
}

}  // namespace

Text::Text(const char* bytes) : bytes_(bytes == nullptr ? "" : bytes) {}

Text::Text(std::string_view bytes) : bytes_(CutAtZero(bytes)) {}

Text Text::FromString(std::string&& bytes) {
  Text text;
  text.bytes_ = std::move(bytes);
  const std::size_t zero = text.bytes_.find('\0');
  if (zero != std::string::npos) text.bytes_.resize(zero);
  return text;
}

namespace text_internal {
Text AdoptZeroFree(std::string&& bytes) {
  Text text;
  text.bytes_ = std::move(bytes);
  return text;
}
}  // namespace text_internal

namespace {
// `count` bytes of `bytes` from 0-based `offset`, all in range, as a text:
// a piece of a text holds no zero byte either.
Text Piece(std::string_view bytes, std::int64_t offset, std::int64_t count) {
  return text_internal::AdoptZeroFree(
      std::string(bytes.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(count))));
}
}  // namespace

Text QuotePlaceholder() { return Text(kQuotePlaceholder); }

// ---- Measuring and cutting -------------------------------------------------

std::int64_t TextLength(const Text& text) { return text.size(); }

Text Left(const Text& text, std::int64_t count) {
  if (count <= 0) return Text();
  if (count >= text.size()) return text;
  return Piece(text.view(), 0, count);
}

Text Right(const Text& text, std::int64_t count) {
  if (count <= 0) return Text();
  if (count >= text.size()) return text;
  return Piece(text.view(), text.size() - count, count);
}

Text Mid(const Text& text, std::int64_t start, std::int64_t count) {
  const std::int64_t length = text.size();
  if (start < 1 || start > length || count <= 0) return Text();
  const std::int64_t remaining = length - start + 1;
  const std::int64_t taken = count < remaining ? count : remaining;
  return Piece(text.view(), start - 1, taken);
}

// ---- Searching and rewriting -----------------------------------------------

std::int64_t Find(const Text& text, const Text& needle, std::int64_t start, bool ignoreCase) {
  const std::int64_t offset = OffsetOf(start);
  if (offset >= text.size()) return -1;
  if (needle.empty()) return 1;
  const std::int64_t at =
      text_scan::NeedleSearch(text.view(), needle.view(), ignoreCase).Next(offset);
  return at == kNotFound ? -1 : at + 1;
}

std::int64_t FindLast(const Text& text, const Text& needle, std::optional<std::int64_t> start,
                      bool ignoreCase) {
  std::int64_t limit = text.size();
  if (start.has_value()) {
    if (*start <= 1) return -1;
    if (*start - 1 < limit) limit = *start - 1;
  }
  if (limit <= 0) return -1;
  if (needle.empty()) return 1;
  // Only occurrences that end within the first `limit` bytes count.
  const std::string_view within = text.view().substr(0, static_cast<std::size_t>(limit));
  const std::int64_t at = text_scan::NeedleSearch(within, needle.view(), ignoreCase).Last();
  return at == kNotFound ? -1 : at + 1;
}

Text Replace(const Text& text, const Text& target, const Text& replacement, std::int64_t start,
             std::optional<std::int64_t> count, bool ignoreCase) {
  const std::int64_t length = text.size();
  const std::int64_t offset = OffsetOf(start);
  std::int64_t remaining = count.value_or(-1);  // negative: no limit
  if (length == 0 || target.empty() || offset >= length || remaining == 0) return text;

  const std::string_view bytes = text.view();
  const std::int64_t n = target.size();
  std::string out;
  std::int64_t copied = 0;  // bytes of `text` already in `out` or replaced
  std::int64_t from = offset;
  const text_scan::NeedleSearch search(bytes, target.view(), ignoreCase);
  while (remaining != 0) {
    const std::int64_t at = search.Next(from);
    if (at == kNotFound) break;
    if (out.empty()) out.reserve(static_cast<std::size_t>(length));
    out.append(
        bytes.substr(static_cast<std::size_t>(copied), static_cast<std::size_t>(at - copied)));
    out.append(replacement.view());
    copied = at + n;
    from = copied;
    if (remaining > 0) --remaining;
  }
  if (copied == 0) return text;
  out.append(bytes.substr(static_cast<std::size_t>(copied)));
  return text_internal::AdoptZeroFree(std::move(out));
}

TextArray Split(const Text& text, const Text& delimiter, std::optional<std::int64_t> maxCount) {
  std::int64_t remaining = -1;  // negative: no limit
  if (maxCount.has_value()) remaining = *maxCount < 0 ? 0 : *maxCount;
  TextArray pieces;
  if (text.empty() || remaining == 0) return pieces;
  if (delimiter.empty()) {
    pieces.push_back(text);
    return pieces;
  }
  const std::string_view bytes = text.view();
  const std::int64_t n = delimiter.size();
  std::int64_t pieceStart = 0;
  const text_scan::NeedleSearch search(bytes, delimiter.view(), false);
  while (true) {
    const std::int64_t at = search.Next(pieceStart);
    if (at == kNotFound) break;
    pieces.push_back(Piece(bytes, pieceStart, at - pieceStart));
    pieceStart = at + n;
    if (remaining > 0 && --remaining == 0) return pieces;
  }
  if (pieceStart < text.size()) {
    pieces.push_back(Piece(bytes, pieceStart, text.size() - pieceStart));
  }
  return pieces;
}

Text Trim(const Text& text) {
  const auto [first, last] = text_scan::TrimBounds(text.view());
  if (first == 0 && last == text.size()) return text;
  return Piece(text.view(), first, last - first);
}

Text ToUpper(const Text& text) {
  return text_internal::AdoptZeroFree(text_scan::UpperCaseSingleBytes(text.view()));
}

// ---- Characters, comparison, joining ---------------------------------------

Text CharFromCode(std::int64_t code) {
  const char byte = static_cast<char>(static_cast<unsigned char>(code & 0xFF));
  if (byte == '\0') return Text();
  return Text(std::string_view(&byte, 1));
}

std::int64_t CharCode(const Text& text, std::int64_t position) {
  if (position < 1 || position > text.size()) return 0;
  return static_cast<signed char>(text.at(position - 1));
}

namespace {

bool IsAscii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(),
                     [](char byte) { return static_cast<unsigned char>(byte) < 0x80; });
}

}  // namespace

int CompareText(const Text& a, const Text& b, bool ignoreCase) {
  int c = 0;
  if (!ignoreCase) {
    c = a.bytes().compare(b.bytes());
  } else if (IsAscii(a.view()) && IsAscii(b.view())) {
    // One byte per character: fold A-Z as the bytes are compared, no copies.
    const auto folded = [](char byte) {
      return static_cast<unsigned char>(byte >= 'a' && byte <= 'z' ? byte - 'a' + 'A' : byte);
    };
    const std::size_t common = std::min(a.view().size(), b.view().size());
    for (std::size_t i = 0; i < common && c == 0; ++i) {
      c = static_cast<int>(folded(a.view()[i])) - static_cast<int>(folded(b.view()[i]));
    }
    if (c == 0 && a.view().size() != b.view().size()) c = a.view().size() < b.view().size() ? -1 : 1;
  } else {
    // Folding keeps every character's length, so the folded texts walk alike
    // and their first differing byte lies in their first differing character.
    const std::string foldedA =
        text_scan::UpperCaseSingleBytes(platform::UpperCaseDoubleByte(a.view()));
    const std::string foldedB =
        text_scan::UpperCaseSingleBytes(platform::UpperCaseDoubleByte(b.view()));
    c = foldedA.compare(foldedB);
  }
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

namespace text_internal {

namespace {

std::string JoinViews(std::initializer_list<std::string_view> parts) {
  std::size_t total = 0;
  for (const std::string_view part : parts) total += part.size();
  std::string out;
  out.reserve(total);
  for (const std::string_view part : parts) out.append(part);
  return out;
}

}  // namespace

Text ConcatViews(std::initializer_list<std::string_view> parts) {
  // Every part is a text or a literal cut at its first zero byte.
  return text_internal::AdoptZeroFree(JoinViews(parts));
}

ByteBuffer ConcatByteViews(std::initializer_list<std::string_view> parts) {
  return ByteBuffer(JoinViews(parts));
}

}  // namespace text_internal

Text TextBetween(const Text& text, const Text& startMarker, const Text& endMarker,
                 std::int64_t start, bool ignoreCase) {
  const Text quote(kDoubleQuote);
  const Text startSearch = Replace(startMarker, QuotePlaceholder(), quote);
  const Text endSearch = Replace(endMarker, QuotePlaceholder(), quote);
  std::int64_t c = Find(text, startSearch, start, ignoreCase);
  if (c == -1) return Text();
  c += startSearch.size();
  const std::int64_t d = Find(text, endSearch, c, ignoreCase);
  if (d == -1) return Text();
  return Mid(text, c, d - c);
}

// ---- Byte buffers and numbers ----------------------------------------------

ByteBuffer ToBytes(const Text& text) { return ByteBuffer(text.bytes()); }

Text BytesToText(const ByteBuffer& buffer) { return Text(buffer.view()); }

std::int64_t BytesLength(const ByteBuffer& buffer) { return buffer.size(); }

ByteBuffer BytesLeft(const ByteBuffer& buffer, std::int64_t count) {
  if (count <= 0) return ByteBuffer();
  if (count >= buffer.size()) return buffer;
  return ByteBuffer(buffer.view().substr(0, static_cast<std::size_t>(count)));
}

ByteBuffer BytesMid(const ByteBuffer& buffer, std::int64_t start, std::int64_t count) {
  const std::int64_t length = buffer.size();
  const std::int64_t first = start < 1 ? 1 : (start > length + 1 ? length + 1 : start);
  const std::int64_t remaining = length - first + 1;
  const std::int64_t taken = count < 0 ? 0 : (count > remaining ? remaining : count);
  if (taken == 0) return ByteBuffer();
  return ByteBuffer(
      buffer.view().substr(static_cast<std::size_t>(first - 1), static_cast<std::size_t>(taken)));
}

ByteBuffer BlankBytes(std::int64_t count) {
  if (count <= 0) return ByteBuffer();
  return ByteBuffer(std::string(CheckedSize(count), '\0'));
}

ByteBuffer BytesFromAddress(const void* address, std::int64_t count) {
  if (address == nullptr || count <= 0) return ByteBuffer();
  return ByteBuffer(std::string_view(static_cast<const char*>(address), CheckedSize(count)));
}

Text IntToText(std::int64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  return Text(std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
}

std::int64_t TruncateToInteger(double value) {
  // 2^63 is exact in a double; every double below it and at or above -2^63
  // truncates into range.
  constexpr double kTwoTo63 = 9223372036854775808.0;
  if (!(value >= -kTwoTo63 && value < kTwoTo63)) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(value);
}

}  // namespace timesync
