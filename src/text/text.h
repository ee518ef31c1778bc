// Text values and primitives: byte strings in code page 936 (GBK).
//
// A `Text` is an owned byte string that never holds a zero byte; every way of
// making one from bytes stops at the first zero. Empty and absent are one
// value. Positions are 1-based byte positions, lengths are byte counts, and a
// search that finds nothing returns -1.
//
// Character structure: a byte 0x80-0xFF is the first byte of a two-byte
// character and takes the byte after it, whatever it is. A first byte that is
// the text's last byte stands alone. Operations marked "by characters" walk
// the text by that rule from their start offset; a walk started inside a
// two-byte character does not realign. Example:
//
//   Find("\xD6\xD0\xCE\xC4", "\xD0\xCE")     == -1  // straddles two characters
//   Find("\xD6\xD0\xCE\xC4", "\xD0\xCE", 2)  ==  2  // walk starts on byte 2
//
// Optional arguments: a default that is a plain value is a C++ default
// argument; a default that is no value of the type (an unlimited count, a
// start at "length + 1") is a `std::optional`, empty when omitted. Either way
// a default applies only to an omitted argument.
//
// No operation fails on its arguments: any position, count or length out of
// range gives the empty result or -1 described beside it.
#ifndef TIMESYNC_TEXT_TEXT_H_
#define TIMESYNC_TEXT_TEXT_H_

#include <compare>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace timesync {

class Text;
namespace text_internal {
// Takes `bytes` as they are, without looking for a zero byte: for the
// toolkit's own results, cut from texts that hold none.
Text AdoptZeroFree(std::string&& bytes);
}  // namespace text_internal

// An owned byte string in code page 936 without zero bytes.
class Text {
 public:
  Text() = default;
  // Copies the bytes up to the first zero byte (or all of them).
  Text(const char* bytes);  // NOLINT(google-explicit-constructor): literals read naturally
  explicit Text(std::string_view bytes);
  explicit Text(const std::string& bytes) : Text(std::string_view(bytes)) {}

  // Takes ownership of `bytes` when it already holds no zero byte (cut at the
  // first zero otherwise). The cheap way to build a Text from a std::string.
  static Text FromString(std::string&& bytes);

  const std::string& bytes() const { return bytes_; }
  std::string_view view() const { return bytes_; }
  const char* c_str() const { return bytes_.c_str(); }
  std::int64_t size() const { return static_cast<std::int64_t>(bytes_.size()); }
  bool empty() const { return bytes_.empty(); }
  // The byte at 0-based `index`, as an unsigned value; `index` must be in range.
  unsigned char at(std::int64_t index) const {
    return static_cast<unsigned char>(bytes_[static_cast<std::size_t>(index)]);
  }

  // Exact byte equality; order is byte by byte on unsigned values, a proper
  // prefix first.
  friend bool operator==(const Text& a, const Text& b) { return a.bytes_ == b.bytes_; }
  friend std::strong_ordering operator<=>(const Text& a, const Text& b) {
    const int c = a.bytes_.compare(b.bytes_);  // char_traits<char> compares as unsigned char
    return c < 0 ? std::strong_ordering::less
                 : (c > 0 ? std::strong_ordering::greater : std::strong_ordering::equal);
  }

 private:
  friend Text text_internal::AdoptZeroFree(std::string&& bytes);
  std::string bytes_;
};

// An owned, counted byte sequence that may hold zero bytes.
class ByteBuffer {
 public:
  ByteBuffer() = default;
  explicit ByteBuffer(std::string bytes) : bytes_(std::move(bytes)) {}
  explicit ByteBuffer(std::string_view bytes) : bytes_(bytes) {}

