#pragma once

#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <thread>

namespace testsupport {

// The loopback address (127.0.0.1, or ::1 when ipv6) with port (host byte order); returns its length.
socklen_t LoopbackAddress(bool ipv6, std::uint16_t port, sockaddr_storage& out);
// The port (host byte order) of an IPv4 or IPv6 socket address.
std::uint16_t PortOf(const sockaddr_storage& address);

// A TCP port on 127.0.0.1 (::1 when ipv6) in one of three states, held for the object's life.
class LoopbackPort {
public:
    enum class Kind {
        listening, // accepts connections (the test accepts them itself)
        closed,    // bound but not listening: a connect is refused at once
        stalled,   // listening with a full queue: a connect's handshake gets no answer
    };

    explicit LoopbackPort(Kind kind, bool ipv6 = false);
    ~LoopbackPort();
    LoopbackPort(const LoopbackPort&) = delete;
    LoopbackPort& operator=(const LoopbackPort&) = delete;

    std::uint16_t Port() const { return m_port; }
    int Fd() const { return m_fd; }

    // Listening: waits up to timeoutMs for a connection and returns its descriptor, else -1.
    int Accept(int timeoutMs) const;

private:
    int m_fd = -1;
    int m_filler = -1; // stalled: the connection that fills the queue
    std::uint16_t m_port = 0;
};

// A port on 127.0.0.1 that accepts every connection on a thread of its own and closes it at
// once, so any number of probes may connect (a port nobody accepts on fills its queue).
class LoopbackAcceptor {
public:
    LoopbackAcceptor();
    ~LoopbackAcceptor();
    LoopbackAcceptor(const LoopbackAcceptor&) = delete;
    LoopbackAcceptor& operator=(const LoopbackAcceptor&) = delete;

    std::uint16_t Port() const { return m_port; }

private:
    int m_fd = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Reads from a connection until end of file or timeoutMs; returns the bytes read, or -1 when
// the peer did not close in time.
long ReadUntilClosed(int fd, int timeoutMs);

} // namespace testsupport
