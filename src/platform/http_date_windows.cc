// The HTTP-date parser on Windows: the system's InternetTimeToSystemTime
// ("wininet.dll", bound late), checked against the text itself. The system
// call reports success even for text that holds no date (and may leave the
// current time in the record), so a result is accepted only when the text
// holds a day, a month, a year and an "hh:mm" time of day, and the system
// read those same values from it.
#include <windows.h>

#include <cctype>
#include <string>
#include <vector>

#include "platform/http_date.h"
#include "platform/late_binding_windows.h"

namespace timesync::platform {
namespace {

// The calendar values the text names, as far as it names them; -1 where not.
struct DateInText {
  int year = -1;
  bool twoDigitYear = false;
  int month = -1;
  int day = -1;
  int hour = -1;
  int minute = -1;
  int zoneMinutes = 0;  // a numeric zone such as "+0800": east of GMT positive
};

int MonthFromName(std::string_view word) {
  constexpr const char* kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                     "jul", "aug", "sep", "oct", "nov", "dec"};
  if (word.size() < 3) return -1;
  for (int i = 0; i < 12; ++i) {
    bool same = true;
    for (int k = 0; k < 3; ++k) {
      same = same && std::tolower(static_cast<unsigned char>(word[k])) == kMonths[i][k];
    }
    if (same) return i + 1;
  }
  return -1;
}

// Reads the forms HTTP servers send: RFC 1123 "Tue, 13 Jul 2021 05:00:00 GMT",
// RFC 850 "Tuesday, 13-Jul-21 05:00:00 GMT", asctime "Tue Jul 13 05:00:00 2021".
DateInText ReadDate(std::string_view text) {
  struct Token {
    std::string_view value;
    bool digits;
    char before;  // the character before the token, ' ' at the start
  };
  std::vector<Token> tokens;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool digit = std::isdigit(c) != 0;
    if (!digit && std::isalpha(c) == 0) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() &&
           (digit ? std::isdigit(static_cast<unsigned char>(text[end])) != 0
                  : std::isalpha(static_cast<unsigned char>(text[end])) != 0)) {
      ++end;
    }
    tokens.push_back({text.substr(i, end - i), digit, i > 0 ? text[i - 1] : ' '});
    i = end;
  }
  DateInText date;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    if (!t.digits) {
      if (date.month < 0) date.month = MonthFromName(t.value);
      continue;
    }
    if (t.value.size() > 4) continue;
    const int number = std::stoi(std::string(t.value));
    if (t.value.size() == 4 && (t.before == '+' || t.before == '-') && date.hour >= 0) {
      const int minutes = number / 100 * 60 + number % 100;
      date.zoneMinutes = t.before == '+' ? minutes : -minutes;
      continue;
    }
    const bool startsTime = i + 1 < tokens.size() && tokens[i + 1].digits &&
                            tokens[i + 1].before == ':' && t.before != ':';
    if (startsTime && date.hour < 0) {
      date.hour = number;
      date.minute = std::stoi(std::string(tokens[i + 1].value.substr(0, 2)));
      ++i;
      while (i + 1 < tokens.size() && tokens[i + 1].digits && tokens[i + 1].before == ':') ++i;
    } else if (t.value.size() == 4 && date.year < 0) {
      date.year = number;
    } else if (t.value.size() <= 2 && date.day < 0) {
      date.day = number;
    } else if (t.value.size() == 2 && date.year < 0) {
      date.year = number;
      date.twoDigitYear = true;
    }
  }
  return date;
}

bool Matches(const DateInText& date, const SYSTEMTIME& parsed) {
  if (date.year < 0 || date.month < 0 || date.day < 0 || date.hour < 0) return false;
  const bool yearMatches =
      date.twoDigitYear ? parsed.wYear % 100 == date.year : parsed.wYear == date.year;
  return yearMatches && parsed.wMonth == date.month && parsed.wDay == date.day &&
         parsed.wHour == date.hour && parsed.wMinute == date.minute;
}

// `fields` moved by `minutes`; false when the result is out of the calendar.
bool AddMinutes(SYSTEMTIME& fields, int minutes) {
  FILETIME file;
  if (!::SystemTimeToFileTime(&fields, &file)) return false;
  ULARGE_INTEGER steps;
  steps.LowPart = file.dwLowDateTime;
  steps.HighPart = file.dwHighDateTime;
  steps.QuadPart += static_cast<ULONGLONG>(static_cast<LONGLONG>(minutes) * 600000000LL);
  file.dwLowDateTime = steps.LowPart;
  file.dwHighDateTime = steps.HighPart;
  return ::FileTimeToSystemTime(&file, &fields) != FALSE;
}

// The GMT fields of the text, from what the system read: two-digit years are
// 1970-2069, and a numeric zone is taken off unless the system already did.
bool ToGmt(const DateInText& date, SYSTEMTIME& parsed) {
  if (date.twoDigitYear && parsed.wYear < 100) {
    parsed.wYear = static_cast<WORD>(date.year + (date.year >= 70 ? 1900 : 2000));
  }
  if (Matches(date, parsed)) return date.zoneMinutes == 0 || AddMinutes(parsed, -date.zoneMinutes);
  SYSTEMTIME asWritten = parsed;
  return date.zoneMinutes != 0 && AddMinutes(asWritten, date.zoneMinutes) &&
         Matches(date, asWritten);
}

}  // namespace

bool InternetTimeToSystemTime(std::string_view httpDate, SystemTimeFields& fields) {
  const std::string text(httpDate.substr(0, httpDate.find('\0')));
  if (text.empty()) return false;
  SYSTEMTIME parsed = {};
  if (!LateBound<kInternetTimeToSystemTime>()(text.c_str(), &parsed, 0)) return false;
  // The round trip through the calendar also sets the day of the week.
  if (!ToGmt(ReadDate(text), parsed) || !AddMinutes(parsed, 0)) return false;
  // Later than the start of 1970, as every date a server sends is.
  if (parsed.wYear < 1970 || (parsed.wYear == 1970 && parsed.wMonth == 1 && parsed.wDay == 1 &&
                              parsed.wHour == 0 && parsed.wMinute == 0 && parsed.wSecond == 0)) {
    return false;
  }
  fields.year = parsed.wYear;
  fields.month = parsed.wMonth;
  fields.dayOfWeek = parsed.wDayOfWeek;
  fields.day = parsed.wDay;
  fields.hour = parsed.wHour;
  fields.minute = parsed.wMinute;
  fields.second = parsed.wSecond;
  fields.milliseconds = 0;
  return true;
}

}  // namespace timesync::platform
