// Code page 936 over ICU's "windows-936-2000" converter, the table generated
// from Windows itself. Opened by that exact name: ICU's alias "GB2312" names a
// narrower EUC-CN table. Fallbacks are on, as Windows' best fit is; bytes that
// form no character decode to '?', where ICU would give U+FFFD.
//
// Decoding to UTF-16 is the hot path of the regular-expression object (a page
// of many megabytes is converted whole before every search), so it does not
// go through ICU byte by byte: runs of ASCII bytes are widened directly, and
// two-byte characters are read from a table that ICU itself fills, per thread
// and one lead byte's row at a time when that lead byte first comes up in a
// text of some length (a short text pays for no row, a longer one for the
// rows it uses, not for the whole table). Only what the
// table cannot answer (a broken or unassigned sequence, a lead byte at the
// end) is handed to ICU, up to a byte that always ends a character, so the
// result is ICU's to the last unit.
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ucnv_err.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/codepage.h"
#include "platform/icu_converter_linux.h"
#include "platform/memory.h"

namespace timesync {
namespace platform {
namespace {

// Both directions stream through a fixed buffer with pointer ranges, so no
// length ever passes through ICU's 32-bit counts: a text of 2 GiB or more
// converts whole instead of being cut or read past its end.
constexpr std::size_t kBufferUnits = 4096;

constexpr const char* kCodePage936 = "windows-936-2000";

std::u16string ToUtf16(const char* converterName, std::string_view bytes) {
  if (bytes.empty()) return {};
  const IcuConverter converter = OpenIcuConverter(converterName);
  if (!converter) return {};
  return IcuToUtf16(converter.get(), bytes).value_or(std::u16string());
}

std::string FromUtf16(const char* converterName, std::u16string_view characters) {
  if (characters.empty()) return {};
  // ASCII stands for itself in both code page 936 and UTF-8: most texts
  // (host names, header blocks) need no converter at all.
  if (std::all_of(characters.begin(), characters.end(), [](char16_t c) { return c < 0x80; })) {
    return std::string(characters.begin(), characters.end());
  }
  const IcuConverter converter = OpenIcuConverter(converterName);
  if (!converter) return {};
  std::string out;
  out.reserve(characters.size() * 2);
  const UChar* source = reinterpret_cast<const UChar*>(characters.data());
  const UChar* const sourceLimit = source + characters.size();
  char buffer[kBufferUnits];
  UErrorCode error = U_BUFFER_OVERFLOW_ERROR;
  while (error == U_BUFFER_OVERFLOW_ERROR) {
    error = U_ZERO_ERROR;
    char* target = buffer;
    ucnv_fromUnicode(converter.get(), &target, buffer + kBufferUnits, &source, sourceLimit, nullptr,
                     /*flush=*/true, &error);
    out.append(buffer, static_cast<std::size_t>(target - buffer));
  }
  if (U_FAILURE(error)) return {};
  return out;
}

void QuestionMarkForIllegalBytes(const void* /*context*/, UConverterToUnicodeArgs* args,
                                 const char* /*codeUnits*/, int32_t /*length*/,
                                 UConverterCallbackReason reason, UErrorCode* error) {
  if (reason > UCNV_IRREGULAR) return;  // reset, close or clone: nothing to write
  *error = U_ZERO_ERROR;
  static const UChar kQuestionMark = u'?';
  ucnv_cbToUWriteUChars(args, &kQuestionMark, 1, 0, error);
}

}  // namespace

IcuConverter OpenIcuConverter(const char* name) {
  UErrorCode error = U_ZERO_ERROR;
  IcuConverter converter(ucnv_open(name, &error));
  if (U_FAILURE(error)) return nullptr;
  ucnv_setFallback(converter.get(), true);
  ucnv_setToUCallBack(converter.get(), &QuestionMarkForIllegalBytes, nullptr, nullptr, nullptr,
                      &error);
  if (U_FAILURE(error)) return nullptr;
  // From Unicode the converter's own substitute, 0x3F, stands for what cannot be held.
  return converter;
}

namespace {

// Appends ICU's decoding of `bytes` (from the converter's initial state, with
// a final flush) to `out`; false when the conversion fails.
bool AppendIcuDecoding(UConverter* converter, std::string_view bytes, std::u16string& out) {
  ucnv_resetToUnicode(converter);
  const char* source = bytes.data();
  const char* const sourceLimit = bytes.data() + bytes.size();
  UChar buffer[kBufferUnits];
  UErrorCode error = U_BUFFER_OVERFLOW_ERROR;
  while (error == U_BUFFER_OVERFLOW_ERROR) {
    error = U_ZERO_ERROR;
    UChar* target = buffer;
    ucnv_toUnicode(converter, &target, buffer + kBufferUnits, &source, sourceLimit, nullptr,
                   /*flush=*/true, &error);
    out.append(reinterpret_cast<const char16_t*>(buffer),
               static_cast<std::size_t>(target - buffer));
  }
  return U_SUCCESS(error);
}

// Lead bytes of two-byte characters, and the lowest byte that can follow one.
// The bytes below kTrailFirst are characters of their own wherever they stand:
// no sequence, broken or not, runs through one of them.
constexpr unsigned kLeadFirst = 0x81;
constexpr unsigned kLeadLast = 0xFE;
constexpr unsigned kTrailFirst = 0x40;
constexpr std::size_t kTrailCount = 0x100 - kTrailFirst;
bool IsLeadByte(unsigned byte) { return byte >= kLeadFirst && byte <= kLeadLast; }

constexpr std::size_t kLeadCount = kLeadLast - kLeadFirst + 1;

// What one thread needs to decode code page 936: the converter, and the one
// UTF-16 unit ICU gives for every two-byte sequence and every single byte
// from 0x80 up. A 0 in a table sends that sequence to ICU: it is broken or
// unassigned (ICU writes '?' for it), ICU gives something other than one
// unit, or its lead byte's row is not filled yet. Bytes below 0x80 are ASCII
// in this code page.
struct Cp936Decoder {
  IcuConverter converter;
  std::array<char16_t, kLeadCount * kTrailCount> pairs{};
  std::array<bool, kLeadCount> rowFilled{};  // by lead byte - kLeadFirst
  std::array<char16_t, 0x80> highSingles{};  // by byte - 0x80; lead bytes stay 0
};

// ICU's one unit for each sequence of `probe`, where every sequence is
// followed by a line feed, decoded in one call; 0 for a sequence that gives
// anything else. Empty when ICU's answer does not split into `count` lines.
std::vector<char16_t> ProbeUnits(UConverter* converter, std::string_view probe, std::size_t count) {
  std::u16string decoded;
  if (!AppendIcuDecoding(converter, probe, decoded)) return {};
  std::vector<char16_t> units;
  units.reserve(count);
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i < decoded.size(); ++i) {
    if (decoded[i] != u'\n') continue;
    const std::size_t length = i - lineStart;
    const char16_t unit = decoded[lineStart];
    const bool usable =
        length == 1 && unit != u'?' && unit != 0 && (unit < 0xD800 || unit > 0xDFFF);
    units.push_back(usable ? unit : 0);
    lineStart = i + 1;
  }
  if (units.size() != count || lineStart != decoded.size()) return {};
  return units;
}

// The single bytes from 0x80 up that are not lead bytes: 0x80 and 0xFF.
void FillHighSingles(Cp936Decoder& decoder) {
  const std::vector<char16_t> units = ProbeUnits(decoder.converter.get(), "\x80\n\xFF\n", 2);
  if (units.empty()) return;  // the table stays empty: ICU decodes those bytes
  decoder.highSingles[0x80 - 0x80] = units[0];
  decoder.highSingles[0xFF - 0x80] = units[1];
}

// Fills the row of `lead`: every sequence of it and a possible second byte.
// Should ICU's answer not split into one line per sequence, the row stays
// empty and ICU decodes that lead byte's characters. Either way the row
// counts as filled.
void FillDecoderRow(Cp936Decoder& decoder, unsigned lead) {
  decoder.rowFilled[lead - kLeadFirst] = true;
  std::string probe;
  probe.reserve(3 * kTrailCount);
  for (unsigned trail = kTrailFirst; trail <= 0xFF; ++trail) {
    probe += static_cast<char>(lead);
    probe += static_cast<char>(trail);
    probe += '\n';
  }
  const std::vector<char16_t> units = ProbeUnits(decoder.converter.get(), probe, kTrailCount);
  if (units.empty()) return;
  std::copy(units.begin(), units.end(), decoder.pairs.begin() + (lead - kLeadFirst) * kTrailCount);
}

// The calling thread's decoder, made on first use; null when ICU has no
// converter for the code page.
Cp936Decoder* ThreadCp936Decoder() {
  thread_local std::unique_ptr<Cp936Decoder> decoder;
  if (!decoder) {
    auto made = std::make_unique<Cp936Decoder>();
    made->converter = OpenIcuConverter(kCodePage936);
    if (!made->converter) return nullptr;
    FillHighSingles(*made);
    decoder = std::move(made);
  }
  return decoder.get();
}

// Filling a row has ICU decode 576 bytes. A text shorter than this leaves
// the characters of rows not filled yet to ICU, which decodes them faster
// than it would fill their rows.
constexpr std::size_t kRowFillMinBytes = 1024;

// The output is made a block at a time: resize zero-fills a block's room just
// before the decoder writes it, while those lines are still in the cache.
constexpr std::size_t kDecodeBlockBytes = 4096;
// The least ICU is given when the tables cannot go on.
constexpr std::size_t kIcuStretchBytes = 256;

std::optional<std::u16string> DecodeCp936(Cp936Decoder& decoder, std::string_view bytes) {
  const auto* const in = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t size = bytes.size();
  std::u16string out;
  out.reserve(size);  // one unit per byte at most outside ICU's stretches
  AdviseHugePages(out.data(), (out.capacity() + 1) * sizeof(char16_t));
  std::size_t i = 0;
  while (i < size) {
    const std::size_t blockEnd = std::min(size, i + kDecodeBlockBytes);
    const std::size_t written = out.size();
    out.resize(written + (blockEnd - i));  // every step below takes a byte at least
    char16_t* const blockStart = out.data() + written;
    char16_t* o = blockStart;
    bool irregular = false;
    while (i < blockEnd) {
      const unsigned byte = in[i];
      if (byte < 0x80) {
#if defined(__SSE2__)
        if (blockEnd - i >= 16) {
          // Sixteen bytes widened at once; only the ASCII ones before the
          // first other byte are kept (the rest is written over later).
          const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
          const __m128i zero = _mm_setzero_si128();
          _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_unpacklo_epi8(chunk, zero));
          _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 8), _mm_unpackhi_epi8(chunk, zero));
          const unsigned highBits = static_cast<unsigned>(_mm_movemask_epi8(chunk));
          const unsigned ascii =
              highBits == 0 ? 16 : static_cast<unsigned>(__builtin_ctz(highBits));
          o += ascii;
          i += ascii;
          continue;
        }
#endif
        *o++ = static_cast<char16_t>(byte);
        ++i;
        continue;
      }
      char16_t unit = 0;
      if (!IsLeadByte(byte)) {
        unit = decoder.highSingles[byte - 0x80];
        if (unit != 0) {
          *o++ = unit;
          ++i;
          continue;
        }
      } else if (i + 1 < size && in[i + 1] >= kTrailFirst) {
        unit = decoder.pairs[(byte - kLeadFirst) * kTrailCount + (in[i + 1] - kTrailFirst)];
        if (unit != 0) {
          *o++ = unit;
          i += 2;
          continue;
        }
        if (!decoder.rowFilled[byte - kLeadFirst] && size >= kRowFillMinBytes) {
          FillDecoderRow(decoder, byte);
          continue;  // the same two bytes again, now with their row
        }
      }
      irregular = true;
      break;
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    if (irregular) {
      // ICU takes over up to and including a byte below kTrailFirst, after
      // which it is back at the start of a character, as here. It takes a
      // stretch of some length, so input full of broken bytes does not cost
      // one ICU call per byte.
      std::size_t end = std::min(size, i + kIcuStretchBytes);
      while (end < size && in[end] >= kTrailFirst) ++end;
      end = std::min(size, end + 1);
      if (!AppendIcuDecoding(decoder.converter.get(), bytes.substr(i, end - i), out)) {
        return std::nullopt;
      }
      i = end;
    }
  }
  return out;
}

}  // namespace

