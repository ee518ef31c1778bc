// Feeds response header blocks to the Date header lookup and the date parser
// (the clock is never set), and arbitrary fields and values to the date-time
// operations, checking the ranges every result must keep.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "text/text.h"
#include "timesync/date_time.h"
#include "timesync/network_time.h"

namespace timesync {
namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckReaders(DateTime value) {
  const int year = GetYear(value), month = GetMonth(value), day = GetDay(value);
  const int hour = GetHour(value), minute = GetMinute(value), second = GetSecond(value);
  Check(year >= 100 && year <= 9999);
  Check(month >= 1 && month <= 12 && day >= 1 && day <= 31);
  Check(hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59);
  // The readers' fields, laid out, are what FormatDateTime gives.
  const Text laidOut = FormatDateTime(value, "-", ":", DateTimeLayout::DateAndTime);
  char expected[64];
  std::snprintf(expected, sizeof expected, "%d-%02d-%02d %02d:%02d:%02d", year, month, day, hour,
                minute, second);
  Check(laidOut == Text(expected));
}

void FuzzHeaders(const std::string& block) {
  const Text headers(block);
  const Text date = FindDateHeader(headers);
  Check(date.view().find('\n') == std::string_view::npos);  // one line's value
  Check(date.empty() || (date.view().front() != ' ' && date.view().back() != ' '));
  const NetworkTimeOutcome outcome = NetworkTimeFromHeaders(headers, /*setClock=*/false);
  Check(!outcome.clockSet);
  Check(outcome.dateReceived == !date.empty());
  Check(!outcome.dateAccepted || outcome.dateReceived);
  if (!outcome.dateAccepted) {
    Check(outcome.time == AddHours(MakeDateTime(0, 0, 0, 0, 0, 0), LocalTimeOffsetHours));
  }
  CheckReaders(outcome.time);
}

void FuzzDateTime(FuzzedDataProvider& data) {
  const DateTime made =
      MakeDateTime(data.ConsumeIntegral<std::int32_t>(), data.ConsumeIntegral<std::int32_t>(),
                   data.ConsumeIntegral<std::int32_t>(), data.ConsumeIntegral<std::int32_t>(),
                   data.ConsumeIntegral<std::int32_t>(), data.ConsumeIntegral<std::int32_t>());
  Check(made >= MinDateTime - 1 && made < MaxDateTime + 1);
  CheckReaders(made);
  double value = 0;
  const std::string bits = data.ConsumeBytesAsString(sizeof value);
  std::memcpy(&value, bits.data(), bits.size());
  const DateTime same = AddHours(value, 0);
  Check(std::memcmp(&same, &value, sizeof value) == 0);
  CheckReaders(value);
  CheckReaders(AddHours(value, data.ConsumeIntegral<std::int32_t>()));
  const auto layout = static_cast<DateTimeLayout>(data.ConsumeIntegral<std::int32_t>());
  const Text text = FormatDateTime(value, Text(data.ConsumeRandomLengthString(8)),
                                   Text(data.ConsumeRandomLengthString(8)), layout);
  const auto code = static_cast<std::int32_t>(layout);
  Check((code >= 1 && code <= 4) != text.empty());
}

}  // namespace
}  // namespace timesync

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  if (data.ConsumeBool()) {
    timesync::FuzzHeaders(data.ConsumeRemainingBytesAsString());
  } else {
    timesync::FuzzDateTime(data);
  }
  return 0;
}
