#include "CheckLog.h"

#include "CItem.h"
#include "UniqueFd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

constexpr mode_t kLogFileMode = 0666; // read and write for all, as the umask allows
constexpr const char* kLineEnd = "\r\n";

// A write that stopped part-way (a full disk, a file size limit) leaves the start of a line, to
// which the next line would be glued: cut it off again, so the log holds whole lines only.
// Only when nothing was appended after it, which would be cut off as well.
void UndoPartialLine(int fd, off_t lineStart, std::size_t written) {
    struct stat st {};
    if (written == 0 || lineStart < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size != lineStart + static_cast<off_t>(written))
        return;
    while (::ftruncate(fd, lineStart) != 0 && errno == EINTR) {
    }
}

} // namespace

std::string FormatCheckLogLine(const std::tm* when, const CItem& item, int result) {
    std::string line;
    if (when) {
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, "%d/%d/%02d %d:%02d:%02d", when->tm_mon + 1, when->tm_mday,
                      (when->tm_year % 100 + 100) % 100, when->tm_hour, when->tm_min, when->tm_sec);
        line = stamp;
    }
    line += ", ";
    line += std::to_string(result);
    line += ", \"";
    line += item.m_strAddress;
    line += "\", ";
    line += std::to_string(item.m_bConnect);
    line += ", ";
    line += std::to_string(item.m_nPort);
    line += kLineEnd;
    return line;
}

void AppendCheckLog(const std::string& path, const CItem& item, int result) {
    // O_NONBLOCK: a FIFO without a reader must not hang the worker; it has no effect on files.
    UniqueFd file(
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, kLogFileMode));
    if (!file)
        return;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    const bool haveTime = now != static_cast<std::time_t>(-1) && ::localtime_r(&now, &local) != nullptr;
    const std::string line = FormatCheckLogLine(haveTime ? &local : nullptr, item, result);

    off_t lineStart = -1; // where the first bytes of the line went; unknown for a pipe
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t written = ::write(file.Get(), line.data() + done, line.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            UndoPartialLine(file.Get(), lineStart, done);
            return;
        }
        if (done == 0) {
            const off_t end = ::lseek(file.Get(), 0, SEEK_CUR); // appending puts the offset after our bytes
            lineStart = end < 0 ? -1 : end - written;
        }
        done += static_cast<std::size_t>(written);
    }
}
