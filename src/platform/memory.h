// Hints about how fresh memory is used.
//
//   std::string buffer;
//   buffer.reserve(64 << 20);
//   platform::AdviseHugePages(buffer.data(), buffer.capacity());
//   buffer.append(body);  // faulted in 2 MiB at a time where the host allows it
#ifndef TIMESYNC_PLATFORM_MEMORY_H_
#define TIMESYNC_PLATFORM_MEMORY_H_

#include <cstddef>

namespace timesync::platform {

// Asks for the whole 2 MiB pages inside [data, data + bytes) to be backed by
// huge pages when first touched: a buffer of many megabytes then costs a few
// hundred page faults instead of one per 4 KiB, which matters most on virtual
// machines. Only advice: it never fails, never changes the contents, and
// does nothing for buffers under 4 MiB or where the host offers no such
// pages (Windows needs a privilege for them and is left alone).
void AdviseHugePages(const void* data, std::size_t bytes);

}  // namespace timesync::platform

#endif  // TIMESYNC_PLATFORM_MEMORY_H_
