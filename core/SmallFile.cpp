#include "SmallFile.h"

#include "UniqueFd.h"

#include <sys/stat.h>

#include <system_error>

namespace {
std::string SizeText(std::size_t bytes) {
    constexpr std::size_t kMiB = 1024 * 1024;
    if (bytes % kMiB == 0)
        return std::to_string(bytes / kMiB) + " MiB";
    return std::to_string(bytes) + " bytes";
}
} // namespace

SmallFile ReadSmallFile(const std::string& path, std::size_t maxBytes) {
    SmallFile file;
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat st {};
    if (!fd || ::fstat(fd.Get(), &st) != 0) {
        file.failure = std::system_category().message(errno);
        return file;
    }
    if (!S_ISREG(st.st_mode)) {
        file.failure = "it is not a regular file";
        return file;
    }
    const std::string tooLarge = "it is larger than " + SizeText(maxBytes);
    if (static_cast<unsigned long long>(st.st_size) > maxBytes) {
        file.failure = tooLarge;
        return file;
    }
    // The size may change while it is read: the cap holds for what is read, not what fstat said.
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n == 0)
            return file;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            file.bytes.clear();
            file.failure = std::system_category().message(errno);
            return file;
        }
        if (file.bytes.size() + static_cast<std::size_t>(n) > maxBytes) {
            file.bytes.clear();
            file.failure = tooLarge;
            return file;
        }
        file.bytes.append(buffer, static_cast<std::size_t>(n));
    }
}
