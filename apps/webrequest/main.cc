// webrequest: one request through the engine, from the command line.
//
//   webrequest https://example.com/                      # prints the page text
//   webrequest https://example.com/ --method HEAD -i     # the raw response headers
//   webrequest http://127.0.0.1:8080/api --method POST --body '{"a":1}'
//       -H 'Content-Type: application/json' --json       # every output as one JSON object
//
// Arguments arrive in UTF-8 (on Windows: from the wide command line) and go to
// the engine in code page 936. What it hands back is printed as console_output.h
// says: UTF-8 on Linux; on Windows UTF-16 to a console, the code page 936 bytes
// to a file or pipe. --body-file is sent as raw bytes.
// Exit status: 0 when the response headers were read, 1 when the engine
// reported a failure (its message goes to stderr), 2 for a usage error.
#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console_output.h"
#include "platform/codepage.h"
#include "text/text.h"
#include "web/web_request.h"

namespace timesync {
namespace {

constexpr int kExitHeadersRead = 0;
constexpr int kExitEngineFailure = 1;
constexpr int kExitUsage = 2;

constexpr std::string_view kVerbs[] = {"GET",     "POST",   "HEAD",  "PUT",
                                       "OPTIONS", "DELETE", "TRACE", "CONNECT"};

// "2", "post" or "POST" as the engine's method index; empty when it is neither
// an index 0-7 nor one of the verbs.
std::optional<std::int32_t> MethodIndex(std::string_view given) {
  if (given.size() == 1 && given[0] >= '0' && given[0] <= '7') return given[0] - '0';
  for (std::int32_t index = 0; index < 8; ++index) {
    const std::string_view verb = kVerbs[index];
    bool same = verb.size() == given.size();
    for (std::size_t i = 0; same && i < verb.size(); ++i) {
      const char c = given[i];
      same = (c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c) == verb[i];
    }
    if (same) return index;
  }
  return std::nullopt;
}

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string encoded;
  encoded.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t group =
        static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
        static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
        static_cast<unsigned char>(bytes[i + 2]);
    encoded += kDigits[group >> 18];
    encoded += kDigits[(group >> 12) & 63];
    encoded += kDigits[(group >> 6) & 63];
    encoded += kDigits[group & 63];
  }
  if (i < bytes.size()) {
    const bool two = i + 1 < bytes.size();
    const std::uint32_t group =
        static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
        (two ? static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8 : 0);
    encoded += kDigits[group >> 18];
    encoded += kDigits[(group >> 12) & 63];
    encoded += two ? kDigits[(group >> 6) & 63] : '=';
    encoded += '=';
  }
  return encoded;
}

// Command-line UTF-8 as a Text in code page 936.
Text FromArgument(std::string_view utf8) { return Text::FromString(platform::Utf8ToCp936(utf8)); }
std::string ToUtf8(const Text& text) { return platform::Cp936ToUtf8(text.view()); }

bool Print(const Text& text) {
  return webrequest::WriteOutput(webrequest::OutputStream::kStandardOutput, text.view(),
                                 webrequest::OutputEncoding::kCp936);
}

struct CommandLine {
  std::string url;
  std::string method = "0";
  std::string body;
  std::optional<std::string> bodyFile;
  std::string cookies;
  std::string responseCookies;
  std::string extraHeaders;
  std::vector<std::string> headerLines;
  bool refuseRedirects = false;
  std::string userName;
  std::string password;
  std::string proxy;
  std::string proxyUserName;
  std::string proxyPassword;
  std::int32_t timeoutSeconds = 0;
  bool noMergeCookies = false;
  bool noDefaultHeaders = false;
  bool noNormalizeHeaders = false;
  bool includeHeaders = false;
  bool json = false;
};

