// The hashed cookie merge against the member-by-member one: the old and new
// cookie texts are the input cut at its first zero byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "text/text.h"
#include "web/cookies.h"
#include "web/literal_cookies.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace timesync;
  // Held in a string so that even an empty input has a valid address.
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string_view input(bytes);
  const std::size_t split = input.find('\0');
  const Text oldText(input.substr(0, split));
  const Text newText(split == std::string_view::npos ? std::string_view("")
                                                     : input.substr(split + 1));

  Text oldFast = oldText, newFast = newText, oldLiteral = oldText, newLiteral = newText;
  const Text fast = MergeCookies(oldFast, newFast);
  const Text expected = literal::MergeCookies(oldLiteral, newLiteral);
  if (fast != expected || oldFast != oldLiteral || newFast != newLiteral) std::abort();
  if (fast != oldFast) std::abort();

  for (const char* delimiter : {"; ", ";", ""}) {
    if (RemoveDuplicateMembers(oldText, delimiter) !=
        literal::RemoveDuplicateMembers(oldText, delimiter)) {
      std::abort();
    }
  }
  return 0;
}
