// Two-byte upper-case mapping through ICU: decode the character with the
// code page's table, take its simple upper-case form, encode it back, and keep
// the result only when it is again exactly one two-byte character.
#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>

#include <memory>

#include "platform/case_mapping.h"

namespace timesync::platform {
namespace {

struct ConverterCloser {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

// Exact mappings only, both ways: an illegal or unassigned character fails
// instead of turning into a substitute.
Converter OpenStrictConverter() {
  UErrorCode error = U_ZERO_ERROR;
  Converter converter(ucnv_open("windows-936-2000", &error));
  if (U_FAILURE(error)) return nullptr;
  ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &error);
  ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                        &error);
  if (U_FAILURE(error)) return nullptr;
  return converter;
}

// Writes the upper-case form of the two bytes at `character` over them when
// there is one.
void UpperCaseCharacter(UConverter* converter, char* character) {
  UChar decoded[4];
  UErrorCode error = U_ZERO_ERROR;
  const int32_t units = ucnv_toUChars(converter, decoded, 4, character, 2, &error);
  if (U_FAILURE(error) || units != 1) return;
  const UChar32 upper = u_toupper(decoded[0]);
  if (upper == decoded[0] || upper > 0xFFFF) return;
  const UChar upperUnit = static_cast<UChar>(upper);
  char encoded[8];
  error = U_ZERO_ERROR;
  const int32_t length = ucnv_fromUChars(converter, encoded, sizeof encoded, &upperUnit, 1, &error);
  if (U_FAILURE(error) || length != 2) return;
  if (static_cast<unsigned char>(encoded[0]) < 0x80 || encoded[1] == '\0') return;
  character[0] = encoded[0];
  character[1] = encoded[1];
}

}  // namespace

std::string UpperCaseDoubleByte(std::string_view bytes) {
  std::string out(bytes);
  Converter converter;
  for (std::size_t p = 0; p < out.size();) {
    if (static_cast<unsigned char>(out[p]) < 0x80) {
      ++p;
      continue;
    }
    if (p + 1 == out.size()) break;  // a lone lead byte stands for itself
    if (!converter) {
      converter = OpenStrictConverter();
      if (!converter) break;
    }
    UpperCaseCharacter(converter.get(), &out[p]);
    p += 2;
  }
  return out;
}

}  // namespace timesync::platform
