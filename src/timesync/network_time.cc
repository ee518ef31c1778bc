#include "timesync/network_time.h"

#include <string_view>

#include "platform/clock.h"
#include "platform/http_date.h"
#include "timesync/startup.h"
#include "web/web_request.h"

namespace timesync {
namespace {

struct ParsedDate {
  DateTime time;
  bool accepted;
};

ParsedDate ParseHttpDate(const Text& httpDate) {
  // The record starts all zero; fields the parser does not write stay 0, so
  // an unreadable date gives 0100-01-01 00:00:00 before the offset.
  platform::SystemTimeFields fields;
  const bool accepted = platform::InternetTimeToSystemTime(httpDate.view(), fields);
  const DateTime gmt = MakeDateTime(fields.year, fields.month, fields.day, fields.hour,
                                    fields.minute, fields.second);
  return {AddHours(gmt, LocalTimeOffsetHours), accepted};
}

std::string_view TrimBlanks(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos)
    return text.substr(text.size());  // empty, but still pointing into `text`
  const std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

bool IsDateName(std::string_view name) {
  constexpr std::string_view kDate = "date";
  if (name.size() != kDate.size()) return false;
  for (std::size_t i = 0; i < kDate.size(); ++i) {
    const char c = name[i];
    const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower != kDate[i]) return false;
  }
  return true;
}

}  // namespace

Text FindDateHeader(const Text& responseHeaders) {
  std::string_view rest = responseHeaders.view();
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    if (IsDateName(TrimBlanks(line.substr(0, colon)))) {
      return Text(TrimBlanks(line.substr(colon + 1)));
    }
  }
  return Text();
}

DateTime HttpDateToDateTime(const Text& httpDate) { return ParseHttpDate(httpDate).time; }

NetworkTimeOutcome NetworkTimeFromHeaders(const Text& responseHeaders, bool setClock) {
  const Text dateText = FindDateHeader(responseHeaders);
  const ParsedDate parsed = ParseHttpDate(dateText);
  NetworkTimeOutcome outcome;
  outcome.time = parsed.time;
  outcome.dateReceived = !dateText.empty();
  outcome.dateAccepted = parsed.accepted;
  // A time that was not read from the reply never reaches the clock.
  if (setClock && outcome.dateAccepted) outcome.clockSet = SetSystemClock(outcome.time);
  return outcome;
}

NetworkTimeOutcome FetchNetworkTimeWithOutcome(bool setClock) {
  Text responseHeaders;
  WebRequestArgs args;  // every parameter not named here is omitted
  args.url = DefaultTimeServerUrl;
  args.method = 2;  // HEAD
  args.responseHeaders = &responseHeaders;
  WebRequest(args);  // the page text and every other output are not needed
  return NetworkTimeFromHeaders(responseHeaders, setClock);
}

DateTime FetchNetworkTime(bool setClock) { return FetchNetworkTimeWithOutcome(setClock).time; }

}  // namespace timesync
