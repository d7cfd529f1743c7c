#pragma once

#include <sys/resource.h>

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

// The whole process's processor time, user and system.
inline double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& tv) { return static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace testsupport
