#include "CListFileLock.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kFirstPause{1};
constexpr std::chrono::milliseconds kLongestPause{20};

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the file open as opened is still the one at path (not replaced or removed since).
bool StillAt(const std::string& path, const struct stat& opened) {
    struct stat now {};
    return ::stat(path.c_str(), &now) == 0 && SameFile(now, opened);
}
} // namespace

void CListFileLock::Release() {
    m_fd.Reset(); // closing the last descriptor of the open file drops its lock
    m_locked = false;
}

int CListFileLock::Open(const std::string& path, Mode mode) {
    Release();
    const Clock::time_point deadline = Clock::now() + kWait;
    const int operation = (mode == Mode::shared ? LOCK_SH : LOCK_EX) | LOCK_NB;
    for (;;) {
        // A FIFO without a writer opens at once and then reads as empty.
        UniqueFd fd = OpenWithoutWaiting(path.c_str(), O_RDONLY);
        if (!fd)
            return errno;
        struct stat opened {};
        if (::fstat(fd.Get(), &opened) != 0)
            return errno;
        if (!S_ISREG(opened.st_mode)) {
            m_fd = std::move(fd);
            return 0;
        }

        bool locked = false;
        for (auto pause = kFirstPause;;) {
            if (::flock(fd.Get(), operation) == 0) {
                locked = true;
                break;
            }
            if (errno == EINTR)
                continue;
            if (errno != EWOULDBLOCK)
                break; // a file system without locks: the file is used unlocked, as before
            if (Clock::now() >= deadline)
                return EWOULDBLOCK;
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, kLongestPause);
        }
        if (locked && !StillAt(path, opened)) {
            // The editor we waited for saved a new file under the name; that one is the list now.
            if (Clock::now() >= deadline)
                return EWOULDBLOCK;
            continue;
        }
        m_fd = std::move(fd);
        m_locked = locked;
        return 0;
    }
}
