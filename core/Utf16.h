#pragma once

#include <string>
#include <string_view>

// Converts UTF-16 little-endian bytes (an even number) to UTF-8. A lone surrogate becomes
// U+FFFD, so damaged text stays readable instead of failing the whole file.
std::string Utf16LeToUtf8(std::string_view utf16le);
