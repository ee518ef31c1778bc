#include "web/response.h"

#include <algorithm>
#include <string_view>

#include "platform/component_library.h"
#include "platform/events.h"
#include "web/cookies.h"

namespace timesync {
namespace {

// Group 1 is the declared charset.
constexpr const char* kCharsetPattern = "<meta.+?charset=[^\\w]?([-\\w]+)";
// Only the start of the page is searched for the meta tag.
constexpr std::int64_t kCharsetSearchLength = 1024;
// The status text starts after the 9-byte version and its space.
constexpr std::int64_t kStatusTextStart = 10;

void GatherHeaderLines(const Text& rawHeaders, Text& responseCookies, Text& location) {
  for (const Text& line : Split(rawHeaders, "\r\n")) {
    if (TextBefore(line, ": ") == Text("Set-Cookie")) {
      const Text value = Find(line, ";") != -1 ? TextBetween(line, "Set-Cookie:", ";")
                                               : Replace(line, "Set-Cookie:", Text(), 1,
                                                         std::nullopt, /*ignoreCase=*/true);
      // What the caller's text held stays a member of its own: without a
      // separator the first cookie gathered would run into its last member.
      if (!responseCookies.empty() && Right(responseCookies, 2) != Text("; ")) {
        responseCookies = Concat(responseCookies, "; ");
      }
      responseCookies = Concat(responseCookies, Trim(value), "; ");
    }
    if (CompareText(Left(line, 10), "Location: ", /*ignoreCase=*/true) == 0) {
      location = Mid(line, 11, TextLength(line) - 10);
    }
    ProcessPendingEvents();
  }
  if (Right(responseCookies, 2) == Text("; ")) {
    responseCookies = Left(responseCookies, TextLength(responseCookies) - 2);
  }
}

// One initialisation of the component library for the calling thread,
// undone when the scope ends; its result is not looked at.
class ComponentLibraryScope {
 public:
  ComponentLibraryScope() { platform::CoInitialize(); }
  ~ComponentLibraryScope() { platform::CoUninitialize(); }
  ComponentLibraryScope(const ComponentLibraryScope&) = delete;
  ComponentLibraryScope& operator=(const ComponentLibraryScope&) = delete;
};

// Whether `head` holds "<meta" in any letter case, byte by byte. The charset
// pattern cannot match without it: '<' and the ASCII letters never come from
// a two-byte character, so a page without it needs no pattern run at all.
bool MayDeclareCharset(std::string_view head) {
  constexpr std::string_view kTagStart = "meta";
  for (std::size_t at = head.find('<'); at != std::string_view::npos; at = head.find('<', at + 1)) {
    const std::string_view name = head.substr(at + 1, kTagStart.size());
    if (name.size() == kTagStart.size() &&
        std::equal(name.begin(), name.end(), kTagStart.begin(), [](char a, char b) {
          return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
        })) {
      return true;
    }
  }
  return false;
}

// Replaces `page` with `body` decoded from the charset the page's meta tag
// declares, when it declares one the decoder knows. `body` may be the page's
// own bytes: it is read whole before the page is replaced.
void DecodeDeclaredCharset(Text& page, std::string_view body, ResponseStageObjects& objects) {
  const ComponentLibraryScope componentLibrary;
  const Text head = Left(page, kCharsetSearchLength);
  if (!MayDeclareCharset(head.view())) {
    ProcessPendingEvents();  // as after a pattern run that finds no tag
    return;
  }
  if (objects.regex.Execute(kCharsetPattern, head)) {
    const Text charset = objects.regex.SubMatchText(1, 1);
    if (!charset.empty() &&
        objects.streamSlot.Open(charset.view()) == platform::CharsetDecoder::OpenResult::kOpened) {
      page = Text::FromString(objects.streamSlot.ReadText(body));
      objects.streamSlot.Release();
    }
    ProcessPendingEvents();
  }
}

}  // namespace

void ProcessResponse(Text rawHeaders, ByteBuffer body, bool mergeCookies,
                     ResponseStageObjects& objects, Text& cookies, Text& responseCookies,
                     Text& status, Text& location, ByteBuffer* responseBytes, Text& pageText) {
  const std::int64_t statusEnd = Find(rawHeaders, "\r\n", kStatusTextStart);
  status = Mid(rawHeaders, kStatusTextStart, statusEnd - kStatusTextStart);

  GatherHeaderLines(rawHeaders, responseCookies, location);

  if (mergeCookies && !cookies.empty()) responseCookies = MergeCookies(cookies, responseCookies);

  // The body moves into its output rather than being copied: a large page is
  // held twice (bytes and text), not three times. When the bytes are not
  // wanted and hold no zero byte, the page text takes the body's storage and
  // is held once.
  if (responseBytes != nullptr) {
    *responseBytes = std::move(body);
    pageText = BytesToText(*responseBytes);
    DecodeDeclaredCharset(pageText, responseBytes->view(), objects);
  } else if (body.view().find('\0') == std::string_view::npos) {
    pageText = Text::FromString(std::move(body.mutable_bytes()));
    DecodeDeclaredCharset(pageText, pageText.view(), objects);
  } else {
    pageText = BytesToText(body);
    DecodeDeclaredCharset(pageText, body.view(), objects);
  }
}

}  // namespace timesync
