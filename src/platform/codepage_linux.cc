// Code page 936 over ICU's "windows-936-2000" converter, the table generated
// from Windows itself. Opened by that exact name: ICU's alias "GB2312" names a
// narrower EUC-CN table. Fallbacks are on, as Windows' best fit is; bytes that
// form no character decode to '?', where ICU would give U+FFFD.
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ucnv_err.h>

#include <algorithm>
#include <memory>

#include "platform/codepage.h"
#include "platform/icu_converter_linux.h"

namespace timesync {
namespace platform {
namespace {

// Both directions stream through a fixed buffer with pointer ranges, so no
// length ever passes through ICU's 32-bit counts: a text of 2 GiB or more
// converts whole instead of being cut or read past its end.
constexpr std::size_t kBufferUnits = 4096;

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

constexpr const char* kCodePage936 = "windows-936-2000";

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

std::optional<std::u16string> IcuToUtf16(UConverter* converter, std::string_view bytes) {
  ucnv_resetToUnicode(converter);
  std::u16string out;
  out.reserve(bytes.size());  // one UTF-16 unit per byte at most, but for UTF-8 4-byte forms
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
  if (U_FAILURE(error)) return std::nullopt;
  return out;
}

std::u16string Cp936ToUtf16(std::string_view bytes) { return ToUtf16(kCodePage936, bytes); }
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
