#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>

namespace cli {

// Where the metrics endpoint listens: a numeric IPv4 or IPv6 address and a port.
struct ListenAddress {
    sockaddr_storage address{};
    socklen_t length = 0;

    // The address as a URL has it: "127.0.0.1", "[::1]".
    std::string HostText() const;
};

// Reads "HOST:PORT", "[IPV6]:PORT", ":PORT" or "PORT" (HOST 127.0.0.1); "localhost" is allowed.
std::optional<ListenAddress> ParseListenAddress(const std::string& text);

} // namespace cli
