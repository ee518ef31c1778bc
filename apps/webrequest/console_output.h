// Where webrequest's text goes, and where its arguments come from, on each
// platform.
//
// The engine's text is in code page 936. On Linux it is printed in UTF-8, the
// terminal's and the pipes' usual encoding. On Windows a console is written in
// UTF-16 (WriteConsoleW), so Chinese shows whatever the console's code page;
// a file or a pipe gets the bytes as they are, with no line-end translation:
// code page 936 for the engine's text (what a Chinese Windows system's own
// tools read and write), UTF-8 for JSON.
//
//   WriteOutput(OutputStream::kStandardOutput, page.view(), OutputEncoding::kCp936);
//   WriteOutput(OutputStream::kStandardOutput, json, OutputEncoding::kUtf8);
//
//   const std::vector<std::string> arguments = ArgumentsInUtf8(argc, argv);
#ifndef TIMESYNC_APPS_WEBREQUEST_CONSOLE_OUTPUT_H_
#define TIMESYNC_APPS_WEBREQUEST_CONSOLE_OUTPUT_H_

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace timesync::webrequest {

enum class OutputStream { kStandardOutput, kStandardError };
enum class OutputEncoding { kCp936, kUtf8 };

// Writes `text`, held in `encoding`, to the stream as described above. False
// when the stream refused it.
bool WriteOutput(OutputStream stream, std::string_view text, OutputEncoding encoding);

// The program's arguments (argv[0] first) in UTF-8. Linux: argv as given.
// Windows: the wide command line, since argv holds the ANSI code page's bytes
// and loses what that code page cannot hold.
std::vector<std::string> ArgumentsInUtf8(int argc, char** argv);

// A file name given as an argument (UTF-8) as a path to open. Linux: the bytes
// as they are. Windows: the characters, whatever the ANSI code page holds.
std::filesystem::path PathFromArgument(const std::string& utf8);

}  // namespace timesync::webrequest

#endif  // TIMESYNC_APPS_WEBREQUEST_CONSOLE_OUTPUT_H_
