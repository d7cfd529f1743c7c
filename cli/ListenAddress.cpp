#include "ListenAddress.h"

#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

namespace cli {

namespace {

constexpr const char* kDefaultHost = "127.0.0.1";
constexpr std::size_t kMaxPortDigits = 5;
constexpr unsigned long kMaxPort = 65535;

bool IsDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

} // namespace

std::string ListenAddress::HostText() const {
    char host[NI_MAXHOST] = {};
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host, nullptr, 0,
                      NI_NUMERICHOST) != 0)
        return "?";
    return address.ss_family == AF_INET6 ? "[" + std::string(host) + "]" : std::string(host);
}

std::uint16_t ListenAddress::Port() const {
    return ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(address).sin6_port
                                               : reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

std::optional<ListenAddress> ParseListenAddress(const std::string& text) {
    std::string host = kDefaultHost;
    std::string port = std::to_string(kDefaultMetricsPort);
    const std::size_t colon = text.rfind(':');
    const bool bracketed = !text.empty() && text.front() == '[';
    if (IsDigits(text)) {
        port = text;
    } else if (bracketed && text.back() == ']') {
        host = text.substr(1, text.size() - 2);
    } else if (colon == std::string::npos) {
        host = text;
    } else {
        host = text.substr(0, colon);
        if (colon + 1 < text.size())
            port = text.substr(colon + 1);
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
        if (host.empty())
            host = kDefaultHost;
    }
    if (!IsDigits(port) || port.size() > kMaxPortDigits || std::stoul(port) > kMaxPort)
        return std::nullopt;
    if (host == "localhost")
        host = kDefaultHost;

    // Numbers only: a name to look up has no place here.
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* found = nullptr;
    if (host.empty() || ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || found == nullptr)
        return std::nullopt;
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, &::freeaddrinfo);
    ListenAddress address;
    std::memcpy(&address.address, found->ai_addr, found->ai_addrlen);
    address.length = found->ai_addrlen;
    return address;
}

std::optional<ListenAddress> LocalAddressOf(int socket) {
    ListenAddress address;
    address.length = sizeof address.address;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address.address), &address.length) != 0 ||
        (address.address.ss_family != AF_INET && address.address.ss_family != AF_INET6))
        return std::nullopt;
    return address;
}

} // namespace cli
