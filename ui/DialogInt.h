#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Reads an integer typed into a dialog field: blanks and tabs around it, an optional sign,
// decimal digits; values beyond 32 bits become the nearest limit. A text whose value is 0 counts
// only when it starts (after the blanks) with the digit 0. Only the first 31 characters are read.
// Returns nothing when the text is not such an integer.
std::optional<std::int32_t> ParseDialogInt(std::string_view text);
