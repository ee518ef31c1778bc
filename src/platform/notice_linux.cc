#include <errno.h>
#include <langinfo.h>
#include <locale.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>

#include "platform/codepage.h"
#include "platform/notice.h"

namespace timesync::platform {
namespace {

// A codeset name in lower case without '-' and '_': "UTF-8" gives "utf8".
std::string FoldCodeset(std::string_view codeset) {
  std::string folded;
  for (const char c : codeset) {
    if (c != '-' && c != '_')
      folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return folded;
}

// "gb18030", "GBK", "gb2312", "CP936", "EUC-CN": spellings of locales that
// store text in code page 936 or a superset of it.
bool IsChineseCodeset(std::string_view codeset) {
  const std::string folded = FoldCodeset(codeset);
  return folded == "gbk" || folded == "gb2312" || folded == "gb18030" || folded == "cp936" ||
         folded == "euccn" || folded == "windows936";
}

class LocaleHandle {
 public:
  LocaleHandle() : locale_(newlocale(LC_CTYPE_MASK, "", nullptr)) {}
  ~LocaleHandle() {
    if (locale_ != nullptr) freelocale(locale_);
  }
  LocaleHandle(const LocaleHandle&) = delete;
  LocaleHandle& operator=(const LocaleHandle&) = delete;
  locale_t get() const { return locale_; }

 private:
  locale_t locale_;
};

// While alive, a write to a closed pipe gives EPIPE on this thread instead of
// ending the process; a SIGPIPE raised meanwhile is taken back.
class ScopedBrokenPipeGuard {
 public:
  ScopedBrokenPipeGuard() {
    sigemptyset(&pipeSignal_);
    sigaddset(&pipeSignal_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal_, &previousMask_);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
  }
  ~ScopedBrokenPipeGuard() {
    if (!wasPending_) {
      sigset_t pending;
      sigpending(&pending);
      if (sigismember(&pending, SIGPIPE) == 1) {
        const timespec noWait{0, 0};
        sigtimedwait(&pipeSignal_, nullptr, &noWait);
      }
    }
    pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
  }
  ScopedBrokenPipeGuard(const ScopedBrokenPipeGuard&) = delete;
  ScopedBrokenPipeGuard& operator=(const ScopedBrokenPipeGuard&) = delete;

 private:
  sigset_t pipeSignal_;
  sigset_t previousMask_;
  bool wasPending_ = false;
};

// The locale name that selects character types, read as the C library reads
// it: the first of LC_ALL, LC_CTYPE and LANG that is set and not empty.
std::string_view LocaleNameForCharacters() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
  }
  return {};
}

// The codeset a locale name spells out ("zh_CN.GBK@euro" gives "GBK"); empty
// when it names none.
std::string_view CodesetOfLocaleName(std::string_view name) {
  const std::size_t dot = name.find('.');
  if (dot == std::string_view::npos) return {};
  const std::string_view codeset = name.substr(dot + 1);
  return codeset.substr(0, codeset.find('@'));
}

// The codeset of the C library's built-in locale.
constexpr const char* kPortableCodeset = "ANSI_X3.4-1968";

}  // namespace

std::string LocaleCodeset() {
  const std::string_view name = LocaleNameForCharacters();
  const std::string_view named = CodesetOfLocaleName(name);
  // The built-in locale and the UTF-8 ones are known from their names; loading
  // a locale's files would cost more than the rest of the notice.
  if (name.empty() || name == "C" || name == "POSIX") return kPortableCodeset;
  if (FoldCodeset(named) == "utf8") return "UTF-8";
  const LocaleHandle locale;
  const char* codeset = locale.get() != nullptr ? nl_langinfo_l(CODESET, locale.get()) : nullptr;
  if (codeset != nullptr) return codeset;
  return named.empty() ? std::string(kPortableCodeset) : std::string(named);
}

std::string NoticeBytes(std::string_view text, std::string_view caption, std::string_view codeset) {
  std::string lines;
  lines.reserve(caption.size() + text.size() + 2);
  lines.append(caption).append("\n").append(text).append("\n");
  return IsChineseCodeset(codeset) ? lines : Cp936ToUtf8(lines);
}

void MessageBoxTimeout(std::string_view text, std::string_view caption, int timeoutMilliseconds) {
  PrintNotice(STDOUT_FILENO, text, caption, timeoutMilliseconds);
}

void PrintNotice(int fd, std::string_view text, std::string_view caption, int timeoutMilliseconds) {
  const std::string bytes = NoticeBytes(text, caption, LocaleCodeset());
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(std::max(timeoutMilliseconds, 0));
  std::string_view rest = bytes;
  const ScopedBrokenPipeGuard brokenPipeGuard;
  // Each round waits for room and writes what fits; at most one round per
  // byte, and never past the deadline.
  for (std::size_t round = 0; !rest.empty() && round <= bytes.size(); ++round) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd ready{fd, POLLOUT, 0};
    const int polled = poll(&ready, 1, static_cast<int>(std::max<decltype(left)>(left, 0)));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0 || (ready.revents & POLLOUT) == 0) return;  // time is up, or the output is gone
    const ssize_t written = write(fd, rest.data(), rest.size());
    if (written < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (written <= 0) return;
    rest.remove_prefix(static_cast<std::size_t>(written));
  }
}

}  // namespace timesync::platform
