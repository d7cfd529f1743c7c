#pragma once

namespace testsupport {

// True in a build under AddressSanitizer or ThreadSanitizer. Both reserve terabytes of address
// space for their shadow memory at start, so a test that limits the address space (RLIMIT_AS)
// cannot run there: every allocation fails.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kShadowMemory = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kShadowMemory = true;
#else
inline constexpr bool kShadowMemory = false;
#endif
#else
inline constexpr bool kShadowMemory = false;
#endif

} // namespace testsupport
