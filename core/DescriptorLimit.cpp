#include "DescriptorLimit.h"

#include <dirent.h>

#include <atomic>
#include <mutex>

namespace {

// More than any pass needs, and within the kernel's usual ceiling (fs.nr_open) even where the
// hard limit says "unlimited".
constexpr rlim_t kEnoughDescriptors = 1 << 20;

std::size_t CountOpenDescriptors() {
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return 0;
    std::size_t count = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    ::closedir(dir);
    return count > 0 ? count - 1 : 0; // less the one that reads the folder
}

// The soft limit before it was raised; set once, before the raise.
std::atomic<bool> g_raised{false};
rlim_t g_startingSoftLimit = 0;

} // namespace

void RaiseDescriptorLimit() {
    static std::once_flag once;
    std::call_once(once, [] {
        rlimit limit{};
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
            return;
        const rlim_t wanted = limit.rlim_max == RLIM_INFINITY || limit.rlim_max > kEnoughDescriptors
                                  ? kEnoughDescriptors
                                  : limit.rlim_max;
        if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
            g_startingSoftLimit = limit.rlim_cur;
            g_raised.store(true, std::memory_order_release);
            limit.rlim_cur = wanted;
            ::setrlimit(RLIMIT_NOFILE, &limit);
        }
    });
}

std::optional<rlimit> StartingDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return std::nullopt;
    if (g_raised.load(std::memory_order_acquire))
        limit.rlim_cur = g_startingSoftLimit;
    return limit;
}

std::size_t SpareDescriptors(std::size_t reserve) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    const std::size_t soft = limit.rlim_cur == RLIM_INFINITY ? kEnoughDescriptors : limit.rlim_cur;
    const std::size_t used = CountOpenDescriptors() + reserve;
    return soft > used ? soft - used : 0;
}
