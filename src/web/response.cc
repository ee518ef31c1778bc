#include "web/response.h"

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

// The page decoded from the charset its meta tag declares, or `page` as it is.
Text DecodeDeclaredCharset(Text page, const ByteBuffer& body, ResponseStageObjects& objects) {
  const ComponentLibraryScope componentLibrary;
  // An empty page (the reply to a HEAD request) holds no meta tag: the pattern
  // is not even compiled for it.
  if (!page.empty() && objects.regex.Execute(kCharsetPattern, Left(page, kCharsetSearchLength))) {
    const Text charset = objects.regex.SubMatchText(1, 1);
    if (!charset.empty() &&
        objects.streamSlot.Open(charset.view()) == platform::CharsetDecoder::OpenResult::kOpened) {
      page = Text::FromString(objects.streamSlot.ReadText(body.view()));
      objects.streamSlot.Release();
    }
    ProcessPendingEvents();
  }
  return page;
}

}  // namespace

void ProcessResponse(Text rawHeaders, ByteBuffer body, bool mergeCookies,
                     ResponseStageObjects& objects, Text& cookies, Text& responseCookies,
                     Text& status, Text& location, ByteBuffer& responseBytes, Text& pageText) {
  const std::int64_t statusEnd = Find(rawHeaders, "\r\n", kStatusTextStart);
  status = Mid(rawHeaders, kStatusTextStart, statusEnd - kStatusTextStart);

  GatherHeaderLines(rawHeaders, responseCookies, location);

  if (mergeCookies && !cookies.empty()) responseCookies = MergeCookies(cookies, responseCookies);

  // The body moves into its output rather than being copied: a large page is
  // held twice (bytes and text), not three times.
  responseBytes = std::move(body);
  pageText = DecodeDeclaredCharset(BytesToText(responseBytes), responseBytes, objects);
}

}  // namespace timesync
