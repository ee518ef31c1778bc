#include <curl/curl.h>
#include <time.h>

#include <cctype>
#include <string>

#include "platform/http_date.h"

namespace timesync::platform {
namespace {

// libcurl reads a date without a time of day as midnight; a clock must not be
// set from that, so a "digits:digits" time has to be present.
bool HasTimeOfDay(std::string_view text) {
  for (std::size_t colon = text.find(':'); colon != std::string_view::npos;
       colon = text.find(':', colon + 1)) {
    if (colon > 0 && colon + 1 < text.size() &&
        std::isdigit(static_cast<unsigned char>(text[colon - 1])) != 0 &&
        std::isdigit(static_cast<unsigned char>(text[colon + 1])) != 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool InternetTimeToSystemTime(std::string_view httpDate, SystemTimeFields& fields) {
  const std::string text(httpDate.substr(0, httpDate.find('\0')));
  if (text.empty() || !HasTimeOfDay(text)) return false;
  // curl_getdate gives -1 for text it cannot read and 0 for every date up to
  // the start of 1970, so neither is a time that was read.
  const time_t seconds = curl_getdate(text.c_str(), nullptr);
  if (seconds <= 0) return false;
  tm gmt{};
  if (gmtime_r(&seconds, &gmt) == nullptr) return false;
  fields.year = gmt.tm_year + 1900;
  fields.month = gmt.tm_mon + 1;
  fields.dayOfWeek = gmt.tm_wday;
  fields.day = gmt.tm_mday;
  fields.hour = gmt.tm_hour;
  fields.minute = gmt.tm_min;
  fields.second = gmt.tm_sec;
  fields.milliseconds = 0;
  return true;
}

}  // namespace timesync::platform