std::optional<std::u16string> IcuToUtf16(UConverter* converter, std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());  // one UTF-16 unit per byte at most, but for UTF-8 4-byte forms
  if (!AppendIcuDecoding(converter, bytes, out)) return std::nullopt;
  return out;
}

std::u16string Cp936ToUtf16(std::string_view bytes) {
  if (bytes.empty()) return {};
  Cp936Decoder* const decoder = ThreadCp936Decoder();
  if (decoder == nullptr) return {};
  return DecodeCp936(*decoder, bytes).value_or(std::u16string());
}

std::string Utf16ToCp936(std::u16string_view characters) {
  return FromUtf16(kCodePage936, characters);
}

std::string Utf8ToCp936(std::string_view utf8) { return Utf16ToCp936(ToUtf16("UTF-8", utf8)); }
std::string Cp936ToUtf8(std::string_view bytes) { return FromUtf16("UTF-8", Cp936ToUtf16(bytes)); }

}  // namespace platform

ByteBuffer TextToWide(const Text& text) {
  if (text.empty()) return ByteBuffer();
  std::u16string wide = platform::Cp936ToUtf16(text.view());
  wide.push_back(u'\0');
  std::string bytes(wide.size() * 2, '\0');
  for (std::size_t i = 0; i < wide.size(); ++i) {
    bytes[2 * i] = static_cast<char>(wide[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(wide[i] >> 8);
  }
  return ByteBuffer(std::move(bytes));
}

Text WideToText(const ByteBuffer& buffer) {
  const std::string_view bytes = buffer.view();
  std::u16string wide;
  wide.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                             (static_cast<unsigned char>(bytes[i + 1]) << 8));
    if (c == u'\0') break;  // the conversion ends at the first zero character
    wide.push_back(c);
  }
  return Text::FromString(platform::Utf16ToCp936(wide));
}

}  // namespace timesync
