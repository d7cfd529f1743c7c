#pragma once

#include "UniqueFd.h"

#include <chrono>
#include <string>

// An advisory lock (flock) on a list file, so that two editors never interleave a load and a
// save: the second one waits until the first has replaced the file, then reads the new file.
// Only regular files are locked; devices and pipes are never replaced.
class CListFileLock {
public:
    enum class Mode { shared, exclusive };
    // How long a lock held by another editor is waited for. Editors hold it for milliseconds.
    static constexpr std::chrono::milliseconds kWait{5000};

    CListFileLock() = default;
    CListFileLock(const CListFileLock&) = delete;
    CListFileLock& operator=(const CListFileLock&) = delete;

    // Opens path for reading without waiting for a writer of a FIFO, then locks a regular file
    // in mode. A file that another editor replaced while this one waited is opened again, so
    // the lock belongs to the file now at path. Returns 0 or an errno value; EWOULDBLOCK when
    // the file is still locked after kWait.
    int Open(const std::string& path, Mode mode);
    // The open file, read from the start; blocking reads from here on. -1 when not open.
    int Descriptor() const { return m_fd.Get(); }
    bool IsLocked() const { return m_locked; }
    void Release();

private:
    UniqueFd m_fd;
    bool m_locked = false;
};
