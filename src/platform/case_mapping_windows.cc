// Two-byte upper-case mapping through the system: decode the character with
// code page 936, take the system's upper-case form (CharUpperBuffW), encode it
// back, and keep the result only when it is again exactly one two-byte
// character that needed no substitute.
#include <windows.h>

#include "platform/case_mapping.h"
#include "platform/late_binding_windows.h"

namespace timesync::platform {
namespace {

constexpr UINT kCodePage936 = 936;

void UpperCaseCharacter(char* character) {
  wchar_t decoded[4] = {};
  const int units = LateBound<kMultiByteToWideChar>()(kCodePage936, MB_ERR_INVALID_CHARS, character,
                                                      2, decoded, 4);
  if (units != 1) return;
  wchar_t upper = decoded[0];
  if (::CharUpperBuffW(&upper, 1) != 1 || upper == decoded[0]) return;
  char encoded[8] = {};
  BOOL usedDefault = FALSE;
  const int length =
      LateBound<kWideCharToMultiByte>()(kCodePage936, WC_NO_BEST_FIT_CHARS, &upper, 1, encoded,
                                        sizeof encoded, nullptr, &usedDefault);
  if (length != 2 || usedDefault) return;
  if (static_cast<unsigned char>(encoded[0]) < 0x80 || encoded[1] == '\0') return;
  character[0] = encoded[0];
  character[1] = encoded[1];
}

}  // namespace

std::string UpperCaseDoubleByte(std::string_view bytes) {
  std::string out(bytes);
  for (std::size_t p = 0; p < out.size();) {
    if (static_cast<unsigned char>(out[p]) < 0x80) {
      ++p;
      continue;
    }
    if (p + 1 == out.size()) break;  // a lone lead byte stands for itself
    UpperCaseCharacter(&out[p]);
    p += 2;
  }
  return out;
}

}  // namespace timesync::platform