  const std::string& bytes() const { return bytes_; }
  std::string& mutable_bytes() { return bytes_; }
  std::string_view view() const { return bytes_; }
  const unsigned char* data() const {
    return reinterpret_cast<const unsigned char*>(bytes_.data());
  }
  unsigned char* data() { return reinterpret_cast<unsigned char*>(bytes_.data()); }
  std::int64_t size() const { return static_cast<std::int64_t>(bytes_.size()); }
  bool empty() const { return bytes_.empty(); }

  friend bool operator==(const ByteBuffer& a, const ByteBuffer& b) = default;

 private:
  std::string bytes_;
};

// An ordered list of texts. Member i (1-based, as the algorithms count) is
// element i - 1.
using TextArray = std::vector<Text>;

// "#引号": written inside marker and pattern literals where a double quote is meant.
inline constexpr const char* kQuotePlaceholder = "#\xD2\xFD\xBA\xC5";
Text QuotePlaceholder();

// ---- Measuring and cutting (bytes, may split a two-byte character) --------

std::int64_t TextLength(const Text& text);
// The first `count` bytes; empty if count <= 0, the whole text if count exceeds the length.
Text Left(const Text& text, std::int64_t count);
// The last `count` bytes; same clamping as Left.
Text Right(const Text& text, std::int64_t count);
// `count` bytes from byte `start`; empty if start < 1, start > length or
// count <= 0; count is cut to the bytes that remain.
Text Mid(const Text& text, std::int64_t start, std::int64_t count);

// ---- Searching and rewriting (by characters) -------------------------------

// Position of the first occurrence at or after `start`, else -1. An empty
// needle gives 1 when anything lies at or after `start`, else -1. With
// `ignoreCase` only the ASCII letters A-Z/a-z fold, byte by byte.
//   Find("abcabc", "bc") == 2;  Find("abcabc", "bc", 3) == 5
std::int64_t Find(const Text& text, const Text& needle, std::int64_t start = 1,
                  bool ignoreCase = false);

// Position of the last occurrence that ends before byte `start` (omitted: the
// whole text), else -1.
//   FindLast("abcabc", "bc") == 5;  FindLast("abcabc", "bc", 6) == 2
std::int64_t FindLast(const Text& text, const Text& needle,
                      std::optional<std::int64_t> start = std::nullopt, bool ignoreCase = false);

// Occurrences of `target` from `start` on replaced left to right, at most
// `count` of them (omitted or negative: all). Matches never overlap.
//   Replace("aXbXc", "X", "--") == "a--b--c"
Text Replace(const Text& text, const Text& target, const Text& replacement = Text(),
             std::int64_t start = 1, std::optional<std::int64_t> count = std::nullopt,
             bool ignoreCase = false);

// The pieces between delimiters (case always counts). No members for an empty
// text or a max count of 0 (a given negative max counts as 0); the whole text
// as one member for an empty delimiter; no empty last member after a trailing
// delimiter. Omitted max count: unlimited.
//   Split(";a;;b", ";") == {"", "a", "", "b"};  Split("a,b,c", ",", 2) == {"a", "b"}
TextArray Split(const Text& text, const Text& delimiter = ",",
                std::optional<std::int64_t> maxCount = std::nullopt);

// Without leading and trailing spaces (0x20) and full-width spaces (0xA1 0xA1).
// Tabs and line breaks are not spaces. A lone first byte at the end is cut
// instead of the spaces before it.
Text Trim(const Text& text);

// a-z made A-Z, by characters: both bytes of a two-byte character stay.
Text ToUpper(const Text& text);

// ---- Characters, comparison, joining ----------------------------------------

// A one-byte text holding byte `code` (taken modulo 256); code 0 gives the empty text.
Text CharFromCode(std::int64_t code);
// The byte at `position` as a signed value (0x80-0xFF give -128..-1); 0 out of range.
std::int64_t CharCode(const Text& text, std::int64_t position = 1);
// 0 when equal, else negative or positive by character order. With
// `ignoreCase`, ASCII letters fold and two-byte characters compare after the
// code page's upper-case mapping.
int CompareText(const Text& a, const Text& b, bool ignoreCase = false);

