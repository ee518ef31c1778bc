// Conversions between Text (code page 936) and UTF-16, the form every text
// takes on its way to the HTTP service and the regular-expression engine.
//
// Code page 936 is Microsoft's GBK table (0x80 is the euro sign). Bytes that
// do not form a character become '?'; characters the code page cannot hold
// become their best-fit byte or '?'.
#ifndef TIMESYNC_PLATFORM_CODEPAGE_H_
#define TIMESYNC_PLATFORM_CODEPAGE_H_

#include <string>
#include <string_view>

#include "text/text.h"

namespace timesync {

// UTF-16LE characters of `text` followed by one zero character; an empty text
// gives an empty buffer.
ByteBuffer TextToWide(const Text& text);
// The characters of a UTF-16LE buffer up to its first zero character, in
// code page 936. An odd last byte is ignored.
Text WideToText(const ByteBuffer& buffer);

namespace platform {

// The same conversions on plain strings, for the layer's own use. The input
// is taken whole (zero bytes and characters included).
std::u16string Cp936ToUtf16(std::string_view bytes);
std::string Utf16ToCp936(std::u16string_view characters);

// UTF-8 to code page 936 and back, for command-line arguments and output.
std::string Utf8ToCp936(std::string_view utf8);
std::string Cp936ToUtf8(std::string_view bytes);

}  // namespace platform
}  // namespace timesync

#endif  // TIMESYNC_PLATFORM_CODEPAGE_H_
