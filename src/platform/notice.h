// The notice: a caption and a text shown to the user for a bounded time.
//
// On Linux the notice is printed, caption line first, then text line, each
// ended by "\n". Both come in code page 936 and are written in the encoding
// of the user's locale (LC_ALL, LC_CTYPE, LANG): the raw bytes where the
// locale uses GBK, GB2312, GB18030 or CP936, UTF-8 everywhere else.
//
//   MessageBoxTimeout("\xD0\xA3\xCA\xB1\xCD\xEA\xB1\xCF",  // 校时完毕
//                     "...", 1000);
//   // stdout, UTF-8 locale:  "校时完毕\n...\n"
//
// The call never waits longer than its time-out: output that cannot be
// written in time (a stopped terminal, a full pipe) is dropped.
#ifndef TIMESYNC_PLATFORM_NOTICE_H_
#define TIMESYNC_PLATFORM_NOTICE_H_

#include <string>
#include <string_view>

namespace timesync::platform {

// Shows the notice and returns once it is written or `timeoutMilliseconds`
// have passed (0 or less: one try that does not wait). A closed or broken
// output is not an error.
void MessageBoxTimeout(std::string_view text, std::string_view caption, int timeoutMilliseconds);

// MessageBoxTimeout writing to the descriptor `fd` instead of standard output.
void PrintNotice(int fd, std::string_view text, std::string_view caption, int timeoutMilliseconds);

// The bytes MessageBoxTimeout writes for a locale whose character set is
// `codeset` (as nl_langinfo(CODESET) names it):
//   NoticeBytes("a", "b", "UTF-8") == "b\na\n"
std::string NoticeBytes(std::string_view text, std::string_view caption, std::string_view codeset);

// The character set of the user's locale as the environment selects it; for
// a locale that is not installed, the codeset its name gives ("zh_CN.GBK"
// gives "GBK"); "ANSI_X3.4-1968" when the environment names none, or "C" or
// "POSIX". A name that spells UTF-8 ("en_US.utf8") gives "UTF-8" without
// the locale being loaded.
std::string LocaleCodeset();

}  // namespace timesync::platform

#endif  // TIMESYNC_PLATFORM_NOTICE_H_
