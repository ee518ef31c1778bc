// Large pages on Windows need the "lock pages in memory" privilege, which
// ordinary users lack: the advice is not taken there.
#include "platform/memory.h"

namespace timesync::platform {

void AdviseHugePages(const void*, std::size_t) {}

}  // namespace timesync::platform
