#pragma once

namespace testsupport {

// True in a build under AddressSanitizer or ThreadSanitizer. Both reserve terabytes of address
// space for their shadow memory at start, so a test that limits the address space (RLIMIT_AS)
// cannot run there: every allocation fails.
#if defined(__SANITIZE_THREAD__)
#define PULSEWICK_TEST_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PULSEWICK_TEST_TSAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define PULSEWICK_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PULSEWICK_TEST_ASAN 1
#endif
#endif

#ifdef PULSEWICK_TEST_TSAN
// ThreadSanitizer starts a helper thread of its own along with the process's second thread.
inline constexpr bool kThreadSanitizer = true;
#else
inline constexpr bool kThreadSanitizer = false;
#endif
#ifdef PULSEWICK_TEST_ASAN
// The AddressSanitizer build also checks types (UBSan), and that check reads memory through a
// pipe: with no descriptor left it reports a false "invalid vptr".
inline constexpr bool kChecksNeedDescriptors = true;
#else
inline constexpr bool kChecksNeedDescriptors = false;
#endif
#if defined(PULSEWICK_TEST_ASAN) || defined(PULSEWICK_TEST_TSAN)
inline constexpr bool kShadowMemory = true;
#else
inline constexpr bool kShadowMemory = false;
#endif

} // namespace testsupport
