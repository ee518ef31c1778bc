// Code page 936 through the system's own conversions (MultiByteToWideChar,
// WideCharToMultiByte, lstrlenW, strlen), bound late from the table. The code
// page is always 936 by number, whatever the system's ANSI code page is.
#include <windows.h>

#include <climits>
#include <string>

#include "platform/codepage.h"
#include "platform/late_binding_windows.h"

namespace timesync {
namespace platform {
namespace {

constexpr UINT kCodePage936 = 936;

bool FitsInInt(std::size_t size) { return size <= static_cast<std::size_t>(INT_MAX); }

std::u16string ToUtf16(UINT codePage, std::string_view bytes) {
  if (bytes.empty() || !FitsInInt(bytes.size())) return {};
  const auto convert = LateBound<kMultiByteToWideChar>();
  const int length = static_cast<int>(bytes.size());
  const int n = convert(codePage, 0, bytes.data(), length, nullptr, 0);
  if (n <= 0) return {};
  std::u16string out(static_cast<std::size_t>(n), u'\0');
  const int written =
      convert(codePage, 0, bytes.data(), length, reinterpret_cast<wchar_t*>(out.data()), n);
  out.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return out;
}

std::string FromUtf16(UINT codePage, std::u16string_view characters) {
  if (characters.empty() || !FitsInInt(characters.size())) return {};
  const auto convert = LateBound<kWideCharToMultiByte>();
  const auto* wide = reinterpret_cast<const wchar_t*>(characters.data());
  const int length = static_cast<int>(characters.size());
  const int n = convert(codePage, 0, wide, length, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  const int written = convert(codePage, 0, wide, length, out.data(), n, nullptr, nullptr);
  out.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return out;
}

}  // namespace

std::u16string Cp936ToUtf16(std::string_view bytes) { return ToUtf16(kCodePage936, bytes); }
std::string Utf16ToCp936(std::u16string_view characters) {
  return FromUtf16(kCodePage936, characters);
}

std::string Utf8ToCp936(std::string_view utf8) { return Utf16ToCp936(ToUtf16(CP_UTF8, utf8)); }
std::string Cp936ToUtf8(std::string_view bytes) { return FromUtf16(CP_UTF8, Cp936ToUtf16(bytes)); }

}  // namespace platform

ByteBuffer TextToWide(const Text& text) {
  // A Text holds no zero byte, so its C string is the whole text plus the terminator.
  if (text.empty()) return ByteBuffer();
  const auto convert = platform::LateBound<platform::kMultiByteToWideChar>();
  const int n = convert(platform::kCodePage936, 0, text.c_str(), -1, nullptr, 0);
  if (n <= 0) return ByteBuffer();
  std::string bytes(static_cast<std::size_t>(n) * 2, '\0');
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  convert(platform::kCodePage936, 0, text.c_str(), -1, wide.data(), n);
  for (std::size_t i = 0; i < wide.size(); ++i) {
    bytes[2 * i] = static_cast<char>(wide[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>((wide[i] >> 8) & 0xFF);
  }
  return ByteBuffer(std::move(bytes));
}

Text WideToText(const ByteBuffer& buffer) {
  // Whole characters only, then a terminating zero character.
  const std::string_view bytes = buffer.view();
  std::wstring wide(bytes.size() / 2 + 1, L'\0');
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    wide[i / 2] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                       (static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  if (platform::LateBound<platform::kLstrlenW>()(wide.c_str()) == 0) return Text();
  const auto convert = platform::LateBound<platform::kWideCharToMultiByte>();
  const int n = convert(platform::kCodePage936, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return Text();
  std::string out(static_cast<std::size_t>(n), '\0');
  convert(platform::kCodePage936, 0, wide.c_str(), -1, out.data(), n, nullptr, nullptr);
  // The conversion ends at the first zero character; its bytes end at the first zero byte.
  out.resize(platform::LateBound<platform::kStrlen>()(out.c_str()));
  return Text::FromString(std::move(out));
}

}  // namespace timesync
