#include "web/request_headers.h"

#include <string>

namespace timesync {
namespace {

constexpr std::int32_t kPostMethod = 1;

struct DefaultHeader {
  const char* searchedFor;  // matched anywhere in the block, ignoring case
  const char* line;
  bool postOnly;
};

// Searched in this order; a line appended for one row counts for the next.
constexpr DefaultHeader kDefaultHeaders[] = {
    {"User-Agent: ",
     "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n",
     false},
    {"Accept: ", "Accept: text/html, application/xhtml+xml, */*\r\n", false},
    {"Accept-Encoding: ", "Accept-Encoding: gbk, GB2312\r\n", false},
    {"Accept-Language: ", "Accept-Language: zh-cn\r\n", false},
    // Without the space after the colon, so "content-type:x" counts too.
    {"Content-Type:", "Content-Type: application/x-www-form-urlencoded\r\n", true},
    {"Cache-Control: ", "Cache-Control: no-cache\r\n", false},
};

Text CapitalizeName(const Text& name) {
  if (Find(name, "-") == -1) return CapitalizeFirst(name);
  const TextArray parts = Split(name, "-");
  std::string capitalised;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) capitalised += '-';
    capitalised += CapitalizeFirst(parts[i]).bytes();
  }
  return Text::FromString(std::move(capitalised));
}

}  // namespace

Text BuildRequestHeaders(const Text& extraHeaders, std::int32_t method, const Text& cookies,
                         bool defaultHeaders, bool normalizeHeaders) {
  Text block = extraHeaders;
  if (!block.empty()) block = Concat(block, "\r\n");

  if (defaultHeaders) {
    for (const DefaultHeader& header : kDefaultHeaders) {
      if (header.postOnly && method != kPostMethod) continue;
      if (Find(block, header.searchedFor, 1, /*ignoreCase=*/true) == -1) {
        block = Concat(block, header.line);
      }
    }
  }

  if (normalizeHeaders) block = NormalizeHeaderNames(block);

  if (Find(block, "Connection") != -1 &&
      GetHeaderValue(block, "Connection") == Text("keep-alive")) {
    block = Replace(block, "Connection: keep-alive\r\n");
  }

  if (Find(block, "Cookie:", 1, /*ignoreCase=*/true) == -1 && !cookies.empty()) {
    if (Find(cookies, "Cookie:", 1, /*ignoreCase=*/true) == -1) {
      block = Concat(block, "\r\nCookie: ", cookies, "\r\n");
    } else {
      block = Concat(block, "\r\n", cookies, "\r\n");
    }
  }
  return block;
}

Text NormalizeHeaderNames(const Text& block) {
  std::string result;
  for (const Text& line : Split(block, "\r\n")) {
    const std::int64_t colon = Find(line, ":");
    if (colon == -1) continue;  // also every empty line
    const Text name = Mid(line, 1, colon - 1);
    const Text capitalised = CapitalizeName(name);
    // A name ending in "-" loses that "-" above and gets it back here.
    const Text rest = Right(line, TextLength(line) - TextLength(capitalised));
    result += capitalised.bytes();
    result += rest.bytes();
    result += "\r\n";
  }
  const auto length = static_cast<std::int64_t>(result.size());
  return Left(Text::FromString(std::move(result)), length - 2);
}

Text CapitalizeFirst(const Text& text) {
  return Concat(ToUpper(Left(text, 1)), Mid(text, 2, TextLength(text)));
}

}  // namespace timesync
