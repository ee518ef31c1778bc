// Whether the test program runs under AddressSanitizer, which reports failed
// allocations itself instead of handing them to the program's handler.
#ifndef TIMESYNC_TESTS_SUPPORT_SANITIZER_H_
#define TIMESYNC_TESTS_SUPPORT_SANITIZER_H_

#if defined(__SANITIZE_ADDRESS__)
#define TIMESYNC_TEST_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TIMESYNC_TEST_UNDER_ASAN 1
#endif
#endif
#ifndef TIMESYNC_TEST_UNDER_ASAN
#define TIMESYNC_TEST_UNDER_ASAN 0
#endif

#endif  // TIMESYNC_TESTS_SUPPORT_SANITIZER_H_
