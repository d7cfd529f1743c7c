#pragma once

#include <chrono>
#include <ctime>

namespace testsupport {

// The calling thread's processor time, for checks and measurements that a wait sleeps.
inline std::chrono::nanoseconds ThreadCpuTime() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

inline double ThreadCpuSeconds() {
    return std::chrono::duration<double>(ThreadCpuTime()).count();
}

} // namespace testsupport
