#include "TcpProbe.h"

#include "AbortableThread.h"
#include "AddressResolver.h"
#include "UniqueFd.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>

ProbeOutcome ProbeTcp(const std::string& address, std::int32_t port) {
    // A port outside the 16-bit range cannot be attempted; truncating it would probe another port.
    if (port < 0 || port > 65535)
        return {};
    const auto destination = ResolveIPv4(address);
    if (!destination)
        return {};

    // No bind before the connect: a port bound on its own must be free of every TIME-WAIT
    // socket, while connect only needs the whole address pair to be unique, so a machine that
    // made many connections lately would read "No" for ports that answer.
    UniqueFd sock(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!sock)
        return {};

    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr.s_addr = *destination;
    remote.sin_port = htons(static_cast<std::uint16_t>(port));

    const auto start = std::chrono::steady_clock::now();
    if (::connect(sock.Get(), reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0) {
        if (errno != EINPROGRESS)
            return {};
        pollfd wait{sock.Get(), POLLOUT, 0};
        if (AbortablePoll(&wait, 1, -1) <= 0)
            return {};
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(sock.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
            return {};
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    return {1, std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()};
}
