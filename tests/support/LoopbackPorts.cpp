#include "LoopbackPorts.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace testsupport {

socklen_t LoopbackAddress(bool ipv6, std::uint16_t port, sockaddr_storage& out) {
    out = {};
    if (ipv6) {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(out);
        v6.sin6_family = AF_INET6;
        v6.sin6_addr = in6addr_loopback;
        v6.sin6_port = htons(port);
        return sizeof v6;
    }
    auto& v4 = reinterpret_cast<sockaddr_in&>(out);
    v4.sin_family = AF_INET;
    v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    v4.sin_port = htons(port);
    return sizeof v4;
}

std::uint16_t PortOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

LoopbackPort::LoopbackPort(Kind kind, bool ipv6) {
    m_fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        throw std::runtime_error("socket failed");
    sockaddr_storage address;
    socklen_t length = LoopbackAddress(ipv6, 0, address);
    const socklen_t addressLength = length;
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("bind failed");
    m_port = PortOf(address);
    if (kind == Kind::closed)
        return;
    // A backlog of 0 holds one connection; with it queued and never accepted, further SYNs are
    // dropped and a connect waits as for a silent host.
    if (::listen(m_fd, kind == Kind::stalled ? 0 : 64) != 0)
        throw std::runtime_error("listen failed");
    if (kind == Kind::stalled) {
        m_filler = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_filler < 0 || ::connect(m_filler, reinterpret_cast<sockaddr*>(&address), addressLength) != 0)
            throw std::runtime_error("cannot fill the queue");
    }
}

LoopbackPort::~LoopbackPort() {
    if (m_filler >= 0)
        ::close(m_filler);
    ::close(m_fd);
}

int LoopbackPort::Accept(int timeoutMs) const {
    pollfd wait{m_fd, POLLIN, 0};
    if (::poll(&wait, 1, timeoutMs) <= 0)
        return -1;
    return ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
}

LoopbackAcceptor::LoopbackAcceptor() {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(m_fd, 4096) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on loopback");
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] {
        while (!m_stop) {
            pollfd wait{m_fd, POLLIN, 0};
            if (::poll(&wait, 1, 50) > 0) {
                const int peer = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
                if (peer >= 0)
                    ::close(peer);
            }
        }
    });
}

LoopbackAcceptor::~LoopbackAcceptor() {
    m_stop = true;
    m_thread.join();
    ::close(m_fd);
}

long ReadUntilClosed(int fd, int timeoutMs) {
    long total = 0;
    for (;;) {
        pollfd wait{fd, POLLIN, 0};
        if (::poll(&wait, 1, timeoutMs) <= 0)
            return -1;
        char buffer[256];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            return total;
        total += got;
    }
}

} // namespace testsupport
