// The start sequence: fetch the network time, set the clock, show the notice.
//
//   int main() { return ProgramEntry(); }  // 0 whatever the fetch gave
//
// The notice names the outcome plainly, in code page 936:
//
//   clock set          "校时完毕"  "时间校正完毕，当前时间：2021-07-14 04:30:15"
//   no date read       "校时失败"  "时间校正失败：未能获取网络时间"
//   date unreadable    "校时失败"  "时间校正失败：无法识别网络时间"
//   clock refused      "校时失败"  "时间校正失败：系统拒绝修改时间，网络时间：2021-07-14 04:30:15"
//
// and closes by itself after NoticeTimeoutMilliseconds.
#ifndef TIMESYNC_TIMESYNC_STARTUP_H_
#define TIMESYNC_TIMESYNC_STARTUP_H_

#include <cstdint>

#include "text/text.h"
#include "timesync/network_time.h"

namespace timesync {

// The root URL of the time server: a well-known public HTTPS server in
// mainland China whose replies carry a Date header.
inline constexpr const char* DefaultTimeServerUrl = "https://www.baidu.com";

inline constexpr int NoticeTimeoutMilliseconds = 1000;

// 校时完毕
inline constexpr const char* kNoticeCaptionDone = "\xD0\xA3\xCA\xB1\xCD\xEA\xB1\xCF";
// 时间校正完毕，当前时间：
inline constexpr const char* kNoticeTextDone =
    "\xCA\xB1\xBC\xE4\xD0\xA3\xD5\xFD\xCD\xEA\xB1\xCF\xA3\xAC\xB5\xB1\xC7\xB0\xCA\xB1\xBC\xE4\xA3"
    "\xBA";
// 校时失败
inline constexpr const char* kNoticeCaptionFailed = "\xD0\xA3\xCA\xB1\xCA\xA7\xB0\xDC";
// 时间校正失败：未能获取网络时间
inline constexpr const char* kNoticeTextNoDate =
    "\xCA\xB1\xBC\xE4\xD0\xA3\xD5\xFD\xCA\xA7\xB0\xDC\xA3\xBA\xCE\xB4\xC4\xDC\xBB\xF1\xC8\xA1\xCD"
    "\xF8\xC2\xE7\xCA\xB1\xBC\xE4";
// 时间校正失败：无法识别网络时间
inline constexpr const char* kNoticeTextUnreadableDate =
    "\xCA\xB1\xBC\xE4\xD0\xA3\xD5\xFD\xCA\xA7\xB0\xDC\xA3\xBA\xCE\xDE\xB7\xA8\xCA\xB6\xB1\xF0\xCD"
    "\xF8\xC2\xE7\xCA\xB1\xBC\xE4";
// 时间校正失败：系统拒绝修改时间，网络时间：
inline constexpr const char* kNoticeTextRefused =
    "\xCA\xB1\xBC\xE4\xD0\xA3\xD5\xFD\xCA\xA7\xB0\xDC\xA3\xBA\xCF\xB5\xCD\xB3\xBE\xDC\xBE\xF8\xD0"
    "\xDE\xB8\xC4\xCA\xB1\xBC\xE4\xA3\xAC\xCD\xF8\xC2\xE7\xCA\xB1\xBC\xE4\xA3\xBA";

struct Notice {
  Text caption;
  Text text;
};

// The notice for an outcome of the network time fetch (table above; the time
// in layout 3).
Notice NoticeForOutcome(const NetworkTimeOutcome& outcome);

// Fetches the network time, sets the clock from it and shows the notice,
// which blocks for at most NoticeTimeoutMilliseconds. Always returns 0.
std::int32_t StartupRoutine();

// Runs StartupRoutine once and returns 0: the program's exit status.
std::int32_t ProgramEntry();

}  // namespace timesync

#endif  // TIMESYNC_TIMESYNC_STARTUP_H_