int Run(int argc, char** argv) {
  std::vector<std::string> arguments = webrequest::ArgumentsInUtf8(argc, argv);
  std::vector<char*> argumentPointers;
  for (std::string& argument : arguments) argumentPointers.push_back(argument.data());
  argumentPointers.push_back(nullptr);

  CLI::App app(
      "Performs one HTTP or HTTPS request and prints the page text.\n"
      "Exit status: 0 when the response headers were read, 1 when the request failed "
      "(the message goes to stderr), 2 for a usage error.",
      "webrequest");
  app.set_version_flag("--version", std::string("webrequest ") + TIMESYNC_VERSION);
  CommandLine line;
  app.add_option("url", line.url, "http:// or https:// URL")->required();
  app.add_option("--method", line.method,
                 "method: an index 0-7 or GET, POST, HEAD, PUT, OPTIONS, DELETE, TRACE, CONNECT")
      ->capture_default_str();
  app.add_option("--body", line.body, "request body as text");
  app.add_option("--body-file", line.bodyFile,
                 "request body as the bytes of a file (wins over --body)");
  app.add_option("--cookies", line.cookies, "cookies to send, \"name=value; name2=value2\"");
  app.add_option("--response-cookies", line.responseCookies,
                 "text the server's cookies are appended to");
  app.add_option("--extra-headers", line.extraHeaders,
                 "extra request header lines, separated by CR LF");
  app.add_option("-H,--header", line.headerLines, "one extra request header line (repeatable)")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_flag("--refuse-redirects", line.refuseRedirects, "do not follow redirects");
  app.add_option("--user-name", line.userName, "user name for the server (Basic)");
  app.add_option("--password", line.password, "password for the server");
  app.add_option("--proxy", line.proxy, "proxy, \"host:port\"");
  app.add_option("--proxy-user-name", line.proxyUserName, "user name for the proxy (Basic)");
  app.add_option("--proxy-password", line.proxyPassword, "password for the proxy");
  app.add_option("--timeout-seconds", line.timeoutSeconds,
                 "time-out of each phase in seconds; 0 or less means 30")
      ->capture_default_str();
  app.add_flag("--no-merge-cookies", line.noMergeCookies,
               "do not merge the cookies sent with those the server sets");
  app.add_flag("--no-default-headers", line.noDefaultHeaders,
               "do not add the default request headers");
  app.add_flag("--no-normalize-headers", line.noNormalizeHeaders,
               "send header names as given, not in capitalised form");
  app.add_flag("-i,--include", line.includeHeaders, "print the raw response headers first");
  app.add_flag("--json", line.json, "print every output as one JSON object");
  try {
    app.parse(static_cast<int>(arguments.size()), argumentPointers.data());
  } catch (const CLI::ParseError& error) {
    const int code = app.exit(error);  // prints help, the version, or the error
    return code == 0 ? 0 : kExitUsage;
  }

  const std::optional<std::int32_t> method = MethodIndex(line.method);
  if (!method) {
    webrequest::WriteOutput(
        webrequest::OutputStream::kStandardError,
        "webrequest: --method must be an index 0-7 or a verb name, not \"" + line.method + "\"\n",
        webrequest::OutputEncoding::kUtf8);
    return kExitUsage;
  }

  WebRequestArgs args;
  args.url = FromArgument(line.url);
  args.method = *method;
  args.body = FromArgument(line.body);
  if (line.bodyFile) {
    std::ifstream file(webrequest::PathFromArgument(*line.bodyFile), std::ios::binary);
    if (!file) {
      webrequest::WriteOutput(webrequest::OutputStream::kStandardError,
                              "webrequest: cannot read --body-file \"" + *line.bodyFile + "\"\n",
                              webrequest::OutputEncoding::kUtf8);
      return kExitUsage;
    }
    args.bodyBytes = ByteBuffer(
        std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()));
  }
  std::string headers = line.extraHeaders;
  for (const std::string& header : line.headerLines) {
    if (!headers.empty()) headers += "\r\n";
    headers += header;
  }
  args.extraHeaders = FromArgument(headers);
  Text cookies = FromArgument(line.cookies);
  Text responseCookies = FromArgument(line.responseCookies);
  Text responseHeaders;
  Text location;
  Text status;
  ByteBuffer responseBytes;
  args.cookies = &cookies;
  args.responseCookies = &responseCookies;
  args.responseHeaders = &responseHeaders;
  args.refuseRedirects = line.refuseRedirects;
  args.userName = FromArgument(line.userName);
  args.password = FromArgument(line.password);
  args.proxy = FromArgument(line.proxy);
  args.proxyUserName = FromArgument(line.proxyUserName);
  args.proxyPassword = FromArgument(line.proxyPassword);
  args.timeoutSeconds = line.timeoutSeconds;
  args.location = &location;
  args.status = &status;
  args.responseBytes = &responseBytes;
  args.mergeCookies = !line.noMergeCookies;
  args.defaultHeaders = !line.noDefaultHeaders;
  args.normalizeHeaders = !line.noNormalizeHeaders;

  const Text result = WebRequest(args);
  // A header query that succeeded always leaves at least the status line.
  const bool headersRead = !responseHeaders.empty();

  if (line.json) {
    nlohmann::ordered_json output;
    output["result"] = ToUtf8(result);
    output["status"] = ToUtf8(status);
    output["responseHeaders"] = ToUtf8(responseHeaders);
    output["cookies"] = ToUtf8(cookies);
    output["responseCookies"] = ToUtf8(responseCookies);
    output["location"] = ToUtf8(location);
    output["responseBytes"] = Base64(responseBytes.bytes());
    webrequest::WriteOutput(
        webrequest::OutputStream::kStandardOutput,
        output.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n",
        webrequest::OutputEncoding::kUtf8);
  } else if (headersRead) {
    if (line.includeHeaders) Print(responseHeaders);
    Print(result);
  }
  std::cout.flush();
  if (!headersRead) {
    const Text message = Concat(
        "webrequest: ", status.empty() ? Text("no response headers were read") : status, "\n");
    webrequest::WriteOutput(webrequest::OutputStream::kStandardError, message.view(),
                            webrequest::OutputEncoding::kCp936);
    return kExitEngineFailure;
  }
  return kExitHeadersRead;
}

}  // namespace
}  // namespace timesync

int main(int argc, char** argv) { return timesync::Run(argc, argv); }