namespace text_internal {
Text ConcatViews(std::initializer_list<std::string_view> parts);
inline std::string_view AsView(const Text& text) { return text.view(); }
// Up to the first zero; a null pointer is the empty text, as in Text(const char*).
inline std::string_view AsView(const char* bytes) {
  return bytes == nullptr ? std::string_view() : std::string_view(bytes);
}
}  // namespace text_internal

// One new text holding all the arguments' bytes in order (texts or literals).
template <typename... Parts>
Text Concat(const Parts&... parts) {
  return text_internal::ConcatViews({text_internal::AsView(parts)...});
}

// The text between the first `startMarker` at or after `start` (0 searches
// from the first byte) and the next `endMarker`, else empty. In both markers
// every QuotePlaceholder stands for a double quote.
//   TextBetween("Date: Tue\r\n", "Date:", "\r\n") == " Tue"
Text TextBetween(const Text& text, const Text& startMarker, const Text& endMarker,
                 std::int64_t start = 0, bool ignoreCase = false);

// ---- Delimited text helpers ---------------------------------------------------

// The bytes before the chosen occurrence of `delimiter`, empty when none.
// start >= 0: the first occurrence at or after byte `start` (0 counts as 1).
// start < 0: the last occurrence within the first length - k bytes, k = -start
// (k = 1 counts as 0).
//   TextBefore("k=v=w", "=") == "k";  TextBefore("k=v=w", "=", -1) == "k=v"
Text TextBefore(const Text& text, const Text& delimiter, std::int64_t start = 0,
                bool ignoreCase = false);
// The bytes after the chosen occurrence of `delimiter`, empty when none.
// start >= 0: the last occurrence within the first length - start bytes.
// start < 0: the first occurrence at or after byte -start.
//   TextAfter("k=v=w", "=") == "w";  TextAfter("k=v=w", "=", -1) == "v=w"
Text TextAfter(const Text& text, const Text& delimiter, std::int64_t start = 0,
               bool ignoreCase = false);
// The value of header `name` in a block of CR LF ended lines: the first line
// that starts with `name` (case counts) decides; its value is what follows the
// last "name: " in that line, untrimmed. Empty when there is none.
Text GetHeaderValue(const Text& headerBlock, const Text& name);

// ---- Byte buffers and numbers -------------------------------------------------

ByteBuffer ToBytes(const Text& text);
// The buffer's bytes up to, not including, the first zero byte.
Text BytesToText(const ByteBuffer& buffer);
std::int64_t BytesLength(const ByteBuffer& buffer);
// The first `count` bytes, count clamped to 0..length.
ByteBuffer BytesLeft(const ByteBuffer& buffer, std::int64_t count);
// `count` bytes from byte `start`: start clamped to 1..length+1, count to the bytes that remain.
ByteBuffer BytesMid(const ByteBuffer& buffer, std::int64_t start, std::int64_t count);
// `count` zero bytes; empty if count <= 0.
ByteBuffer BlankBytes(std::int64_t count);
// A copy of `count` bytes read at `address`; empty if count <= 0 or address is null.
ByteBuffer BytesFromAddress(const void* address, std::int64_t count);

namespace text_internal {
ByteBuffer ConcatByteViews(std::initializer_list<std::string_view> parts);
}  // namespace text_internal

template <typename... Buffers>
ByteBuffer ConcatBytes(const Buffers&... buffers) {
  return text_internal::ConcatByteViews({buffers.view()...});
}

// Decimal digits, "-" before negatives, no padding: IntToText(-7) == "-7".
Text IntToText(std::int64_t value);
// Toward zero into 64 bits; NaN and values beyond the 64-bit range give
// INT64_MIN, as the processor's conversion does. A 32-bit target keeps the low 32 bits.
std::int64_t TruncateToInteger(double value);

}  // namespace timesync

#endif  // TIMESYNC_TEXT_TEXT_H_
