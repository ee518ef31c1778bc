#include <iostream>

#include "console_output.h"
#include "platform/codepage.h"

namespace timesync::webrequest {

bool WriteOutput(OutputStream stream, std::string_view text, OutputEncoding encoding) {
  std::ostream& out = stream == OutputStream::kStandardOutput ? std::cout : std::cerr;
  if (encoding == OutputEncoding::kCp936) {
    out << platform::Cp936ToUtf8(text);
  } else {
    out << text;
  }
  return static_cast<bool>(out);
}

std::vector<std::string> ArgumentsInUtf8(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

std::filesystem::path PathFromArgument(const std::string& utf8) { return utf8; }

}  // namespace timesync::webrequest
