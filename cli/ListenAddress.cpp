#include "ListenAddress.h"

#include <netdb.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

namespace cli {

namespace {

constexpr const char* kDefaultHost = "127.0.0.1";
constexpr std::size_t kMaxPortDigits = 5;
constexpr unsigned long kMaxPort = 65535;

} // namespace

std::string ListenAddress::HostText() const {
    char host[NI_MAXHOST] = {};
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host, nullptr, 0,
                      NI_NUMERICHOST) != 0)
        return "?";
    return address.ss_family == AF_INET6 ? "[" + std::string(host) + "]" : std::string(host);
}

std::optional<ListenAddress> ParseListenAddress(const std::string& text) {
    std::string host = kDefaultHost;
    std::string port = text;
    if (const std::size_t colon = text.rfind(':'); colon != std::string::npos) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
        if (host.empty())
            host = kDefaultHost;
    }
    if (port.empty() || port.size() > kMaxPortDigits ||
        !std::all_of(port.begin(), port.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }) ||
        std::stoul(port) > kMaxPort)
        return std::nullopt;
    if (host == "localhost")
        host = kDefaultHost;

    // Numbers only: a name to look up has no place here.
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || found == nullptr)
        return std::nullopt;
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, &::freeaddrinfo);
    ListenAddress address;
    std::memcpy(&address.address, found->ai_addr, found->ai_addrlen);
    address.length = found->ai_addrlen;
    return address;
}

} // namespace cli
