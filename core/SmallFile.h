#pragma once

#include <cstddef>
#include <string>

// The whole of a small regular file, read without waiting: a FIFO, a device or a directory chosen
// by mistake is refused at once instead of blocking the caller (often the window's thread) in
// open(2) or read(2), and a file larger than the caller's cap is refused rather than read whole.
struct SmallFile {
    std::string bytes;
    std::string failure; // empty when read; else why not, as a fragment ("it is not a regular file")
};

SmallFile ReadSmallFile(const std::string& path, std::size_t maxBytes);
