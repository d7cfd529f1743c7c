#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>

namespace cli {

// The port of --metrics when none is given. Prometheus' list of exporter ports fills 9100-9999,
// so any port there is some exporter's; this one lies outside it, below the kernel's ephemeral
// range (32768 and up), and is no well-known service's default.
inline constexpr std::uint16_t kDefaultMetricsPort = 7979;

// Where the metrics endpoint listens: a numeric IPv4 or IPv6 address and a port.
struct ListenAddress {
    sockaddr_storage address{};
    socklen_t length = 0;

    // The address as a URL has it: "127.0.0.1", "[::1]".
    std::string HostText() const;
    std::uint16_t Port() const;
};

// Reads "HOST:PORT", "[IPV6]:PORT", ":PORT" or "PORT" (HOST 127.0.0.1); "localhost" is allowed.
// Without a port ("HOST", "[IPV6]", "HOST:" or ":") it is kDefaultMetricsPort.
std::optional<ListenAddress> ParseListenAddress(const std::string& text);

// The local address of a bound socket; none when it has none of IPv4 or IPv6.
std::optional<ListenAddress> LocalAddressOf(int socket);

} // namespace cli
