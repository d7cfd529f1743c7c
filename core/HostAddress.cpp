#include "HostAddress.h"

#include <cstring>

HostAddress HostAddress::IPv4(in_addr_t address) {
    HostAddress host;
    host.m_family = AF_INET;
    std::memcpy(host.m_bytes.data(), &address, sizeof address);
    return host;
}

HostAddress HostAddress::IPv6(const in6_addr& address, std::uint32_t scope) {
    HostAddress host;
    host.m_family = AF_INET6;
    std::memcpy(host.m_bytes.data(), &address, sizeof address);
    host.m_scope = scope;
    return host;
}

std::optional<HostAddress> HostAddress::FromSockaddr(const sockaddr* address, socklen_t length) {
    if (!address)
        return std::nullopt;
    if (address->sa_family == AF_INET && length >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
        sockaddr_in v4;
        std::memcpy(&v4, address, sizeof v4);
        return IPv4(v4.sin_addr.s_addr);
    }
    if (address->sa_family == AF_INET6 && length >= static_cast<socklen_t>(sizeof(sockaddr_in6))) {
        sockaddr_in6 v6;
        std::memcpy(&v6, address, sizeof v6);
        return IPv6(v6.sin6_addr, v6.sin6_scope_id);
    }
    return std::nullopt;
}

in_addr_t HostAddress::GetIPv4() const {
    in_addr_t address;
    std::memcpy(&address, m_bytes.data(), sizeof address);
    return address;
}

in6_addr HostAddress::GetIPv6() const {
    in6_addr address;
    std::memcpy(&address, m_bytes.data(), sizeof address);
    return address;
}

socklen_t HostAddress::ToSockaddr(std::uint16_t port, sockaddr_storage& out) const {
    out = {};
    if (IsIPv6()) {
        sockaddr_in6 v6{};
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        v6.sin6_addr = GetIPv6();
        v6.sin6_scope_id = m_scope;
        std::memcpy(&out, &v6, sizeof v6);
        return sizeof v6;
    }
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
    v4.sin_addr.s_addr = GetIPv4();
    std::memcpy(&out, &v4, sizeof v4);
    return sizeof v4;
}

std::size_t HostAddress::Hash::operator()(const HostAddress& address) const {
    // FNV-1a over everything that tells two addresses apart.
    std::size_t hash = 14695981039346656037ULL;
    const auto mix = [&hash](unsigned char byte) {
        hash ^= byte;
        hash *= 1099511628211ULL;
    };
    mix(static_cast<unsigned char>(address.m_family));
    for (const unsigned char byte : address.m_bytes)
        mix(byte);
    for (int shift = 0; shift < 32; shift += 8)
        mix(static_cast<unsigned char>(address.m_scope >> shift));
    return hash;
}
