// Searching raw bytes for a byte sequence, with the fastest means the host
// offers (glibc's memmem on Linux).
//
//   FindBytes("abcabc", 6, "ca", 2)  // points at "cabc"
//   FindBytes("abc", 3, "x", 1)      // nullptr
#ifndef TIMESYNC_PLATFORM_BYTE_SEARCH_H_
#define TIMESYNC_PLATFORM_BYTE_SEARCH_H_

#include <cstddef>

namespace timesync::platform {

// The first occurrence of the `needleSize` bytes at `needle` within the
// `haystackSize` bytes at `haystack`, or null. An empty needle is found at the start.
const void* FindBytes(const void* haystack, std::size_t haystackSize, const void* needle,
                      std::size_t needleSize);

}  // namespace timesync::platform

#endif  // TIMESYNC_PLATFORM_BYTE_SEARCH_H_
