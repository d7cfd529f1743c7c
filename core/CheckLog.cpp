#include "CheckLog.h"

#include "CItem.h"
#include "UniqueFd.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

constexpr mode_t kLogFileMode = 0666; // read and write for all, as the umask allows
constexpr const char* kLineEnd = "\r\n";

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

    const char* data = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        const ssize_t written = ::write(file.Get(), data, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}
