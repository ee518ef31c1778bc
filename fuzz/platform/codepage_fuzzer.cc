// Fuzzer-chosen bytes through the code page 936 decoding, which reads ASCII
// runs and two-byte characters from its own tables: the result must be ICU's
// decoding of the same bytes at once, for the input as given and repeated
// past the decoder's 4 KiB block. The UTF-16 then goes back to code page 936,
// and those bytes, too, decode as ICU decodes them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "platform/codepage.h"
#include "platform/icu_converter_linux.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckSameAsIcu(UConverter* converter, std::string_view bytes) {
  const std::optional<std::u16string> expected = timesync::platform::IcuToUtf16(converter, bytes);
  Check(expected.has_value());
  const std::u16string decoded = timesync::platform::Cp936ToUtf16(bytes);
  Check(decoded == *expected);
  const std::string encoded = timesync::platform::Utf16ToCp936(decoded);
  Check(timesync::platform::Cp936ToUtf16(encoded) ==
        timesync::platform::IcuToUtf16(converter, encoded));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const timesync::platform::IcuConverter converter =
      timesync::platform::OpenIcuConverter("windows-936-2000");
  Check(converter != nullptr);
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckSameAsIcu(converter.get(), bytes);
  if (size == 0) return 0;
  std::string repeated;
  while (repeated.size() < 4200) repeated += bytes;
  CheckSameAsIcu(converter.get(), repeated);
  return 0;
}
