#include "DialogInt.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace {
constexpr std::size_t kMaxFieldChars = 31;
bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
} // namespace

std::optional<std::int32_t> ParseDialogInt(std::string_view text) {
    text = text.substr(0, std::min(text.size(), kMaxFieldChars));
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    const std::size_t start = i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    constexpr std::int64_t kMinMagnitude = kMax + 1;
    std::int64_t magnitude = 0;
    const std::size_t digitsStart = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        magnitude = std::min<std::int64_t>(magnitude * 10 + (text[i] - '0'), kMinMagnitude);
        ++i;
    }
    std::int64_t value = negative ? -magnitude : magnitude;
    if (i == digitsStart)
        value = 0; // no digits: nothing was read
    value = std::clamp<std::int64_t>(value, -kMinMagnitude, kMax);
    if (value == 0 && (start >= text.size() || text[start] != '0'))
        return std::nullopt;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    if (i != text.size())
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}
