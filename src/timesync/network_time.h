// The network time: the Date header of one HEAD request to the time server,
// moved from GMT to local time by a fixed 8 hours.
//
//   const DateTime now = FetchNetworkTime();  // the clock is left alone
//   HttpDateToDateTime("Tue, 13 Jul 2021 20:30:15 GMT")  is 2021-07-14 04:30:15
//
// The offset is the same on every machine: the machine's own time zone is
// never consulted. When no date could be read the result is
// AddHours(MakeDateTime(0, 0, 0, 0, 0, 0), 8), a value below MinDateTime that
// every reader shows as 0100-01-01 00:00:00. FetchNetworkTimeWithOutcome also
// tells whether a date was received, whether it was read, and whether the
// clock was set.
#ifndef TIMESYNC_TIMESYNC_NETWORK_TIME_H_
#define TIMESYNC_TIMESYNC_NETWORK_TIME_H_

#include <cstdint>

#include "text/text.h"
#include "timesync/date_time.h"

namespace timesync {

// Hours added to the server's GMT time (China Standard Time).
inline constexpr std::int32_t LocalTimeOffsetHours = 8;

// The GMT date in `httpDate` plus 8 hours. Text the date parser cannot read
// gives the no-date value described above.
DateTime HttpDateToDateTime(const Text& httpDate);

// One HEAD request to DefaultTimeServerUrl (timesync/startup.h); the time of its Date header plus
// 8 hours. With `setClock` the system clock is set to that time, but only
// when a date was read from the reply.
DateTime FetchNetworkTime(bool setClock = false);

struct NetworkTimeOutcome {
  DateTime time = 0;          // what FetchNetworkTime returns
  bool dateReceived = false;  // the reply carried a non-empty Date header
  bool dateAccepted = false;  // the date parser read a whole date from it
  bool clockSet = false;      // the system clock was set to `time`
};

// FetchNetworkTime, telling what happened on the way.
NetworkTimeOutcome FetchNetworkTimeWithOutcome(bool setClock = false);

// The same for a response header block already at hand: status line first,
// lines ended by "\r\n".
NetworkTimeOutcome NetworkTimeFromHeaders(const Text& responseHeaders, bool setClock = false);

// The value of the first header line named "Date" in any letter case, with
// spaces and tabs around it removed; empty when there is none. Other headers
// that merely contain "Date:" (such as "X-Date:") do not count.
//   FindDateHeader("HTTP/1.1 200 OK\r\nX-Date: 1\r\ndate:  Tue\r\n") == "Tue"
Text FindDateHeader(const Text& responseHeaders);

}  // namespace timesync

#endif  // TIMESYNC_TIMESYNC_NETWORK_TIME_H_
