// webrequest's output on Windows: characters to a console, the bytes as they
// are to a pipe or file.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <string_view>

#include "console_output.h"
#include "platform/under_wine_windows.h"

namespace timesync::webrequest {
namespace {

using ::timesync::testing::UnderWine;

// Points standard output (or error) at `handle` for the life of the object.
class StandardHandleSwap {
 public:
  StandardHandleSwap(DWORD which, HANDLE handle) : which_(which), saved_(::GetStdHandle(which)) {
    ::SetStdHandle(which_, handle);
  }
  ~StandardHandleSwap() { ::SetStdHandle(which_, saved_); }
  StandardHandleSwap(const StandardHandleSwap&) = delete;
  StandardHandleSwap& operator=(const StandardHandleSwap&) = delete;

 private:
  DWORD which_;
  HANDLE saved_;
};

struct OutputCase {
  const char* name;
  OutputStream stream;
  OutputEncoding encoding;
  std::string text;
  std::u16string onConsole;  // the characters a console shows
};

const OutputCase kCases[] = {
    // 中文, then a line end the console must not see doubled
    {"Cp936ToStandardOutput", OutputStream::kStandardOutput, OutputEncoding::kCp936,
     "\xD6\xD0\xCE\xC4 ok\r\n", u"\u4E2D\u6587 ok"},
    {"Utf8ToStandardOutput", OutputStream::kStandardOutput, OutputEncoding::kUtf8,
     "{\"a\":\"\xE4\xB8\xAD\xE6\x96\x87\"}\n", u"{\"a\":\"\u4E2D\u6587\"}"},
    // 711 发送请求失败!
    {"Cp936ToStandardError", OutputStream::kStandardError, OutputEncoding::kCp936,
     "711 \xB7\xA2\xCB\xCD\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC!\n",
     u"711 \u53D1\u9001\u8BF7\u6C42\u5931\u8D25!"},
};

DWORD StandardHandleOf(OutputStream stream) {
  return stream == OutputStream::kStandardOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
}

// A screen buffer of the test's own, to be read back cell by cell.
HANDLE NewScreenBuffer() {
  return ::CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     CONSOLE_TEXTMODE_BUFFER, nullptr);
}

class ConsoleOutputTest : public ::testing::TestWithParam<OutputCase> {};

TEST_P(ConsoleOutputTest, AConsoleGetsTheCharacters) {
  const OutputCase& c = GetParam();
  HANDLE buffer = NewScreenBuffer();
  if (buffer == INVALID_HANDLE_VALUE && UnderWine()) {
    GTEST_SKIP() << "Wine gives a program without a terminal no console it can write to "
                    "(webrequest_exe_test checks webrequest.exe on a terminal instead)";
  }
  if (buffer == INVALID_HANDLE_VALUE) {
    // Started without a console: make one, keeping the standard handles as they are.
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    ASSERT_TRUE(::AllocConsole()) << ::GetLastError();
    ::SetStdHandle(STD_OUTPUT_HANDLE, out);
    ::SetStdHandle(STD_ERROR_HANDLE, err);
    ::SetStdHandle(STD_INPUT_HANDLE, in);
    buffer = NewScreenBuffer();
  }
  ASSERT_NE(buffer, INVALID_HANDLE_VALUE) << ::GetLastError();
  {
    const StandardHandleSwap swap(StandardHandleOf(c.stream), buffer);
    EXPECT_TRUE(WriteOutput(c.stream, c.text, c.encoding));
  }
  wchar_t cells[80] = {};
  DWORD read = 0;
  ASSERT_TRUE(::ReadConsoleOutputCharacterW(buffer, cells, 80, COORD{0, 0}, &read));
  ::CloseHandle(buffer);
  // A wide character may fill two cells; each is read back as the character.
  std::u16string shown;
  for (DWORD i = 0; i < read; ++i) {
    const auto character = static_cast<char16_t>(cells[i]);
    if (character >= 0x2E80 && !shown.empty() && shown.back() == character) continue;
    shown.push_back(character);
  }
  shown.erase(shown.find_last_not_of(u' ') + 1);
  EXPECT_EQ(shown, c.onConsole);
}

TEST_P(ConsoleOutputTest, APipeGetsTheBytesUnchanged) {
  const OutputCase& c = GetParam();
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  ASSERT_TRUE(::CreatePipe(&readEnd, &writeEnd, nullptr, 1 << 16));
  {
    const StandardHandleSwap swap(StandardHandleOf(c.stream), writeEnd);
    EXPECT_TRUE(WriteOutput(c.stream, c.text, c.encoding));
  }
  ::CloseHandle(writeEnd);
  std::string received;
  char chunk[4096];
  DWORD count = 0;
  while (::ReadFile(readEnd, chunk, sizeof chunk, &count, nullptr) && count > 0) {
    received.append(chunk, count);
  }
  ::CloseHandle(readEnd);
  EXPECT_EQ(received, c.text);
}

INSTANTIATE_TEST_SUITE_P(Streams, ConsoleOutputTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<OutputCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace timesync::webrequest
