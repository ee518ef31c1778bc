// ICU converters set up the way the system's own conversions behave:
// fallbacks (best fit) on, and '?' for bytes that form no character, where
// ICU would give U+FFFD. Shared by the code page 936 conversions and the
// charset decoder.
#ifndef TIMESYNC_PLATFORM_ICU_CONVERTER_LINUX_H_
#define TIMESYNC_PLATFORM_ICU_CONVERTER_LINUX_H_

#include <unicode/ucnv.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace timesync::platform {

struct IcuConverterCloser {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using IcuConverter = std::unique_ptr<UConverter, IcuConverterCloser>;

// The converter ICU knows by `name`, set up as above; null when there is none.
IcuConverter OpenIcuConverter(const char* name);

// All of `bytes` decoded with `converter` (reset first), streamed through a
// fixed buffer so no length passes through ICU's 32-bit counts. No value
// when the conversion fails.
std::optional<std::u16string> IcuToUtf16(UConverter* converter, std::string_view bytes);

}  // namespace timesync::platform

#endif  // TIMESYNC_PLATFORM_ICU_CONVERTER_LINUX_H_
