#include "web/request_headers.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

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

// NormalizeHeaderNames for a block of ASCII bytes only, where every byte is a
// character of its own: one pass over the bytes, the same result as the
// general path. No value when the block holds any other byte.
std::optional<Text> NormalizeAsciiHeaderNames(std::string_view block) {
  if (std::any_of(block.begin(), block.end(),
                  [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
    return std::nullopt;
  }
  const auto upperCased = [](char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  };
  std::string result;
  result.reserve(block.size() + 2);
  for (std::size_t start = 0; start < block.size();) {
    std::size_t end = block.find("\r\n", start);
    if (end == std::string_view::npos) end = block.size();
    const std::string_view line = block.substr(start, end - start);
    start = end + 2;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;  // also every empty line
    const std::size_t first = result.size();
    result.append(line);
    result += "\r\n";
    if (colon > 0) result[first] = upperCased(result[first]);
    for (std::size_t i = first; i + 1 < first + colon; ++i) {
      if (result[i] == '-') result[i + 1] = upperCased(result[i + 1]);
    }
  }
  if (result.size() >= 2) result.resize(result.size() - 2);
  return Text::FromString(std::move(result));
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
  if (std::optional<Text> ascii = NormalizeAsciiHeaderNames(block.view())) return *std::move(ascii);
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
