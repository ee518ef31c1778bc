#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <iostream>

#include "console_output.h"
#include "platform/codepage.h"

namespace timesync::webrequest {
namespace {

constexpr DWORD kConsoleChunk = 8192;  // characters per WriteConsoleW call

std::u16string Utf8ToUtf16(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), n);
  return std::u16string(wide.begin(), wide.end());
}

std::string Utf16ToUtf8(const wchar_t* wide) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string utf8(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), n, nullptr, nullptr);
  utf8.resize(static_cast<std::size_t>(n) - 1);
  return utf8;
}

bool WriteConsole(HANDLE console, std::u16string_view characters) {
  while (!characters.empty()) {
    const DWORD count =
        characters.size() < kConsoleChunk ? static_cast<DWORD>(characters.size()) : kConsoleChunk;
    DWORD written = 0;
    if (!::WriteConsoleW(console, characters.data(), count, &written, nullptr) || written == 0) {
      return false;
    }
    characters.remove_prefix(written);
  }
  return true;
}

bool WriteBytes(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written == 0) {
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

}  // namespace

bool WriteOutput(OutputStream stream, std::string_view text, OutputEncoding encoding) {
  // What the C++ streams hold (CLI11's messages) goes first, in order.
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  const HANDLE handle = ::GetStdHandle(stream == OutputStream::kStandardOutput ? STD_OUTPUT_HANDLE
                                                                               : STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  DWORD mode = 0;
  if (::GetConsoleMode(handle, &mode)) {
    return WriteConsole(handle, encoding == OutputEncoding::kCp936 ? platform::Cp936ToUtf16(text)
                                                                   : Utf8ToUtf16(text));
  }
  return WriteBytes(handle, text);
}

std::vector<std::string> ArgumentsInUtf8(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr || count != argc) {
    if (wide != nullptr) ::LocalFree(wide);
    return std::vector<std::string>(argv, argv + argc);
  }
  std::vector<std::string> arguments;
  arguments.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) arguments.push_back(Utf16ToUtf8(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

std::filesystem::path PathFromArgument(const std::string& utf8) {
  const std::u16string wide = Utf8ToUtf16(utf8);
  return std::filesystem::path(std::wstring(wide.begin(), wide.end()));
}

}  // namespace timesync::webrequest
