#include "ListFileStamp.h"

std::optional<ListFileStamp> StampOf(const struct stat& st) {
    if (!S_ISREG(st.st_mode))
        return std::nullopt;
    return ListFileStamp{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                         static_cast<std::int64_t>(st.st_size), static_cast<std::int64_t>(st.st_mtim.tv_sec),
                         static_cast<std::int64_t>(st.st_mtim.tv_nsec)};
}

std::optional<ListFileStamp> StampOf(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return std::nullopt;
    return StampOf(st);
}
