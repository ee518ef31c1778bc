// The code page's upper-case mapping for two-byte characters.
//
// Code page 936 is Microsoft's GBK table. A two-byte character whose
// upper-case form is again one two-byte character of the table is replaced by
// that form; every other character stays as it is. Single bytes are left
// alone (their case is the caller's business), as is a lone lead byte at the
// end. The result has the input's length and character structure.
//
//   UpperCaseDoubleByte("\xA3\xE1")   == "\xA3\xC1"   // ａ -> Ａ (full-width)
//   UpperCaseDoubleByte("\xA6\xC1")   == "\xA6\xA1"   // α -> Α
//   UpperCaseDoubleByte("a\xD6\xD0")  == "a\xD6\xD0"  // a, 中: unchanged
#ifndef TIMESYNC_PLATFORM_CASE_MAPPING_H_
#define TIMESYNC_PLATFORM_CASE_MAPPING_H_

#include <string>
#include <string_view>

namespace timesync::platform {

std::string UpperCaseDoubleByte(std::string_view bytes);

}  // namespace timesync::platform

#endif  // TIMESYNC_PLATFORM_CASE_MAPPING_H_
