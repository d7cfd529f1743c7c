#pragma once

#include "Probe.h"

#include <cstdint>

// The TCP probe as a state machine: a non-blocking connect, answered once the stack reports
// the connection made; the connection is closed at once and nothing is sent or received.
// There is no time limit beyond the network stack's own: a silent host is given up only when
// the stack gives up the attempt, or when the worker is stopped.
class TcpConnectProbe final : public AsyncProbe {
public:
    explicit TcpConnectProbe(std::uint16_t port) : m_port(port) {}

    Step Begin(const HostAddress& destination) override;
    Step OnReady(short revents) override;

private:
    std::uint16_t m_port;
};
