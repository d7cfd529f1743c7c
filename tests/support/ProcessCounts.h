#pragma once

#include <filesystem>

namespace testsupport {

// What the process holds, as seen from outside: entries of a /proc/self folder.
inline int CountEntries(const char* folder) {
    int count = 0;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        ++count;
    return count;
}

inline int ThreadCount() {
    return CountEntries("/proc/self/task");
}

// Includes the descriptor of the folder being read.
inline int OpenDescriptorCount() {
    return CountEntries("/proc/self/fd");
}

} // namespace testsupport
