#include "ScriptedServer.h"

#include "LoopbackPorts.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

ScriptedServer::ScriptedServer(std::vector<Step> script, std::uint16_t port, bool ipv6) {
    m_listen = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    m_stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_listen < 0 || m_stop < 0)
        throw std::runtime_error("scripted server: no socket");
    sockaddr_storage address;
    socklen_t length = LoopbackAddress(ipv6, port, address);
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(m_listen, 4) != 0 ||
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("scripted server: cannot listen");
    m_port = PortOf(address);
    m_thread = std::thread(&ScriptedServer::Run, this, std::move(script));
}

ScriptedServer::~ScriptedServer() {
    const std::uint64_t one = 1;
    (void)!::write(m_stop, &one, sizeof one);
    m_thread.join();
    ::close(m_listen);
    ::close(m_stop);
}

bool ScriptedServer::WaitForEnd(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_ended.wait_for(lock, timeout, [this] { return m_bEnded; });
}

std::string ScriptedServer::Received() const {
    std::lock_guard lock(m_mutex);
    return m_received;
}

std::chrono::steady_clock::time_point ScriptedServer::AcceptedAt() const {
    std::lock_guard lock(m_mutex);
    return m_acceptedAt;
}

bool ScriptedServer::Fill(int fd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {m_stop, POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0) {
        if (errno != EINTR)
            return false;
    }
    if (fds[1].revents != 0)
        return false;
    char buffer[4096];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0)
        return false;
    m_pending.append(buffer, static_cast<std::size_t>(n));
    std::lock_guard lock(m_mutex);
    m_received.append(buffer, static_cast<std::size_t>(n));
    return true;
}

void ScriptedServer::Run(std::vector<Step> script) {
    int connection = -1;
    pollfd fds[2] = {{m_listen, POLLIN, 0}, {m_stop, POLLIN, 0}};
    if (::poll(fds, 2, -1) > 0 && fds[0].revents != 0)
        connection = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    {
        std::lock_guard lock(m_mutex);
        m_acceptedAt = std::chrono::steady_clock::now();
    }

    bool open = connection >= 0;
    bool reading = true;
    for (const Step& step : script) {
        if (!open)
            break;
        switch (step.kind) {
        case Step::Kind::Say:
            if (::send(connection, step.text.data(), step.text.size(), MSG_NOSIGNAL) !=
                static_cast<ssize_t>(step.text.size()))
                open = false;
            break;
        case Step::Kind::ReadLine:
        case Step::Kind::ReadUntil: {
            const std::string terminator = step.kind == Step::Kind::ReadLine ? std::string("\r\n") : step.text;
            std::size_t at;
            while ((at = m_pending.find(terminator)) == std::string::npos && open)
                open = Fill(connection);
            if (open)
                m_pending.erase(0, at + terminator.size());
            break;
        }
        case Step::Kind::Pause: {
            pollfd stop{m_stop, POLLIN, 0};
            if (::poll(&stop, 1, static_cast<int>(step.pause.count())) != 0)
                open = false;
            break;
        }
        case Step::Kind::Close:
            ::close(connection);
            connection = -1;
            open = false;
            break;
        case Step::Kind::StopReading:
            reading = false;
            break;
        }
        if (!reading)
            break;
    }
    if (open && reading) {
        while (Fill(connection)) {
        }
    } else if (open) {
        pollfd stop{m_stop, POLLIN, 0};
        while (::poll(&stop, 1, -1) < 0 && errno == EINTR) {
        }
    }
    if (connection >= 0)
        ::close(connection);
    std::lock_guard lock(m_mutex);
    m_bEnded = true;
    m_ended.notify_all();
}

} // namespace testsupport
