#include "timesync/clock_guard.h"

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>

namespace timesync::testing {
namespace {

bool DropClockRight() {
  prctl(PR_CAPBSET_DROP, CAP_SYS_TIME, 0, 0, 0);  // fails harmlessly without CAP_SETPCAP
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  const unsigned bit = 1u << (CAP_SYS_TIME % 32);
  auto& word = data[CAP_SYS_TIME / 32];
  word.effective &= ~bit;
  word.permitted &= ~bit;
  word.inheritable &= ~bit;
  if (syscall(SYS_capset, &header, data) != 0) return false;
  if (syscall(SYS_capget, &header, data) != 0) return false;
  return (data[CAP_SYS_TIME / 32].effective & bit) == 0;
}

const bool clock_right_dropped = [] {
  const bool dropped = DropClockRight();
  if (!dropped) std::fprintf(stderr, "warning: could not drop CAP_SYS_TIME\n");
  return dropped;
}();

}  // namespace

bool ClockRightDropped() { return clock_right_dropped; }

}  // namespace timesync::testing
