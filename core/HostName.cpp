#include "HostName.h"

#include <algorithm>
#include <arpa/inet.h>

namespace {

constexpr std::size_t kMaxNameBytes = 253;
constexpr std::size_t kMaxLabelBytes = 63;

bool IsAddress(const std::string& text) {
    unsigned char bytes[16];
    if (::inet_pton(AF_INET, text.c_str(), bytes) == 1)
        return true;
    const std::size_t percent = text.find('%'); // a link-local address's zone
    if (percent == std::string::npos)
        return ::inet_pton(AF_INET6, text.c_str(), bytes) == 1;
    return percent + 1 < text.size() && ::inet_pton(AF_INET6, text.substr(0, percent).c_str(), bytes) == 1;
}

bool IsNameByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

} // namespace

std::optional<std::string> WhyNotHostName(const std::string& text) {
    if (IsAddress(text))
        return std::nullopt;
    const std::string why = "'" + text + "' is not a host name or address";
    std::string name = text;
    if (!name.empty() && name.back() == '.')
        name.pop_back(); // the root, as in a fully qualified name
    if (name.empty() || name.size() > kMaxNameBytes)
        return why;
    bool lastAllDigits = true;
    for (std::size_t start = 0; start <= name.size();) {
        const std::size_t dot = std::min(name.find('.', start), name.size());
        const std::string label = name.substr(start, dot - start);
        if (label.empty() || label.size() > kMaxLabelBytes || label.front() == '-' || label.back() == '-')
            return why;
        lastAllDigits = true;
        for (const char c : label) {
            if (!IsNameByte(c))
                return why;
            lastAllDigits = lastAllDigits && c >= '0' && c <= '9';
        }
        start = dot + 1;
    }
    // "300.1.1.1" is no name: a name's last label is never a number.
    if (lastAllDigits)
        return why;
    return std::nullopt;
}
