#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <optional>

// One version of a list file on disk: which file it is (device and inode) and its size and last
// modification to the nanosecond. Every save of a list replaces the file by a new one, and a
// program that rewrites it in place changes its size or its time, so a file whose stamp differs
// from the one noted at a load or save has been changed by someone else since.
struct ListFileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;

    bool operator==(const ListFileStamp&) const = default;
};

// The stamp of a regular file; nothing for pipes, devices and folders, whose content is not kept.
std::optional<ListFileStamp> StampOf(const struct stat& st);
// The stamp of the open file fd; nothing when it is not a regular file or fstat fails.
std::optional<ListFileStamp> StampOf(int fd);
