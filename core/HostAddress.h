#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

// One address to probe, IPv4 or IPv6 (with the zone of a link-local one), as the socket calls
// want it. Two addresses are equal when family, bytes and zone are.
class HostAddress {
public:
    HostAddress() = default;
    static HostAddress IPv4(in_addr_t address); // network byte order
    static HostAddress IPv6(const in6_addr& address, std::uint32_t scope = 0);
    // Nothing for a family other than AF_INET and AF_INET6.
    static std::optional<HostAddress> FromSockaddr(const sockaddr* address, socklen_t length);

    sa_family_t Family() const { return m_family; }
    bool IsIPv6() const { return m_family == AF_INET6; }
    in_addr_t GetIPv4() const;
    in6_addr GetIPv6() const;
    std::uint32_t Scope() const { return m_scope; }

    // The socket address with port (host byte order); returns its length.
    socklen_t ToSockaddr(std::uint16_t port, sockaddr_storage& out) const;

    bool operator==(const HostAddress&) const = default;
    // The same family and bytes, whatever the zones.
    bool SameAddress(const HostAddress& other) const { return m_family == other.m_family && m_bytes == other.m_bytes; }

    struct Hash {
        std::size_t operator()(const HostAddress& address) const;
    };

private:
    sa_family_t m_family = AF_INET;
    std::array<unsigned char, 16> m_bytes{}; // IPv4 uses the first four
    std::uint32_t m_scope = 0;
};
