// Pieces of the Linux HTTP service that stand on their own: the proxy list
// and the escaping of request targets.
//
//   SelectProxy(u"http=127.0.0.1:3128", /*secure=*/false) == "127.0.0.1:3128"
//   SelectProxy(u"http=127.0.0.1:3128", /*secure=*/true)  == ""  (direct)
//   EscapeRequestTarget("/a b?\xE4\xB8\xAD") == "/a%20b?%E4%B8%AD"
#ifndef TIMESYNC_PLATFORM_HTTP_SERVICE_LINUX_H_
#define TIMESYNC_PLATFORM_HTTP_SERVICE_LINUX_H_

#include <optional>
#include <string>
#include <string_view>

namespace timesync::platform {

// The proxy ("host:port", port 80 when the entry names none) that a request
// with the given scheme uses, "" for a direct request, or nullopt when the
// list is malformed. Entries are separated by ";" or white space and read
// "[scheme=][scheme://]host[:port]"; "http=" and "https=" (or an "http://" or
// "https://" prefix) restrict an entry to that scheme, other scheme names
// ("ftp=") are skipped, and the first entry that fits wins.
std::optional<std::string> SelectProxy(std::u16string_view proxyList, bool secure);

// `target` with every byte that may not stand in a request line (controls,
// space, bytes 0x7F-0xFF and "\"<>\\^`{|}") written as %XX.
std::string EscapeRequestTarget(std::string_view target);

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view characters);

}  // namespace timesync::platform

#endif  // TIMESYNC_PLATFORM_HTTP_SERVICE_LINUX_H_
