// Preloaded into the timesync program by the process tests: it takes the
// place of every call that could set the clock, so the real clock is never
// touched. clock_settime(CLOCK_REALTIME) appends one line to the file named
// by TIMESYNC_SHIM_RECORD:
//
//   <seconds> <nanoseconds> <CapEff of the process, hex>
//
// and answers as TIMESYNC_SHIM_RESULT says: "ok" succeeds, anything else (or
// nothing) fails with EPERM. The other clock setters always fail with EPERM.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <sys/timex.h>
#include <time.h>
#include <unistd.h>

namespace {

// The CapEff line of /proc/self/status, so the test can check the right to
// set the clock was really gone.
void ReadEffectiveCapabilities(char* out, size_t size) {
  snprintf(out, size, "unknown");
  const int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  char status[8192];
  const ssize_t n = read(fd, status, sizeof status - 1);
  close(fd);
  if (n <= 0) return;
  status[n] = '\0';
  const char* line = strstr(status, "CapEff:");
  if (line == nullptr) return;
  line += strlen("CapEff:");
  while (*line == '\t' || *line == ' ') ++line;
  size_t length = strcspn(line, "\n");
  if (length >= size) length = size - 1;
  memcpy(out, line, length);
  out[length] = '\0';
}

int Refuse() {
  errno = EPERM;
  return -1;
}

}  // namespace

extern "C" {

int clock_settime(clockid_t clock, const struct timespec* when) {
  if (clock != CLOCK_REALTIME) return Refuse();
  const char* recordPath = getenv("TIMESYNC_SHIM_RECORD");
  if (recordPath != nullptr) {
    char capabilities[64];
    ReadEffectiveCapabilities(capabilities, sizeof capabilities);
    char line[160];
    const int length = snprintf(line, sizeof line, "%lld %ld %s\n",
                                static_cast<long long>(when->tv_sec), when->tv_nsec, capabilities);
    const int fd = open(recordPath, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd >= 0) {
      if (write(fd, line, static_cast<size_t>(length)) != length) {
        // The test sees the short record.
      }
      close(fd);
    }
  }
  const char* result = getenv("TIMESYNC_SHIM_RESULT");
  if (result != nullptr && strcmp(result, "ok") == 0) return 0;
  return Refuse();
}

int settimeofday(const struct timeval*, const struct timezone*) { return Refuse(); }
int stime(const time_t*) { return Refuse(); }
int adjtimex(struct timex*) { return Refuse(); }
int clock_adjtime(clockid_t, struct timex*) { return Refuse(); }

}  // extern "C"
