#pragma once

#include "Probe.h"

#include <cstdint>

// The TCP probe as a state machine: a non-blocking connect, answered once the stack reports
// the connection made; the connection is closed at once and nothing is sent or received.
// Without a time limit of its own (timeoutS 0) a silent host is given up only when the stack
// gives up the attempt, or when the worker is stopped.
class TcpConnectProbe final : public AsyncProbe {
public:
    explicit TcpConnectProbe(std::uint16_t port, std::int32_t timeoutS = 0) : m_port(port), m_timeoutS(timeoutS) {}

    Step Begin(const HostAddress& destination) override;
    Step OnReady(short revents) override;
    Step OnDeadline() override { return Failed(ProbeFailure::tcpTimeLimit); }

private:
    std::uint16_t m_port;
    std::int32_t m_timeoutS;
};
