// The HTTP-date parser: GMT calendar fields from a date as servers send it.
//
// Accepts the three HTTP date forms and the lenient variants libcurl reads:
//
//   RFC 1123   "Tue, 13 Jul 2021 05:00:00 GMT"
//   RFC 850    "Tuesday, 13-Jul-21 05:00:00 GMT"   (two-digit years: 71..99 are 19xx, 00..70 20xx)
//   asctime    "Tue Jul 13 05:00:00 2021"          (no zone: GMT)
//
// A numeric zone ("+0800") is taken into account; the fields are always GMT.
//
//   SystemTimeFields t;  // all zero
//   InternetTimeToSystemTime("Tue, 13 Jul 2021 05:00:00 GMT", t) == true
//       // t is {2021, 7, 2 (Tuesday), 13, 5, 0, 0, 0}
//   InternetTimeToSystemTime("13 Jul 2021", t) == false  // no time of day
//   InternetTimeToSystemTime("Fr", t) == false           // t left as it was
#ifndef TIMESYNC_PLATFORM_HTTP_DATE_H_
#define TIMESYNC_PLATFORM_HTTP_DATE_H_

#include <string_view>

#include "platform/clock.h"

namespace timesync::platform {

// Returns true when `httpDate` holds a whole date: day, month, year and a time
// of day (hours and minutes at least), later than 1970-01-01 00:00:00 GMT. Only then are all eight
// fields written (milliseconds 0); otherwise `fields` is left exactly as it
// was. Bytes after a zero byte are not read.
bool InternetTimeToSystemTime(std::string_view httpDate, SystemTimeFields& fields);

}  // namespace timesync::platform

#endif  // TIMESYNC_PLATFORM_HTTP_DATE_H_
