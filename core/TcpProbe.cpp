#include "TcpProbe.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

AsyncProbe::Step TcpConnectProbe::Begin(const HostAddress& destination) {
    // No bind before the connect: a port bound on its own must be free of every TIME-WAIT
    // socket, while connect only needs the whole address pair to be unique, so a machine that
    // made many connections lately would read "No" for ports that answer.
    m_fd.Reset(::socket(destination.Family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!m_fd)
        return IsOutOfDescriptors(errno) ? Step::noDescriptor : Failed();

    sockaddr_storage remote;
    const socklen_t remoteLength = destination.ToSockaddr(m_port, remote);

    m_start = Clock::now();
    if (::connect(m_fd.Get(), reinterpret_cast<const sockaddr*>(&remote), remoteLength) == 0)
        return Answered();
    if (errno != EINPROGRESS)
        return FailedWith(errno);
    m_events = POLLOUT;
    if (m_timeoutS > 0)
        m_deadline = m_start + std::chrono::seconds(m_timeoutS);
    // A near host (loopback above all) has often finished the handshake already: no need to
    // wait for it.
    pollfd now{m_fd.Get(), POLLOUT, 0};
    if (::poll(&now, 1, 0) > 0)
        return OnReady(now.revents);
    return Step::waiting;
}

AsyncProbe::Step TcpConnectProbe::OnReady(short) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(m_fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return Failed();
    if (error != 0)
        return FailedWith(error);
    return Answered();
}
