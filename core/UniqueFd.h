#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include <utility>

// Owns one file descriptor and closes it when it goes, also while a stopped worker unwinds.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other)
            Reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return m_fd; }
    bool IsValid() const { return m_fd >= 0; }
    explicit operator bool() const { return IsValid(); }
    int Release() { return std::exchange(m_fd, -1); }
    void Reset(int fd = -1) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

// Opens path (O_CLOEXEC and O_NOCTTY added) without waiting for the other end of a FIFO, then makes
// the descriptor blocking again for ordinary reads and writes. Gives an invalid descriptor with
// errno set when either step fails.
inline UniqueFd OpenWithoutWaiting(const char* path, int flags) {
    UniqueFd fd(::open(path, flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd)
        return fd;
    const int current = ::fcntl(fd.Get(), F_GETFL);
    if (current < 0 || ::fcntl(fd.Get(), F_SETFL, current & ~O_NONBLOCK) != 0) {
        const int error = errno;
        fd.Reset();
        errno = error;
    }
    return fd;
}

// Writes all size bytes to fd, going on after a signal or a short write. Returns 0 or errno.
inline int WriteAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno != EINTR)
            return errno;
        if (n > 0)
            done += static_cast<std::size_t>(n);
    }
    return 0;
}
